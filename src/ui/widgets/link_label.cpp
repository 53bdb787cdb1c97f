#include "widgets/link_label.hpp"

#include "skin/skin_palette.hpp"
#include "ui_strings.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QMouseEvent>

namespace korvane::ui {

LinkLabel::LinkLabel(const QString& text, const QString& address, QWidget* parent)
    : QLabel(text, parent), address_(address), opener_(std::make_shared<DesktopLinkOpener>()) {
    if (address_.isEmpty()) {
        address_ = this->text();
    }
    if (this->text().isEmpty()) {
        setText(address_);
    }
    setTextFormat(Qt::PlainText);
    normalFont_ = font();
    underlinedFont_ = normalFont_;
    underlinedFont_.setUnderline(true);
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    setToolTip(address_);
    applyColor();
    fitToText();
}

void LinkLabel::setAddress(const QString& address) {
    address_ = address;
    fitToText();
    setToolTip(address_);
}

void LinkLabel::markVisited(bool visited) {
    visited_ = visited;
    applyColor();
}

void LinkLabel::setUnderlineMode(int mode) {
    if (mode == underlineMode_) {
        return;
    }
    setFont(mode == kUnderlineAlways ? underlinedFont_ : normalFont_);
    underlineMode_ = mode;
}

void LinkLabel::setFitToText(bool on) {
    fitToText_ = on;
    if (!on) {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }
    fitToText();
}

void LinkLabel::fitToText() {
    if (!fitToText_) {
        return;
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Measured in the underlined font so hovering never needs more room.
    const QSize textSize = QFontMetrics(underlinedFont_).size(Qt::TextSingleLine, text());
    const QSize needed(textSize.width() + width() - contentsRect().width(),
                       textSize.height() + height() - contentsRect().height());
    QRect box = geometry();
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        box.setTop(box.top() + (box.height() - needed.height()) / 2);
    }
    box.setHeight(needed.height());
    if (align & Qt::AlignHCenter) {
        box.setLeft(box.left() + (box.width() - needed.width()) / 2);
        box.setWidth(needed.width());
    } else if (align & Qt::AlignRight) {
        box.setLeft(box.right() + 1 - needed.width());
    } else {
        box.setWidth(needed.width());
    }
    setGeometry(box);
    updateGeometry();
}

void LinkLabel::setOpener(std::shared_ptr<LinkOpener> opener) {
    opener_ = std::move(opener);
}

LinkOpenResult LinkLabel::openLink(const QString& address) {
    return opener_ ? opener_->openLink(address) : LinkOpenResult::NoBrowser;
}

QColor LinkLabel::currentColor() const {
    if (hovering_) {
        return QColor(skin::palette::kLinkHover);
    }
    return QColor(visited_ ? skin::palette::kLinkVisited : skin::palette::kLink);
}

void LinkLabel::applyColor() {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, currentColor());
    setPalette(colours);
    update();
}

void LinkLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!hovering_) {
        hovering_ = true;
        if (underlineMode_ == kUnderlineHover) {
            setFont(underlinedFont_);
        }
        applyColor();
    }
    QLabel::mouseMoveEvent(event);
}

void LinkLabel::leaveEvent(QEvent* event) {
    if (hovering_) {
        hovering_ = false;
        if (underlineMode_ != kUnderlineAlways) {
            setFont(normalFont_);
        }
        applyColor();
    }
    QLabel::leaveEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    hovering_ = false;
    applyColor();
    const LinkOpenResult result = openLink(address_);
    if (result == LinkOpenResult::Opened) {
        markVisited(true);
    } else {
        showOpenError(result);
    }
    Q_EMIT linkOpened(result);
}

void LinkLabel::showOpenError(LinkOpenResult result) {
    QApplication::beep();
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(strings::kAppTitle),
                    LinkErrorText(result), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("linkErrorBox"));
    box.exec();
}

} // namespace korvane::ui

#include "widgets/skin_button.hpp"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

namespace korvane::ui {

namespace {
// How much of the resting picture shows through when it stands for the
// disabled one: enough to read, faint enough to look switched off.
constexpr qreal kDisabledOpacity = 0.4;
} // namespace

SkinButton::SkinButton(QWidget* parent)
    : QAbstractButton(parent), textColor_(palette().color(QPalette::ButtonText)) {
    setCursor(Qt::PointingHandCursor);
    // Hover follows plain mouse moves, as it does without any button held.
    setMouseTracking(true);
    // The button erases nothing: where a picture is transparent (the
    // artwork's rounded corners) the skinned window shows through. Opaque
    // painting would leave those pixels undefined, so the attribute that
    // says "nothing behind me matters" is deliberately not set.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_NoSystemBackground);
}

SkinButton::~SkinButton() {
    delete cursorShield_.data();
}

void SkinButton::setStatePictures(const skin::SkinPicture& resting,
                                  const skin::SkinPicture& pressed, const skin::SkinPicture& hover,
                                  const skin::SkinPicture& disabled, qint16 border,
                                  qint16 focusInset) {
    resting_ = resting;
    pressed_ = pressed;
    hover_ = hover;
    dimRestingWhenDisabled_ = disabled.isNull();
    disabled_ = disabled.isNull() ? resting : disabled;
    border_ = border;
    focusInset_ = focusInset < 0 ? qint16(0) : focusInset;
}

void SkinButton::setCaptionColor(const QColor& color) {
    textColor_ = color;
    centredCaption_ = true;
    update();
}

QSize SkinButton::sizeHint() const {
    if (!resting_.isNull()) {
        return resting_.designSize();
    }
    return skin::kButtonDesignSize;
}

void SkinButton::drawCaption(QPainter& painter, const QPoint& at, const QColor& color) const {
    if (text().isEmpty()) {
        return;
    }
    painter.save();
    painter.setClipRect(rect());
    painter.setFont(font());
    painter.setPen(color);
    if (centredCaption_)
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                         text());
    else
        painter.drawText(QRect(at, size()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         text());
    painter.restore();
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    const QFontMetrics metrics(font());
    // Centred from the average character width, as the button always placed
    // its caption; the artwork carries the main window's captions itself.
    const int captionX =
        (area.width() - static_cast<int>(text().size()) * metrics.averageCharWidth()) / 2;
    const int captionY = (area.height() - metrics.height()) / 2;

    auto drawPicture = [&](const skin::SkinPicture& picture, Picture which) {
        if (picture.isNull()) {
            painter.fillRect(area, palette().color(QPalette::Button));
            lastPicture_ = Picture::ButtonFace;
        } else {
            picture.draw(painter, area);
            lastPicture_ = which;
        }
    };

    if (!isEnabled()) {
        painter.save();
        if (dimRestingWhenDisabled_)
            painter.setOpacity(kDisabledOpacity);
        drawPicture(disabled_, Picture::Disabled);
        painter.restore();
        if (border_ != 0) {
            qDrawWinButton(&painter, area, palette(), false);
        }
        if (centredCaption_) {
            QColor faded = textColor_;
            faded.setAlphaF(kDisabledOpacity);
            drawCaption(painter, QPoint(captionX, captionY), faded);
            return;
        }
        drawCaption(painter, QPoint(captionX + 1, captionY + 1), palette().color(QPalette::Light));
        drawCaption(painter, QPoint(captionX, captionY),
                    palette().color(QPalette::Disabled, QPalette::WindowText));
        return;
    }

    if (isDown()) {
        drawPicture(pressed_, Picture::Pressed);
        if (border_ != 0) {
            qDrawWinButton(&painter, area, palette(), true);
        }
    } else {
        if (hovering_ && !hover_.isNull()) {
            drawPicture(hover_, Picture::Hover);
        } else {
            drawPicture(resting_, Picture::Resting);
        }
        if (border_ != 0) {
            qDrawWinButton(&painter, area, palette(), false);
        }
    }

    if (hasFocus() && focusInset_ > 0) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = area.adjusted(focusInset_, focusInset_, -focusInset_, -focusInset_);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    drawCaption(painter, QPoint(captionX, captionY), textColor_);
}

namespace {
bool IsEnterKey(const QKeyEvent* key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}
} // namespace

bool SkinButton::event(QEvent* event) {
    // A focused button is what Enter means, not the window's shortcut on it.
    if (event->type() == QEvent::ShortcutOverride && IsEnterKey(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QAbstractButton::event(event);
}

void SkinButton::keyPressEvent(QKeyEvent* event) {
    if (IsEnterKey(event) && !event->isAutoRepeat()) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SkinButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        // The pressed picture takes over from the hover one; hover comes
        // back with the next move after the release.
        hovering_ = false;
        buttonDown_ = true;
    }
    QAbstractButton::mousePressEvent(event);
}

void SkinButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        buttonDown_ = false;
    }
    // Clicks only when released over the button; otherwise just comes up.
    QAbstractButton::mouseReleaseEvent(event);
}

void SkinButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press like the first, so a
    // double click makes two clicks.
    mousePressEvent(event);
}

void SkinButton::mouseMoveEvent(QMouseEvent* event) {
    if (buttonDown_ && (event->buttons() & Qt::LeftButton)) {
        // While pressed the base class sets the pushed state to whether the
        // pointer is over the button, which swaps the pictures.
        QAbstractButton::mouseMoveEvent(event);
        return;
    }
    if (!hovering_) {
        hovering_ = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void SkinButton::leaveEvent(QEvent*) {
    hovering_ = false;
    update();
}

void SkinButton::focusOutEvent(QFocusEvent* event) {
    // Losing the focus ends a press; the base class lifts the pushed state.
    buttonDown_ = false;
    QAbstractButton::focusOutEvent(event);
}

void SkinButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            hovering_ = false;
            buttonDown_ = false;
        }
        updateCursorShield();
    }
    QAbstractButton::changeEvent(event);
}

void SkinButton::moveEvent(QMoveEvent* event) {
    updateCursorShield();
    QAbstractButton::moveEvent(event);
}

void SkinButton::resizeEvent(QResizeEvent* event) {
    updateCursorShield();
    QAbstractButton::resizeEvent(event);
}

void SkinButton::showEvent(QShowEvent* event) {
    updateCursorShield();
    QAbstractButton::showEvent(event);
}

void SkinButton::hideEvent(QHideEvent* event) {
    updateCursorShield();
    QAbstractButton::hideEvent(event);
}

void SkinButton::updateCursorShield() {
    const bool wanted = !isEnabled() && !isHidden() && parentWidget() != nullptr;
    if (!wanted) {
        if (cursorShield_) {
            cursorShield_->hide();
        }
        return;
    }
    if (!cursorShield_) {
        // Paints nothing and ignores the mouse, so clicks reach the window
        // as they would over a disabled button; it only carries the cursor.
        cursorShield_ = new QWidget(parentWidget());
        cursorShield_->setObjectName(objectName() + QStringLiteral("_cursor"));
        cursorShield_->setAttribute(Qt::WA_NoSystemBackground);
        cursorShield_->setCursor(Qt::PointingHandCursor);
    }
    cursorShield_->setGeometry(geometry());
    cursorShield_->raise();
    cursorShield_->show();
}

} // namespace korvane::ui

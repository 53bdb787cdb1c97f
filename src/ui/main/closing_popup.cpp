#include "main/closing_popup.hpp"

#include "skin/skin_palette.hpp"
#include "ui_strings.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace korvane::ui {

namespace {
constexpr QSize kPopupSize{300, 64};
}

ClosingPopup::ClosingPopup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      text_(new QLabel(QString::fromUtf8(strings::kClosing), this)) {
    setObjectName(QStringLiteral("closingPopup"));
    setModal(false);
    text_->setObjectName(QStringLiteral("closingText"));
    text_->setAlignment(Qt::AlignCenter);
    text_->setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(text_);
    setFixedSize(kPopupSize);
}

void ClosingPopup::showCentred() {
    if (QWidget* owner = parentWidget()) {
        const QPoint centre = owner->mapToGlobal(owner->rect().center());
        move(centre - rect().center());
    }
    // A child of the main window, so it stays above it without raise().
    show();
}

void ClosingPopup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(skin::palette::kClosingPopup));
    // The popup's frame: it has no caption or border of its own.
    painter.setPen(QColor(skin::palette::kPanelOutline));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace korvane::ui

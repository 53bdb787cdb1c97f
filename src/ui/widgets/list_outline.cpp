#include "widgets/list_outline.hpp"

#include "skin/skin_palette.hpp"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace korvane::ui {

namespace {
constexpr qreal kCornerRadius = 10.0;
}

ListOutline::ListOutline(QWidget* list) : QWidget(list->parentWidget()), list_(list) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(list->geometry());
    list->installEventFilter(this);
    raise();
}

bool ListOutline::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        setGeometry(list_->geometry());
    }
    return QWidget::eventFilter(watched, event);
}

void ListOutline::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.moveTo(box.left(), box.bottom());
    outline.lineTo(box.left(), box.top() + kCornerRadius);
    outline.arcTo(QRectF(box.left(), box.top(), 2 * kCornerRadius, 2 * kCornerRadius), 180, -90);
    outline.lineTo(box.right() - kCornerRadius, box.top());
    outline.arcTo(
        QRectF(box.right() - 2 * kCornerRadius, box.top(), 2 * kCornerRadius, 2 * kCornerRadius),
        90, -90);
    outline.lineTo(box.right(), box.bottom());
    outline.closeSubpath();
    painter.setPen(QPen(QColor(skin::palette::kPanelOutline), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
}

} // namespace korvane::ui

#include "widgets/background_drag.hpp"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace korvane::ui {

BackgroundDrag::BackgroundDrag(QWidget* window) : QObject(window), window_(window) {
    window_->installEventFilter(this);
}

bool BackgroundDrag::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        if (QWindow* handle = window_->windowHandle();
            handle != nullptr && handle->startSystemMove())
            return true;
        dragging_ = true;
        offset_ = mouse->globalPosition().toPoint() - window_->pos();
        return true;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!dragging_ || !(mouse->buttons() & Qt::LeftButton))
            return false;
        window_->move(mouse->globalPosition().toPoint() - offset_);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            dragging_ = false;
        return false;
    default:
        return false;
    }
}

} // namespace korvane::ui

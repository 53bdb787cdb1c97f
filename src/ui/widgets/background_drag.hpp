#pragma once

// Lets the background of a caption-less skinned window drag it: a left
// press on the window itself (not on a control) moves the window, through
// the window system when it can, else by following the pointer.

#include <QObject>
#include <QPoint>

class QWidget;

namespace korvane::ui {

class BackgroundDrag : public QObject {
  public:
    // Watches `window`'s own mouse events; a child of it.
    explicit BackgroundDrag(QWidget* window);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
    bool dragging_ = false;
    QPoint offset_;
};

} // namespace korvane::ui

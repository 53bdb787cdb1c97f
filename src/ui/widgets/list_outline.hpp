#pragma once

// The one-pixel outline around the device list: rounded top corners that
// match the list's window region, straight bottom. It sits above the list,
// paints nothing else and lets the mouse through. The region itself can
// only cut whole pixels; the outline drawn over it is antialiased.

#include <QWidget>

namespace korvane::ui {

class ListOutline : public QWidget {
    Q_OBJECT

  public:
    // Follows `list`'s geometry; created as its sibling.
    explicit ListOutline(QWidget* list);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* list_;
};

} // namespace korvane::ui

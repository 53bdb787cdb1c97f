#pragma once

// Ties the device list control to the core's DeviceList. The control shows
// the core's rows through DeviceRowTableModel, and its selection model owns
// the selection and the focus: every change of the selection is reported to
// DeviceList::setSelection, a click to DeviceList::click. When the list
// chooses a selection itself (after a search, or a click or a right click
// with nothing selected), the binding shows it in the control; the control
// reports it back, and the list, which already has it, changes nothing.

#include "devices/device_list.hpp"

#include <QObject>
#include <QPoint>

class QItemSelection;

namespace korvane::ui {

class DeviceListView;
class DeviceRowTableModel;

class DeviceListBinding : public QObject {
    Q_OBJECT

  public:
    DeviceListBinding(DeviceListView* view, DeviceList& list, QObject* parent = nullptr);
    ~DeviceListBinding() override;

    DeviceRowTableModel* model() const { return model_; }

  Q_SIGNALS:
    // After every click or selection change the core has handled.
    void selectionHandled();
    // A double click anywhere in the list.
    void doubleClicked();
    // A right click (or the menu key) at this global position.
    void contextMenuRequested(const QPoint& globalPos);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void onViewSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void showChosenSelection();
    void handleClick(int row);

    DeviceListView* view_;
    DeviceList& list_;
    DeviceRowTableModel* model_;
};

} // namespace korvane::ui

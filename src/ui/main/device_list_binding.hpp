#pragma once

// Ties the device list control to the core's DeviceList. The control shows
// the core's rows through DeviceRowTableModel; a selection the person makes
// is written into the core row by row (rows losing the selection first,
// then rows gaining it, as a list control reports them) and each change is
// handed to DeviceList::OnListItemChanged, a click to OnListClick. Changes
// the core makes itself (a search reselecting a row, a right click
// reselecting the remembered row) go back into the control's selection;
// each direction is guarded so neither echoes the other.

#include "devices/device_list.hpp"

#include <QObject>
#include <QPoint>

class QItemSelection;
class QModelIndex;

namespace korvane::ui {

class DeviceListView;
class DeviceRowTableModel;

class DeviceListBinding : public QObject {
    Q_OBJECT

  public:
    DeviceListBinding(DeviceListView* view, DeviceList& list, QObject* parent = nullptr);

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
    void onViewCurrentChanged(const QModelIndex& current);
    void onCoreSelectionChanged(int row, bool selected);
    void onCoreFocusChanged(int row);
    void syncViewFromCore();
    void handleClick(int row);

    DeviceListView* view_;
    DeviceList& list_;
    DeviceRowTableModel* model_;
    bool writingCore_ = false; // the view's change is being written into the core
    bool writingView_ = false; // the core's change is being written into the view
};

} // namespace korvane::ui

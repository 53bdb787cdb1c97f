#include "main/device_list_binding.hpp"

#include "models/device_row_table_model.hpp"
#include "widgets/device_list_view.hpp"

#include <QItemSelectionModel>
#include <QMouseEvent>

#include <set>

namespace korvane::ui {

namespace {

std::set<int> RowsOf(const QItemSelection& selection) {
    std::set<int> rows;
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            rows.insert(row);
        }
    }
    return rows;
}

// Sets a flag for the lifetime of the guard.
class FlagGuard {
  public:
    explicit FlagGuard(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = previous_; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

  private:
    bool& flag_;
    bool previous_;
};

} // namespace

DeviceListBinding::DeviceListBinding(DeviceListView* view, DeviceList& list, QObject* parent)
    : QObject(parent), view_(view), list_(list),
      model_(new DeviceRowTableModel(list.rows(), this)) {
    view_->setModel(model_);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->viewport()->installEventFilter(this);

    QItemSelectionModel* selection = view_->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            &DeviceListBinding::onViewSelectionChanged);
    connect(selection, &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onViewCurrentChanged(current); });
    connect(model_, &DeviceRowTableModel::coreSelectionChanged, this,
            &DeviceListBinding::onCoreSelectionChanged);
    connect(model_, &DeviceRowTableModel::coreFocusChanged, this,
            &DeviceListBinding::onCoreFocusChanged);
    connect(model_, &DeviceRowTableModel::coreRowsReset, this,
            &DeviceListBinding::syncViewFromCore);
    connect(view_, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { handleClick(index.row()); });
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // A scroll area reports the position in its viewport.
        Q_EMIT contextMenuRequested(view_->viewport()->mapToGlobal(pos));
    });
}

void DeviceListBinding::onViewSelectionChanged(const QItemSelection& selected,
                                               const QItemSelection& deselected) {
    if (writingView_) {
        return;
    }
    QItemSelectionModel* selection = view_->selectionModel();
    DeviceRowModel& rows = list_.rows();
    // Each row is reported after its own state changed, losers first, so
    // the texts pass through what a list control would have shown and the
    // selection key ends on the row that gained the selection.
    auto report = [&](const std::set<int>& changed) {
        for (int row : changed) {
            const bool now = selection->isRowSelected(row, {});
            if (rows.isSelected(row) == now) {
                continue;
            }
            {
                FlagGuard guard(writingCore_);
                rows.setSelected(row, now);
            }
            list_.OnListItemChanged(row);
        }
    };
    report(RowsOf(deselected));
    report(RowsOf(selected));
    Q_EMIT selectionHandled();
}

void DeviceListBinding::onViewCurrentChanged(const QModelIndex& current) {
    if (writingView_) {
        return;
    }
    FlagGuard guard(writingCore_);
    list_.rows().setFocusRow(current.isValid() ? current.row() : -1);
}

void DeviceListBinding::onCoreSelectionChanged(int row, bool selected) {
    if (writingCore_) {
        return;
    }
    FlagGuard guard(writingView_);
    view_->selectionModel()->select(
        model_->index(row, 0),
        (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
            QItemSelectionModel::Rows);
}

void DeviceListBinding::onCoreFocusChanged(int row) {
    if (writingCore_) {
        return;
    }
    FlagGuard guard(writingView_);
    const QModelIndex index = model_->index(row, 0);
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    if (index.isValid()) {
        view_->scrollTo(index);
    }
}

void DeviceListBinding::syncViewFromCore() {
    FlagGuard guard(writingView_);
    const DeviceRowModel& rows = list_.rows();
    QItemSelection selection;
    for (int row : rows.selectedRows()) {
        selection.select(model_->index(row, 0),
                         model_->index(row, DeviceRowTableModel::kColumns - 1));
    }
    view_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    const QModelIndex focus = model_->index(rows.focusRow(), 0);
    view_->selectionModel()->setCurrentIndex(focus, QItemSelectionModel::NoUpdate);
    if (focus.isValid()) {
        view_->scrollTo(focus);
    }
}

void DeviceListBinding::handleClick(int row) {
    list_.OnListClick(row);
    Q_EMIT selectionHandled();
}

bool DeviceListBinding::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease) {
            // A click on a row arrives through clicked(), after the view has
            // settled the selection; the empty area has no row to report.
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                !view_->indexAt(mouse->position().toPoint()).isValid()) {
                handleClick(-1);
            }
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                Q_EMIT doubleClicked();
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvane::ui

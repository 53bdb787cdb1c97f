#include "main/device_list_binding.hpp"

#include "models/device_row_table_model.hpp"
#include "widgets/device_list_view.hpp"

#include <QItemSelectionModel>
#include <QMouseEvent>

#include <algorithm>
#include <vector>

namespace korvane::ui {

namespace {

// The highest row of a selection range list, or -1.
int LastRowOf(const QItemSelection& selection) {
    int last = -1;
    for (const QItemSelectionRange& range : selection) {
        last = std::max(last, range.bottom());
    }
    return last;
}

} // namespace

DeviceListBinding::DeviceListBinding(DeviceListView* view, DeviceList& list, QObject* parent)
    : QObject(parent), view_(view), list_(list),
      model_(new DeviceRowTableModel(list.rows(), this)) {
    view_->setModel(model_);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    view_->viewport()->installEventFilter(this);

    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DeviceListBinding::onViewSelectionChanged);
    list_.setSelectionChosen([this] { showChosenSelection(); });
    connect(view_, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { handleClick(index.row()); });
    connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // A scroll area reports the position in its viewport.
        Q_EMIT contextMenuRequested(view_->viewport()->mapToGlobal(pos));
    });
}

DeviceListBinding::~DeviceListBinding() {
    list_.setSelectionChosen({});
}

void DeviceListBinding::onViewSelectionChanged(const QItemSelection& selected,
                                               const QItemSelection& deselected) {
    std::vector<int> rows;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    // The row whose state changed last: one that gained the selection, else
    // one that lost it.
    const int gained = LastRowOf(selected);
    list_.setSelection(std::move(rows), gained >= 0 ? gained : LastRowOf(deselected));
    Q_EMIT selectionHandled();
}

void DeviceListBinding::showChosenSelection() {
    QItemSelection selection;
    for (int row : list_.selectedRows()) {
        selection.select(model_->index(row, 0),
                         model_->index(row, DeviceRowTableModel::kColumns - 1));
    }
    QItemSelectionModel* model = view_->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    const QModelIndex focus = model_->index(list_.focusRow(), 0);
    model->setCurrentIndex(focus, QItemSelectionModel::NoUpdate);
    if (focus.isValid()) {
        view_->scrollTo(focus);
    }
}

void DeviceListBinding::handleClick(int row) {
    list_.click(row);
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

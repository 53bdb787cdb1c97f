#include "devices/row_model.hpp"

#include <algorithm>

namespace korvane {

std::string_view DeviceRowModel::columnText(int row, int column) const {
    if (!validRow(row))
        return {};
    if (column == kSerialColumn)
        return row_(row).data.texts[0];
    if (column == kAddressColumn)
        return row_(row).addressText;
    return {};
}

int DeviceRowModel::AddDeviceRow(std::string_view first,
                                 std::initializer_list<std::string_view> further) {
    const int index = rowCount();
    DeviceRow row;
    row.data.texts[0] = std::string(first);
    std::size_t i = 1;
    for (std::string_view text : further) {
        if (i >= row.data.texts.size())
            break;
        row.data.texts[i++] = std::string(text);
    }
    notify([&](RowModelListener& l) { l.rowsAboutToBeInserted(index, index); });
    rows_.push_back(std::move(row));
    notify([&](RowModelListener& l) { l.rowsInserted(index, index); });
    return index;
}

void DeviceRowModel::SetRowAddress(int row, std::string_view text) {
    if (!validRow(row))
        return;
    row_(row).addressText = std::string(text);
    notify([&](RowModelListener& l) { l.rowTextChanged(row, kAddressColumn); });
}

void DeviceRowModel::SortRows(int column, bool ascending) {
    if (column < 0 || column >= kRowTexts)
        return;
    const auto c = static_cast<std::size_t>(column);
    notify([](RowModelListener& l) { l.rowsAboutToBeReset(); });
    std::vector<std::size_t> order(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int cmp = rows_[a].data.texts[c].compare(rows_[b].data.texts[c]);
        return ascending ? cmp < 0 : cmp > 0;
    });
    std::vector<DeviceRow> sorted;
    sorted.reserve(rows_.size());
    int newFocus = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (static_cast<int>(order[i]) == focus_)
            newFocus = static_cast<int>(i);
        sorted.push_back(std::move(rows_[order[i]]));
    }
    rows_ = std::move(sorted);
    focus_ = newFocus; // the focus follows its row
    notify([](RowModelListener& l) { l.rowsReset(); });
}

void DeviceRowModel::DeleteAllRows() {
    notify([](RowModelListener& l) { l.rowsAboutToBeReset(); });
    rows_.clear();
    focus_ = -1;
    notify([](RowModelListener& l) { l.rowsReset(); });
}

void DeviceRowModel::setSelected(int row, bool selected) {
    if (!validRow(row) || row_(row).selected == selected)
        return;
    row_(row).selected = selected;
    notify([&](RowModelListener& l) { l.rowSelectionChanged(row, selected); });
}

void DeviceRowModel::clearSelection() {
    for (int i = 0; i < rowCount(); ++i)
        setSelected(i, false);
}

int DeviceRowModel::selectedCount() const {
    return static_cast<int>(
        std::count_if(rows_.begin(), rows_.end(), [](const DeviceRow& r) { return r.selected; }));
}

int DeviceRowModel::firstSelected() const {
    return nthSelected(0);
}

int DeviceRowModel::nthSelected(int n) const {
    if (n < 0)
        return -1;
    for (int i = 0; i < rowCount(); ++i)
        if (row_(i).selected && n-- == 0)
            return i;
    return -1;
}

std::vector<int> DeviceRowModel::selectedRows() const {
    std::vector<int> selected;
    for (int i = 0; i < rowCount(); ++i)
        if (row_(i).selected)
            selected.push_back(i);
    return selected;
}

void DeviceRowModel::setFocusRow(int row) {
    if (!validRow(row))
        row = -1;
    if (row == focus_)
        return;
    focus_ = row;
    notify([&](RowModelListener& l) { l.focusChanged(row); });
}

void DeviceRowModel::addListener(RowModelListener* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void DeviceRowModel::removeListener(RowModelListener* listener) {
    std::erase(listeners_, listener);
}

} // namespace korvane

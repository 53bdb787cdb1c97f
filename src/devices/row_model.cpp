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

int DeviceRowModel::addRow(std::string_view first,
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

void DeviceRowModel::setRowAddress(int row, std::string_view text) {
    if (!validRow(row))
        return;
    row_(row).addressText = std::string(text);
    notify([&](RowModelListener& l) { l.rowTextChanged(row, kAddressColumn); });
}

void DeviceRowModel::clear() {
    notify([](RowModelListener& l) { l.rowsAboutToBeReset(); });
    rows_.clear();
    notify([](RowModelListener& l) { l.rowsReset(); });
}

void DeviceRowModel::addListener(RowModelListener* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void DeviceRowModel::removeListener(RowModelListener* listener) {
    std::erase(listeners_, listener);
}

} // namespace korvane

#include "models/device_row_table_model.hpp"

namespace korvane::ui {

DeviceRowTableModel::DeviceRowTableModel(DeviceRowModel& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {
    rows_.addListener(this);
}

DeviceRowTableModel::~DeviceRowTableModel() {
    rows_.removeListener(this);
}

int DeviceRowTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_.rowCount();
}

int DeviceRowTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant DeviceRowTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.column() >= kColumns) {
        return {};
    }
    const std::string_view text = rows_.columnText(index.row(), index.column());
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant DeviceRowTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal ||
        (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    switch (section) {
    case kSerialColumn:
        return QStringLiteral("Serial Number");
    case kAddressColumn:
        return QStringLiteral("IP Address");
    default:
        return {};
    }
}

void DeviceRowTableModel::rowsAboutToBeReset() {
    beginResetModel();
}

void DeviceRowTableModel::rowsReset() {
    endResetModel();
}

void DeviceRowTableModel::rowsAboutToBeInserted(int first, int last) {
    beginInsertRows({}, first, last);
}

void DeviceRowTableModel::rowsInserted(int, int) {
    endInsertRows();
}

void DeviceRowTableModel::rowTextChanged(int row, int column) {
    const QModelIndex cell = index(row, column);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}

} // namespace korvane::ui

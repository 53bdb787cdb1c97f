#pragma once

// The device list's rows as a Qt model: a thin view of the core's
// DeviceRowModel, two columns (serial number, LAN address), display texts
// only. The core's change notifications become the model's signals.

#include "devices/row_model.hpp"

#include <QAbstractTableModel>

namespace korvane::ui {

class DeviceRowTableModel : public QAbstractTableModel, private RowModelListener {
    Q_OBJECT

  public:
    static constexpr int kColumns = 2;

    explicit DeviceRowTableModel(DeviceRowModel& rows, QObject* parent = nullptr);
    ~DeviceRowTableModel() override;

    DeviceRowModel& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The column titles, for whatever reads the header rather than looks at it.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    void rowsAboutToBeReset() override;
    void rowsReset() override;
    void rowsAboutToBeInserted(int first, int last) override;
    void rowsInserted(int first, int last) override;
    void rowTextChanged(int row, int column) override;

    DeviceRowModel& rows_;
};

} // namespace korvane::ui

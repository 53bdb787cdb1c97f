#pragma once

// The rows of the device list, without any toolkit: per row its texts. A
// front end shows them through an adapter (a QAbstractItemModel in the
// desktop program) that subscribes to the change notifications; the "about
// to" calls come before the change, so such an adapter can bracket it as its
// toolkit requires. Which rows are selected is the list's business
// (DeviceList), not the rows'.
//
// Used on one thread: the thread of the owner of the list.

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

inline constexpr int kRowTexts = 4;
inline constexpr int kSerialColumn = 0;
inline constexpr int kAddressColumn = 1;

// The item data of a row: text 0 is the serial-number text (key and sort
// text), texts 1 to 3 the further texts given at insertion.
struct RowData {
    std::array<std::string, kRowTexts> texts;
};

struct DeviceRow {
    RowData data;
    std::string addressText; // column 1, set after insertion; not part of RowData
};

class RowModelListener {
  public:
    virtual ~RowModelListener() = default;
    virtual void rowsAboutToBeReset() {} // all rows deleted
    virtual void rowsReset() {}
    virtual void rowsAboutToBeInserted(int /*first*/, int /*last*/) {}
    virtual void rowsInserted(int /*first*/, int /*last*/) {}
    virtual void rowTextChanged(int /*row*/, int /*column*/) {}
};

class DeviceRowModel {
  public:
    int rowCount() const { return static_cast<int>(rows_.size()); }
    bool validRow(int row) const { return row >= 0 && row < rowCount(); }
    const DeviceRow& row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }
    // Column 0: text 0; column 1: the address text. Empty for anything else.
    std::string_view columnText(int row, int column) const;

    // Appends a row; the texts are copied, missing further texts are empty.
    int addRow(std::string_view first, std::initializer_list<std::string_view> further = {});
    void setRowAddress(int row, std::string_view text);
    void clear();

    void addListener(RowModelListener* listener);
    void removeListener(RowModelListener* listener);

  private:
    const DeviceRow& row_(int index) const { return rows_[static_cast<std::size_t>(index)]; }
    DeviceRow& row_(int index) { return rows_[static_cast<std::size_t>(index)]; }
    template <class F>
    void notify(F f) {
        for (RowModelListener* l : listeners_)
            f(*l);
    }

    std::vector<DeviceRow> rows_;
    std::vector<RowModelListener*> listeners_;
};

} // namespace korvane

#pragma once

// The device list as the main window keeps it, without any toolkit: the
// DeviceTable and its slots, the rows, the selection state, the information
// pane and status texts, and the list's event handlers. A front end forwards
// its list events to the handlers and shows the texts and rows; a search
// hands its result over to ApplySearchResult. A selection the person makes
// is set on rows() first; then, as a list control reports it, the front end
// calls OnListItemChanged for every row whose state changed, and
// OnListClick for the click itself.
//
// Threads: the table (records and slots) is guarded by the DeviceTableLock
// and may be read from any thread; the busy state is atomic. Everything else
// belongs to the owner's thread.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "devices/device_table.hpp"
#include "devices/row_model.hpp"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

namespace list_text {
inline constexpr std::string_view kSearching = "Searching device...";
inline constexpr std::string_view kNoDevice = "No device found";
} // namespace list_text

// "Serial Number: %s\r\nHardware Version: %s\r\nFirmware Version: %s\r\nLAN IP Address: %s".
// The hardware version shows only when it begins with "Q", else "error". A
// firmware version in the four-number form is shown as "%d.%d.%c%d" rather
// than as its raw bytes.
std::string DeviceInformationText(const DeviceRecord& record, std::string_view lanAddressText);

std::string SelectOneOfText(int deviceCount);                // "Select 1 of %d"
std::string SelectOfText(int selectedRows, int deviceCount); // "Select %d of %d"
std::string SelectNoneOfText(int deviceCount);               // "Select 0 of %d"
std::string SelectItemsText(int selectedRows);               // "Select %d item(s)"

// What the list's context menu offers. Refresh and About are always available.
struct ContextMenuState {
    bool show = false; // nothing is shown while a search runs
    bool launchEnabled = false;
    bool settingsEnabled = false;
    bool firmwareEnabled = false;
};

class DeviceList {
  public:
    DeviceList() = default;
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    DeviceRowModel& rows() { return rows_; }
    const DeviceRowModel& rows() const { return rows_; }

    // The DeviceTable, under the DeviceTableLock (any thread).
    int deviceCount() const;
    std::optional<DeviceRecord> record(int index) const;
    std::optional<DeviceSlot> slot(int index) const;
    DeviceTable table() const;
    // What the firmware password gate remembers for a device; false when it is not listed.
    bool SetRememberedPassword(const MacAddress& mac, std::string_view password);

    // Busy state: a search runs (any thread). While it is set, no operation
    // that talks to devices starts from the list.
    bool busy() const { return busy_.load(std::memory_order_acquire); }
    void setBusy(bool busy) { busy_.store(busy, std::memory_order_release); }

    // --- owner thread from here on ---

    const SelectionKey& selectionKey() const { return selectionKey_; }
    int selectedRowIndex() const { return selectedRowIndex_; }
    // The device the next command goes to; every lookup into it rewrites it.
    const MacAddress& currentDeviceAddress() const { return currentDeviceAddress_; }

    // Device index of the first (n-th) selected row, its MAC written to `out`;
    // -1 with `out` untouched when no such row or it matches no slot.
    int FindSelectedDevice(MacAddress& out) const;
    int FindNthSelectedDevice(int n, MacAddress& out) const;
    // The same, into the CurrentDeviceAddress.
    int SelectCurrentDevice() { return FindSelectedDevice(currentDeviceAddress_); }
    int SelectNthCurrentDevice(int n) { return FindNthSelectedDevice(n, currentDeviceAddress_); }
    // First row whose text 0 matches the key; 0 when none does.
    int FindRowByKey(const DeviceKey& key) const;
    // Column 1 of the first selected row, or empty.
    std::string SelectedRowAddressText() const;
    // The device a row stands for (first slot with its key), or -1.
    int DeviceOfRow(int row) const;

    // The information pane and the status field.
    const std::string& paneText() const { return pane_; }
    const std::string& statusText() const { return status_; }
    // Called after every change of either text (the front end redraws both).
    void setTextsChanged(std::function<void()> callback) { textsChanged_ = std::move(callback); }
    void ShowDeviceInformation(int deviceIndex);

    // The list's notifications. `row` is the clicked or changed row, -1 for
    // the empty area. A click on the empty area while nothing is selected
    // selects nothing.
    void OnListClick(int row);
    void OnListItemChanged(int row);
    // The enable state of the menu; with nothing selected it reselects the
    // row remembered from the last single-selection right click.
    ContextMenuState OnListRightClick();

    // Search steps that change what the list shows (called by DeviceSearch).
    void ShowSearchStarted();
    // A search that ended with an unexpected error: the rows stay as they
    // were and the pane says why.
    void ShowSearchFailed(const std::string& why);
    // Swaps in the new table and slots, rebuilds the rows, reselects the row
    // of the SelectionKey (row 0 when it vanished) and shows its device.
    // Returns false, inserting no further row, once `stop` is requested.
    bool ApplySearchResult(const SearchResult& result, const StopToken* stop = nullptr);

  private:
    int deviceOfRowLocked(int row) const;
    void setTexts(std::string pane, std::string status);
    void setPane(std::string pane);

    mutable std::mutex tableLock_; // DeviceTableLock
    DeviceTable table_;
    std::vector<DeviceSlot> slots_;
    std::atomic<bool> busy_{false};

    DeviceRowModel rows_;
    SelectionKey selectionKey_{};
    int selectedRowIndex_ = 0;
    MacAddress currentDeviceAddress_;
    std::string pane_;
    std::string status_;
    std::function<void()> textsChanged_;
};

} // namespace korvane

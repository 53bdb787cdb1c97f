#pragma once

// The device list as the main window keeps it, without any toolkit: the
// DeviceTable and its slots, the rows, the selected rows, the information
// pane and status texts. The front end's list control owns the selection
// and the focus: it reports every change of the selection (setSelection),
// a click (click) and a context menu request (contextMenu). When the list
// chooses a selection itself (after a search, or when a click or the menu
// finds nothing selected) it calls the selection callback, and the front
// end shows selectedRows() and focusRow(). A search hands its result over
// to applySearchResult.
//
// Threads: the table (records and slots) is guarded by the DeviceTableLock
// and may be read from any thread; the busy state is atomic. Everything else
// belongs to the owner's thread.
//
// Part of the devices layer: uses protocol and what lies below it; docs/architecture.md shows which
// layer may use which.

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
#include <vector>

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
    bool setRememberedPassword(const MacAddress& mac, std::string_view password);

    // Busy state: a search runs (any thread). While it is set, no operation
    // that talks to devices starts from the list.
    bool busy() const { return busy_.load(std::memory_order_acquire); }
    void setBusy(bool busy) { busy_.store(busy, std::memory_order_release); }

    // --- owner thread from here on ---

    const SelectionKey& selectionKey() const { return selectionKey_; }
    // The device the next command goes to; every lookup into it rewrites it.
    const MacAddress& currentDeviceAddress() const { return currentDeviceAddress_; }

    // The selected rows, in list order, and the row the list chose to focus
    // (-1: none). What the front end reported, or what the list chose.
    const std::vector<int>& selectedRows() const { return selectedRows_; }
    int selectedCount() const { return static_cast<int>(selectedRows_.size()); }
    int focusRow() const { return focusRow_; }
    // Called when the list chose a selection itself: the front end shows it.
    void setSelectionChosen(std::function<void()> callback) {
        selectionChosen_ = std::move(callback);
    }

    // The front end's selection changed to `rows`; `changedRow` is the row
    // whose state changed last (the one that gained the selection, else the
    // one that lost it). Its key becomes the one a search reselects by. A
    // report of the selection the list already has changes nothing.
    void setSelection(std::vector<int> rows, int changedRow);
    // A click on `row` (-1: the empty area). With nothing selected, the
    // clicked row is selected; a click on the empty area selects nothing.
    void click(int row);
    // The menu's state. With nothing selected it reselects the row
    // remembered from the last right click on a single selection.
    ContextMenuState contextMenu();

    // Device index of the first (n-th) selected row, its MAC written to `out`;
    // -1 with `out` untouched when no such row or it matches no slot.
    int findSelectedDevice(MacAddress& out) const;
    int findNthSelectedDevice(int n, MacAddress& out) const;
    // The same, into the CurrentDeviceAddress.
    int selectCurrentDevice() { return findSelectedDevice(currentDeviceAddress_); }
    int selectNthCurrentDevice(int n) { return findNthSelectedDevice(n, currentDeviceAddress_); }
    // First row whose text 0 matches the key; 0 when none does.
    int findRowByKey(const DeviceKey& key) const;
    // Column 1 of the first selected row, or empty.
    std::string selectedRowAddressText() const;
    // The device a row stands for (first slot with its key), or -1.
    int deviceOfRow(int row) const;

    // The information pane and the status field.
    const std::string& paneText() const { return pane_; }
    const std::string& statusText() const { return status_; }
    // Called after every change of either text (the front end redraws both).
    void setTextsChanged(std::function<void()> callback) { textsChanged_ = std::move(callback); }
    void showDeviceInformation(int deviceIndex);

    // Search steps that change what the list shows (called by DeviceSearch).
    void showSearchStarted();
    // A search that ended with an unexpected error: the rows stay as they
    // were and the pane says why.
    void showSearchFailed(const std::string& why);
    // Swaps in the new table and slots, rebuilds the rows, reselects the row
    // of the SelectionKey (row 0 when it vanished) and shows its device.
    // Returns false, inserting no further row, once `stop` is requested.
    bool applySearchResult(const SearchResult& result, const StopToken* stop = nullptr);

  private:
    int deviceOfRowLocked(int row) const;
    void setTexts(std::string pane, std::string status);
    void setPane(std::string pane);
    // The list chose `row` as the only selected and focused row.
    void choose(int row);
    // The pane and status after a change of the selection.
    void showSelection();

    mutable std::mutex tableLock_; // DeviceTableLock
    DeviceTable table_;
    std::vector<DeviceSlot> slots_;
    std::atomic<bool> busy_{false};

    DeviceRowModel rows_;
    SelectionKey selectionKey_{};
    std::vector<int> selectedRows_;
    int focusRow_ = -1;
    int rememberedRow_ = 0; // reselected by the last search, or right-clicked alone
    MacAddress currentDeviceAddress_;
    std::string pane_;
    std::string status_;
    std::function<void()> textsChanged_;
    std::function<void()> selectionChosen_;
};

} // namespace korvane

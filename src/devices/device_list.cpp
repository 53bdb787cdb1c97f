#include "devices/device_list.hpp"

#include "base/printable_text.hpp"

#include <string>

namespace korvane {

std::string DeviceInformationText(const DeviceRecord& record, std::string_view lanAddressText) {
    const std::string_view hardware = record.hardwareVersionText();
    // The device's texts go out escaped: a control character in them must
    // neither act on a terminal nor break the pane's lines.
    const std::string hardwareText =
        !hardware.empty() && hardware.front() == 'Q' ? PrintableText(hardware) : "error";
    const std::string firmwareText = record.firmwareVersionDisplay();
    std::string text = "Serial Number: ";
    text += record.serialText();
    text += "\r\nHardware Version: ";
    text += hardwareText;
    text += "\r\nFirmware Version: ";
    text += firmwareText;
    text += "\r\nLAN IP Address: ";
    text += lanAddressText;
    return text;
}

std::string SelectOneOfText(int deviceCount) {
    return "Select 1 of " + std::to_string(deviceCount);
}
std::string SelectOfText(int selectedRows, int deviceCount) {
    return "Select " + std::to_string(selectedRows) + " of " + std::to_string(deviceCount);
}
std::string SelectNoneOfText(int deviceCount) {
    return "Select 0 of " + std::to_string(deviceCount);
}
std::string SelectItemsText(int selectedRows) {
    return "Select " + std::to_string(selectedRows) + (selectedRows >= 2 ? " items" : " item");
}

int DeviceList::deviceCount() const {
    std::lock_guard lock(tableLock_);
    return table_.count();
}

std::optional<DeviceRecord> DeviceList::record(int index) const {
    std::lock_guard lock(tableLock_);
    if (index < 0 || index >= table_.count())
        return std::nullopt;
    return table_.records[static_cast<std::size_t>(index)];
}

std::optional<DeviceSlot> DeviceList::slot(int index) const {
    std::lock_guard lock(tableLock_);
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size())
        return std::nullopt;
    return slots_[static_cast<std::size_t>(index)];
}

DeviceTable DeviceList::table() const {
    std::lock_guard lock(tableLock_);
    return table_;
}

bool DeviceList::SetRememberedPassword(const MacAddress& mac, std::string_view password) {
    std::lock_guard lock(tableLock_);
    for (auto& r : table_.records) {
        if (r.mac() == mac) {
            r.setRememberedPassword(password);
            return true;
        }
    }
    return false;
}

int DeviceList::deviceOfRowLocked(int row) const {
    if (!rows_.validRow(row))
        return -1;
    const std::string_view text = rows_.row(row).data.texts[0];
    const std::size_t n = std::min(slots_.size(), table_.records.size());
    for (std::size_t i = 0; i < n; ++i)
        if (KeyMatches(slots_[i].key, text))
            return static_cast<int>(i);
    return -1;
}

int DeviceList::DeviceOfRow(int row) const {
    std::lock_guard lock(tableLock_);
    return deviceOfRowLocked(row);
}

int DeviceList::FindSelectedDevice(MacAddress& out) const {
    return FindNthSelectedDevice(0, out);
}

int DeviceList::FindNthSelectedDevice(int n, MacAddress& out) const {
    const int row = rows_.nthSelected(n);
    if (row < 0)
        return -1;
    std::lock_guard lock(tableLock_);
    const int device = deviceOfRowLocked(row);
    if (device >= 0)
        out = slots_[static_cast<std::size_t>(device)].mac;
    return device;
}

int DeviceList::FindRowByKey(const DeviceKey& key) const {
    for (int row = 0; row < rows_.rowCount(); ++row)
        if (KeyMatches(key, rows_.row(row).data.texts[0]))
            return row;
    return 0;
}

std::string DeviceList::SelectedRowAddressText() const {
    return std::string(rows_.columnText(rows_.firstSelected(), kAddressColumn));
}

void DeviceList::setTexts(std::string pane, std::string status) {
    pane_ = std::move(pane);
    status_ = std::move(status);
    if (textsChanged_)
        textsChanged_();
}

void DeviceList::setPane(std::string pane) {
    setTexts(std::move(pane), status_);
}

void DeviceList::ShowDeviceInformation(int deviceIndex) {
    std::string text;
    {
        std::lock_guard lock(tableLock_);
        if (deviceIndex < 0 || deviceIndex >= table_.count())
            return;
        text = DeviceInformationText(table_.records[static_cast<std::size_t>(deviceIndex)],
                                     SelectedRowAddressText());
    }
    setPane(std::move(text));
}

void DeviceList::OnListClick(int row) {
    if (rows_.rowCount() == 0)
        return;
    // Selecting the clicked row when nothing is selected; a click on the
    // empty area (-1) selects nothing rather than every row.
    if (rows_.selectedCount() == 0 && rows_.validRow(row)) {
        rows_.setSelected(row, true);
        rows_.setFocusRow(row);
    }
    if (rows_.validRow(row))
        selectionKey_ = MakeKey(rows_.row(row).data.texts[0]);
    const int device = SelectCurrentDevice();
    if (device < 0 || busy())
        return;
    const int selected = rows_.selectedCount();
    status_ = SelectOfText(selected, deviceCount());
    if (selected == 1)
        ShowDeviceInformation(device);
    else
        setPane({});
}

void DeviceList::OnListItemChanged(int row) {
    if (rows_.rowCount() == 0)
        return;
    const int device = SelectCurrentDevice();
    if (device < 0) {
        if (busy())
            setTexts(pane_, SelectItemsText(0)); // the pane is left alone during a search
        else
            setTexts({}, SelectNoneOfText(deviceCount()));
        return;
    }
    if (rows_.validRow(row))
        selectionKey_ = MakeKey(rows_.row(row).data.texts[0]);
    const int selected = rows_.selectedCount();
    if (busy()) {
        setTexts(pane_, SelectItemsText(selected));
        return;
    }
    status_ = SelectOfText(selected, deviceCount());
    if (selected == 1)
        ShowDeviceInformation(device);
    else
        setPane({});
}

ContextMenuState DeviceList::OnListRightClick() {
    ContextMenuState menu;
    if (busy())
        return menu;
    menu.show = true;
    const int selected = rows_.selectedCount();
    menu.launchEnabled = menu.settingsEnabled = menu.firmwareEnabled = selected > 0;
    if (selected == 0) {
        rows_.setSelected(selectedRowIndex_, true);
        // The pane and the status follow the row selected again, as they
        // follow every other change of a row's state.
        if (rows_.validRow(selectedRowIndex_))
            OnListItemChanged(selectedRowIndex_);
    } else if (selected == 1) {
        selectedRowIndex_ = rows_.firstSelected();
    } else {
        menu.settingsEnabled = false; // the sheet works on one device
    }
    return menu;
}

void DeviceList::ShowSearchStarted() {
    setTexts(std::string(list_text::kSearching), {});
}

void DeviceList::ShowSearchFailed(const std::string& why) {
    setTexts("Search failed: " + why, {});
}

bool DeviceList::ApplySearchResult(const SearchResult& result, const StopToken* stop) {
    auto stopped = [&] { return stop != nullptr && stop->stopRequested(); };
    if (stopped())
        return false;
    {
        std::lock_guard lock(tableLock_);
        table_ = result.table;
        slots_ = result.slots;
        if (table_.records.size() > kDeviceTableCapacity)
            table_.records.resize(kDeviceTableCapacity);
        if (slots_.size() > table_.records.size())
            slots_.resize(table_.records.size());
    }
    rows_.DeleteAllRows();
    for (const DisplayRow& display : result.rows) {
        if (stopped())
            return false;
        const int row = rows_.AddDeviceRow(display.serialText);
        rows_.SetRowAddress(row, display.addressText);
    }

    selectedRowIndex_ = FindRowByKey(selectionKey_);
    if (rows_.validRow(selectedRowIndex_)) {
        rows_.setSelected(selectedRowIndex_, true);
        rows_.setFocusRow(selectedRowIndex_);
        // The list reports the new selection like any other change of state,
        // which makes the row's key the one to keep.
        selectionKey_ = MakeKey(rows_.row(selectedRowIndex_).data.texts[0]);
    }
    const int device = SelectCurrentDevice();
    if (device < 0) {
        setPane(std::string(list_text::kNoDevice));
    } else {
        status_ = SelectOneOfText(deviceCount());
        ShowDeviceInformation(device);
    }
    return true;
}

} // namespace korvane

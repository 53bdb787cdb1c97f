#include "devices/device_list.hpp"

#include "base/printable_text.hpp"

#include <algorithm>
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

bool DeviceList::setRememberedPassword(const MacAddress& mac, std::string_view password) {
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

int DeviceList::deviceOfRow(int row) const {
    std::lock_guard lock(tableLock_);
    return deviceOfRowLocked(row);
}

int DeviceList::findSelectedDevice(MacAddress& out) const {
    return findNthSelectedDevice(0, out);
}

int DeviceList::findNthSelectedDevice(int n, MacAddress& out) const {
    if (n < 0 || n >= selectedCount())
        return -1;
    const int row = selectedRows_[static_cast<std::size_t>(n)];
    std::lock_guard lock(tableLock_);
    const int device = deviceOfRowLocked(row);
    if (device >= 0)
        out = slots_[static_cast<std::size_t>(device)].mac;
    return device;
}

int DeviceList::findRowByKey(const DeviceKey& key) const {
    for (int row = 0; row < rows_.rowCount(); ++row)
        if (KeyMatches(key, rows_.row(row).data.texts[0]))
            return row;
    return 0;
}

std::string DeviceList::selectedRowAddressText() const {
    return selectedRows_.empty() ? std::string()
                                 : std::string(rows_.columnText(selectedRows_[0], kAddressColumn));
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

void DeviceList::showDeviceInformation(int deviceIndex) {
    std::string text;
    {
        std::lock_guard lock(tableLock_);
        if (deviceIndex < 0 || deviceIndex >= table_.count())
            return;
        text = DeviceInformationText(table_.records[static_cast<std::size_t>(deviceIndex)],
                                     selectedRowAddressText());
    }
    setPane(std::move(text));
}

void DeviceList::choose(int row) {
    selectedRows_ = {row};
    focusRow_ = row;
    if (selectionChosen_)
        selectionChosen_();
}

void DeviceList::showSelection() {
    const int device = selectCurrentDevice();
    const int selected = selectedCount();
    if (busy()) {
        // The pane is left alone during a search.
        setTexts(pane_, SelectItemsText(device < 0 ? 0 : selected));
        return;
    }
    if (device < 0) {
        setTexts({}, SelectNoneOfText(deviceCount()));
        return;
    }
    status_ = SelectOfText(selected, deviceCount());
    if (selected == 1)
        showDeviceInformation(device);
    else
        setPane({});
}

void DeviceList::setSelection(std::vector<int> rows, int changedRow) {
    std::erase_if(rows, [this](int row) { return !rows_.validRow(row); });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows == selectedRows_)
        return;
    selectedRows_ = std::move(rows);
    if (rows_.rowCount() == 0)
        return;
    // The key follows the changed row once the selection names a device.
    if (rows_.validRow(changedRow) && findSelectedDevice(currentDeviceAddress_) >= 0)
        selectionKey_ = MakeKey(rows_.row(changedRow).data.texts[0]);
    showSelection();
}

void DeviceList::click(int row) {
    if (rows_.rowCount() == 0)
        return;
    // Selecting the clicked row when nothing is selected; a click on the
    // empty area (-1) selects nothing rather than every row.
    if (selectedRows_.empty() && rows_.validRow(row))
        choose(row);
    if (rows_.validRow(row))
        selectionKey_ = MakeKey(rows_.row(row).data.texts[0]);
    // A click during a search, or on rows that name no device, leaves the texts.
    if (selectCurrentDevice() < 0 || busy())
        return;
    showSelection();
}

ContextMenuState DeviceList::contextMenu() {
    ContextMenuState menu;
    if (busy())
        return menu;
    menu.show = true;
    const int selected = selectedCount();
    menu.launchEnabled = menu.settingsEnabled = menu.firmwareEnabled = selected > 0;
    if (selected == 0) {
        // The pane and the status follow the row selected again, as they
        // follow every other change of the selection.
        if (rows_.validRow(rememberedRow_)) {
            choose(rememberedRow_);
            if (selectCurrentDevice() >= 0)
                selectionKey_ = MakeKey(rows_.row(rememberedRow_).data.texts[0]);
            showSelection();
        }
    } else if (selected == 1) {
        rememberedRow_ = selectedRows_[0];
    } else {
        menu.settingsEnabled = false; // the sheet works on one device
    }
    return menu;
}

void DeviceList::showSearchStarted() {
    setTexts(std::string(list_text::kSearching), {});
}

void DeviceList::showSearchFailed(const std::string& why) {
    setTexts("Search failed: " + why, {});
}

bool DeviceList::applySearchResult(const SearchResult& result, const StopToken* stop) {
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
    selectedRows_.clear();
    focusRow_ = -1;
    rows_.clear();
    for (const DisplayRow& display : result.rows) {
        if (stopped())
            return false;
        const int row = rows_.addRow(display.serialText);
        rows_.setRowAddress(row, display.addressText);
    }

    rememberedRow_ = findRowByKey(selectionKey_);
    if (rows_.validRow(rememberedRow_)) {
        selectedRows_ = {rememberedRow_};
        focusRow_ = rememberedRow_;
        selectionKey_ = MakeKey(rows_.row(rememberedRow_).data.texts[0]);
    }
    const int device = selectCurrentDevice();
    if (device < 0) {
        setPane(std::string(list_text::kNoDevice));
    } else {
        status_ = SelectOneOfText(deviceCount());
        showDeviceInformation(device);
    }
    if (selectionChosen_)
        selectionChosen_();
    return true;
}

} // namespace korvane

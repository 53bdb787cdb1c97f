#include "devices/device_table.hpp"

#include <algorithm>
#include <charconv>

namespace korvane {

DeviceKey MakeKey(std::string_view text) {
    DeviceKey key{};
    std::copy_n(text.begin(), std::min(text.size(), kKeyLength), key.begin());
    return key;
}

bool KeyMatches(const DeviceKey& key, std::string_view text) {
    return MakeKey(text) == key;
}

std::string_view KeyText(const DeviceKey& key) {
    const auto end = std::find(key.begin(), key.end(), '\0');
    return {key.data(), static_cast<std::size_t>(end - key.begin())};
}

std::string SerialText(const MacAddress& mac) {
    return std::to_string(mac.serialNumber());
}

DeviceSlot MakeSlot(const DeviceRecord& record) {
    DeviceSlot slot;
    slot.mac = record.mac();
    slot.key = MakeKey(SerialText(slot.mac));
    slot.modelLetter = ModelLetter(record);
    return slot;
}

bool DeviceTable::contains(const MacAddress& mac, std::size_t firstN) const {
    const auto end =
        records.begin() + static_cast<std::ptrdiff_t>(std::min(firstN, records.size()));
    return std::any_of(records.begin(), end, [&](const DeviceRecord& r) { return r.mac() == mac; });
}

namespace {
std::uint32_t serialValue(const std::string& text) {
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}
} // namespace

void SortDisplayRows(std::vector<DisplayRow>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const DisplayRow& a, const DisplayRow& b) {
        return serialValue(a.serialText) < serialValue(b.serialText);
    });
}

} // namespace korvane

#pragma once

// The devices the last search found: the table of their discovery records in
// the order they were found, one slot per record tying a list row (by its
// serial-number text) to the device, and the display rows a search hands to
// the list.

#include "base/mac_address.hpp"
#include "protocol/device_identity.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// A found device: the 128-byte discovery record kept whole, read by payload
// offsets. The search fills the serial-number text; discovery the adapter index.
using DeviceRecord = DeviceIdentity;

inline constexpr std::size_t kDeviceTableCapacity = 256;
// One slot per table record. Sized like the table, so every device the table
// can hold also gets a list row.
inline constexpr std::size_t kDeviceSlotCapacity = kDeviceTableCapacity;
inline constexpr std::size_t kKeyLength = 10; // the widest 32-bit number in decimal

// A serial-number text cut or zero-padded to 10 characters.
using DeviceKey = std::array<char, kKeyLength>;
using SelectionKey = DeviceKey;

DeviceKey MakeKey(std::string_view text);
// Equal when the first 10 characters, the text's end padded with zeros, are.
bool KeyMatches(const DeviceKey& key, std::string_view text);
std::string_view KeyText(const DeviceKey& key); // up to the first zero

// "%u" of the last four MAC bytes read big-endian.
std::string SerialText(const MacAddress& mac);

struct DeviceSlot {
    DeviceKey key{};
    MacAddress mac;
    char modelLetter = 0;
};

DeviceSlot MakeSlot(const DeviceRecord& record);

struct DeviceTable {
    std::vector<DeviceRecord> records; // filled from index 0 without gaps; size = device count

    int count() const { return static_cast<int>(records.size()); }
    bool full() const { return records.size() >= kDeviceTableCapacity; }
    bool contains(const MacAddress& mac, std::size_t firstN) const;
};

// One list row as a search produces it.
struct DisplayRow {
    std::string serialText;
    std::string addressText; // "%d.%d.%d.%d"; "0.0.0.0" when the device did not answer
};

// What one search hands to the list's owner, who applies it on its own thread.
struct SearchResult {
    DeviceTable table;
    std::vector<DeviceSlot> slots; // slot i belongs to table record i
    std::vector<DisplayRow> rows;  // ascending by numeric serial number
    int adaptersSearched = 0;
    int adaptersOpened = 0;
    // Each adapter the search looked at, and why it could not search there
    // (empty when it did): what a front end says when nothing was found.
    struct AdapterNote {
        std::string name;
        std::string problem;
    };
    std::vector<AdapterNote> adapterNotes;
};

// Ascending by the serial text's value as an unsigned 32-bit number; equal
// values keep their order.
void SortDisplayRows(std::vector<DisplayRow>& rows);

} // namespace korvane

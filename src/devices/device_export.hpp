#pragma once

// The device list as a file: what `korvane search --csv` and the desktop
// program's "Export List..." write, what `korvane search --compare` reads
// back (that CSV, or the JSON array of `search --json`), and how a saved
// list and the devices found now differ.

#include "devices/device_list.hpp"
#include "link/adapter_table.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The columns, named as the keys of the JSON output, in the order written.
inline constexpr std::array<std::string_view, 6> kDeviceListColumns = {
    "serial", "mac", "ip", "hardware_version", "firmware_version", "adapter"};

// One device as listed. The version texts are those the list shows (wire
// bytes made printable); the adapter's name is well-formed UTF-8.
struct ListedDevice {
    std::string serial;
    std::string mac; // "02-19-A7-00-00-01"
    std::string ip;  // the LAN address as the list shows it; empty when not asked (discover)
    std::string hardwareVersion;
    std::string firmwareVersion;
    std::string adapter;
};

// A discovery record with its LAN address text and its adapter's name.
ListedDevice ListedDeviceOf(const DeviceIdentity& device, std::string ip,
                            const AdapterTable& adapters);
// The rows of the list, in list order.
std::vector<ListedDevice> ListedDevices(const DeviceList& list, const AdapterTable& adapters);

// The header and one record per device, RFC 4180.
std::string DeviceListCsv(const std::vector<ListedDevice>& devices);

// A device of a saved list: the fields the file had (a list made by hand may
// hold fewer columns; only those are compared).
struct SavedDevice {
    int row = 0; // from 1, in file order
    std::string mac;
    std::optional<std::string> serial, ip, hardwareVersion, firmwareVersion, adapter;
};

// Reads a saved list: the CSV above (columns by their header names, in any
// order; others ignored) or the JSON array of `search --json`. Every device
// needs its MAC address, which is what a device is known by. nullopt with
// `error` naming the row when the text is neither or a row is unfit.
std::optional<std::vector<SavedDevice>> ReadSavedDeviceList(std::string_view text,
                                                            std::string& error);

struct FieldChange {
    std::string field; // "ip", "firmware_version", "adapter"
    std::string saved;
    std::string now;
};

struct ListDifference {
    enum class Kind { Missing, New, Changed } kind = Kind::Missing;
    std::string mac;
    std::string serial;
    std::string ip;                   // saved (missing) or now (new, changed)
    std::vector<FieldChange> changes; // Changed only
};

// What differs between a saved list and the devices found now, keyed by MAC:
// devices missing (saved, not found), new (found, not saved), and changed in
// address, firmware version or adapter (fields the saved list has). Missing
// first, in saved order, then new and changed in found order. Empty when the
// segment matches.
std::vector<ListDifference> CompareDeviceLists(const std::vector<SavedDevice>& saved,
                                               const std::vector<ListedDevice>& now);

// The devices found now as a saved list, for the next comparison of a watch.
std::vector<SavedDevice> AsSaved(const std::vector<ListedDevice>& devices);

} // namespace korvane

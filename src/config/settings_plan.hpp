#pragma once

// A settings plan: the network settings of many devices given in one file,
// one row per device, each naming its device by serial number or MAC address
// and giving only what changes. The file is CSV (the device list's columns,
// of which serial and mac name the device, plus mode, ip, mask, gateway,
// http, https, telnet and ssh) or a JSON array of objects with those keys.
//
// Checking a plan runs every test before anything is written: the file's own
// rows first (values, two rows for one device, two rows giving one address),
// then, against the devices found on the segment and the settings each one
// has, the rules of the Network Settings sheet, the addresses the devices
// end with, and the address probe. What comes out is the devices in the
// order to write them, each with its sheet model as it would be after OK.

#include "config/settings_edits.hpp"
#include "protocol/device_identity.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// The columns of a plan: those that name a device, the settings, and the
// device list's own that a plan made from an export carries along unread.
inline constexpr std::string_view kPlanSettingColumns[] = {"mode", "ip",    "mask",   "gateway",
                                                           "http", "https", "telnet", "ssh"};
inline constexpr std::string_view kPlanIgnoredColumns[] = {
    "hardware_version", "firmware_version", "adapter", "version_number", "adapter_index"};

struct PlanRow {
    int row = 0;        // from 1, in file order
    int line = 0;       // the CSV line it starts on; 0 in a JSON plan
    std::string device; // how the row names its device (its MAC when given)
    std::optional<MacAddress> mac;
    std::optional<std::uint32_t> serial;
    SettingsEdits edits;
};

struct PlanError {
    int row = 0;  // 0: the file as a whole
    int line = 0; // 0: none (a JSON plan, or the file as a whole)
    std::string device;
    std::string message;

    // "row 3 (line 4, 2801795075): Invalid Subnet Mask"
    std::string text() const;
};

// The plan file's rows. Every unfit row is reported, not only the first; a
// text that is neither CSV nor JSON gives one error for the file. The rows
// come back only when there is no error.
std::optional<std::vector<PlanRow>> ParseSettingsPlan(std::string_view text,
                                                      std::vector<PlanError>& errors);

// One device of a checked plan.
struct PlannedDevice {
    PlanRow row;
    DeviceIdentity device;
    NetworkSettingsModel model; // filled from the device's settings, the row applied
    SettingsEdits edits;        // what the row changes on this device (see ApplyPlanRow)

    bool changes() const { return SettingsChanged(model); }
};

// A device's settings read for the check: the read's status (0: no reply)
// and the block.
using PlanSettingsReader =
    std::function<std::uint16_t(const DeviceIdentity& device, SettingsBlock& block)>;
// Whether a station answers to an address on the device's segment.
using PlanAddressProbe = std::function<bool(const DeviceIdentity& device, std::uint32_t address)>;

struct PlanCheck {
    std::vector<PlannedDevice> devices; // in the order to write them
    std::vector<PlanError> errors;      // empty: the plan may be written
};

// Checks the rows against the devices found (each with its adapter). Every
// device of the plan is read, never written. An address another device of
// the plan gives up is not probed: it will be free once that device is
// written, and the order puts that device first.
PlanCheck CheckSettingsPlan(const std::vector<PlanRow>& rows,
                            const std::vector<DeviceIdentity>& found,
                            const PlanSettingsReader& read, const PlanAddressProbe& probe);

// The row's edits as they apply to a device's pages: an address, mask or
// gateway equal to the one the device has is no change (so a plan made from
// an export, whose ip column holds every device's address, also fits the
// devices that get theirs from DHCP), nor is "off" for a service the device
// does not have.
SettingsEdits PlanEditsFor(const SettingsEdits& edits, const NetworkSettingsModel& model);

// One setting's change, as a plan writes values: "static", "10.0.0.5",
// "8080", "off"; "absent" for a service the device does not have.
struct SettingChange {
    std::string setting; // a plan column: "mode", "ip", ..., "ssh"
    std::string from;
    std::string to;
};
// What OK would write, compared with what the pages were filled with.
std::vector<SettingChange> PlannedChanges(const NetworkSettingsModel& model);

} // namespace korvane

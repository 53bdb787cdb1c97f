#pragma once

// Changes to a device's network settings given ahead, as options or as a row
// of a plan, applied to the Network Settings sheet's pages the way a person
// would make them there: what the pages do not allow is refused, and the
// sheet's own tests then judge the result.

#include "config/settings_model.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

struct ServiceEdit {
    bool on = false;
    int port = 0; // when on
};

struct SettingsEdits {
    std::optional<AddressMode> mode;
    std::optional<std::uint32_t> ip, mask, gateway;
    std::map<ServiceKind, ServiceEdit> services;

    bool hasAddress() const { return ip || mask || gateway; }
    bool empty() const { return !mode && !hasAddress() && services.empty(); }
};

// What the pages would not allow.
struct EditRefusal {
    enum class Kind {
        BootpUnavailable,   // BOOTP needs a model K device with settings version 31 or more
        AddressNeedsStatic, // an address, mask or gateway on a device left in DHCP or BOOTP
        NoSuchField,        // HTTP or Telnet on settings older than version 32
        NoSuchService,      // HTTPS or SSH on a device without it
    } kind;
    ServiceKind service = ServiceKind::Http; // the last two
    std::uint16_t version = 0;               // NoSuchField: the device's settings version
};

std::optional<EditRefusal> ApplyAddressEdits(const SettingsEdits& edits, IpAddressPageModel& page);
std::optional<EditRefusal> ApplyServiceEdits(const SettingsEdits& edits, AdvancedPageModel& page);
// Both pages.
std::optional<EditRefusal> ApplySettingsEdits(const SettingsEdits& edits,
                                              NetworkSettingsModel& model);

// The service parts of a refusal, in words ("this device has no SSH service").
std::string ServiceRefusalText(const EditRefusal& refusal);

// "dhcp", "bootp", "static": how the command line and plans name the modes.
std::string_view AddressModeName(AddressMode mode);
std::optional<AddressMode> ParseAddressModeName(std::string_view name);

} // namespace korvane

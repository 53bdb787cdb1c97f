#pragma once

// The one way every command finds the devices it names: a discovery on each
// adapter the command may use, then each name resolved against what answered.

#include "protocol/device_identity.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {
class Environment;
}

namespace korvane::cli {

// What DEVICE on the command line means: a MAC (dash or colon form) or a
// serial number in decimal. nullopt when it is neither.
struct DeviceSelector {
    std::optional<MacAddress> mac;
    std::optional<std::uint32_t> serial;

    bool matches(const DeviceIdentity& device) const;
};
std::optional<DeviceSelector> ParseDeviceSelector(std::string_view text);

struct Resolution {
    // The named devices in the order named, each once; with `all`, every
    // device found, in the order found. Each record carries its adapter.
    std::vector<DeviceIdentity> devices;
    int status = 0;    // an exit status: 0, kExitFailure or kExitNoAdapter
    std::string error; // why not, when status is not 0
};

// Discovers on every adapter of the environment at once, as a search does (a
// device seen on two keeps the first), and resolves `names`, which
// the command line has already checked with DeviceCheck. Fails with
// kExitNoAdapter when an --interface name does not exist or no adapter could
// be opened, and with kExitFailure, naming it, when a name matches no device
// or a serial number matches two.
Resolution ResolveDevices(Environment& env, const std::vector<std::string>& names,
                          bool all = false);

} // namespace korvane::cli

#pragma once

// Finds the device a command names. Kept to one function so that a shared
// lookup over the device table can take its place.

#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace korvane::cli {

// What DEVICE on the command line means: a MAC (dash or colon form) or a
// serial number in decimal. nullopt when it is neither.
struct DeviceSelector {
    std::optional<MacAddress> mac;
    std::optional<std::uint32_t> serial;
};
std::optional<DeviceSelector> ParseDeviceSelector(std::string_view text);

// Runs a discovery on each adapter of the context, in order, until the
// device answers. Its record carries the adapter it was found on. nullopt
// with `error` set when the text names no device or none answered.
std::optional<DeviceIdentity> FindDevice(Context& ctx, std::string_view text, std::string& error);

} // namespace korvane::cli

#pragma once

// A device as search, info and the read commands print it in JSON.

#include "cli/json_output.hpp"
#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"

#include <string>

namespace korvane::cli {

// The adapter's name of a device's adapter index, empty when out of range.
std::string AdapterName(const Context& ctx, int index);

// {"serial", "ip", "mac", "hardware_version", "firmware_version",
//  "version_number", "adapter", "adapter_index"}
Json DeviceObject(const Context& ctx, const DeviceIdentity& device, const std::string& serial,
                  const std::string& ip);

} // namespace korvane::cli

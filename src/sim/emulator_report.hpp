#pragma once

// What korvane-devsim --report writes when it ends: the emulator's frame
// counters and, for every device, its identity, address, request and
// violation counters and what its firmware receiver saw, as JSON.

#include <string>
#include <string_view>

namespace korvane::sim {

class DeviceEmulator;

// The report as indented JSON text with a final line end. Every string in it
// is valid JSON text whatever bytes it came from (an interface name is the
// operator's, not necessarily UTF-8): a byte that is no UTF-8 becomes U+FFFD.
std::string EmulatorReport(std::string_view interface, DeviceEmulator& emulator);

} // namespace korvane::sim

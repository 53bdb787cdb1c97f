#pragma once

// The address-conflict question: does some station on the device's segment
// already answer to an IPv4 address? Asked with ARP probes (sender address
// 0.0.0.0, so no station adds us to its neighbour table) on a second port of
// the adapter the link uses; any reply means the address is taken.

#include "base/sync.hpp"
#include "protocol/arp.hpp"
#include "protocol/context.hpp"

#include <cstdint>

namespace korvane {

// Probes `address` on the adapter the link has open: Timing::arpProbeTries
// probes, each followed by a window of Timing::arpProbeWindow. True when a
// station answered. False when none did, and also when the probe cannot be
// made (no open link, the adapter refuses a second port): no answer, no conflict.
bool ProbeAddressInUse(Context& ctx, std::uint32_t address, StopToken* stop = nullptr);

} // namespace korvane

#pragma once

#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"

#include <span>

namespace korvane {

inline constexpr std::size_t kDiscoveryCapacity = 256;

// Broadcasts one discovery request on the open adapter and collects the
// replies for the discovery window: one record per answering MAC, the first
// reply winning, in order of first reply. On entry `records` holds what was
// known before; each new record gets the remembered password of the previous
// record with the same MAC (the last match wins). Returns the count written
// from index 0 (0 leaves the array as it was). Devices beyond the capacity
// are ignored.
int DiscoverDevices(Context& ctx, std::span<DeviceIdentity> records, int adapterIndex,
                    StopToken* stop = nullptr);

} // namespace korvane

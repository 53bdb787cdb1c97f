#pragma once

#include "protocol/context.hpp"
#include "protocol/device_identity.hpp"
#include "protocol/frame.hpp"

#include <span>

namespace korvane {

inline constexpr std::size_t kDiscoveryCapacity = 256;

// A reply must carry the device's part of the identity record (its first 60
// bytes: leading number, MAC, versions); the rest is the utility's own.
inline constexpr std::size_t kMinDiscoveryReply =
    frame_offset::kData + identity_offset::kVersionNumber;

// What one received frame is to a discovery.
enum class DiscoveryFrame {
    Device,       // a well-formed 0x1002 reply to us: `identity` holds its record
    NotAReply,    // other traffic, looped-back requests, our own frames
    Misaddressed, // a 0x1002 reply to another station
    Malformed,    // a 0x1002 reply without a usable identity (too short; MAC zero or group)
};

// Pure: classifies a frame received on the adapter whose MAC is `own`.
DiscoveryFrame ClassifyDiscoveryFrame(std::span<const std::uint8_t> frame, const MacAddress& own,
                                      DeviceIdentity& identity);

// Broadcasts one discovery request on the open adapter and collects the
// replies for the discovery window: one record per device, the first reply
// winning, in order of first reply. Only replies that arrived after the
// request and are addressed to the adapter are taken; a device is the same
// device whether it is recognised by the reply's source MAC or by the MAC in
// its identity. What is dropped is counted in the context's wire counters. On entry `records` holds
// what was known before; each new record gets the remembered password of the previous record with
// the same MAC (the last match wins). Returns the count written from index 0 (0 leaves the array as
// it was). Devices beyond the capacity are ignored.
int DiscoverDevices(Context& ctx, std::span<DeviceIdentity> records, int adapterIndex,
                    StopToken* stop = nullptr);

} // namespace korvane

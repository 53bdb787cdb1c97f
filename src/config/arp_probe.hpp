#pragma once

// The address-conflict question: does some station on the device's segment
// already answer to an IPv4 address? Asked with ARP probes (sender address
// 0.0.0.0, so no station adds us to its neighbour table) on a second port of
// the adapter the link uses; any reply means the address is taken.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "link/packet_driver.hpp"
#include "protocol/context.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane {

inline constexpr std::uint16_t kArpEtherType = 0x0806;
inline constexpr std::size_t kArpFrameLength = 42;   // Ethernet head and the ARP body
inline constexpr std::size_t kEthernetMinFrame = 60; // without the frame check sequence

namespace arp_offset {
inline constexpr std::size_t kOperation = 20;
inline constexpr std::size_t kSenderMac = 22;
inline constexpr std::size_t kSenderIp = 28;
inline constexpr std::size_t kTargetMac = 32;
inline constexpr std::size_t kTargetIp = 38;
} // namespace arp_offset

inline constexpr std::uint16_t kArpRequest = 1;
inline constexpr std::uint16_t kArpReply = 2;

// A broadcast ARP request for `address` from `source` with sender address
// 0.0.0.0, padded to the Ethernet minimum.
std::array<std::uint8_t, kEthernetMinFrame> BuildArpProbe(const MacAddress& source,
                                                          std::uint32_t address);

// The receive filter of the probe's port: ARP replies whose sender is `address`.
std::vector<BpfInstruction> ArpReplyFilter(std::uint32_t address);

// Whether a frame is an Ethernet/IPv4 ARP reply sent for `address`.
bool IsArpReplyFor(std::span<const std::uint8_t> frame, std::uint32_t address);

// Probes `address` on the adapter the link has open: Timing::arpProbeTries
// probes, each followed by a window of Timing::arpProbeWindow. True when a
// station answered. False when none did, and also when the probe cannot be
// made (no open link, the adapter refuses a second port): no answer, no conflict.
bool ProbeAddressInUse(Context& ctx, std::uint32_t address, StopToken* stop = nullptr);

} // namespace korvane

#pragma once

// The ARP frames of the address-conflict probe: the broadcast request it
// sends and the replies it waits for. Pure codecs; the probe itself lives
// with the configuration commands, and the raw-frame relay uses the same
// shapes to decide which ARP frames it passes.

#include "base/mac_address.hpp"
#include "link/ethernet.hpp"
#include "link/packet_driver.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane {

inline constexpr std::size_t kArpFrameLength = 42; // Ethernet head and the ARP body

namespace arp_offset {
inline constexpr std::size_t kOperation = 20;
inline constexpr std::size_t kSenderMac = 22;
inline constexpr std::size_t kSenderIp = 28;
inline constexpr std::size_t kTargetMac = 32;
inline constexpr std::size_t kTargetIp = 38;
} // namespace arp_offset

inline constexpr std::uint16_t kArpHardwareEthernet = 1;
inline constexpr std::uint16_t kArpRequest = 1;
inline constexpr std::uint16_t kArpReply = 2;

// A broadcast ARP request for `address` from `source` with sender address
// 0.0.0.0, padded to the Ethernet minimum.
std::array<std::uint8_t, kEthernetMinFrame> BuildArpProbe(const MacAddress& source,
                                                          std::uint32_t address);

// Whether `frame` is exactly a probe that BuildArpProbe makes for `source`
// (for whatever address it asks about).
bool IsArpProbeFrom(std::span<const std::uint8_t> frame, const MacAddress& source);

// The receive filter of the probe's port: ARP replies whose sender is `address`.
std::vector<BpfInstruction> ArpReplyFilter(std::uint32_t address);

// Whether a frame is an Ethernet/IPv4 ARP reply sent for `address`.
bool IsArpReplyFor(std::span<const std::uint8_t> frame, std::uint32_t address);

} // namespace korvane

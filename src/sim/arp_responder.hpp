#pragma once

// A station on a simulated segment that owns IPv4 addresses: it answers ARP
// requests for them as a host would, including probes from 0.0.0.0. Lets
// tests and demos put an address conflict on the segment.

#include "base/mac_address.hpp"
#include "link/simulated_segment.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace korvane::sim {

class ArpResponder {
  public:
    ArpResponder(SimulatedSegment& segment, MacAddress mac, std::vector<std::uint32_t> addresses);
    ~ArpResponder();
    ArpResponder(const ArpResponder&) = delete;
    ArpResponder& operator=(const ArpResponder&) = delete;

    std::uint64_t requestsAnswered() const { return answered_.load(); }

  private:
    void onFrame(std::span<const std::uint8_t> frame);

    MacAddress mac_;
    std::vector<std::uint32_t> addresses_;
    std::atomic<std::uint64_t> answered_{0};
    std::unique_ptr<PacketPort> port_;
};

// The receive filter of an emulator's port: the protocol's frames and ARP,
// which emulated devices answer for the address their settings hold.
std::span<const BpfInstruction> ProtocolAndArpFilterProgram();

// The reply of `owner` (at `address`) to the ARP request `request`; empty when
// `request` is no Ethernet/IPv4 ARP request for that address.
std::vector<std::uint8_t> BuildArpReply(std::span<const std::uint8_t> request,
                                        const MacAddress& owner, std::uint32_t address);

} // namespace korvane::sim

#pragma once

// The packet driver a benchmark's measuring role runs on: libpcap directly,
// or, given the path of korvane-relay, the relay that unprivileged programs
// go through, so that one run can set the two side by side.

#include "link/packet_driver.hpp"
#include "link/pcap_driver.hpp"
#include "relay/raw_access.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace korvane::bench {

inline std::unique_ptr<PacketDriver> MakeBenchDriver(const std::string& relay) {
    if (relay.empty())
        return std::make_unique<PcapDriver>();
    return MakeRelayDriver(relay, std::chrono::seconds(5));
}

// The relay this build made, for the relay's side of the comparison.
inline std::string BuiltRelay() {
#ifdef KORVANE_RELAY
    return KORVANE_RELAY;
#else
    return {};
#endif
}

} // namespace korvane::bench

#pragma once

// The relay's side of the conversation: serves one client over a control
// socket, opening adapters of a PacketDriver (libpcap in korvane-relay, the
// simulated segment in tests) as the client asks, within what the relay
// allows: adapters the driver lists, the protocol's filter or an address
// probe's, frames that pass RefusalOf(). Anything else is refused, counted
// and answered with a message saying why; a malformed message ends the
// connection it came on.

#include "link/packet_driver.hpp"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

namespace korvane::relay {

struct ServerCounters {
    std::atomic<std::uint64_t> refusedFrames{0};   // sends that broke the rules
    std::atomic<std::uint64_t> refusedOpens{0};    // opens of unlisted adapters, too many ports
    std::atomic<std::uint64_t> malformed{0};       // messages that did not decode
    std::atomic<std::uint64_t> framesSent{0};      // frames put on the wire
    std::atomic<std::uint64_t> framesDelivered{0}; // frames passed to the client
};

class RelayServer {
  public:
    // Takes ownership of `controlFd`, a connected stream socket.
    RelayServer(PacketDriver& driver, int controlFd);
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    // Greets the client and serves it until the control connection ends
    // (0) or carries a malformed message (1). Every port is closed on return.
    int run();

    const ServerCounters& counters() const { return counters_; }

  private:
    struct Port;

    bool handleControlMessage(std::span<const std::uint8_t> body);
    void handleOpen(const std::string& name, int kind, std::uint32_t address);
    void handlePort(Port& port);
    void closePort(Port& port);
    bool writeControl(const std::vector<std::uint8_t>& bytes, int passFd = -1);

    PacketDriver& driver_;
    int controlFd_;
    std::list<std::unique_ptr<Port>> ports_;
    ServerCounters counters_;
};

} // namespace korvane::relay

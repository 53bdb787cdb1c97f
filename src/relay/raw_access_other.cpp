// Platforms without the relay: the packet driver decides who may capture
// (Npcap's, on Windows), and the programs open adapters themselves.

#include "relay/raw_access.hpp"

namespace korvane {

bool CanOpenRawSocket() {
    return true;
}

bool RelayBuilt() {
    return false;
}

std::string RelayProgram() {
    return {};
}

std::unique_ptr<PacketDriver> MakeRelayDriver(const std::string&, Micros) {
    return nullptr;
}

} // namespace korvane

#pragma once

// How this program gets raw Ethernet access: by itself (root, or a build
// given cap_net_raw), or through korvane-relay, the small program that holds
// the capability for it (Linux). The platform's answer sits behind these
// functions.

#include "base/timing.hpp"
#include "link/packet_driver.hpp"

#include <memory>
#include <string>

namespace korvane {

// Whether this process may open a raw packet socket itself. It opens one and
// closes it again at once.
bool CanOpenRawSocket();

// Whether this platform has the relay at all.
bool RelayBuilt();

// The relay program to start: the environment variable KORVANE_RELAY_PROGRAM,
// else the installed one (../libexec/korvane/korvane-relay from this
// program's folder), else korvane-relay beside this program or one folder up
// (a build folder). Empty where there is no relay.
std::string RelayProgram();

// A driver that reaches the adapters through the relay `program`; null where
// there is no relay.
std::unique_ptr<PacketDriver> MakeRelayDriver(const std::string& program, Micros answerWait);

} // namespace korvane

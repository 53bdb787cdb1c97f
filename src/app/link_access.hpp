#pragma once

// Which way the command line and the desktop program reach the real
// adapters: by themselves, or through korvane-relay, the one program of the
// package that holds cap_net_raw (a program that loads plugins must hold no
// capability). The default is the program's own socket when it may open one
// (root, a build given the capability), else the relay.

#include <optional>

namespace korvane {

enum class LinkAccess { Auto, Direct, Relay };

// The environment variable that chooses when no option does: 1 (yes, on)
// the relay, 0 (no, off) the program's own socket.
inline constexpr const char* kRelayEnvironment = "KORVANE_RELAY";

// What was asked for: --relay (true) or --no-relay (false) beat the
// environment variable's value (null when unset); anything else is Auto.
LinkAccess RequestedLinkAccess(std::optional<bool> relayOption, const char* environmentValue);

// The way taken: Auto becomes Direct when the program can open a raw socket
// itself, else Relay; without a relay on this platform, always Direct.
LinkAccess ResolveLinkAccess(LinkAccess requested, bool canOpenRawSocket, bool relayBuilt);

} // namespace korvane

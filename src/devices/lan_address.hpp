#pragma once

// The address column of a search: where each found device is reached on the LAN.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "protocol/context.hpp"

#include <cstdint>

namespace korvane {

// The device's LAN address, or 0 when the password check gets no reply.
std::uint32_t ReadLanAddress(Context& ctx, const MacAddress& target, StopToken* stop = nullptr);

} // namespace korvane

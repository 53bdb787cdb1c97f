#pragma once

// The operations on the configuration blocks: read and write the network
// settings, set the password, write the factory identity.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/context.hpp"

#include <cstdint>
#include <span>
#include <string_view>

namespace korvane {

// The operations. `target` is the device's MAC; `stop` cuts waits short.
std::uint16_t ReadSettings(Context& ctx, const MacAddress& target, std::string_view password,
                           SettingsBlock& block, StopToken* stop = nullptr);
std::uint16_t WriteSettings(Context& ctx, const MacAddress& target, std::string_view password,
                            SettingsBlock& block, std::size_t length, StopToken* stop = nullptr);
std::uint16_t WritePassword(Context& ctx, const MacAddress& target,
                            std::string_view currentPassword, std::string_view newPassword,
                            StopToken* stop = nullptr);
std::uint16_t WriteFactoryBlock(Context& ctx, const MacAddress& target, std::string_view password,
                                std::span<const std::uint8_t, kFactoryBlockSize> block,
                                StopToken* stop = nullptr);

} // namespace korvane

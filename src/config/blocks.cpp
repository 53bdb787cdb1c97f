#include "config/blocks.hpp"

#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

namespace korvane {

std::uint16_t ReadSettings(Context& ctx, const MacAddress& target, std::string_view password,
                           SettingsBlock& block, StopToken* stop) {
    return QueryDevice(ctx, target, code::kReadSettings, code::kSettingsReply, password, 0,
                       block.readArea(), stop);
}

std::uint16_t WriteSettings(Context& ctx, const MacAddress& target, std::string_view password,
                            SettingsBlock& block, std::size_t length, StopToken* stop) {
    if (length != kSettingsSheetWriteSize && length != kSettingsIpWriteSize)
        return status::kNoReply;
    block.seal(length);
    return CommandDevice(ctx, target, code::kWriteSettings, code::kSettingsReply, password, 0,
                         std::span<const std::uint8_t>(block.bytes).first(length), stop);
}

std::uint16_t WritePassword(Context& ctx, const MacAddress& target,
                            std::string_view currentPassword, std::string_view newPassword,
                            StopToken* stop) {
    const auto block = BuildPasswordBlock(newPassword);
    if (!block)
        return status::kNoReply;
    return CommandDevice(ctx, target, code::kSetPassword, code::kPasswordReply, currentPassword, 0,
                         *block, stop);
}

std::uint16_t WriteFactoryBlock(Context& ctx, const MacAddress& target, std::string_view password,
                                std::span<const std::uint8_t, kFactoryBlockSize> block,
                                StopToken* stop) {
    return CommandDevice(ctx, target, code::kWriteFactory, code::kFactoryReply, password, 0, block,
                         stop);
}

} // namespace korvane

#include "devices/lan_address.hpp"

#include "protocol/config_blocks.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

namespace korvane {

std::uint32_t ReadLanAddress(Context& ctx, const MacAddress& target, StopToken* stop) {
    if (QueryDevice(ctx, target, code::kCheckPassword, code::kPasswordReply, "", 0, {}, stop) ==
        status::kNoReply)
        return 0;
    SettingsBlock block;
    QueryDevice(ctx, target, code::kReadSettings, code::kSettingsReply, "", 0, block.readArea(),
                stop);
    return block.lanAddress();
}

} // namespace korvane

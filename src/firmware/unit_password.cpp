#include "firmware/upgrade.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

namespace korvane {

namespace {
std::uint16_t checkPassword(Context& ctx, const MacAddress& target, std::string_view password,
                            StopToken* stop) {
    return QueryDevice(ctx, target, code::kCheckPassword, code::kPasswordReply, password, 0, {},
                       stop);
}
} // namespace

std::optional<std::string> CheckUnitPassword(Context& ctx, Operator& op, DeviceIdentity& record,
                                             StopToken* stop) {
    const MacAddress target = record.mac();
    std::string preset;
    if (checkPassword(ctx, target, "", stop) == status::kPasswordRefused)
        preset = std::string(record.rememberedPassword());
    std::optional<std::string> accepted;
    if (checkPassword(ctx, target, preset, stop) == status::kDone) {
        accepted = preset;
    } else {
        // One prompt only: a wrong entry ends the unit, there is no second try.
        auto entered = op.askPassword(PasswordPromptLabel(target), preset);
        if (entered && checkPassword(ctx, target, *entered, stop) == status::kDone)
            accepted = std::move(entered);
    }
    if (accepted)
        record.setRememberedPassword(*accepted);
    return accepted;
}

FirmwarePasswordGate UnitPasswordGate(Context& ctx, Operator& op) {
    return [&ctx, &op](DeviceIdentity& record, StopToken* stop) {
        return CheckUnitPassword(ctx, op, record, stop);
    };
}

} // namespace korvane

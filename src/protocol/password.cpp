#include "protocol/password.hpp"

#include "base/operator.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

namespace korvane {

std::string text::PasswordTooLong(std::size_t limit) {
    return "The password is too long: a device password has at most " + std::to_string(limit) +
           " characters.";
}

std::uint16_t CheckPassword(Context& ctx, const MacAddress& target, std::string_view password,
                            StopToken* stop) {
    return QueryDevice(ctx, target, code::kCheckPassword, code::kPasswordReply, password, 0, {},
                       stop);
}

std::optional<std::string> PasswordEntryProblem(std::string_view password) {
    if (password.size() > kMaxFramePassword)
        return text::PasswordTooLong(kMaxFramePassword);
    if (password.find('\0') != std::string_view::npos)
        return std::string("The password cannot contain a NUL character.");
    return std::nullopt;
}

GateResult AcquirePassword(Context& ctx, const MacAddress& target, GateCaller caller, Operator& op,
                           std::string& dialogText, StopToken* stop) {
    GateResult result;
    const std::uint16_t first = CheckPassword(ctx, target, "", stop);
    if (first == status::kNoReply) {
        result.outcome = GateOutcome::NoReply;
        return result;
    }
    if (first != status::kPasswordRefused) {
        // No password on the device. The Set Password command wants to see
        // the empty password accepted with a 2 before it writes.
        if (caller == GateCaller::SetPassword &&
            CheckPassword(ctx, target, "", stop) != status::kDone) {
            op.showMessage(std::string(text::kIncorrectPassword), MessageIcon::Warning);
            result.outcome = GateOutcome::Refused;
            return result;
        }
        result.outcome = GateOutcome::Accepted;
        return result;
    }

    result.asked = true;
    auto entered = op.askPassword("", dialogText);
    if (!entered) {
        result.outcome = GateOutcome::Cancelled;
        return result;
    }
    dialogText = *entered;
    if (auto problem = PasswordEntryProblem(*entered)) {
        op.showMessage(*problem, MessageIcon::Warning);
        result.outcome = GateOutcome::Refused;
        return result;
    }

    if (caller == GateCaller::IpSettings) {
        // The settings read with this password decides.
        result.outcome = GateOutcome::Accepted;
        result.password = *entered;
        return result;
    }

    const std::uint16_t check = CheckPassword(ctx, target, *entered, stop);
    bool accepted = false;
    if (caller == GateCaller::NetworkSettings) {
        if (check == status::kNoReply)
            op.showMessage(std::string(text::kNoRespond), MessageIcon::Warning);
        else if (check == status::kPasswordRefused)
            op.showMessage(std::string(text::kIncorrectPassword), MessageIcon::Warning);
        else
            accepted = true;
    } else {
        accepted = check == status::kDone;
        if (!accepted)
            op.showMessage(std::string(text::kIncorrectPassword), MessageIcon::Warning);
    }
    if (!accepted) {
        result.outcome = GateOutcome::Refused;
        return result;
    }
    result.outcome = GateOutcome::Accepted;
    result.password = *entered;
    return result;
}

GateResult AcquirePassword(Context& ctx, const MacAddress& target, GateCaller caller, Operator& op,
                           StopToken* stop) {
    std::string dialogText;
    return AcquirePassword(ctx, target, caller, op, dialogText, stop);
}

std::string UnitPasswordLabel(const MacAddress& target) {
    return std::to_string(target.serialNumber()) + " MAC:" + target.toString('-');
}

UnitGateResult AcquireUnitPassword(Context& ctx, const MacAddress& target,
                                   std::string_view rememberedPassword, Operator& op,
                                   StopToken* stop) {
    UnitGateResult result;
    const std::uint16_t first = CheckPassword(ctx, target, "", stop);
    if (first == status::kNoReply) {
        // Silence says nothing about the password: asking for one would
        // send the person after the wrong fault.
        result.outcome = UnitGateOutcome::NoReply;
        return result;
    }
    std::string preset;
    if (first == status::kPasswordRefused)
        preset = std::string(rememberedPassword);
    // A remembered password the frame cannot carry is never sent; the person is asked instead.
    if (!PasswordEntryProblem(preset)) {
        const std::uint16_t check = CheckPassword(ctx, target, preset, stop);
        if (check == status::kDone) {
            result.outcome = UnitGateOutcome::Accepted;
            result.password = preset;
            return result;
        }
        if (check == status::kNoReply) {
            result.outcome = UnitGateOutcome::NoReply;
            return result;
        }
    }

    auto entered = op.askPassword(UnitPasswordLabel(target), preset);
    if (!entered) {
        result.outcome = UnitGateOutcome::Cancelled;
        return result;
    }
    if (auto problem = PasswordEntryProblem(*entered)) {
        op.showMessage(DeviceName(target) + ": " + *problem, MessageIcon::Warning);
        return result;
    }
    const std::uint16_t check = CheckPassword(ctx, target, *entered, stop);
    if (check == status::kDone) {
        result.outcome = UnitGateOutcome::Accepted;
        result.password = *entered;
    } else if (check == status::kNoReply) {
        result.outcome = UnitGateOutcome::NoReply;
    }
    return result;
}

} // namespace korvane

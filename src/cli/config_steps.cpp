#include "cli/config_steps.hpp"

#include "cli/resolver.hpp"

#include <ostream>

namespace korvane::cli {

std::optional<DeviceIdentity> ResolveOne(Invocation& inv, const std::string& device, int& status) {
    Resolution found = ResolveDevices(inv.env, {device});
    status = found.status;
    if (found.status != kExitOk) {
        inv.error() << found.error << "\n";
        return std::nullopt;
    }
    return found.devices.front();
}

std::optional<DeviceIdentity> StartConfig(Invocation& inv, const std::string& device,
                                          const std::string& passwordFile,
                                          const std::string& newPasswordFile, CliAnswers& answers,
                                          int& status) {
    std::string error;
    const auto given = [](const std::string& path) {
        return path.empty() ? std::nullopt : std::optional<std::string>(path);
    };
    if (!LoadPasswordAnswers(given(passwordFile), given(newPasswordFile), answers, error)) {
        status = inv.usageError(error);
        return std::nullopt;
    }
    return ResolveOne(inv, device, status);
}

int GateEnd(CliOperator& op, ConfigEnd end) {
    switch (end) {
    case ConfigEnd::NoReply:
        op.error(std::string(text::kNoRespond));
        break;
    case ConfigEnd::Cancelled:
        if (!op.unanswered())
            op.error("cancelled");
        break;
    default:
        break;
    }
    return kExitFailure;
}

} // namespace korvane::cli

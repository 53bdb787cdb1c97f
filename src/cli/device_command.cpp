#include "cli/device_command.hpp"

#include "cli/options.hpp"
#include "cli/resolver.hpp"

#include <memory>
#include <optional>
#include <ostream>

namespace korvane::cli {

namespace {

struct DeviceTarget {
    std::string device;
    std::string passwordFile;
    std::string newPasswordFile;
};

std::optional<std::string> Given(const std::string& path) {
    return path.empty() ? std::nullopt : std::optional<std::string>(path);
}

int RunOnDevice(Invocation& inv, const DeviceTarget& target, const DeviceCommand& command) {
    CliAnswers answers;
    if (command.prepare) {
        if (const int status = command.prepare(inv, answers); status != kExitOk)
            return status;
    }
    // An unfit password file is a usage error, said before any frame.
    if (command.access != DeviceAccess::Read) {
        std::string error;
        if (!LoadPasswordAnswers(Given(target.passwordFile), Given(target.newPasswordFile), answers,
                                 error))
            return inv.usageError(error);
    }
    const Resolution found = ResolveDevices(inv.env, {target.device});
    if (found.status != kExitOk) {
        inv.error() << found.error << "\n";
        return found.status;
    }
    CliOperator op(inv.io, inv.name, answers);
    return command.run(inv, found.devices.front(), op);
}

} // namespace

void DeclareDeviceCommand(CLI::App& cmd, Chosen& chosen, DeviceCommand command) {
    auto target = std::make_shared<DeviceTarget>();
    AddDevice(cmd, target->device);
    if (command.access != DeviceAccess::Read)
        AddPasswordFile(cmd, target->passwordFile);
    if (command.access == DeviceAccess::WriteNewPassword)
        AddNewPasswordFile(cmd, target->newPasswordFile);
    OnChosen(cmd, chosen, [target, command = std::move(command)](Invocation& inv) {
        return RunOnDevice(inv, *target, command);
    });
}

} // namespace korvane::cli

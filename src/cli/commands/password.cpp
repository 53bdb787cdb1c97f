// korvane password set|clear DEVICE: the device password.

#include "app/environment.hpp"
#include "cli/config_steps.hpp"
#include "cli/device_command.hpp"
#include "cli/options.hpp"

#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

int runPassword(Invocation& inv, const DeviceIdentity& device, CliOperator& op, bool clear) {
    bool pageRefused = false;
    const SetPasswordResult r =
        RunSetPassword(inv.env.context(), device, op,
                       [&](PasswordPageModel& page, const std::optional<std::string>& refusal) {
                           if (refusal) {
                               pageRefused = true; // its message was shown
                               return false;
                           }
                           page.enabled = !clear;
                           if (clear)
                               return true;
                           return op.askNewPassword(page.newPassword, page.confirmPassword);
                       });
    switch (r.end) {
    case ConfigEnd::Written:
        inv.io.out << (clear ? "Password cleared\n" : "Password set\n");
        return kExitOk;
    case ConfigEnd::NothingToWrite:
        inv.io.out << "Password unchanged\n";
        return kExitOk;
    case ConfigEnd::Cancelled:
        if (pageRefused)
            return kExitFailure;
        return GateEnd(op, r.end);
    case ConfigEnd::NoReply:
        return GateEnd(op, r.end);
    default:
        return kExitFailure; // its message was shown
    }
}

CLI::App* declare(CLI::App& password, Chosen& chosen, bool clear) {
    CLI::App* cmd =
        password.add_subcommand(clear ? "clear" : "set",
                                clear ? "remove the device password" : "set a new device password");
    DeviceCommand command;
    command.access = clear ? DeviceAccess::Write : DeviceAccess::WriteNewPassword;
    command.run = [clear](Invocation& inv, const DeviceIdentity& device, CliOperator& op) {
        return runPassword(inv, device, op, clear);
    };
    DeclareDeviceCommand(*cmd, chosen, std::move(command));
    return cmd;
}

} // namespace

void DeclarePassword(CLI::App& app, Chosen& chosen) {
    CLI::App* password = app.add_subcommand("password", "set or clear the device password");
    password->require_subcommand(1);
    declare(*password, chosen, false);
    declare(*password, chosen, true);
}

} // namespace korvane::cli

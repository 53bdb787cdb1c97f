// korvane password set|clear DEVICE: the device password.

#include "app/environment.hpp"
#include "cli/command.hpp"
#include "cli/config_steps.hpp"
#include "cli/options.hpp"

#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

struct PasswordOptions {
    std::string device;
    std::string passwordFile;
    std::string newPasswordFile;
};

int runPassword(Invocation& inv, const PasswordOptions& o, bool clear) {
    CliAnswers answers;
    int status = kExitOk;
    const auto device =
        StartConfig(inv, o.device, o.passwordFile, o.newPasswordFile, answers, status);
    if (!device)
        return status;

    CliOperator op(inv.io, inv.name, answers);
    bool pageRefused = false;
    const SetPasswordResult r =
        RunSetPassword(inv.env.context(), *device, op,
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
    auto o = std::make_shared<PasswordOptions>();
    CLI::App* cmd =
        password.add_subcommand(clear ? "clear" : "set",
                                clear ? "remove the device password" : "set a new device password");
    cmd->add_option("DEVICE", o->device, "the device: serial number or MAC address")
        ->required()
        ->check(DeviceCheck());
    AddPasswordFile(*cmd, o->passwordFile);
    if (!clear)
        cmd->add_option("--new-password-file", o->newPasswordFile,
                        "the new password: the first line of FILE (else asked twice on a "
                        "terminal)")
            ->type_name("FILE")
            ->check(ReadableFileCheck());
    OnChosen(*cmd, chosen, [o, clear](Invocation& inv) { return runPassword(inv, *o, clear); });
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

#pragma once

// The commands about one device (info, settings, password, factory) share
// their start, as a password manager's commands share opening the database:
// DEVICE, and for a write the password files, are declared here once; when
// the line names the command, the checks that need no device run first (a
// usage error ends the command before any frame), then the password answers
// are loaded, the device is resolved and the operator made, and the command
// gets all three.

#include "cli/cli_operator.hpp"
#include "cli/command.hpp"
#include "protocol/device_identity.hpp"

#include <functional>
#include <string>

namespace korvane::cli {

enum class DeviceAccess {
    Read,             // DEVICE only
    Write,            // DEVICE and --password-file
    WriteNewPassword, // and --new-password-file
};

struct DeviceCommand {
    DeviceAccess access = DeviceAccess::Read;
    // Before any frame: checks of the command's own options, and the
    // answers its flags give (--yes, --force). kExitOk goes on; anything
    // else ends the command with that status.
    std::function<int(Invocation&, CliAnswers&)> prepare;
    // The command's work on the resolved device.
    std::function<int(Invocation&, const DeviceIdentity&, CliOperator&)> run;
};

// Declares DEVICE (and the password files) on `cmd`, before whatever the
// caller declares after it, and makes the command run as described above.
void DeclareDeviceCommand(CLI::App& cmd, Chosen& chosen, DeviceCommand command);

} // namespace korvane::cli

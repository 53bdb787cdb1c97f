#pragma once

// Steps the configuration commands (settings, password, factory) share.

#include "cli/cli_operator.hpp"
#include "cli/command.hpp"
#include "config/config_commands.hpp"

#include <optional>
#include <string>

namespace korvane::cli {

// The one device the command names, or nullopt after saying why; `status`
// gets the exit status for that case.
std::optional<DeviceIdentity> ResolveOne(Invocation& inv, const std::string& device, int& status);

// The start of a command that writes to a device: the password answers of
// --password-file and --new-password-file (empty: not given) are loaded
// into `answers` first, so that an unfit file is a usage error before any
// frame; then the device is resolved. nullopt after saying why, with
// `status` set to the exit status to end with.
std::optional<DeviceIdentity> StartConfig(Invocation& inv, const std::string& device,
                                          const std::string& passwordFile,
                                          const std::string& newPasswordFile, CliAnswers& answers,
                                          int& status);

// The password gate's ends that the desktop program passes over in silence
// still need a word on the command line. Returns kExitFailure.
int GateEnd(CliOperator& op, ConfigEnd end);

} // namespace korvane::cli

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

// Loads the password answers of --password-file and --new-password-file
// (empty: not given); says why and returns false when a file is unfit.
bool LoadAnswers(Invocation& inv, const std::string& passwordFile,
                 const std::string& newPasswordFile, CliAnswers& answers);

// The password gate's ends that the desktop program passes over in silence
// still need a word on the command line. Returns kExitFailure.
int GateEnd(CliOperator& op, ConfigEnd end);

} // namespace korvane::cli

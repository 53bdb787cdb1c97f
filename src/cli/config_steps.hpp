#pragma once

// Steps the configuration commands (settings, password, factory) share.

#include "cli/cli_operator.hpp"
#include "cli/command.hpp"
#include "config/config_commands.hpp"

#include <optional>
#include <string>

namespace korvane::cli {

// The password gate's ends that the desktop program passes over in silence
// still need a word on the command line. Returns kExitFailure.
int GateEnd(CliOperator& op, ConfigEnd end);

} // namespace korvane::cli

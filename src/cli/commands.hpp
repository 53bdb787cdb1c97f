#pragma once

// The commands of the command line. Each takes its arguments (after the
// command's own name) and the environment, prints, and returns the exit status.

#include "cli/args.hpp"
#include "cli/cli.hpp"
#include "app/environment.hpp"

namespace korvane::cli {

struct Invocation {
    Environment& env;
    ArgList args;
    Streams io;
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; // the operation failed (no reply, refused...)
inline constexpr int kExitUsage = 2;   // wrong arguments
// Nothing could be searched: no adapter, none could be opened, or an adapter
// named with --interface does not exist.
inline constexpr int kExitNoAdapter = 3;

int CmdAdapters(Invocation& inv);
int CmdDiscover(Invocation& inv);
int CmdSearch(Invocation& inv);
int CmdInfo(Invocation& inv);
int CmdOpen(Invocation& inv);
int CmdSettings(Invocation& inv); // settings show|set|set-ip
int CmdPassword(Invocation& inv); // password set|clear
int CmdFactory(Invocation& inv);  // factory serial
int CmdFirmware(Invocation& inv);

} // namespace korvane::cli

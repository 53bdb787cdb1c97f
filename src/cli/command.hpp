#pragma once

// How a command is declared: one function per command (src/cli/commands/)
// adds its subcommand to the program's CLI11 application, with its options,
// their types and checks, and hands over the action that runs once the whole
// line has been parsed and checked. Nothing reaches a device before that.

#include "cli/cli.hpp"

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace korvane {
class Environment;
}

namespace korvane::cli {

struct Invocation {
    Environment& env;
    Streams io;
    std::string name; // "korvane settings set": the start of every message

    // "<name>: <text>" on the error stream.
    std::ostream& error();
    // A usage error found after parsing (options that do not go together,
    // a file unfit for its option): said with the hint to --help, before
    // any device is asked. Returns kExitUsage.
    int usageError(const std::string& text);
};

using Action = std::function<int(Invocation&)>;

// What the parsed line chose: the action of the command given, and its name.
struct Chosen {
    Action action;
    std::string name;
};

// Makes `command` set `chosen` when the line names it.
void OnChosen(CLI::App& command, Chosen& chosen, Action action);

void DeclareAdapters(CLI::App& app, Chosen& chosen);
void DeclareDiscover(CLI::App& app, Chosen& chosen);
void DeclareSearch(CLI::App& app, Chosen& chosen);
void DeclareInfo(CLI::App& app, Chosen& chosen);
void DeclareOpen(CLI::App& app, Chosen& chosen);
void DeclareSettings(CLI::App& app, Chosen& chosen); // show, set, set-ip, apply
void DeclareSettingsApply(CLI::App& settings, Chosen& chosen);
void DeclarePassword(CLI::App& app, Chosen& chosen); // set, clear
void DeclareFactory(CLI::App& app, Chosen& chosen);  // serial
void DeclareFirmware(CLI::App& app, Chosen& chosen); // upgrade

} // namespace korvane::cli

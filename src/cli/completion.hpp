#pragma once

// Bash completion written from the command line's own declarations, so that
// it always offers the commands and options the program has.

#include <string>

namespace CLI {
class App;
}

namespace korvane::cli {

// A bash script defining completion for `korvane`: commands and their
// subcommands, each command's options, the values of options that take one
// of a few words, and file names where a file is expected.
std::string BashCompletion(const CLI::App& app);

} // namespace korvane::cli

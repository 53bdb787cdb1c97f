#pragma once

// The command line front end, callable in process (tests) with its streams.

#include <iosfwd>
#include <string>
#include <vector>

namespace korvane::cli {

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool interactive = false; // a person at a terminal can answer prompts
};

// args excludes the program name. Returns the process exit status.
int Run(const std::vector<std::string>& args, Streams streams);

} // namespace korvane::cli

#pragma once

// The command line front end, callable in process (tests) with its streams.

#include "base/sync.hpp"

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

namespace korvane::cli {

// An interrupt (SIGINT, SIGTERM) that a long-running command ends cleanly on.
// While `claimed` is set, the program's signal handling requests `stop`
// instead of ending the process.
struct Interrupt {
    StopToken stop;
    std::atomic<bool> claimed{false};
};

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool interactive = false;       // a person at a terminal can answer prompts
    Interrupt* interrupt = nullptr; // null: nothing asks the command to end
};

// args excludes the program name. Returns the process exit status.
int Run(const std::vector<std::string>& args, Streams streams);

} // namespace korvane::cli

#include "cli/cli.hpp"

#include <ostream>

namespace korvane::cli {

int Run(const std::vector<std::string>& args, Streams streams) {
    (void)args;
    streams.err << "korvane: not yet\n";
    return 2;
}

} // namespace korvane::cli

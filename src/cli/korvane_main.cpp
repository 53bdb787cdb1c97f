#include "cli/cli.hpp"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    korvane::cli::Streams streams{std::cin, std::cout, std::cerr, ::isatty(0) && ::isatty(2)};
    return korvane::cli::Run(args, streams);
}

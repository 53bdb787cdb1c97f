#pragma once

// Reading the head of a file an operator names (a password file, a device
// plan, a saved list): bounded, so that a file like /dev/zero is never read
// to its end.

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// Reads at most `limit` + 1 bytes of a file named on a command line, so the
// caller can tell a file longer than `limit` (a file like /dev/zero is never
// read to its end). False with `error` set when it cannot be read, a folder
// included; the error names the file as `what` and its path, never its content.
bool ReadFileHead(const std::string& path, std::size_t limit, std::string& content,
                  std::string& error, std::string_view what);

} // namespace korvane

#pragma once

// Reading a password from a file named on a command line (--password-file):
// its first line, without the line end (LF or CR LF).

#include "base/file_head.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// At most this much of a password file is read: a first line longer than
// that is no password, and a file like /dev/zero must not be read for ever.
inline constexpr std::size_t kPasswordFileReadLimit = 4096;

// The password that a password file's text holds. A NUL byte in it is kept,
// for the password checks to refuse.
std::string PasswordFromFileText(std::string_view content);

// Reads a password file's password. False with `error` set when the file
// cannot be read (a folder included) or its first line is too long; the
// error names the file but never quotes its content.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error);

} // namespace korvane

#pragma once

// The passwords of a run over several devices, given ahead in a file: one
// line with the password of every device, and lines "DEVICE PASSWORD" for
// devices whose passwords differ (firmware upgrade --password-file, settings
// apply --password-book). Lines starting with # are comments.

#include "cli/resolver.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::cli {

struct PasswordBook {
    std::optional<std::string> common;
    std::vector<std::pair<DeviceSelector, std::string>> perDevice;

    // The device's own line, else the common password.
    std::optional<std::string> forUnit(const DeviceIdentity& record) const;
};

// A book for every device of a run fits in far less; a file like /dev/zero
// must not be read for ever.
inline constexpr std::size_t kPasswordBookLimit = 64 * 1024;

// False with `error` naming the file or the line (never quoting a password)
// when the file cannot be read or a line is unfit.
bool ReadPasswordBook(const std::string& path, PasswordBook& book, std::string& error);

} // namespace korvane::cli

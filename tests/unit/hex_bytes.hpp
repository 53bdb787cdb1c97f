#pragma once

// Frames written out in tests as hex text, with spaces and comments for
// the fields: "FF FF FF FF FF FF  # destination".

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace korvane::testing {

inline std::vector<std::uint8_t> Hex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    bool comment = false;
    for (const char c : text) {
        if (comment) {
            comment = c != '\n';
            continue;
        }
        if (c == '#') {
            comment = true;
            continue;
        }
        int value = -1;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else if (c == ' ' || c == '\n' || c == '\t' || c == '-' || c == ':')
            continue;
        else
            throw std::invalid_argument("not a hex digit");
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

} // namespace korvane::testing

#include "base/mac_address.hpp"

#include <algorithm>
#include <cstdio>

namespace korvane {

MacAddress MacAddress::fromBytes(std::span<const std::uint8_t, 6> six) {
    MacAddress mac;
    std::copy(six.begin(), six.end(), mac.bytes.begin());
    return mac;
}

std::string MacAddress::toString() const {
    return toString('-');
}

std::string MacAddress::toString(char separator) const {
    char text[18];
    std::snprintf(text, sizeof text, "%02X%c%02X%c%02X%c%02X%c%02X%c%02X", bytes[0], separator,
                  bytes[1], separator, bytes[2], separator, bytes[3], separator, bytes[4],
                  separator, bytes[5]);
    return text;
}

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<MacAddress> MacAddress::parse(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != '-' && separator != ':')
        return std::nullopt;
    MacAddress mac;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        if (i < 5 && text[at + 2] != separator)
            return std::nullopt;
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        mac.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

std::uint32_t MacAddress::serialNumber() const {
    return (std::uint32_t{bytes[2]} << 24) | (std::uint32_t{bytes[3]} << 16) |
           (std::uint32_t{bytes[4]} << 8) | std::uint32_t{bytes[5]};
}

} // namespace korvane

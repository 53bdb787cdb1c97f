#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

// Six bytes, first byte first, as on the wire.
struct MacAddress {
    std::array<std::uint8_t, 6> bytes{};

    static MacAddress fromBytes(std::span<const std::uint8_t, 6> six);
    static constexpr MacAddress broadcast() { return {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}; }

    bool isBroadcast() const { return *this == broadcast(); }
    bool isMulticast() const { return (bytes[0] & 0x01) != 0; }

    // "%02X-%02X-%02X-%02X-%02X-%02X"
    std::string toString() const;
    std::string toString(char separator) const;
    // Accepts dash or colon form, either case.
    static std::optional<MacAddress> parse(std::string_view text);

    // Last four bytes read as one big-endian number: the device serial number.
    std::uint32_t serialNumber() const;

    friend bool operator==(const MacAddress&, const MacAddress&) = default;
    friend auto operator<=>(const MacAddress&, const MacAddress&) = default;
};

} // namespace korvane

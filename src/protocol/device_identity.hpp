#pragma once

// The 128-byte record a device sends in its discovery reply. Bytes 0..59 are
// the device's; 60..127 are the utility's own fields written over them. The
// record is kept whole and read by offsets, so it can be handed around as is.
// Numbers the utility stores (version number, adapter index) are kept
// big-endian like the device's own fields.

#include "base/mac_address.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

namespace identity_offset {
inline constexpr std::size_t kLeadingNumber = 0;
inline constexpr std::size_t kMac = 4;
inline constexpr std::size_t kSerial = 6; // last four MAC bytes
inline constexpr std::size_t kHardwareVersion = 12;
inline constexpr std::size_t kFirmwareVersion = 28;
inline constexpr std::size_t kVersionNumber = 60;
inline constexpr std::size_t kSerialText = 64;
inline constexpr std::size_t kRememberedPassword = 92;
inline constexpr std::size_t kAdapterIndex = 124;
} // namespace identity_offset

inline constexpr std::size_t kIdentitySize = 128;
inline constexpr std::size_t kHardwareVersionWidth = 16;
inline constexpr std::size_t kFirmwareVersionWidth = 32;
inline constexpr std::size_t kSerialTextWidth = 28;
inline constexpr std::size_t kRememberedPasswordWidth = 32;

struct DeviceIdentity {
    std::array<std::uint8_t, kIdentitySize> bytes{};

    std::span<const std::uint8_t> field(std::size_t offset, std::size_t width) const {
        return std::span<const std::uint8_t>(bytes).subspan(offset, width);
    }
    std::span<std::uint8_t> field(std::size_t offset, std::size_t width) {
        return std::span<std::uint8_t>(bytes).subspan(offset, width);
    }

    MacAddress mac() const;
    void setMac(const MacAddress& mac);
    std::uint32_t serialNumber() const { return mac().serialNumber(); }
    std::uint32_t leadingNumber() const;

    // Text form when the first byte lies from 21 to 127, else four numeric bytes.
    bool hardwareVersionIsText() const;
    bool firmwareVersionIsText() const;
    std::string_view hardwareVersionText() const; // the zero-terminated text, whatever its form
    std::string_view firmwareVersionText() const;
    // As the list shows them: the text with anything unprintable escaped
    // (PrintableText), or "%d.%d.%d.%d" / "%d.%d.%c%d" from the numeric bytes.
    std::string hardwareVersionDisplay() const;
    std::string firmwareVersionDisplay() const;

    std::uint32_t versionNumber() const;
    void setVersionNumber(std::uint32_t value);

    std::string_view serialText() const;
    void setSerialText(std::string_view text); // at most 27 characters
    std::string_view rememberedPassword() const;
    void setRememberedPassword(std::string_view password); // at most 31 characters, else cleared

    int adapterIndex() const;
    void setAdapterIndex(int index);
};

// The seventh character of a text-form firmware version, else zero.
char ModelLetter(const DeviceIdentity& identity);

// The version number of a firmware version text: the first three
// '.'-terminated components among its first 25 characters, each read as a
// decimal number (first four characters, leading digits), as
// 1000000 * a + 1000 * b + c. "1.23.456.7" gives 1023456; "2.10.5" 2010000.
std::uint32_t VersionNumberOf(std::span<const std::uint8_t> firmwareVersionField);

// Copies the identity of a 0x1002 reply (the 128 bytes at offset 40; bytes
// the frame does not carry read as zero) and computes its version number.
bool ParseIdentity(std::span<const std::uint8_t> frame, DeviceIdentity& record);

} // namespace korvane

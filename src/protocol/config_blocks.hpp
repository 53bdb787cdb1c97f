#pragma once

// The configuration blocks as they travel in a frame's data area: network
// settings, password and factory identity. Layouts, sealing and checksums
// only; the operations that send them live with the configuration commands.
// All numbers in the blocks are big-endian; offsets count from the data area.

#include "base/byte_cursor.hpp"
#include "base/mac_address.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

namespace settings_offset {
inline constexpr std::size_t kBlockMark = 0;
inline constexpr std::size_t kChecksum = 4;
inline constexpr std::size_t kVersion = 8;
inline constexpr std::size_t kAddressMode = 23;
inline constexpr std::size_t kGateway = 24;
inline constexpr std::size_t kAlternateIp = 28;
inline constexpr std::size_t kIpAddress = 32;
inline constexpr std::size_t kSubnetMask = 36;
inline constexpr std::size_t kHttpPort = 40;
inline constexpr std::size_t kTelnetPort = 42;
inline constexpr std::size_t kHttpsPort = 44;
inline constexpr std::size_t kSshPort = 46;
} // namespace settings_offset

inline constexpr std::uint32_t kSettingsBlockMark = 0x21472174;
inline constexpr std::size_t kSettingsReadSize = 68;
inline constexpr std::size_t kSettingsSheetWriteSize = 72; // Network Settings
inline constexpr std::size_t kSettingsIpWriteSize = 68;    // IP Settings alone
inline constexpr std::size_t kPasswordBlockSize = 24;
inline constexpr std::size_t kMaxBlockPassword = 19; // 20 bytes with the terminator
inline constexpr std::size_t kFactoryBlockSize = 28;
inline constexpr std::uint16_t kPortOff = 0xFFFF;
inline constexpr std::uint16_t kPortAbsent = 0;           // HTTPS/SSH: no such service
inline constexpr std::uint16_t kMaxSettingsVersion = 750; // above: counted as 0

enum class AddressMode : std::uint8_t { Static = 0, Dhcp = 1, Bootp = 2 };

// The 68 bytes a read fetches, with room for the four zero bytes of a 72-byte
// write. Fields not interpreted here travel back exactly as read.
struct SettingsBlock {
    std::array<std::uint8_t, kSettingsSheetWriteSize> bytes{};

    std::span<const std::uint8_t> readArea() const { return {bytes.data(), kSettingsReadSize}; }
    std::span<std::uint8_t> readArea() { return {bytes.data(), kSettingsReadSize}; }

    std::uint16_t rawVersion() const;
    // The settings version, a value above 750 counted as 0.
    std::uint16_t version() const;
    void setRawVersion(std::uint16_t version);
    std::uint8_t rawAddressMode() const { return bytes[settings_offset::kAddressMode]; }
    AddressMode addressMode() const; // 1 DHCP, 2 BOOTP, anything else static
    void setAddressMode(AddressMode mode);
    std::uint32_t gateway() const;
    void setGateway(std::uint32_t address);
    std::uint32_t alternateIp() const;
    std::uint32_t ipAddress() const;
    void setIpAddress(std::uint32_t address);
    std::uint32_t subnetMask() const;
    void setSubnetMask(std::uint32_t mask);
    // A service's port field, named by its offset (settings_offset::kHttpPort...).
    template <std::size_t Offset>
    std::uint16_t port() const {
        return loadU16<Offset>(bytes);
    }
    template <std::size_t Offset>
    void setPort(std::uint16_t value) {
        storeU16<Offset>(bytes, value);
    }

    // The address the device is reached at on the LAN: its IP address, or the
    // alternate one for a DHCP device whose raw version is above 750.
    std::uint32_t lanAddress() const;

    // Writes the block mark and the checksum of the body for a write of n bytes
    // (68 or 72); bytes from n on are zeroed.
    void seal(std::size_t n);
};

// All 24 bytes zero clear the password. nullopt when it does not fit (19 characters).
std::optional<std::array<std::uint8_t, kPasswordBlockSize>>
BuildPasswordBlock(std::string_view newPassword);

// MAC and hardware version text (at most 16 characters, no terminator at 16).
std::array<std::uint8_t, kFactoryBlockSize> BuildFactoryBlock(const MacAddress& mac,
                                                              std::string_view hardwareVersion);

// "%d.%d.%d.%d", first octet in the most significant byte.
std::string FormatIPv4(std::uint32_t address);
std::optional<std::uint32_t> ParseIPv4(std::string_view text);

} // namespace korvane

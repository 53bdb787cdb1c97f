#include "protocol/config_blocks.hpp"

#include "base/byte_cursor.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <cstdio>

namespace korvane {

namespace so = settings_offset;

std::uint16_t SettingsBlock::rawVersion() const {
    return loadU16<so::kVersion>(bytes);
}
std::uint16_t SettingsBlock::version() const {
    const std::uint16_t raw = rawVersion();
    return raw > kMaxSettingsVersion ? 0 : raw;
}
void SettingsBlock::setRawVersion(std::uint16_t version) {
    storeU16<so::kVersion>(bytes, version);
}

AddressMode SettingsBlock::addressMode() const {
    switch (rawAddressMode()) {
    case 1:
        return AddressMode::Dhcp;
    case 2:
        return AddressMode::Bootp;
    default:
        return AddressMode::Static;
    }
}
void SettingsBlock::setAddressMode(AddressMode mode) {
    bytes[so::kAddressMode] = static_cast<std::uint8_t>(mode);
}
std::uint32_t SettingsBlock::gateway() const {
    return loadU32<so::kGateway>(bytes);
}
void SettingsBlock::setGateway(std::uint32_t address) {
    storeU32<so::kGateway>(bytes, address);
}
std::uint32_t SettingsBlock::alternateIp() const {
    return loadU32<so::kAlternateIp>(bytes);
}
std::uint32_t SettingsBlock::ipAddress() const {
    return loadU32<so::kIpAddress>(bytes);
}
void SettingsBlock::setIpAddress(std::uint32_t address) {
    storeU32<so::kIpAddress>(bytes, address);
}
std::uint32_t SettingsBlock::subnetMask() const {
    return loadU32<so::kSubnetMask>(bytes);
}
void SettingsBlock::setSubnetMask(std::uint32_t mask) {
    storeU32<so::kSubnetMask>(bytes, mask);
}

std::uint32_t SettingsBlock::lanAddress() const {
    if (rawAddressMode() == 1 && rawVersion() > kMaxSettingsVersion)
        return alternateIp();
    return ipAddress();
}

void SettingsBlock::seal(std::size_t n) {
    n = std::clamp<std::size_t>(n, 8, bytes.size());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(n), bytes.end(), std::uint8_t{0});
    storeU32<so::kBlockMark>(bytes, kSettingsBlockMark);
    storeU32<so::kChecksum>(bytes,
                            BlockChecksum(std::span<const std::uint8_t>(bytes).subspan(8, n - 8)));
}

std::optional<std::array<std::uint8_t, kPasswordBlockSize>>
BuildPasswordBlock(std::string_view newPassword) {
    if (newPassword.size() > kMaxBlockPassword || newPassword.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::array<std::uint8_t, kPasswordBlockSize> block{};
    std::copy(newPassword.begin(), newPassword.end(), block.begin() + 4);
    storeU32<0>(block, BlockChecksum(block));
    return block;
}

std::array<std::uint8_t, kFactoryBlockSize> BuildFactoryBlock(const MacAddress& mac,
                                                              std::string_view hardwareVersion) {
    std::array<std::uint8_t, kFactoryBlockSize> block{};
    std::copy(mac.bytes.begin(), mac.bytes.end(), block.begin() + 4);
    const std::size_t n = std::min<std::size_t>(hardwareVersion.size(), 16);
    std::copy_n(hardwareVersion.begin(), n, block.begin() + 12);
    storeU32<0>(block, BlockChecksum(block));
    return block;
}

std::string FormatIPv4(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

std::optional<std::uint32_t> ParseIPv4(std::string_view text) {
    std::uint32_t address = 0;
    int octets = 0;
    std::size_t i = 0;
    while (octets < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (value > 255 || digits > 3)
            return std::nullopt;
        address = (address << 8) | value;
        ++octets;
        if (octets < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size())
        return std::nullopt;
    return address;
}

} // namespace korvane

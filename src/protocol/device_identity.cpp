#include "protocol/device_identity.hpp"

#include "base/byte_cursor.hpp"
#include "base/printable_text.hpp"
#include "protocol/frame.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvane {

namespace io = identity_offset;

MacAddress DeviceIdentity::mac() const {
    return MacAddress::fromBytes(std::span(bytes).subspan<io::kMac, 6>());
}

void DeviceIdentity::setMac(const MacAddress& mac) {
    std::copy(mac.bytes.begin(), mac.bytes.end(), bytes.begin() + io::kMac);
}

std::uint32_t DeviceIdentity::leadingNumber() const {
    return loadU32<io::kLeadingNumber>(bytes);
}

namespace {
bool isTextForm(std::uint8_t first) {
    return first >= 21 && first <= 127;
}

void setText(std::span<std::uint8_t> field, std::string_view text) {
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    if (text.size() >= field.size())
        return;
    std::copy(text.begin(), text.end(), field.begin());
}
} // namespace

bool DeviceIdentity::hardwareVersionIsText() const {
    return isTextForm(bytes[io::kHardwareVersion]);
}
bool DeviceIdentity::firmwareVersionIsText() const {
    return isTextForm(bytes[io::kFirmwareVersion]);
}
std::string_view DeviceIdentity::hardwareVersionText() const {
    return fieldText(field(io::kHardwareVersion, kHardwareVersionWidth));
}
std::string_view DeviceIdentity::firmwareVersionText() const {
    return fieldText(field(io::kFirmwareVersion, kFirmwareVersionWidth));
}

std::string DeviceIdentity::hardwareVersionDisplay() const {
    if (hardwareVersionIsText())
        return PrintableText(hardwareVersionText());
    const auto* b = bytes.data() + io::kHardwareVersion;
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<std::int8_t>(b[0]),
                  static_cast<std::int8_t>(b[1]), static_cast<std::int8_t>(b[2]),
                  static_cast<std::int8_t>(b[3]));
    return text;
}

std::string DeviceIdentity::firmwareVersionDisplay() const {
    if (firmwareVersionIsText())
        return PrintableText(firmwareVersionText());
    const auto* b = bytes.data() + io::kFirmwareVersion;
    char text[32];
    // Major, minor, a letter, a number.
    const char letter = static_cast<char>(b[2]);
    if (letter >= 0x20 && letter < 0x7F)
        std::snprintf(text, sizeof text, "%d.%d.%c%d", static_cast<std::int8_t>(b[0]),
                      static_cast<std::int8_t>(b[1]), letter, static_cast<std::int8_t>(b[3]));
    else
        std::snprintf(text, sizeof text, "%d.%d.%d", static_cast<std::int8_t>(b[0]),
                      static_cast<std::int8_t>(b[1]), static_cast<std::int8_t>(b[3]));
    return text;
}

std::uint32_t DeviceIdentity::versionNumber() const {
    return loadU32<io::kVersionNumber>(bytes);
}
void DeviceIdentity::setVersionNumber(std::uint32_t value) {
    storeU32<io::kVersionNumber>(bytes, value);
}

std::string_view DeviceIdentity::serialText() const {
    return fieldText(field(io::kSerialText, kSerialTextWidth));
}
void DeviceIdentity::setSerialText(std::string_view text) {
    setText(field(io::kSerialText, kSerialTextWidth), text);
}

std::string_view DeviceIdentity::rememberedPassword() const {
    return fieldText(field(io::kRememberedPassword, kRememberedPasswordWidth));
}
void DeviceIdentity::setRememberedPassword(std::string_view password) {
    setText(field(io::kRememberedPassword, kRememberedPasswordWidth), password);
}

int DeviceIdentity::adapterIndex() const {
    return static_cast<std::int32_t>(loadU32<io::kAdapterIndex>(bytes));
}
void DeviceIdentity::setAdapterIndex(int index) {
    storeU32<io::kAdapterIndex>(bytes, static_cast<std::uint32_t>(index));
}

std::uint32_t VersionNumberOf(std::span<const std::uint8_t> field) {
    constexpr std::size_t kScan = 25;
    constexpr std::size_t kComponentChars = 4;
    std::uint32_t parts[3] = {0, 0, 0};
    std::size_t found = 0;
    std::size_t start = 0;
    const std::size_t limit = std::min(kScan, field.size());
    for (std::size_t i = 0; i < limit && field[i] != 0 && found < 3; ++i) {
        if (field[i] != '.')
            continue;
        // Component [start, i): read its leading digits among its first four characters.
        std::uint32_t value = 0;
        for (std::size_t j = start; j < i && j < start + kComponentChars; ++j) {
            if (field[j] < '0' || field[j] > '9')
                break;
            value = value * 10 + static_cast<std::uint32_t>(field[j] - '0');
        }
        parts[found++] = value;
        start = i + 1;
    }
    return 1000000u * parts[0] + 1000u * parts[1] + parts[2];
}

bool ParseIdentity(std::span<const std::uint8_t> frame, DeviceIdentity& record) {
    if (frame.empty())
        return false;
    record.bytes.fill(0);
    if (frame.size() > frame_offset::kData)
        std::memcpy(record.bytes.data(), frame.data() + frame_offset::kData,
                    std::min(kIdentitySize, frame.size() - frame_offset::kData));
    record.setVersionNumber(
        VersionNumberOf(record.field(io::kFirmwareVersion, kFirmwareVersionWidth)));
    return true;
}

char ModelLetter(const DeviceIdentity& identity) {
    if (!identity.firmwareVersionIsText())
        return 0;
    const std::string_view text = identity.firmwareVersionText();
    return text.size() > 6 ? text[6] : 0;
}

} // namespace korvane

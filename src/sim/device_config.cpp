// The emulated devices' address plan and starting configuration.

#include "sim/emulated_device.hpp"

#include "base/byte_cursor.hpp"

namespace korvane::sim {

namespace so = settings_offset;

std::vector<std::uint8_t> VersionText(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> VersionBytes(std::uint8_t a, std::uint8_t b, std::uint8_t c,
                                       std::uint8_t d) {
    return {a, b, c, d};
}

DeviceAddress DefaultDeviceAddress(int index) {
    constexpr std::uint32_t kFirstSubnet = 0xC0A80100; // 192.168.1.0/24
    constexpr std::uint32_t kMask = 0xFFFFFF00;
    constexpr std::uint32_t kFirstHost = 100; // the first subnet starts at .100
    constexpr std::uint32_t kLastHost = 254;  // .255 is the broadcast address
    constexpr std::uint32_t kGatewayHost = 1;
    constexpr std::uint32_t kInFirstSubnet = kLastHost - kFirstHost + 1; // 155
    // The later subnets hold .2 to .254: all but network, gateway, broadcast.
    constexpr std::uint32_t kPerSubnet = kLastHost - kGatewayHost; // 253
    constexpr std::uint32_t kLaterSubnets = 254;                   // 192.168.2.0 to 192.168.255.0

    const auto n = static_cast<std::uint32_t>(index < 0 ? 0 : index);
    std::uint32_t subnet = kFirstSubnet;
    std::uint32_t host = kFirstHost + n;
    if (n >= kInFirstSubnet) {
        const std::uint32_t later = n - kInFirstSubnet;
        subnet = kFirstSubnet + ((1 + later / kPerSubnet % kLaterSubnets) << 8);
        host = kGatewayHost + 1 + later % kPerSubnet;
    }
    return {subnet | host, kMask, subnet | kGatewayHost};
}

DeviceConfig DefaultDeviceConfig(int index, const MacAddress& mac) {
    DeviceConfig config;
    config.mac = mac;
    const auto n = static_cast<std::uint32_t>(index < 0 ? 0 : index);
    // Two current models: the K series (BOOTP-capable, with HTTPS and SSH)
    // and the M series, which has neither secure service.
    const bool seriesM = n % 3 == 2;
    config.leadingNumber = seriesM ? 0x00020001 : 0x00010003;
    config.hardwareVersion = VersionText(seriesM ? "Q3.0" : "Q2.1");
    // The seventh character is the model letter.
    config.firmwareVersion = VersionText(seriesM ? "1.18.3M.4" : "1.20.7K.15");

    SettingsBlock& s = config.settings;
    s.setRawVersion(32);
    s.setAddressMode(n % 5 == 4 ? AddressMode::Dhcp : AddressMode::Static);
    const DeviceAddress address = DefaultDeviceAddress(index);
    s.setIpAddress(address.ip);
    s.setSubnetMask(address.mask);
    s.setGateway(address.gateway);
    s.setPort<so::kHttpPort>(80);
    s.setPort<so::kTelnetPort>(23);
    s.setPort<so::kHttpsPort>(seriesM ? kPortAbsent : 443);
    s.setPort<so::kSshPort>(seriesM ? kPortAbsent : 22);
    // The bytes the utility does not interpret carry device data of their own,
    // so a write that fails to send them back as read shows.
    for (std::size_t i = 10; i < so::kAddressMode; ++i)
        s.bytes[i] = static_cast<std::uint8_t>(0xA0 + i + n);
    for (std::size_t i = 48; i < kSettingsReadSize; ++i)
        s.bytes[i] = static_cast<std::uint8_t>(0x30 + i + n);
    s.seal(kSettingsReadSize);
    return config;
}

} // namespace korvane::sim

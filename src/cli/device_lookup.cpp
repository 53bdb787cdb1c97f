#include "cli/device_lookup.hpp"

#include "protocol/discovery.hpp"

#include <vector>

namespace korvane::cli {

std::optional<DeviceSelector> ParseDeviceSelector(std::string_view text) {
    if (auto mac = MacAddress::parse(text))
        return DeviceSelector{mac, std::nullopt};
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull)
        return std::nullopt;
    return DeviceSelector{std::nullopt, static_cast<std::uint32_t>(value)};
}

std::optional<DeviceIdentity> FindDevice(Context& ctx, std::string_view text, std::string& error) {
    const auto selector = ParseDeviceSelector(text);
    if (!selector) {
        error = "'" + std::string(text) +
                "' is neither a serial number nor a MAC address (like 02-19-A7-00-01-23)";
        return std::nullopt;
    }
    if (ctx.adapters.count() == 0) {
        error = "no Ethernet adapter to search";
        return std::nullopt;
    }
    std::vector<DeviceIdentity> records(kDiscoveryCapacity);
    for (int a = 0; a < ctx.adapters.count(); ++a) {
        if (!ctx.openAdapter(a))
            continue;
        const int n = DiscoverDevices(ctx, records, a);
        for (int i = 0; i < n; ++i) {
            const DeviceIdentity& d = records[static_cast<std::size_t>(i)];
            if ((selector->mac && d.mac() == *selector->mac) ||
                (selector->serial && d.serialNumber() == *selector->serial))
                return d;
        }
    }
    error = "device " + std::string(text) + " did not answer on any adapter";
    return std::nullopt;
}

} // namespace korvane::cli

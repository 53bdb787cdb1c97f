#include "cli/resolver.hpp"

#include "app/environment.hpp"
#include "cli/cli.hpp"
#include "devices/search.hpp"

#include <algorithm>

namespace korvane::cli {

bool DeviceSelector::matches(const DeviceIdentity& device) const {
    return mac ? *mac == device.mac() : serial == device.serialNumber();
}

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

namespace {

Resolution failed(int status, std::string error) {
    Resolution r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

} // namespace

Resolution ResolveDevices(Environment& env, const std::vector<std::string>& names, bool all) {
    if (std::string unknown = env.unknownInterfaceError(); !unknown.empty())
        return failed(kExitNoAdapter, std::move(unknown));
    Context& ctx = env.context();
    StopToken stop;
    AdapterSweep sweep(ctx, stop);
    sweep.discover({});
    const auto notes = sweep.notes();
    if (notes.empty())
        return failed(kExitNoAdapter, "no Ethernet adapter was found");
    if (sweep.searchedCount() == 0)
        return failed(kExitNoAdapter, NothingSearchedText(notes));

    std::vector<DeviceIdentity> found;
    std::string searched;
    for (const AdapterDiscovery& adapter : sweep.adapters()) {
        if (!adapter.searched)
            continue;
        searched += (searched.empty() ? "" : ", ") + adapter.name;
        for (const DeviceIdentity& d : adapter.devices)
            if (std::none_of(found.begin(), found.end(),
                             [&](const DeviceIdentity& r) { return r.mac() == d.mac(); }))
                found.push_back(d);
    }
    // A device behind an adapter that could not be searched is not "not there".
    if (const std::string skipped = NotSearchedText(notes); !skipped.empty())
        searched += " (not searched: " + skipped + ")";

    Resolution r;
    if (all) {
        r.devices = found;
        if (r.devices.empty())
            return failed(kExitFailure, "no device answered on " + searched);
        return r;
    }
    for (const std::string& name : names) {
        const auto selector = ParseDeviceSelector(name);
        std::vector<const DeviceIdentity*> matches;
        for (const DeviceIdentity& d : found)
            if (selector && selector->matches(d))
                matches.push_back(&d);
        if (matches.empty())
            return failed(kExitFailure, "no device " + name + " answered on " + searched +
                                            " (name it by serial number or MAC address)");
        if (matches.size() > 1)
            return failed(kExitFailure, "serial number " + name + " is that of " +
                                            std::to_string(matches.size()) + " devices (" +
                                            matches[0]->mac().toString() + ", " +
                                            matches[1]->mac().toString() +
                                            "...): name the device by its MAC address");
        if (std::none_of(r.devices.begin(), r.devices.end(),
                         [&](const DeviceIdentity& d) { return d.mac() == matches[0]->mac(); }))
            r.devices.push_back(*matches[0]);
    }
    return r;
}

} // namespace korvane::cli

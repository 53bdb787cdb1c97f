// adapters, discover

#include "cli/commands.hpp"
#include "cli/json.hpp"
#include "protocol/discovery.hpp"

#include <ostream>
#include <vector>

namespace korvane::cli {

int CmdAdapters(Invocation& inv) {
    const bool json = inv.args.flag("--json");
    std::string error;
    if (!inv.args.positionals(error).empty() || !error.empty()) {
        inv.io.err << "korvane adapters: " << (error.empty() ? "takes no arguments" : error)
                   << "\n";
        return kExitUsage;
    }
    const AdapterTable& table = inv.env.context().adapters;
    if (json) {
        std::vector<std::string> rows;
        for (int i = 0; i < table.count(); ++i) {
            const auto& a = table.entries[static_cast<std::size_t>(i)];
            rows.push_back(JsonObject()
                               .add("index", i)
                               .add("name", a.name)
                               .add("description", a.description)
                               .add("mac", a.mac.toString())
                               .str());
        }
        inv.io.out << JsonArray(rows) << "\n";
        return kExitOk;
    }
    if (table.count() == 0)
        inv.io.out << "No Ethernet adapter found\n";
    for (int i = 0; i < table.count(); ++i) {
        const auto& a = table.entries[static_cast<std::size_t>(i)];
        inv.io.out << i << "  " << a.name << "  " << a.mac.toString() << "  " << a.description
                   << "\n";
    }
    return kExitOk;
}

int CmdDiscover(Invocation& inv) {
    const bool json = inv.args.flag("--json");
    std::string error;
    if (!inv.args.positionals(error).empty() || !error.empty()) {
        inv.io.err << "korvane discover: " << (error.empty() ? "takes no arguments" : error)
                   << "\n";
        return kExitUsage;
    }
    if (const std::string unknown = inv.env.unknownInterfaceError(); !unknown.empty()) {
        inv.io.err << "korvane discover: " << unknown << "\n";
        return kExitNoAdapter;
    }
    Context& ctx = inv.env.context();
    std::vector<std::string> rows;
    int total = 0;
    for (int a = 0; a < ctx.adapters.count(); ++a) {
        if (!ctx.openAdapter(a))
            continue;
        std::vector<DeviceIdentity> records(kDiscoveryCapacity);
        const int n = DiscoverDevices(ctx, records, a);
        const std::string& adapter = ctx.adapters.entries[static_cast<std::size_t>(a)].name;
        for (int i = 0; i < n; ++i) {
            const DeviceIdentity& d = records[static_cast<std::size_t>(i)];
            const std::string serial = std::to_string(d.serialNumber());
            if (json) {
                rows.push_back(JsonObject()
                                   .add("serial", serial)
                                   .add("mac", d.mac().toString())
                                   .add("hardware_version", d.hardwareVersionDisplay())
                                   .add("firmware_version", d.firmwareVersionDisplay())
                                   .add("version_number", d.versionNumber())
                                   .add("adapter", adapter)
                                   .add("adapter_index", a)
                                   .str());
            } else {
                inv.io.out << serial << "  " << d.mac().toString() << "  "
                           << d.hardwareVersionDisplay() << "  " << d.firmwareVersionDisplay()
                           << "  " << adapter << "\n";
            }
        }
        total += n;
    }
    if (json)
        inv.io.out << JsonArray(rows) << "\n";
    else if (total == 0)
        inv.io.out << "No device found\n";
    return kExitOk;
}

} // namespace korvane::cli

// korvane discover: one discovery on each adapter, nothing more asked.

#include "app/environment.hpp"
#include "cli/command.hpp"
#include "cli/json_output.hpp"
#include "cli/options.hpp"
#include "protocol/discovery.hpp"

#include <memory>
#include <ostream>
#include <vector>

namespace korvane::cli {

namespace {

struct DiscoverOptions {
    bool json = false;
};

int runDiscover(Invocation& inv, const DiscoverOptions& o) {
    if (const std::string unknown = inv.env.unknownInterfaceError(); !unknown.empty()) {
        inv.error() << unknown << "\n";
        return kExitNoAdapter;
    }
    Context& ctx = inv.env.context();
    Json rows = Json::array();
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
            if (o.json) {
                rows.push_back({{"serial", serial},
                                {"mac", d.mac().toString()},
                                {"hardware_version", d.hardwareVersionDisplay()},
                                {"firmware_version", d.firmwareVersionDisplay()},
                                {"version_number", d.versionNumber()},
                                {"adapter", JsonText(adapter)},
                                {"adapter_index", a}});
            } else {
                inv.io.out << serial << "  " << d.mac().toString() << "  "
                           << d.hardwareVersionDisplay() << "  " << d.firmwareVersionDisplay()
                           << "  " << adapter << "\n";
            }
        }
        total += n;
    }
    if (o.json)
        PrintJson(inv.io.out, rows);
    else if (total == 0)
        inv.io.out << "No device found\n";
    return kExitOk;
}

} // namespace

void DeclareDiscover(CLI::App& app, Chosen& chosen) {
    auto o = std::make_shared<DiscoverOptions>();
    CLI::App* cmd = app.add_subcommand(
        "discover", "one discovery on each adapter: the devices that answer, without their "
                    "LAN addresses");
    AddJsonFlag(*cmd, o->json, "the devices");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runDiscover(inv, *o); });
}

} // namespace korvane::cli

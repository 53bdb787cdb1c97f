// korvane discover: one discovery on every adapter at once, nothing more asked.

#include "app/environment.hpp"
#include "cli/command.hpp"
#include "cli/json_output.hpp"
#include "cli/options.hpp"
#include "devices/device_export.hpp"
#include "devices/search.hpp"

#include <memory>
#include <ostream>
#include <vector>

namespace korvane::cli {

namespace {

struct DiscoverOptions {
    bool json = false;
    bool csv = false;
};

int runDiscover(Invocation& inv, const DiscoverOptions& o) {
    if (const std::string unknown = inv.env.unknownInterfaceError(); !unknown.empty()) {
        inv.error() << unknown << "\n";
        return kExitNoAdapter;
    }
    // Every adapter at once, as a search does.
    StopToken ownStop;
    StopToken& stop = inv.io.interrupt ? inv.io.interrupt->stop : ownStop;
    AdapterSweep sweep(inv.env.context(), stop);
    if (!sweep.discover({})) {
        inv.error() << "the discovery was stopped\n";
        return kExitNoAdapter;
    }
    const auto notes = sweep.notes();
    if (sweep.searchedCount() == 0) {
        // Not "No device found": nobody was asked.
        inv.error() << NothingSearchedText(notes) << "\n";
        return kExitNoAdapter;
    }
    if (const std::string skipped = NotSearchedText(notes); !skipped.empty())
        inv.error() << "not searched: " << skipped << "\n";

    Json rows = Json::array();
    std::vector<ListedDevice> listed;
    int total = 0;
    for (const AdapterDiscovery& adapter : sweep.adapters()) {
        for (const DeviceIdentity& d : adapter.devices) {
            const std::string serial = std::to_string(d.serialNumber());
            if (o.csv) {
                listed.push_back(
                    ListedDeviceOf(d, {}, *inv.env.context().adapters())); // no address asked
            } else if (o.json) {
                rows.push_back({{"serial", serial},
                                {"mac", d.mac().toString()},
                                {"hardware_version", d.hardwareVersionDisplay()},
                                {"firmware_version", d.firmwareVersionDisplay()},
                                {"version_number", d.versionNumber()},
                                {"adapter", JsonText(adapter.name)},
                                {"adapter_index", adapter.index}});
            } else {
                inv.io.out << serial << "  " << d.mac().toString() << "  "
                           << d.hardwareVersionDisplay() << "  " << d.firmwareVersionDisplay()
                           << "  " << adapter.name << "\n";
            }
            ++total;
        }
    }
    if (o.csv)
        inv.io.out << DeviceListCsv(listed);
    else if (o.json)
        PrintJson(inv.io.out, rows);
    else if (total == 0)
        inv.io.out << "No device found\n";
    return kExitOk;
}

} // namespace

void DeclareDiscover(CLI::App& app, Chosen& chosen) {
    auto o = std::make_shared<DiscoverOptions>();
    CLI::App* cmd = app.add_subcommand(
        "discover",
        "one discovery on every adapter at once: the devices that answer, without their "
        "LAN addresses");
    CLI::Option* json = AddJsonFlag(*cmd, o->json, "the devices");
    cmd->add_flag("--csv", o->csv,
                  "the devices as CSV (RFC 4180), the columns of search --csv with the ip "
                  "column empty")
        ->excludes(json);
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runDiscover(inv, *o); });
}

} // namespace korvane::cli

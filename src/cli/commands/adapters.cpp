// korvane adapters: the Ethernet adapters of this machine.

#include "app/environment.hpp"
#include "cli/command.hpp"
#include "cli/json_output.hpp"
#include "cli/options.hpp"

#include <memory>
#include <ostream>

namespace korvane::cli {

namespace {

struct AdaptersOptions {
    bool json = false;
};

int runAdapters(Invocation& inv, const AdaptersOptions& o) {
    const auto snapshot = inv.env.context().adapters();
    const AdapterTable& table = *snapshot;
    if (o.json) {
        Json rows = Json::array();
        for (int i = 0; i < table.count(); ++i) {
            const auto& a = table.entries[static_cast<std::size_t>(i)];
            rows.push_back({{"index", i},
                            {"name", JsonText(a.name)},
                            {"description", JsonText(a.description)},
                            {"mac", a.mac.toString()}});
        }
        PrintJson(inv.io.out, rows);
        return kExitOk;
    }
    if (table.count() == 0)
        inv.io.out << "No Ethernet adapter found\n";
    else if (inv.io.outputIsTerminal) // for a person; a pipe gets the rows alone
        inv.io.out << "#  Name  MAC  Description\n";
    for (int i = 0; i < table.count(); ++i) {
        const auto& a = table.entries[static_cast<std::size_t>(i)];
        inv.io.out << i << "  " << a.name << "  " << a.mac.toString() << "  " << a.description
                   << "\n";
    }
    return kExitOk;
}

} // namespace

void DeclareAdapters(CLI::App& app, Chosen& chosen) {
    auto o = std::make_shared<AdaptersOptions>();
    CLI::App* cmd = app.add_subcommand("adapters", "list the Ethernet adapters");
    AddJsonFlag(*cmd, o->json, "the adapters");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runAdapters(inv, *o); });
}

} // namespace korvane::cli

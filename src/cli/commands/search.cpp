// korvane search: every adapter, each device with its LAN address, as the
// desktop program's list shows them; --watch repeats it until interrupted.

#include "devices/search.hpp"
#include "app/environment.hpp"
#include "cli/command.hpp"
#include "cli/device_json.hpp"
#include "cli/options.hpp"
#include "devices/device_list.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

namespace korvane::cli {

namespace {

struct SearchOptions {
    bool json = false;
    int watchSeconds = 0; // 0: search once
    bool requireAdapter = false;
};

// One full search cycle, applied to the list as the desktop program applies it.
std::optional<SearchResult> searchOnce(Context& ctx, DeviceList& list) {
    DeviceSearch search(ctx, list);
    if (!search.StartSearch())
        return std::nullopt;
    search.WaitEnded();
    auto result = search.TakePendingResult();
    if (!result || !search.Apply(*result))
        return std::nullopt;
    return result;
}

// What a search could not search, for standard error: nothing (and why
// each adapter failed), or the adapters it skipped with their reasons;
// empty when it searched every adapter.
std::string searchProblem(const SearchResult& result) {
    if (result.adaptersOpened == 0)
        return NothingSearchedText(result.adapterNotes);
    if (std::string skipped = NotSearchedText(result.adapterNotes); !skipped.empty())
        return "not searched: " + skipped;
    return {};
}

void printRows(Invocation& inv, const DeviceList& list, bool json,
               JsonLayout layout = JsonLayout::Indented) {
    const Context& ctx = inv.env.context();
    Json objects = Json::array();
    const DeviceRowModel& rows = list.rows();
    // A person at a terminal is told what the columns are; a script reading
    // a pipe gets the rows alone, as it always has.
    if (!json && rows.rowCount() > 0 && inv.io.outputIsTerminal)
        inv.io.out << "Serial number  LAN IP  MAC address  Hardware  Firmware  Adapter\n";
    for (int row = 0; row < rows.rowCount(); ++row) {
        const auto record = list.record(list.DeviceOfRow(row));
        if (!record)
            continue;
        const std::string& serial = rows.row(row).data.texts[0];
        const std::string& ip = rows.row(row).addressText;
        if (json) {
            objects.push_back(DeviceObject(ctx, *record, serial, ip));
        } else {
            inv.io.out << serial << "  " << ip << "  " << record->mac().toString() << "  "
                       << record->hardwareVersionDisplay() << "  "
                       << record->firmwareVersionDisplay() << "  "
                       << AdapterName(ctx, record->adapterIndex()) << "\n";
        }
    }
    if (json)
        PrintJson(inv.io.out, objects, layout);
    else if (rows.rowCount() == 0)
        inv.io.out << list_text::kNoDevice << "\n";
}

// `search --watch SECONDS`: one search after another, each printed as it
// ends, until interrupted. An adapter a search could not search is named
// with its reason once, until the reasons change; a search that could search
// nothing prints an empty result: the adapter may come back, and the next
// search reopens it.
int watchSearches(Invocation& inv, bool json, Micros period) {
    Context& ctx = inv.env.context();
    StopToken ownStop;
    StopToken& stop = inv.io.interrupt ? inv.io.interrupt->stop : ownStop;
    if (inv.io.interrupt)
        inv.io.interrupt->claimed.store(true);
    stop.wakeAlso(ctx.link.arrivals());
    // The link reports from its receive thread (an adapter that went down).
    auto errLock = std::make_shared<std::mutex>();
    std::ostream& err = inv.io.err;
    ctx.link.setDiagnosticSink([errLock, &err](const std::string& line) {
        std::lock_guard lock(*errLock);
        err << "korvane: " << line << std::flush;
    });
    DeviceList list;
    std::string lastProblem;
    while (!stop.stopRequested()) {
        const auto started = SteadyClock::now();
        auto result = RunSearchCycle(ctx, list.table().records, stop);
        if (!result || !list.ApplySearchResult(*result, &stop))
            break;
        const std::string problem = searchProblem(*result);
        if (problem != lastProblem && !problem.empty()) {
            std::lock_guard lock(*errLock);
            inv.error() << problem << "\n" << std::flush;
        }
        lastProblem = problem;
        printRows(inv, list, json, JsonLayout::OneLine);
        if (!json)
            inv.io.out << "\n"; // a blank line between searches
        inv.io.out.flush();
        if (!stop.sleepUntil(started + period))
            break;
    }
    stop.forget(ctx.link.arrivals());
    ctx.link.setDiagnosticSink(nullptr);
    ctx.link.close(); // no receive thread is left to report
    if (inv.io.interrupt)
        inv.io.interrupt->claimed.store(false);
    return kExitOk;
}

int runSearch(Invocation& inv, const SearchOptions& o) {
    if (const std::string unknown = inv.env.unknownInterfaceError(); !unknown.empty()) {
        inv.error() << unknown << "\n";
        return kExitNoAdapter;
    }
    if (o.watchSeconds > 0)
        return watchSearches(inv, o.json, std::chrono::seconds(o.watchSeconds));

    DeviceList list;
    const auto result = searchOnce(inv.env.context(), list);
    if (!result || result->adaptersOpened == 0) {
        // Not "No device found": nobody was asked.
        inv.error() << (result ? searchProblem(*result) : std::string("the search was stopped"))
                    << "\n";
        return kExitNoAdapter;
    }
    if (const std::string skipped = searchProblem(*result); !skipped.empty())
        inv.error() << skipped << "\n";
    printRows(inv, list, o.json);
    return kExitOk;
}

} // namespace

void DeclareSearch(CLI::App& app, Chosen& chosen) {
    auto o = std::make_shared<SearchOptions>();
    CLI::App* cmd = app.add_subcommand(
        "search",
        "search every adapter at once: serial number, LAN address, MAC, hardware and firmware "
        "version and adapter of each device");
    AddJsonFlag(*cmd, o->json, "the devices");
    cmd->add_option("--watch", o->watchSeconds,
                    "search again every SECONDS until interrupted (with --json one array per "
                    "line, one line per search)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    // What every search does now; kept for the scripts that still pass it.
    cmd->add_flag("--require-adapter", o->requireAdapter)->group("");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runSearch(inv, *o); });
}

} // namespace korvane::cli

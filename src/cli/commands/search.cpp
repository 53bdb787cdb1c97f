// korvane search: every adapter, each device with its LAN address, as the
// desktop program's list shows them; --watch repeats it until interrupted;
// --csv writes the list as a file's content; --compare FILE says how the
// segment differs from a saved list.

#include "devices/search.hpp"
#include "app/environment.hpp"
#include "base/file_head.hpp"
#include "base/printable_text.hpp"
#include "cli/command.hpp"
#include "cli/device_json.hpp"
#include "cli/options.hpp"
#include "devices/device_export.hpp"
#include "devices/device_list.hpp"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

namespace korvane::cli {

namespace {

// A saved list of thousands of devices fits in far less.
constexpr std::size_t kSavedListLimit = 16 * 1024 * 1024;

struct SearchOptions {
    bool json = false;
    bool csv = false;
    int watchSeconds = 0; // 0: search once
    std::string compare;  // a saved list; empty: none
    bool requireAdapter = false;
};

// One full search cycle, applied to the list as the desktop program applies it.
std::optional<SearchResult> searchOnce(Context& ctx, DeviceList& list) {
    DeviceSearch search(ctx, list);
    if (!search.startSearch())
        return std::nullopt;
    search.waitEnded();
    auto result = search.takePendingResult();
    if (!result || !search.apply(*result))
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
        const auto record = list.record(list.deviceOfRow(row));
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

// ------------------------------------------------------------- comparing

// "2026-12-11T08:30:00Z": when a watch saw a change.
std::string utcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

const char* kindName(ListDifference::Kind kind) {
    switch (kind) {
    case ListDifference::Kind::Missing:
        return "missing";
    case ListDifference::Kind::New:
        return "new";
    case ListDifference::Kind::Changed:
        break;
    }
    return "changed";
}

Json differenceObject(const ListDifference& d) {
    Json object = {{"serial", JsonText(d.serial)}, {"mac", d.mac}, {"ip", JsonText(d.ip)}};
    if (d.kind == ListDifference::Kind::Changed) {
        Json changes = Json::array();
        for (const FieldChange& c : d.changes)
            changes.push_back(
                {{"field", c.field}, {"saved", JsonText(c.saved)}, {"now", JsonText(c.now)}});
        object["changes"] = changes;
    }
    return object;
}

// "changed  2801795074  02-19-A7-00-00-02  10.0.0.2  ip 192.168.1.101 -> 10.0.0.2"
std::string differenceLine(const ListDifference& d) {
    std::string line = std::string(kindName(d.kind));
    line.resize(9, ' ');
    line += PrintableText(d.serial) + "  " + d.mac + "  " + PrintableText(d.ip);
    for (std::size_t i = 0; i < d.changes.size(); ++i)
        line += (i == 0 ? "  " : ", ") + d.changes[i].field + " " +
                PrintableText(d.changes[i].saved) + " -> " + PrintableText(d.changes[i].now);
    return line;
}

void printComparison(Invocation& inv, const std::vector<ListDifference>& differences,
                     std::size_t savedCount, bool json) {
    if (json) {
        Json report = {{"matches", differences.empty()},
                       {"missing", Json::array()},
                       {"new", Json::array()},
                       {"changed", Json::array()}};
        for (const ListDifference& d : differences)
            report[kindName(d.kind)].push_back(differenceObject(d));
        PrintJson(inv.io.out, report);
        return;
    }
    for (const ListDifference& d : differences)
        inv.io.out << differenceLine(d) << "\n";
    if (differences.empty()) {
        inv.io.out << "The segment matches the saved list (" << savedCount << " devices)\n";
        return;
    }
    int counts[3] = {0, 0, 0};
    for (const ListDifference& d : differences)
        ++counts[static_cast<int>(d.kind)];
    inv.io.out << differences.size() << " differences from the saved list: " << counts[0]
               << " missing, " << counts[1] << " new, " << counts[2] << " changed\n";
}

// ------------------------------------------------------------- watching

// Searches one after another, each handed to `each` as it ends with whether
// it could search anything, until interrupted. An adapter a search could not
// search is named with its reason once, until the reasons change; a search
// that could search nothing hands on an empty list: the adapter may come
// back, and the next search reopens it.
void watchSearches(Invocation& inv, Micros period,
                   const std::function<void(const DeviceList&, bool searched)>& each) {
    Context& ctx = inv.env.context();
    StopToken ownStop;
    StopToken& stop = inv.io.interrupt ? inv.io.interrupt->stop : ownStop;
    if (inv.io.interrupt)
        inv.io.interrupt->claimed.store(true);
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
        if (!result || !list.applySearchResult(*result, &stop))
            break;
        const std::string problem = searchProblem(*result);
        if (problem != lastProblem && !problem.empty()) {
            std::lock_guard lock(*errLock);
            inv.error() << problem << "\n" << std::flush;
        }
        lastProblem = problem;
        each(list, result->adaptersOpened > 0);
        inv.io.out.flush();
        if (!stop.sleepUntil(started + period))
            break;
    }
    ctx.link.setDiagnosticSink(nullptr);
    ctx.link.close(); // no receive thread is left to report
    if (inv.io.interrupt)
        inv.io.interrupt->claimed.store(false);
}

// `search --watch`: every search printed whole; one that searched nothing
// prints an empty result.
int watchLists(Invocation& inv, bool json, Micros period) {
    watchSearches(inv, period, [&](const DeviceList& list, bool) {
        printRows(inv, list, json, JsonLayout::OneLine);
        if (!json)
            inv.io.out << "\n"; // a blank line between searches
    });
    return kExitOk;
}

// `search --compare FILE --watch`: only changes, one line (or JSON object)
// each: the first search against the saved list, every later one against the
// search before it. Ends with the status of the last comparison with the
// saved list.
int watchComparisons(Invocation& inv, const std::vector<SavedDevice>& saved, bool json,
                     Micros period) {
    std::vector<SavedDevice> known = saved;
    bool matches = true;
    watchSearches(inv, period, [&](const DeviceList& list, bool searched) {
        if (!searched) // nobody was asked: no device went missing
            return;
        const auto now = ListedDevices(list, *inv.env.context().adapters());
        const std::string time = utcNow();
        for (const ListDifference& d : CompareDeviceLists(known, now)) {
            if (json) {
                Json object = {{"time", time}, {"change", kindName(d.kind)}};
                object.update(differenceObject(d));
                PrintJson(inv.io.out, object, JsonLayout::OneLine);
            } else {
                inv.io.out << time << "  " << differenceLine(d) << "\n";
            }
        }
        known = AsSaved(now);
        matches = CompareDeviceLists(saved, now).empty();
    });
    return matches ? kExitOk : kExitFailure;
}

// ------------------------------------------------------------- the command

std::optional<std::vector<SavedDevice>> readSavedList(Invocation& inv, const std::string& path,
                                                      int& status) {
    std::string content, error;
    if (!ReadFileHead(path, kSavedListLimit, content, error, "saved list")) {
        status = inv.usageError(error);
        return std::nullopt;
    }
    if (content.size() > kSavedListLimit) {
        status = inv.usageError("the saved list '" + path + "' is longer than " +
                                std::to_string(kSavedListLimit / (1024 * 1024)) + " MiB");
        return std::nullopt;
    }
    auto saved = ReadSavedDeviceList(content, error);
    if (!saved)
        status = inv.usageError(path + ": " + error);
    return saved;
}

int runSearch(Invocation& inv, const SearchOptions& o) {
    // Said here rather than declared with the options: CLI11 lists an
    // option's exclusions in the help in no fixed order.
    if (o.csv && (o.watchSeconds > 0 || !o.compare.empty()))
        return inv.usageError("--csv goes with neither --watch nor --compare");
    std::optional<std::vector<SavedDevice>> saved;
    if (!o.compare.empty()) {
        int status = kExitOk;
        saved = readSavedList(inv, o.compare, status);
        if (!saved)
            return status;
    }
    if (const std::string unknown = inv.env.unknownInterfaceError(); !unknown.empty()) {
        inv.error() << unknown << "\n";
        return kExitNoAdapter;
    }
    const Micros period = std::chrono::seconds(o.watchSeconds);
    if (o.watchSeconds > 0)
        return saved ? watchComparisons(inv, *saved, o.json, period)
                     : watchLists(inv, o.json, period);

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
    if (saved) {
        const auto differences =
            CompareDeviceLists(*saved, ListedDevices(list, *inv.env.context().adapters()));
        printComparison(inv, differences, saved->size(), o.json);
        return differences.empty() ? kExitOk : kExitFailure;
    }
    if (o.csv)
        inv.io.out << DeviceListCsv(ListedDevices(list, *inv.env.context().adapters()));
    else
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
    CLI::Option* json = AddJsonFlag(*cmd, o->json, "the devices");
    cmd->add_flag("--csv", o->csv,
                  "the devices as CSV (RFC 4180): a header row, then serial, mac, ip, "
                  "hardware_version, firmware_version and adapter of each device; save it "
                  "for --compare or as the start of a settings plan")
        ->excludes(json);
    cmd->add_option("--watch", o->watchSeconds,
                    "search again every SECONDS until interrupted (with --json one array per "
                    "line, one line per search; with --compare only the changes)")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, 86400));
    cmd->add_option("--compare", o->compare,
                    "compare the segment with a saved list (a --csv or --json export): devices "
                    "missing, new, and changed in address, firmware version or adapter; exit "
                    "status 0 when it matches, 1 when not")
        ->type_name("FILE")
        ->check(ReadableFileCheck());
    // What every search does now; kept for the scripts that still pass it.
    cmd->add_flag("--require-adapter", o->requireAdapter)->group("");
    OnChosen(*cmd, chosen, [o](Invocation& inv) { return runSearch(inv, *o); });
}

} // namespace korvane::cli

// search, info, open

#include "cli/commands.hpp"
#include "cli/json.hpp"
#include "devices/device_list.hpp"
#include "devices/search.hpp"
#include "devices/web_page.hpp"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace korvane::cli {

namespace {

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

std::string adapterName(const Context& ctx, int index) {
    if (index < 0 || index >= ctx.adapters.count())
        return {};
    return ctx.adapters.entries[static_cast<std::size_t>(index)].name;
}

// A device named by its serial-number text or its MAC address (dash or colon form).
int findRow(const DeviceList& list, const std::string& name) {
    const DeviceRowModel& rows = list.rows();
    for (int row = 0; row < rows.rowCount(); ++row)
        if (rows.row(row).data.texts[0] == name)
            return row;
    if (const auto mac = MacAddress::parse(name)) {
        for (int row = 0; row < rows.rowCount(); ++row) {
            const auto record = list.record(list.DeviceOfRow(row));
            if (record && record->mac() == *mac)
                return row;
        }
    }
    return -1;
}

bool noPositionals(Invocation& inv, const char* command) {
    std::string error;
    if (!inv.args.positionals(error).empty() || !error.empty()) {
        inv.io.err << "korvane " << command << ": "
                   << (error.empty() ? "takes no arguments" : error) << "\n";
        return false;
    }
    return true;
}

class PrintingOpener : public UrlOpener {
  public:
    explicit PrintingOpener(std::ostream& out) : out_(out) {}
    bool OpenUrl(const std::string& url) override {
        out_ << url << "\n";
        return true;
    }

  private:
    std::ostream& out_;
};

// The desktop's URL handler, started without a shell so no URL text is interpreted.
class XdgOpener : public UrlOpener {
  public:
    explicit XdgOpener(std::ostream& out) : out_(out) {}
    bool OpenUrl(const std::string& url) override {
        out_ << url << "\n" << std::flush;
        std::string program = "xdg-open";
        std::string argument = url;
        char* argv[] = {program.data(), argument.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
            return false;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0)
            if (errno != EINTR)
                return false;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

  private:
    std::ostream& out_;
};

const char* launchProblem(LaunchOutcome outcome) {
    switch (outcome) {
    case LaunchOutcome::Opened:
        return nullptr;
    case LaunchOutcome::OpenFailed:
        return "the URL could not be opened";
    case LaunchOutcome::ServiceOff:
        return "HTTP and HTTPS are both switched off";
    case LaunchOutcome::NoSettings:
        return "no reply to the settings read; skipped";
    case LaunchOutcome::NoReply:
        return "no reply; the devices after it were not opened";
    case LaunchOutcome::NotReached:
        return "not opened";
    }
    return "not opened";
}

// Searches and selects the named devices; false (with a message) when one is unknown.
bool searchAndSelect(Invocation& inv, const char* command, DeviceList& list,
                     const std::vector<std::string>& names) {
    searchOnce(inv.env.context(), list);
    list.rows().clearSelection();
    for (const std::string& name : names) {
        const int row = findRow(list, name);
        if (row < 0) {
            inv.io.err << "korvane " << command << ": no device '" << name
                       << "' found (name it by serial number or MAC address)\n";
            return false;
        }
        list.rows().setSelected(row, true);
    }
    return true;
}

} // namespace

namespace {

// Why a search searched nothing: each adapter it looked at and what kept it.
std::string nothingSearched(const SearchResult& result) {
    if (result.adapterNotes.empty())
        return "no Ethernet adapter was found";
    std::string text = "no adapter could be searched";
    for (const auto& note : result.adapterNotes)
        text += "; " + note.name + ": " + (note.problem.empty() ? "not searched" : note.problem);
    return text;
}

// `oneLine`: the JSON array on a single line (a watching search prints one per search).
void printRows(Invocation& inv, Context& ctx, const DeviceList& list, bool json,
               bool oneLine = false) {
    std::vector<std::string> objects;
    const DeviceRowModel& rows = list.rows();
    for (int row = 0; row < rows.rowCount(); ++row) {
        const auto record = list.record(list.DeviceOfRow(row));
        if (!record)
            continue;
        const std::string serial = rows.row(row).data.texts[0];
        const std::string& ip = rows.row(row).addressText;
        const int adapter = record->adapterIndex();
        if (json) {
            objects.push_back(JsonObject()
                                  .add("serial", serial)
                                  .add("ip", ip)
                                  .add("mac", record->mac().toString())
                                  .add("hardware_version", record->hardwareVersionDisplay())
                                  .add("firmware_version", record->firmwareVersionDisplay())
                                  .add("version_number", record->versionNumber())
                                  .add("adapter", adapterName(ctx, adapter))
                                  .add("adapter_index", adapter)
                                  .str());
        } else {
            inv.io.out << serial << "  " << ip << "  " << record->mac().toString() << "  "
                       << record->hardwareVersionDisplay() << "  "
                       << record->firmwareVersionDisplay() << "  " << adapterName(ctx, adapter)
                       << "\n";
        }
    }
    if (json)
        inv.io.out << JsonArray(objects, !oneLine) << "\n";
    else if (rows.rowCount() == 0)
        inv.io.out << list_text::kNoDevice << "\n";
}

// `search --watch SECONDS`: one search after another on the one link, each
// printed as it ends, until interrupted. A search that could search nothing
// prints an empty result and says why (once, until the reason changes): the
// adapter may come back, and the next search reopens it.
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
        const std::string problem = result->adaptersOpened == 0 ? nothingSearched(*result) : "";
        if (problem != lastProblem && !problem.empty()) {
            std::lock_guard lock(*errLock);
            err << "korvane search: " << problem << "\n" << std::flush;
        }
        lastProblem = problem;
        printRows(inv, ctx, list, json, true);
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

} // namespace

int CmdSearch(Invocation& inv) {
    const bool json = inv.args.flag("--json");
    inv.args.flag("--require-adapter"); // what every search does now; kept for old scripts
    const auto watch = inv.args.option("--watch");
    if (!noPositionals(inv, "search"))
        return kExitUsage;
    long seconds = 0;
    if (watch) {
        char* end = nullptr;
        seconds = std::strtol(watch->c_str(), &end, 10);
        if (watch->empty() || *end != '\0' || seconds < 1 || seconds > 86400) {
            inv.io.err << "korvane search: --watch takes a number of seconds from 1 to 86400\n";
            return kExitUsage;
        }
    }
    if (const std::string unknown = inv.env.unknownInterfaceError(); !unknown.empty()) {
        inv.io.err << "korvane search: " << unknown << "\n";
        return kExitNoAdapter;
    }
    if (watch)
        return watchSearches(inv, json, std::chrono::seconds(seconds));

    Context& ctx = inv.env.context();
    DeviceList list;
    const auto result = searchOnce(ctx, list);
    if (!result || result->adaptersOpened == 0) {
        // Not "No device found": nobody was asked.
        inv.io.err << "korvane search: "
                   << (result ? nothingSearched(*result) : std::string("the search was stopped"))
                   << "\n";
        return kExitNoAdapter;
    }
    printRows(inv, ctx, list, json);
    return kExitOk;
}

int CmdInfo(Invocation& inv) {
    std::string error;
    const auto names = inv.args.positionals(error);
    if (!error.empty() || names.size() != 1) {
        inv.io.err << "korvane info: " << (error.empty() ? "name one DEVICE" : error) << "\n";
        return kExitUsage;
    }
    DeviceList list;
    if (!searchAndSelect(inv, "info", list, names))
        return kExitFailure;
    list.OnListClick(list.rows().firstSelected()); // as a click on the device's row
    std::string text = list.paneText();
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;)
        text.erase(at, 1);
    inv.io.out << text << "\n";
    return kExitOk;
}

int CmdOpen(Invocation& inv) {
    const bool printOnly = inv.args.flag("--print");
    std::string error;
    const auto names = inv.args.positionals(error);
    if (!error.empty() || names.empty()) {
        inv.io.err << "korvane open: " << (error.empty() ? "name at least one DEVICE" : error)
                   << "\n";
        return kExitUsage;
    }
    DeviceList list;
    if (!searchAndSelect(inv, "open", list, names))
        return kExitFailure;
    PrintingOpener printer(inv.io.out);
    XdgOpener xdg(inv.io.out);
    UrlOpener& opener = printOnly ? static_cast<UrlOpener&>(printer) : xdg;
    const auto reports = LaunchSelectedDevices(inv.env.context(), list, opener);
    int status = kExitOk;
    for (const LaunchReport& report : reports) {
        if (const char* problem = launchProblem(report.outcome)) {
            inv.io.err << "korvane open: " << report.target.serialText << ": " << problem << "\n";
            status = kExitFailure;
        }
    }
    return status;
}

} // namespace korvane::cli

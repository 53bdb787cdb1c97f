// Wall time of one search over one adapter that finds 256 new devices
// (korvane-devsim over a veth pair between two network namespaces), beside
// two floors measured in the same run:
// - the protocol's own pace: the settle after opening the adapter, the
//   discovery window, and the two queries per device that read its LAN
//   address (password check and settings read) one after another, each one
//   query with the default timing (its 5 ms pause after the send included);
// - the reference of raw round trips: settle, window and 512 bare request
//   round trips (no pause). The search reads the addresses of up to 16
//   devices at a time, so it can beat the first; target: within 1.2 x the
//   reference.
// The same searches then run through korvane-relay on the same pair; target:
// their median within 5 % of the direct one's.
//
// Then the same search over 1, 16 and 64 adapters (the devices behind one of
// them, the others veth ends whose peers answer nothing): its wall time and
// the program's peak resident memory for each. Every adapter is searched at
// once, so the time should hardly grow with their number.
//
// Needs root: it creates and removes its own namespaces and veth pairs, and
// starts itself inside one of them in the measuring roles.
//
//   search_bench [--runs N] [--devsim PATH]

#include "base/sync.hpp"
#include "bench_driver.hpp"
#include "devices/search.hpp"
#include "netns/netns_harness.hpp"
#include "protocol/context.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr int kDevices = 256;
constexpr int kQueriesPerDevice = 2;
constexpr int kRoundTripSamples = 200;
constexpr long kDefaultRuns = 3;
constexpr double kReferenceRatio = 1.20;
constexpr double kRelayRatio = 1.05;
constexpr int kAdapterCounts[] = {1, 16, 64};
constexpr MacAddress kFirstDevice{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}};

std::string devsimPath(const std::string& given) {
    if (!given.empty())
        return given;
    if (const char* path = std::getenv("KORVANE_DEVSIM"); path != nullptr && *path != '\0')
        return path;
#ifdef KORVANE_DEVSIM
    return KORVANE_DEVSIM;
#else
    return {};
#endif
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The measuring role, inside the namespace of end a: `runs` searches from a
// fresh context each (every device new), then the round trip of one query
// with the default timing. Prints key=value lines.
int measure(const std::string& interface, long runs, const std::string& relay) {
    std::vector<double> walls;
    for (long run = 0; run < runs; ++run) {
        const auto driver = bench::MakeBenchDriver(relay);
        Context ctx(*driver, Timing::defaults());
        if (ctx.enumerateAdapters({interface}) != 1) {
            std::fprintf(stderr, "cannot find %s\n", interface.c_str());
            return 1;
        }
        StopToken stop;
        const auto start = Clock::now();
        const auto result = RunSearchCycle(ctx, {}, stop);
        walls.push_back(seconds(Clock::now() - start));
        if (!result || result->rows.size() != kDevices) {
            std::fprintf(stderr, "run %ld: %zu devices found, not %d\n", run,
                         result ? result->rows.size() : 0, kDevices);
            return 1;
        }
        const auto unanswered =
            std::count_if(result->rows.begin(), result->rows.end(),
                          [](const DisplayRow& row) { return row.addressText == "0.0.0.0"; });
        if (unanswered != 0) {
            std::fprintf(stderr, "run %ld: %ld devices without a LAN address\n", run,
                         static_cast<long>(unanswered));
            return 1;
        }
    }

    const auto driver = bench::MakeBenchDriver(relay);
    Context ctx(*driver, Timing::defaults());
    if (ctx.enumerateAdapters({interface}) != 1 || !ctx.openAdapter(0)) {
        std::fprintf(stderr, "cannot open %s\n", interface.c_str());
        return 1;
    }
    std::vector<double> trips;
    for (int i = 0; i < kRoundTripSamples; ++i) {
        const auto start = Clock::now();
        const auto status =
            QueryDevice(ctx, kFirstDevice, code::kCheckPassword, code::kPasswordReply, "", 0, {});
        trips.push_back(seconds(Clock::now() - start));
        if (status != status::kDone) {
            std::fprintf(stderr, "round trip %d: status %u\n", i, status);
            return 1;
        }
    }
    // Bare round trips: the request, then the reply taken as soon as it is there.
    const MacAddress own = ctx.link.ownAddress();
    std::array<std::uint8_t, kEthernetMaxPayload> frame{};
    std::vector<double> raw;
    for (int i = 0; i < kRoundTripSamples; ++i) {
        const auto start = Clock::now();
        SendRequest(ctx.link, kFirstDevice, code::kCheckPassword, code::kPasswordReply, "", 0, {},
                    0);
        const auto deadline = Clock::now() + ctx.timing.queryWindow;
        bool reply = false;
        while (!reply && ctx.link.waitForFrame(deadline)) {
            std::size_t length = 0;
            while (ctx.link.read(frame, length))
                reply = reply || MatchReply({frame.data(), length}, own, kFirstDevice,
                                            code::kPasswordReply) == ReplyMatch::Reply;
        }
        if (!reply) {
            std::fprintf(stderr, "raw round trip %d: no reply\n", i);
            return 1;
        }
        raw.push_back(seconds(Clock::now() - start));
    }
    double rawMean = 0;
    for (double t : raw)
        rawMean += t;
    rawMean /= static_cast<double>(raw.size());

    std::sort(walls.begin(), walls.end());
    double mean = 0;
    for (double t : trips)
        mean += t;
    mean /= static_cast<double>(trips.size());
    std::sort(trips.begin(), trips.end());

    std::printf("runs=%zu wall_min_s=%.4f wall_median_s=%.4f wall_max_s=%.4f\n", walls.size(),
                walls.front(), walls[walls.size() / 2], walls.back());
    std::printf("trip_mean_s=%.6f trip_median_s=%.6f raw_trip_mean_s=%.7f\n", mean,
                trips[trips.size() / 2], rawMean);
    return 0;
}

// The adapters role, inside the namespace of end a: one search over every
// adapter there. Prints its wall time and the process's peak resident memory.
int measureAdapters() {
    PcapDriver driver;
    Context ctx(driver, Timing::defaults());
    ctx.link.setDiagnosticSink(nullptr);
    const int adapters = ctx.enumerateAdapters();
    StopToken stop;
    const auto start = Clock::now();
    const auto result = RunSearchCycle(ctx, {}, stop);
    const double wall = seconds(Clock::now() - start);
    if (!result || result->rows.size() != kDevices || result->adaptersOpened != adapters) {
        std::fprintf(stderr, "%d adapters: %zu devices found, %d adapters searched\n", adapters,
                     result ? result->rows.size() : 0, result ? result->adaptersOpened : 0);
        return 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("adapters=%d wall_s=%.4f peak_kib=%ld\n", adapters, wall, usage.ru_maxrss);
    return 0;
}

std::map<std::string, std::string> fields(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        if (const auto eq = word.find('='); eq != std::string::npos)
            out[word.substr(0, eq)] = word.substr(eq + 1);
    return out;
}

int orchestrate(long runs, const std::string& devsim) {
    if (const auto reason = unavailableReason()) {
        std::fprintf(stderr, "search_bench: %s\n", reason->c_str());
        return 1;
    }
    if (devsim.empty()) {
        std::fprintf(stderr, "search_bench: korvane-devsim is not built (give --devsim PATH)\n");
        return 1;
    }
    std::string error;
    auto pair = VethPair::create(&error);
    if (!pair) {
        std::fprintf(stderr, "search_bench: %s\n", error.c_str());
        return 1;
    }
    auto emulator = VethPair::spawnIn(
        pair->b(),
        {devsim, "--interface", pair->b().interface, "--devices", std::to_string(kDevices)},
        &error);
    if (!emulator || !emulator->waitForLine("ready", Clock::now() + std::chrono::seconds(15))) {
        std::fprintf(stderr, "search_bench: korvane-devsim did not start: %s%s\n", error.c_str(),
                     emulator ? emulator->errText().c_str() : "");
        return 1;
    }
    const RunResult run = VethPair::runIn(pair->a(),
                                          {selfPath(), "--role", "measure", "--interface",
                                           pair->a().interface, "--runs", std::to_string(runs)},
                                          std::chrono::seconds(600));
    const std::string relay = bench::BuiltRelay();
    RunResult relayed;
    if (!relay.empty())
        relayed =
            VethPair::runIn(pair->a(),
                            {selfPath(), "--role", "measure", "--interface", pair->a().interface,
                             "--runs", std::to_string(runs), "--relay", relay},
                            std::chrono::seconds(600));
    if (run.status != 0) {
        std::fprintf(stderr, "search_bench: the measurement failed:\n%s", run.err.c_str());
        return 1;
    }
    // More adapters beside the emulator's: veth ends whose peers sit in the
    // emulator's namespace, where nothing listens on them.
    std::vector<std::map<std::string, std::string>> perCount;
    int adapters = 1;
    for (const int count : kAdapterCounts) {
        if (!pair->addExtraPairs(pair->a(), count - adapters, &pair->b(), &error)) {
            std::fprintf(stderr, "search_bench: %s\n", error.c_str());
            return 1;
        }
        adapters = count;
        const RunResult many = VethPair::runIn(pair->a(), {selfPath(), "--role", "adapters"},
                                               std::chrono::seconds(120));
        if (many.status != 0) {
            std::fprintf(stderr, "search_bench: the search over %d adapters failed:\n%s", count,
                         many.err.c_str());
            return 1;
        }
        perCount.push_back(fields(many.out));
    }
    emulator->terminate(Clock::now() + std::chrono::seconds(10));
    const auto f = fields(run.out);
    const Timing& t = Timing::defaults();
    const double settle = seconds(t.settleAfterOpen);
    const double window = seconds(t.discoveryWindow);
    const double trip = std::stod(f.at("trip_mean_s"));
    const int queries = kDevices * kQueriesPerDevice;
    const double floor = settle + window + queries * trip;
    const double rawTrip = std::stod(f.at("raw_trip_mean_s"));
    const double reference = settle + window + queries * rawTrip;
    const double median = std::stod(f.at("wall_median_s"));
    const double ratio = median / reference;
    const bool met = ratio <= kReferenceRatio;

    std::printf("search_bench: one search over one adapter, %d new devices (korvane-devsim over a "
                "veth pair), LAN addresses read for %d devices at a time\n",
                kDevices, kConcurrentAddressReads);
    std::printf("  wall        %s runs: min %.3f s, median %.3f s, max %.3f s\n",
                f.at("runs").c_str(), std::stod(f.at("wall_min_s")), median,
                std::stod(f.at("wall_max_s")));
    std::printf("  round trip  one query with the default timing: mean %.2f ms, median %.2f ms; "
                "bare: mean %.1f us\n",
                trip * 1e3, std::stod(f.at("trip_median_s")) * 1e3, rawTrip * 1e6);
    std::printf("  floor       %.3f s = %.0f ms settle + %.0f ms window + %d x %.2f ms (one query "
                "after another)\n",
                floor, settle * 1e3, window * 1e3, queries, trip * 1e3);
    std::printf("  reference   %.3f s = %.0f ms settle + %.0f ms window + %d x %.1f us bare "
                "round trip\n",
                reference, settle * 1e3, window * 1e3, queries, rawTrip * 1e6);
    std::printf("  median      %+.1f %% of the floor; %.3f x the reference (target within %.2f "
                "x: %s)\n",
                (median / floor - 1.0) * 100, ratio, kReferenceRatio, met ? "met" : "MISSED");
    bool relayMet = true;
    if (!relay.empty()) {
        if (relayed.status != 0) {
            std::printf("  relay       the searches through the relay failed:\n%s",
                        relayed.err.c_str());
            return 1;
        }
        const auto r = fields(relayed.out);
        const double relayMedian = std::stod(r.at("wall_median_s"));
        relayMet = relayMedian <= median * kRelayRatio;
        std::printf("  relay       through korvane-relay, %s runs: min %.3f s, median %.3f s, max "
                    "%.3f s\n",
                    r.at("runs").c_str(), std::stod(r.at("wall_min_s")), relayMedian,
                    std::stod(r.at("wall_max_s")));
        std::printf("              %+.1f %% against the direct median (target within %+.0f %%: "
                    "%s); bare round trip %.1f us\n",
                    (relayMedian / median - 1.0) * 100, (kRelayRatio - 1.0) * 100,
                    relayMet ? "met" : "MISSED", std::stod(r.at("raw_trip_mean_s")) * 1e6);
    }
    std::printf("  adapters    one search, %d devices behind one adapter, every adapter at "
                "once:\n",
                kDevices);
    for (const auto& f2 : perCount)
        std::printf("              %3s adapters: %.3f s, peak resident %.1f MiB\n",
                    f2.at("adapters").c_str(), std::stod(f2.at("wall_s")),
                    std::stod(f2.at("peak_kib")) / 1024.0);
    return met && relayMet ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string role;
    std::string interface;
    std::string devsim;
    std::string relay;
    long runs = kDefaultRuns;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--role") {
            role = value;
        } else if (arg == "--interface") {
            interface = value;
        } else if (arg == "--runs") {
            runs = std::strtol(value.c_str(), nullptr, 10);
        } else if (arg == "--devsim") {
            devsim = value;
        } else if (arg == "--relay") {
            relay = value;
        } else {
            runs = 0;
            break;
        }
    }
    if (argc % 2 == 0 || runs <= 0) {
        std::fprintf(stderr, "usage: search_bench [--runs N] [--devsim PATH]\n");
        return 2;
    }
    if (role == "measure")
        return measure(interface, runs, relay);
    if (role == "adapters")
        return measureAdapters();
    return orchestrate(runs, devsimPath(devsim));
}

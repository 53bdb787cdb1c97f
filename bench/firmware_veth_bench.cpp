// Upgrade time of a 1 MiB image for one unit and for eight units at once,
// under each pacing, against korvane-devsim over a veth pair between two
// network namespaces, on the default timing; and the peak memory of one- and
// eight-unit runs of a 16 MiB image.
//
// Shared pacing (the default) is printed beside its floor: 1024 blocks x
// (4 ms send pause + round trip) for one unit, and eight times that for eight
// units (the send lock keeps the units' pauses one after another); target
// within 5 % of it. Per-device pacing lets the units overlap: target, eight
// units within 1.15 x one unit's time in the same run. Memory: the units share
// one copy of the image, so eight units may take at most 16 MiB more than one
// (each unit's own copy would add the image's size per unit). The memory runs
// leave out the send pause, which only makes them slower. Eight units under
// each pacing then run through korvane-relay: target within 5 % of the same
// run's direct time.
//
// Needs root: it creates and removes its own namespaces and veth pair, and
// starts itself inside one of them in the measuring role.
//
//   firmware_veth_bench [--devsim PATH]

#include "base/byte_cursor.hpp"
#include "base/operator.hpp"
#include "bench_driver.hpp"
#include "firmware/upgrade.hpp"
#include "netns/netns_harness.hpp"
#include "protocol/discovery.hpp"
#include "protocol/frame.hpp"
#include "protocol/transactions.hpp"
#include "wire_fields.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr std::size_t kImageLength = 1024 * 1024;
constexpr std::size_t kLargeImageLength = 16 * 1024 * 1024;
constexpr int kRoundTrips = 200;
constexpr int kMaxUnits = 8;
constexpr double kSharedTolerance = 0.05;
constexpr double kPerDeviceRatio = 1.15;
constexpr double kMemoryAllowanceMiB = 16;
constexpr double kRelayTolerance = 0.05;

const char* pacingName(CommandPacing pacing) {
    return pacing == CommandPacing::Shared ? "shared" : "per-device";
}

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

class QuietOperator : public Operator {
  public:
    std::optional<std::string> askPassword(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    Answer ask(const Question& question) override {
        // Yes to every question; a refused block ends the unit.
        return question.buttons == QuestionButtons::AbortRetryIgnore
                   ? Answer::Abort
                   : YesNoAnswer(question.buttons, true);
    }
    void showMessage(const std::string& text, MessageIcon) override {
        std::fprintf(stderr, "firmware_veth_bench: %s\n", text.c_str());
    }
};

// A patterned image with a valid factory block and the emulated devices'
// boot version 1.2, compatibility code 3.
std::filesystem::path writeImage(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto block =
        std::span<std::uint8_t>(image).subspan(kImageFactoryBlockOffset, kImageFactoryBlockSize);
    std::fill(block.begin(), block.end(), std::uint8_t{0});
    writeU32(block, 0, BlockChecksum(block));
    const char boot[] = {'1', '2', 'x', '3'};
    std::copy(std::begin(boot), std::end(boot), image.begin() + kImageBootWordOffset);
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvane-firmware-veth-bench-" + std::to_string(::getpid()) + "-" +
                       std::to_string(length) + ".bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return path;
}

// The measuring role, inside the namespace of end a: the round trip of a
// password check without the query's pause, then one upgrade of `units`
// devices under `pacing` (without the send pause when `noPause`). Prints
// key=value lines, with the process's peak resident memory.
int measure(const std::string& interface, int units, const std::string& image, CommandPacing pacing,
            bool noPause, const std::string& relay) {
    const auto driver = bench::MakeBenchDriver(relay);
    Timing timing = Timing::defaults();
    if (noPause)
        timing.commandSendPause = Micros(0);
    Context ctx(*driver, timing);
    ctx.link.setDiagnosticSink(nullptr);
    if (ctx.enumerateAdapters({interface}) != 1 || !ctx.openAdapter(0)) {
        std::fprintf(stderr, "cannot open %s\n", interface.c_str());
        return 1;
    }
    std::vector<DeviceIdentity> records(kDiscoveryCapacity);
    const int found = DiscoverDevices(ctx, records, 0);
    if (found < units) {
        std::fprintf(stderr, "%d devices found, %d needed\n", found, units);
        return 1;
    }
    records.resize(static_cast<std::size_t>(found));
    std::sort(records.begin(), records.end(),
              [](const DeviceIdentity& a, const DeviceIdentity& b) { return a.mac() < b.mac(); });
    records.resize(static_cast<std::size_t>(units));

    const MacAddress first = records.front().mac();
    const MacAddress own = ctx.link.ownAddress();
    std::array<std::uint8_t, kEthernetMaxPayload> frame{};
    int answered = 0;
    const auto probeStart = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        SendRequest(ctx.link, first, code::kCheckPassword, code::kPasswordReply, "", 0, {}, 0);
        const auto deadline = Clock::now() + ctx.timing.queryWindow;
        bool reply = false;
        while (!reply && ctx.link.waitForFrame(deadline)) {
            std::size_t length = 0;
            while (ctx.link.read(frame, length))
                reply = reply || MatchReply({frame.data(), length}, own, first,
                                            code::kPasswordReply) == ReplyMatch::Reply;
        }
        answered += reply ? 1 : 0;
    }
    const double trip = seconds(Clock::now() - probeStart) / kRoundTrips;

    std::vector<DeviceIdentity*> pointers;
    for (auto& record : records)
        pointers.push_back(&record);
    QuietOperator op;
    FirmwareUpgrade session(ctx, op, pointers, UnitPasswordGate(ctx, op));
    session.setPacing(pacing);
    const auto start = Clock::now();
    const auto summary = session.downloadAllUnits([&] { return image; });
    const double elapsed = seconds(Clock::now() - start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("units=%d elapsed_s=%.4f failures=%d trip_s=%.7f answered=%d maxrss_kib=%ld\n",
                units, elapsed, summary ? summary->failures : units, trip, answered,
                usage.ru_maxrss);
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

struct Measurement {
    int units = 1;
    CommandPacing pacing = CommandPacing::Shared;
    bool large = false; // the memory runs: 16 MiB image, no send pause
    bool relay = false; // through korvane-relay
    std::map<std::string, std::string> figures;

    double number(const char* key) const { return std::stod(figures.at(key)); }
};

int orchestrate(const std::string& devsim) {
    if (const auto reason = unavailableReason()) {
        std::fprintf(stderr, "firmware_veth_bench: %s\n", reason->c_str());
        return 1;
    }
    if (devsim.empty()) {
        std::fprintf(stderr,
                     "firmware_veth_bench: korvane-devsim is not built (give --devsim PATH)\n");
        return 1;
    }
    std::string error;
    auto pair = VethPair::create(&error);
    if (!pair) {
        std::fprintf(stderr, "firmware_veth_bench: %s\n", error.c_str());
        return 1;
    }
    // The completion notice follows at once: the figures are the transfer's.
    auto emulator = VethPair::spawnIn(pair->b(),
                                      {devsim, "--interface", pair->b().interface, "--devices",
                                       std::to_string(kMaxUnits), "--programming-delay", "1"},
                                      &error);
    if (!emulator || !emulator->waitForLine("ready", Clock::now() + std::chrono::seconds(15))) {
        std::fprintf(stderr, "firmware_veth_bench: korvane-devsim did not start: %s%s\n",
                     error.c_str(), emulator ? emulator->errText().c_str() : "");
        return 1;
    }
    const auto image = writeImage(kImageLength);
    const auto largeImage = writeImage(kLargeImageLength);
    std::vector<Measurement> runs;
    for (CommandPacing pacing : {CommandPacing::Shared, CommandPacing::PerDevice})
        for (int units : {1, kMaxUnits})
            runs.push_back({units, pacing, false, false, {}});
    for (int units : {1, kMaxUnits})
        runs.push_back({units, CommandPacing::PerDevice, true, false, {}});
    const std::string relay = bench::BuiltRelay();
    if (!relay.empty())
        for (CommandPacing pacing : {CommandPacing::Shared, CommandPacing::PerDevice})
            runs.push_back({kMaxUnits, pacing, false, true, {}});
    bool ok = true;
    for (Measurement& m : runs) {
        std::vector<std::string> argv{selfPath(),
                                      "--role",
                                      "measure",
                                      "--interface",
                                      pair->a().interface,
                                      "--units",
                                      std::to_string(m.units),
                                      "--image",
                                      (m.large ? largeImage : image).string(),
                                      "--pacing",
                                      pacingName(m.pacing),
                                      "--no-pause",
                                      m.large ? "1" : "0"};
        if (m.relay)
            argv.insert(argv.end(), {"--relay", relay});
        const RunResult run = VethPair::runIn(pair->a(), argv, std::chrono::seconds(600));
        if (run.status != 0) {
            std::fprintf(stderr, "firmware_veth_bench: the measurement of %d (%s) failed:\n%s",
                         m.units, pacingName(m.pacing), run.err.c_str());
            ok = false;
            break;
        }
        m.figures = fields(run.out);
    }
    emulator->terminate(Clock::now() + std::chrono::seconds(10));
    std::error_code ec;
    std::filesystem::remove(image, ec);
    std::filesystem::remove(largeImage, ec);
    if (!ok)
        return 1;

    const double pause = seconds(Timing::defaults().commandSendPause);
    const double blocks = static_cast<double>(kImageLength / kFirmwareBlockSize);
    std::printf("firmware_veth_bench: 1 MiB image, %.0f blocks of 1024 bytes, korvane-devsim over "
                "a veth pair\n",
                blocks);
    int failures = 0;
    bool met = true;
    for (const Measurement& m : runs)
        failures += std::stoi(m.figures.at("failures"));

    std::printf("  shared pacing (the default): one 4 ms pause between any two commands\n");
    for (const Measurement& m : runs) {
        if (m.large || m.relay || m.pacing != CommandPacing::Shared)
            continue;
        const double trip = m.number("trip_s");
        const double floor = m.units * blocks * (pause + trip);
        const double elapsed = m.number("elapsed_s");
        const bool within = elapsed / floor - 1 <= kSharedTolerance;
        met = met && within;
        std::printf("    %d unit%s  %7.2f s  floor %6.2f s = %d x %.0f x (%.0f ms + %.1f us round "
                    "trip)  %+.1f %% (target within %.0f %%: %s), %s failed\n",
                    m.units, m.units == 1 ? " " : "s", elapsed, floor, m.units, blocks, pause * 1e3,
                    trip * 1e6, (elapsed / floor - 1) * 100, kSharedTolerance * 100,
                    within ? "met" : "MISSED", m.figures.at("failures").c_str());
    }

    std::printf("  per-device pacing: each unit keeps 4 ms between its own commands\n");
    double one = 0;
    for (const Measurement& m : runs) {
        if (m.large || m.relay || m.pacing != CommandPacing::PerDevice)
            continue;
        const double trip = m.number("trip_s");
        const double floor = blocks * (pause + trip);
        const double elapsed = m.number("elapsed_s");
        if (m.units == 1) {
            one = elapsed;
            std::printf("    1 unit   %7.2f s  floor %6.2f s = %.0f x (%.0f ms + %.1f us round "
                        "trip)  %+.1f %%, %s failed\n",
                        elapsed, floor, blocks, pause * 1e3, trip * 1e6,
                        (elapsed / floor - 1) * 100, m.figures.at("failures").c_str());
            continue;
        }
        const double ratio = one > 0 ? elapsed / one : 0;
        const bool within = ratio <= kPerDeviceRatio;
        met = met && within;
        std::printf("    %d units  %7.2f s  %.3f x one unit's time (target within %.2f x: %s), "
                    "%s failed\n",
                    m.units, elapsed, ratio, kPerDeviceRatio, within ? "met" : "MISSED",
                    m.figures.at("failures").c_str());
    }

    std::printf("  peak resident memory, %zu MiB image (per-device pacing, no send pause)\n",
                kLargeImageLength >> 20);
    double oneRss = 0;
    for (const Measurement& m : runs) {
        if (!m.large)
            continue;
        const double rss = m.number("maxrss_kib") / 1024;
        if (m.units == 1) {
            oneRss = rss;
            std::printf("    1 unit   %7.1f MiB  (%.2f s)\n", rss, m.number("elapsed_s"));
            continue;
        }
        const bool within = rss - oneRss <= kMemoryAllowanceMiB;
        met = met && within;
        std::printf("    %d units  %7.1f MiB  %+.1f MiB over one unit (target at most +%.0f MiB: "
                    "%s)  (%.2f s)\n",
                    m.units, rss, rss - oneRss, kMemoryAllowanceMiB, within ? "met" : "MISSED",
                    m.number("elapsed_s"));
    }

    if (!relay.empty())
        std::printf("  through korvane-relay: 8 units, against the direct run of each pacing\n");
    for (const Measurement& m : runs) {
        if (!m.relay)
            continue;
        const auto direct = std::find_if(runs.begin(), runs.end(), [&](const Measurement& d) {
            return !d.relay && !d.large && d.units == m.units && d.pacing == m.pacing;
        });
        const double elapsed = m.number("elapsed_s");
        const double change = elapsed / direct->number("elapsed_s") - 1;
        const bool within = change <= kRelayTolerance;
        met = met && within;
        std::printf("    %-10s  %7.2f s  direct %7.2f s  %+.1f %% (target within %.0f %%: %s), "
                    "%s failed\n",
                    pacingName(m.pacing), elapsed, direct->number("elapsed_s"), change * 100,
                    kRelayTolerance * 100, within ? "met" : "MISSED",
                    m.figures.at("failures").c_str());
    }
    return failures == 0 && met ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string role;
    std::string interface;
    std::string devsim;
    std::string image;
    int units = 1;
    CommandPacing pacing = CommandPacing::Shared;
    bool noPause = false;
    std::string relay;
    bool bad = argc % 2 == 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--role")
            role = value;
        else if (arg == "--interface")
            interface = value;
        else if (arg == "--units")
            units = static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
        else if (arg == "--image")
            image = value;
        else if (arg == "--devsim")
            devsim = value;
        else if (arg == "--pacing" && (value == "shared" || value == "per-device"))
            pacing = value == "shared" ? CommandPacing::Shared : CommandPacing::PerDevice;
        else if (arg == "--no-pause")
            noPause = value == "1";
        else if (arg == "--relay")
            relay = value;
        else
            bad = true;
    }
    if (bad || units < 1 || units > kMaxUnits) {
        std::fprintf(stderr, "usage: firmware_veth_bench [--devsim PATH]\n");
        return 2;
    }
    if (role == "measure")
        return measure(interface, units, image, pacing, noPause, relay);
    return orchestrate(devsimPath(devsim));
}

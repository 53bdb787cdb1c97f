// Receive throughput of the link over a veth pair between two network
// namespaces: a burst of minimum-size protocol frames with sequence numbers,
// sent as fast as one core can from one namespace, received through
// PcapDriver and AdapterLink in the other by a reader that drains the
// received-frame list. Prints what arrived, every kind of drop and the rate.
// The target is zero drops. The burst runs twice: received by libpcap
// directly, then through korvane-relay, as an unprivileged program gets it.
//
// Needs root: it creates and removes its own namespaces and veth pair. The
// program plays all three parts: run without --role it sets up the pair and
// starts itself inside the namespaces as sender and receiver.
//
//   receive_bench [--frames N]

#include "base/byte_cursor.hpp"
#include "bench_driver.hpp"
#include "link/adapter_link.hpp"
#include "link/pcap_driver.hpp"
#include "netns/netns_harness.hpp"
#include "protocol/frame.hpp"
#include "wire_fields.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr long kDefaultFrames = 100000;
constexpr std::uint16_t kBenchCode = 0x1002;
constexpr long kMaxTries = 1000000; // per frame, before the sender gives up
// After the sender is done, the receiver waits this long for stragglers.
constexpr auto kQuietPeriod = std::chrono::milliseconds(1000);
constexpr auto kDeadline = std::chrono::seconds(60);

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// "key=value key=value" into a map.
std::map<std::string, std::string> fields(const std::string& line) {
    std::map<std::string, std::string> out;
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        if (const auto eq = word.find('='); eq != std::string::npos)
            out[word.substr(0, eq)] = word.substr(eq + 1);
    return out;
}

// ---------------------------------------------------------------------------

int runSender(const std::string& interface, const MacAddress& to, long frames) {
    PcapDriver driver;
    OpenResult opened = driver.open(interface, OpenOptions{});
    if (!opened.port) {
        std::fprintf(stderr, "sender: cannot open %s: %s\n", interface.c_str(),
                     opened.error.c_str());
        return 1;
    }
    auto frame = buildTestFrame(to, opened.port->mac(), kProtocolEtherType, kBenchCode, 0);
    long retries = 0;
    const auto start = Clock::now();
    for (long i = 0; i < frames; ++i) {
        writeU32(frame, kSequenceOffset, static_cast<std::uint32_t>(i));
        // A full transmit queue refuses the frame; sending it again keeps the
        // sequence complete, so every drop counted below is a receive drop.
        for (long tries = 0; !opened.port->send(frame); ++tries, ++retries) {
            if (tries == kMaxTries) {
                std::fprintf(stderr, "sender: frame %ld refused %ld times\n", i, tries);
                return 1;
            }
        }
    }
    const double elapsed = seconds(Clock::now() - start);
    std::printf("sent=%ld seconds=%.6f retries=%ld\n", frames, elapsed, retries);
    return 0;
}

// ---------------------------------------------------------------------------

int runReceiver(const std::string& interface, long expected, const std::string& relay) {
    const auto driver = bench::MakeBenchDriver(relay);
    AdapterLink link(*driver);
    if (!link.open(interface)) {
        std::fprintf(stderr, "receiver: cannot open %s\n", interface.c_str());
        return 1;
    }
    // The reader keeps its tallies to itself and publishes the count after
    // each drained batch, so that it costs no more per frame than a
    // transaction taking its reply does.
    std::vector<bool> seen(static_cast<std::size_t>(expected), false);
    std::mutex mutex;
    std::condition_variable progress;
    std::atomic<long> published{0};
    long received = 0;
    long duplicates = 0;
    long outOfOrder = 0;
    long foreign = 0;
    Clock::time_point first{};
    Clock::time_point last{};
    std::atomic<bool> stopping{false};

    std::thread reader([&] {
        std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
        std::size_t length = 0;
        std::int64_t previous = -1;
        while (!stopping.load()) {
            if (!link.waitForFrame(Clock::now() + kQuietPeriod))
                continue;
            while (link.read(buffer, length)) {
                const std::span<const std::uint8_t> frame(buffer.data(), length);
                const auto number = ByteReader(frame, kSequenceOffset).u32();
                const std::int64_t sequence = number ? std::int64_t{*number} : expected;
                if (received++ == 0)
                    first = Clock::now();
                if (ByteReader(frame, 16).u16() != kBenchCode || sequence >= expected) {
                    ++foreign;
                    continue;
                }
                if (seen[static_cast<std::size_t>(sequence)])
                    ++duplicates;
                seen[static_cast<std::size_t>(sequence)] = true;
                if (sequence < previous)
                    ++outOfOrder;
                previous = sequence;
            }
            last = Clock::now();
            {
                std::lock_guard lock(mutex);
                published.store(received);
            }
            progress.notify_all();
        }
    });

    std::printf("ready\n");
    std::fflush(stdout);
    char c = 0;
    while (::read(0, &c, 1) > 0) {
    }
    // The sender is done: wait until everything is in or nothing more comes.
    {
        std::unique_lock lock(mutex);
        for (;;) {
            const long before = published.load();
            if (progress.wait_for(lock, kQuietPeriod, [&] { return published.load() >= expected; }))
                break;
            if (published.load() == before)
                break;
        }
    }
    const LinkCounters counters = link.counters();
    const std::uint64_t backend = link.droppedByBackend();
    stopping.store(true);
    link.close();
    reader.join(); // the tallies are the reader's until here

    const long distinct = static_cast<long>(std::count(seen.begin(), seen.end(), true));
    std::printf("received=%ld missing=%ld duplicates=%ld out_of_order=%ld foreign=%ld "
                "queued=%llu dropped_list=%llu dropped_length=%llu dropped_backend=%llu "
                "span_seconds=%.6f\n",
                received, expected - distinct, duplicates, outOfOrder, foreign,
                static_cast<unsigned long long>(counters.queued),
                static_cast<unsigned long long>(counters.droppedListFull),
                static_cast<unsigned long long>(counters.droppedBadLength),
                static_cast<unsigned long long>(backend), seconds(last - first));
    return 0;
}

// ---------------------------------------------------------------------------

std::uint64_t statistic(const VethEnd& end, const std::string& name) {
    const RunResult r =
        VethPair::runIn(end, {"cat", "/sys/class/net/" + end.interface + "/statistics/" + name});
    return std::strtoull(r.out.c_str(), nullptr, 10);
}

// One burst, received directly or (with `relay`) through the relay.
int burst(VethPair* pair, long frames, const std::string& relay) {
    const std::string self = selfPath();
    const std::string count = std::to_string(frames);
    std::string error;
    std::vector<std::string> receiverLine{
        self, "--role", "receive", "--interface", pair->b().interface, "--frames", count};
    if (!relay.empty())
        receiverLine.insert(receiverLine.end(), {"--relay", relay});
    auto receiver = VethPair::spawnIn(pair->b(), receiverLine, &error);
    if (!receiver || !receiver->waitForLine("ready", Clock::now() + kDeadline)) {
        std::fprintf(stderr, "receive_bench: receiver did not start: %s%s\n", error.c_str(),
                     receiver ? receiver->errText().c_str() : "");
        return 1;
    }
    const std::uint64_t txDroppedBefore = statistic(pair->a(), "tx_dropped");
    const std::uint64_t rxDroppedBefore = statistic(pair->b(), "rx_dropped");

    const RunResult sender =
        VethPair::runIn(pair->a(),
                        {self, "--role", "send", "--interface", pair->a().interface, "--to",
                         pair->b().mac.toString(), "--frames", count},
                        std::chrono::duration_cast<std::chrono::milliseconds>(kDeadline));
    const RunResult report = receiver->finish(Clock::now() + kDeadline);
    if (sender.status != 0 || report.status != 0) {
        std::fprintf(stderr, "receive_bench: a side failed:\n%s%s", sender.err.c_str(),
                     report.err.c_str());
        return 1;
    }
    const auto s = fields(sender.out);
    std::string reportLine;
    for (const auto& line : receiver->lines())
        if (line.starts_with("received="))
            reportLine = line;
    const auto r = fields(reportLine);
    const std::uint64_t txDropped = statistic(pair->a(), "tx_dropped") - txDroppedBefore;
    const std::uint64_t rxDropped = statistic(pair->b(), "rx_dropped") - rxDroppedBefore;

    const double sendSeconds = std::stod(s.at("seconds"));
    const double spanSeconds = std::stod(r.at("span_seconds"));
    const long received = std::stol(r.at("received"));
    const long missing = std::stol(r.at("missing"));
    std::printf("receive_bench: %ld frames of %zu bytes, EtherType 0x5152, over a veth pair, %s\n",
                frames, kMinimumFrame,
                relay.empty() ? "received by libpcap directly" : "through korvane-relay");
    std::printf("  sender      sent %s in %.3f s: %.0f frames/s (%s retries on a full queue)\n",
                s.at("sent").c_str(), sendSeconds, static_cast<double>(frames) / sendSeconds,
                s.at("retries").c_str());
    std::printf("  received    %ld frames; missing by sequence number %ld, duplicates %s, out "
                "of order %s, foreign %s\n",
                received, missing, r.at("duplicates").c_str(), r.at("out_of_order").c_str(),
                r.at("foreign").c_str());
    std::printf("  link        queued %s, dropped because the list was full %s, bad length %s\n",
                r.at("queued").c_str(), r.at("dropped_list").c_str(),
                r.at("dropped_length").c_str());
    std::printf("  backend     pcap_stats dropped %s\n", r.at("dropped_backend").c_str());
    std::printf("  kernel      veth tx_dropped %llu, rx_dropped %llu\n",
                static_cast<unsigned long long>(txDropped),
                static_cast<unsigned long long>(rxDropped));
    std::printf("  rate        %.0f frames/s received (first to last frame, %.3f s)\n",
                spanSeconds > 0 ? static_cast<double>(received) / spanSeconds : 0.0, spanSeconds);
    const bool clean = missing == 0 && r.at("dropped_list") == "0" &&
                       r.at("dropped_backend") == "0" && txDropped == 0 && rxDropped == 0;
    std::printf("  target      zero drops: %s\n", clean ? "met" : "MISSED");
    return clean ? 0 : 1;
}

int orchestrate(long frames) {
    if (const auto reason = unavailableReason()) {
        std::fprintf(stderr, "receive_bench: %s\n", reason->c_str());
        return 1;
    }
    std::string error;
    auto pair = VethPair::create(&error);
    if (!pair) {
        std::fprintf(stderr, "receive_bench: %s\n", error.c_str());
        return 1;
    }
    const int direct = burst(pair.get(), frames, {});
    const std::string relay = bench::BuiltRelay();
    const int relayed = relay.empty() ? 0 : burst(pair.get(), frames, relay);
    return direct == 0 && relayed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string role;
    std::string interface;
    std::optional<MacAddress> to;
    std::string relay;
    long frames = kDefaultFrames;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--role") {
            role = value;
        } else if (arg == "--interface") {
            interface = value;
        } else if (arg == "--to") {
            to = MacAddress::parse(value);
        } else if (arg == "--frames") {
            frames = std::strtol(value.c_str(), nullptr, 10);
        } else if (arg == "--relay") {
            relay = value;
        } else {
            std::fprintf(stderr, "usage: receive_bench [--frames N]\n");
            return 2;
        }
    }
    if (argc % 2 == 0 || frames <= 0) {
        std::fprintf(stderr, "usage: receive_bench [--frames N]\n");
        return 2;
    }
    if (role == "send" && to)
        return runSender(interface, *to, frames);
    if (role == "receive")
        return runReceiver(interface, frames, relay);
    return orchestrate(frames);
}

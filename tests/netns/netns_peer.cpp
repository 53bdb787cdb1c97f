// The two sides of the link tests, each run inside a namespace with
// `ip netns exec`:
//
//   korvane_netns_peer send --interface IF --to MAC [--frame FRAME]... [--burst N]
//       puts raw frames on IF through the packet driver, without any filter.
//       FRAME is ETHERTYPE:CODE:SEQ (hex or decimal), or vlan:CODE:SEQ for a
//       protocol frame behind an 802.1Q tag. --burst N sends N protocol frames
//       with sequence numbers 0..N-1 after the listed ones. Prints "sent N".
//
//   korvane_netns_peer flood --interface IF --to MAC --count N [--devices N]
//       puts N junk frames of EtherType 0x5152 on IF as fast as it can, from
//       a fixed seed: random lengths (14 to 1514) and bytes; a share shaped
//       like discovery replies that are malformed (too short, identity MAC
//       zero or a group address), addressed to another station, or a
//       device's identity again from a foreign source; and replies from the
//       devices' own MACs (korvane-devsim's first N) with random codes and
//       statuses. Prints "flooded N SECONDS".
//
//   korvane_netns_peer listen --interface IF
//       opens IF on an AdapterLink, as the utility does, and reports on
//       standard output: "ready MAC" once open, "frame ..." for every frame a
//       reader takes from the received-frame list, "notice MAC" from the
//       notice callback, "notice-event" when a waiter on the NoticeEvent
//       wakes. When standard input closes it prints "counters ..." and ends.

#include "base/byte_cursor.hpp"
#include "link/adapter_link.hpp"
#include "link/pcap_driver.hpp"
#include "netns/netns_harness.hpp"
#include "wire_fields.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace korvane;

namespace {

constexpr auto kWakeInterval = std::chrono::seconds(1);

struct Options {
    std::string interface;
    std::optional<MacAddress> to;
    std::vector<std::string> frames;
    long burst = 0;
    long count = 0;
    long devices = 0;
};

int usage() {
    std::fputs("usage: korvane_netns_peer send --interface IF --to MAC [--frame FRAME]... "
               "[--burst N]\n       korvane_netns_peer listen --interface IF\n",
               stderr);
    return 2;
}

std::optional<unsigned long> number(const std::string& text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0')
        return std::nullopt;
    return value;
}

std::optional<std::vector<std::uint8_t>>
frameFromText(const std::string& text, const MacAddress& to, const MacAddress& from) {
    const auto first = text.find(':');
    const auto second = text.find(':', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos)
        return std::nullopt;
    const std::string type = text.substr(0, first);
    const auto code = number(text.substr(first + 1, second - first - 1));
    const auto sequence = number(text.substr(second + 1));
    if (!code || !sequence)
        return std::nullopt;
    if (type == "vlan")
        return netns::buildTestFrame(to, from, 0x5152, static_cast<std::uint16_t>(*code),
                                     static_cast<std::uint32_t>(*sequence), netns::kMinimumFrame,
                                     true);
    const auto etherType = number(type);
    if (!etherType)
        return std::nullopt;
    return netns::buildTestFrame(to, from, static_cast<std::uint16_t>(*etherType),
                                 static_cast<std::uint16_t>(*code),
                                 static_cast<std::uint32_t>(*sequence));
}

int send(const Options& options) {
    if (!options.to)
        return usage();
    PcapDriver driver;
    OpenResult opened = driver.open(options.interface, OpenOptions{});
    if (!opened.port) {
        std::fprintf(stderr, "cannot open %s: %s\n", options.interface.c_str(),
                     opened.error.c_str());
        return 1;
    }
    const MacAddress from = opened.port->mac();
    long sent = 0;
    for (const auto& text : options.frames) {
        const auto frame = frameFromText(text, *options.to, from);
        if (!frame) {
            std::fprintf(stderr, "bad frame text '%s'\n", text.c_str());
            return 2;
        }
        if (!opened.port->send(*frame)) {
            std::fprintf(stderr, "send failed\n");
            return 1;
        }
        ++sent;
    }
    auto frame = netns::buildTestFrame(*options.to, from, 0x5152, 0x1002, 0);
    for (long i = 0; i < options.burst; ++i) {
        writeU32(frame, netns::kSequenceOffset, static_cast<std::uint32_t>(i));
        if (!opened.port->send(frame)) {
            std::fprintf(stderr, "send failed at %ld\n", i);
            return 1;
        }
        ++sent;
    }
    std::printf("sent %ld\n", sent);
    return 0;
}

// korvane-devsim's device n (from 0): 02-19-A7 and 1 + n in the last three bytes.
MacAddress devsimMac(std::uint32_t n) {
    const std::uint32_t low = 1 + n;
    return MacAddress{{0x02, 0x19, 0xA7, static_cast<std::uint8_t>(low >> 16),
                       static_cast<std::uint8_t>(low >> 8), static_cast<std::uint8_t>(low)}};
}

int flood(const Options& options) {
    if (!options.to || options.count <= 0)
        return usage();
    PcapDriver driver;
    OpenResult opened = driver.open(options.interface, OpenOptions{});
    if (!opened.port) {
        std::fprintf(stderr, "cannot open %s: %s\n", options.interface.c_str(),
                     opened.error.c_str());
        return 1;
    }
    const MacAddress own = opened.port->mac();
    const MacAddress to = *options.to;
    const MacAddress otherStation{{0x02, 0x6B, 0x76, 0xEE, 0xEE, 0xEE}};
    std::mt19937 random(0x5152);
    auto pick = [&](std::uint32_t from, std::uint32_t upTo) {
        return std::uniform_int_distribution<std::uint32_t>(from, upTo)(random);
    };
    std::vector<std::uint8_t> frame;
    frame.reserve(1514);
    auto head = [&](const MacAddress& dst, const MacAddress& src, std::uint16_t code,
                    std::size_t length) {
        frame.assign(length, 0);
        std::copy(dst.bytes.begin(), dst.bytes.end(), frame.begin());
        std::copy(src.bytes.begin(), src.bytes.end(), frame.begin() + 6);
        // A frame that ends inside its head keeps the fields that fit.
        ByteWriter w(frame, 12);
        w.u16(0x5152) && w.u16(1) && w.u16(code);
    };
    auto identityMac = [&](const MacAddress& mac) {
        std::copy(mac.bytes.begin(), mac.bytes.end(), frame.begin() + 44);
    };
    const auto start = std::chrono::steady_clock::now();
    long sent = 0;
    for (long i = 0; i < options.count; ++i) {
        const std::uint32_t kind = pick(0, 9);
        if (kind < 4) { // junk: random length and bytes under our EtherType
            frame.resize(pick(14, 1514));
            for (auto& b : frame)
                b = static_cast<std::uint8_t>(pick(0, 255));
            std::copy(to.bytes.begin(), to.bytes.end(), frame.begin());
            writeU16(frame, 12, 0x5152);
        } else if (kind == 4) { // discovery reply that ends before the identity
            head(to, otherStation, 0x1002, pick(14, 99));
        } else if (kind == 5) { // identity MAC zero, multicast or broadcast
            head(to, otherStation, 0x1002, pick(100, 1514));
            const std::uint32_t which = pick(0, 2);
            identityMac(which == 0   ? MacAddress{}
                        : which == 1 ? MacAddress{{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}}
                                     : MacAddress::broadcast());
        } else if (kind == 6) { // a well-formed reply to another station
            head(otherStation, devsimMac(pick(1000, 2000)), 0x1002, 168);
            identityMac(devsimMac(pick(1000, 2000)));
        } else if (kind == 7 && options.devices > 0) {
            // A device's identity again, from a foreign source.
            head(to, otherStation, 0x1002, 168);
            identityMac(devsimMac(pick(0, static_cast<std::uint32_t>(options.devices) - 1)));
        } else { // replies from the devices' own MACs, random codes and statuses
            const MacAddress device =
                options.devices > 0
                    ? devsimMac(pick(0, static_cast<std::uint32_t>(options.devices) - 1))
                    : own;
            head(to, device, static_cast<std::uint16_t>(pick(0, 0xFFFF)), pick(14, 1514));
            if (frame.size() >= 22)
                writeU16(frame, 20, static_cast<std::uint16_t>(pick(0, 0xFFFF)));
            for (std::size_t b = 22; b < frame.size(); ++b)
                frame[b] = static_cast<std::uint8_t>(pick(0, 255));
        }
        // A full socket buffer refuses a frame now and then: the next one goes.
        if (opened.port->send(frame))
            ++sent;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("flooded %ld %.3f\n", sent, took.count());
    return 0;
}

class Reporter {
  public:
    void say(const std::string& line) {
        std::lock_guard lock(mutex_);
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

  private:
    std::mutex mutex_;
};

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
    return text;
}

int listen(const Options& options) {
    PcapDriver driver;
    AdapterLink link(driver);
    Reporter out;
    link.setNoticeReceiver(
        [&](const MacAddress& source) { out.say("notice " + source.toString()); });
    if (!link.open(options.interface)) {
        std::fprintf(stderr, "cannot open %s\n", options.interface.c_str());
        return 1;
    }
    std::atomic<bool> stopping{false};

    std::thread noticeWaiter([&] {
        while (!stopping.load()) {
            if (link.noticeEvent().waitUntil(SteadyClock::now() + kWakeInterval) &&
                !stopping.load())
                out.say("notice-event");
        }
    });
    std::thread reader([&] {
        std::array<std::uint8_t, kEthernetMaxPayload> buffer{};
        std::size_t length = 0;
        while (!stopping.load()) {
            if (!link.waitForFrame(SteadyClock::now() + kWakeInterval))
                continue;
            while (link.read(buffer, length)) {
                const std::span<const std::uint8_t> frame(buffer.data(), length);
                // A field the frame is too short for is said as 0 (a frame on
                // the wire always holds its two MACs).
                const auto u16At = [&](std::size_t at) {
                    return ByteReader(frame, at).u16().value_or(0);
                };
                const auto seq = ByteReader(frame, netns::kSequenceOffset).u32().value_or(0);
                out.say("frame type=" + hex4(u16At(12)) + " code=" + hex4(u16At(16)) +
                        " seq=" + std::to_string(seq) + " length=" + std::to_string(length) +
                        " src=" + macAt(frame, 6).toString() +
                        " dst=" + macAt(frame, 0).toString());
            }
        }
    });

    out.say("ready " + link.ownAddress().toString());
    char c = 0;
    while (::read(0, &c, 1) > 0) {
    }

    const LinkCounters counters = link.counters();
    out.say("counters queued=" + std::to_string(counters.queued) +
            " notices=" + std::to_string(counters.notices) +
            " notice_events=" + std::to_string(link.noticeEvent().setCount()) +
            " dropped_list=" + std::to_string(counters.droppedListFull) +
            " dropped_length=" + std::to_string(counters.droppedBadLength) +
            " dropped_backend=" + std::to_string(link.droppedByBackend()));
    stopping.store(true);
    link.noticeEvent().set();
    link.close();
    noticeWaiter.join();
    reader.join();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string mode = argv[1];
    Options options;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (arg == "--interface") {
            options.interface = value;
        } else if (arg == "--to") {
            options.to = MacAddress::parse(value);
            if (!options.to)
                return usage();
        } else if (arg == "--frame") {
            options.frames.push_back(value);
        } else if (arg == "--count" || arg == "--devices") {
            const auto n = number(value);
            if (!n)
                return usage();
            (arg == "--count" ? options.count : options.devices) = static_cast<long>(*n);
        } else if (arg == "--burst") {
            const auto n = number(value);
            if (!n)
                return usage();
            options.burst = static_cast<long>(*n);
        } else {
            return usage();
        }
    }
    if (options.interface.empty())
        return usage();
    if (mode == "send")
        return send(options);
    if (mode == "listen")
        return listen(options);
    if (mode == "flood")
        return flood(options);
    return usage();
}

// The two sides of the link tests, each run inside a namespace with
// `ip netns exec`:
//
//   korvane_netns_peer send --interface IF --to MAC [--frame FRAME]... [--burst N]
//       puts raw frames on IF through the packet driver, without any filter.
//       FRAME is ETHERTYPE:CODE:SEQ (hex or decimal), or vlan:CODE:SEQ for a
//       protocol frame behind an 802.1Q tag. --burst N sends N protocol frames
//       with sequence numbers 0..N-1 after the listed ones. Prints "sent N".
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

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
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
        std::array<std::uint8_t, kReaderBuffer> buffer{};
        std::size_t length = 0;
        while (!stopping.load()) {
            if (!link.waitForFrame(SteadyClock::now() + kWakeInterval))
                continue;
            while (link.read(buffer, length)) {
                const std::span<const std::uint8_t> frame(buffer.data(), length);
                out.say("frame type=" + hex4(readU16(frame, 12)) +
                        " code=" + hex4(readU16(frame, 16)) +
                        " seq=" + std::to_string(readU32(frame, netns::kSequenceOffset)) +
                        " length=" + std::to_string(length) +
                        " src=" + MacAddress::fromBytes(frame.subspan(6, 6)).toString() +
                        " dst=" + MacAddress::fromBytes(frame.subspan(0, 6)).toString());
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
    return usage();
}

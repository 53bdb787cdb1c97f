// The link over a real veth pair: PcapDriver and AdapterLink on one end (the
// listening peer in namespace b), raw frames from the other end (namespace a).

#include "netns/netns_harness.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using namespace korvane;
using namespace korvane::netns;

namespace {

// Only a failing run waits this long; a passing one never does.
constexpr auto kDeadline = std::chrono::seconds(15);

// The value of "key=value" in a peer's report line, empty when absent.
std::string field(const std::string& line, const std::string& key) {
    const auto at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return {};
    const auto begin = at + key.size() + 2;
    return line.substr(begin, line.find(' ', begin) - begin);
}

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : lines)
        if (line.starts_with(prefix))
            out.push_back(line);
    return out;
}

std::uint64_t rxPackets(const VethEnd& end) {
    const RunResult r =
        VethPair::runIn(end, {"cat", "/sys/class/net/" + end.interface + "/statistics/rx_packets"});
    return std::strtoull(r.out.c_str(), nullptr, 10);
}

class LinkOverVeth : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const auto reason = unavailableReason())
            GTEST_SKIP() << *reason;
        std::string error;
        pair_ = VethPair::create(&error);
        ASSERT_TRUE(pair_) << error;
    }

    void TearDown() override {
        listener_.reset(); // before the namespaces go
        pair_.reset();
    }

    // Starts the AdapterLink side on end b and waits until it is open.
    void startListener() {
        std::string error;
        listener_ = VethPair::spawnIn(
            pair_->b(), {KORVANE_NETNS_PEER, "listen", "--interface", pair_->b().interface},
            &error);
        ASSERT_TRUE(listener_) << error;
        const auto ready = listener_->waitForLine("ready ", Clock::now() + kDeadline);
        ASSERT_TRUE(ready) << "listener did not come up: " << listener_->errText();
        EXPECT_EQ(*ready, "ready " + pair_->b().mac.toString());
    }

    // Sends the frames from end a to end b's MAC.
    void send(const std::vector<std::string>& frames, long burst = 0) {
        std::vector<std::string> argv = {KORVANE_NETNS_PEER,   "send", "--interface",
                                         pair_->a().interface, "--to", pair_->b().mac.toString()};
        for (const auto& f : frames) {
            argv.push_back("--frame");
            argv.push_back(f);
        }
        if (burst > 0) {
            argv.push_back("--burst");
            argv.push_back(std::to_string(burst));
        }
        const RunResult r = VethPair::runIn(pair_->a(), argv);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out, "sent " + std::to_string(static_cast<long>(frames.size()) + burst) + "\n");
    }

    // Waits for the frame with this sequence number to be read from the list.
    void waitForFrame(std::uint32_t sequence) {
        for (;;) {
            const auto line = listener_->waitForLine("frame ", Clock::now() + kDeadline);
            ASSERT_TRUE(line) << "frame " << sequence << " never reached the list";
            if (field(*line, "seq") == std::to_string(sequence))
                return;
        }
    }

    // Ends the listener; its report lines.
    std::vector<std::string> stopListener() {
        const RunResult r = listener_->finish(Clock::now() + kDeadline);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.timedOut);
        return listener_->lines();
    }

    std::unique_ptr<VethPair> pair_;
    std::unique_ptr<Process> listener_;
};

TEST_F(LinkOverVeth, FramesOfOtherEtherTypesNeverReachTheList) {
    startListener();
    const std::uint64_t rxBefore = rxPackets(pair_->b());
    // IPv4, ARP, IPv6, our EtherType byte-swapped, its neighbour, and a
    // protocol frame hidden behind a VLAN tag (its outer EtherType is 0x8100).
    const std::vector<std::string> others = {"0x0800:0x1002:1", "0x0806:0x1002:2",
                                             "0x86DD:0x1002:3", "0x5251:0x1002:4",
                                             "0x5153:0x1002:5", "vlan:0x1002:6"};
    std::vector<std::string> frames = others;
    frames.push_back("0x5152:0x1002:100"); // the marker: once it is read, the others were seen
    send(frames);
    waitForFrame(100);
    const auto lines = stopListener();

    // They all crossed the pair; only the marker was queued.
    EXPECT_EQ(rxPackets(pair_->b()) - rxBefore, frames.size());
    const auto read = linesStartingWith(lines, "frame ");
    ASSERT_EQ(read.size(), 1u) << ::testing::PrintToString(read);
    EXPECT_EQ(field(read[0], "type"), "0x5152");
    const auto counters = linesStartingWith(lines, "counters ");
    ASSERT_EQ(counters.size(), 1u);
    EXPECT_EQ(field(counters[0], "queued"), "1");
}

TEST_F(LinkOverVeth, NoticeFrameIsSignalledOnceAndNotQueued) {
    startListener();
    send({"0x5152:0x4001:7", "0x5152:0x1002:8"});
    waitForFrame(8);
    ASSERT_TRUE(listener_->waitForLine("notice-event", Clock::now() + kDeadline));
    const auto lines = stopListener();

    const auto notices = linesStartingWith(lines, "notice ");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "notice " + pair_->a().mac.toString()); // the sender's MAC
    EXPECT_EQ(linesStartingWith(lines, "notice-event").size(), 1u);
    const auto read = linesStartingWith(lines, "frame ");
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(field(read[0], "seq"), "8");
    const auto counters = linesStartingWith(lines, "counters ");
    ASSERT_EQ(counters.size(), 1u);
    EXPECT_EQ(field(counters[0], "queued"), "1");
    EXPECT_EQ(field(counters[0], "notices"), "1");
    EXPECT_EQ(field(counters[0], "notice_events"), "1");
}

TEST_F(LinkOverVeth, ProtocolFramesArriveInOrderWithoutLoss) {
    constexpr long kFrames = 2000;
    startListener();
    send({}, kFrames);
    waitForFrame(kFrames - 1);
    const auto lines = stopListener();

    const auto read = linesStartingWith(lines, "frame ");
    ASSERT_EQ(read.size(), static_cast<std::size_t>(kFrames));
    for (long i = 0; i < kFrames; ++i) {
        ASSERT_EQ(field(read[static_cast<std::size_t>(i)], "seq"), std::to_string(i));
        ASSERT_EQ(field(read[static_cast<std::size_t>(i)], "length"),
                  std::to_string(kMinimumFrame));
    }
    const auto counters = linesStartingWith(lines, "counters ");
    ASSERT_EQ(counters.size(), 1u);
    EXPECT_EQ(field(counters[0], "dropped_list"), "0");
    EXPECT_EQ(field(counters[0], "dropped_backend"), "0");
}

// `korvane adapters --json` inside a namespace: the veth end and nothing else
// (lo is not an Ethernet adapter). --interface narrows the list by name.
TEST_F(LinkOverVeth, AdapterListingShowsOnlyTheVeth) {
    const VethEnd& b = pair_->b();
    struct Case {
        std::vector<std::string> global;
        bool listed;
    };
    const Case cases[] = {
        {{}, true},
        {{"--interface", b.interface}, true},
        {{"--interface", "lo"}, false},
        {{"--interface", "kvt-no-such"}, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {KORVANE_CLI};
        argv.insert(argv.end(), c.global.begin(), c.global.end());
        argv.insert(argv.end(), {"adapters", "--json"});
        const RunResult r = VethPair::runIn(b, argv);
        ASSERT_EQ(r.status, 0) << r.err;
        if (!c.listed) {
            EXPECT_EQ(r.out, "[]\n");
            continue;
        }
        const auto expected = nlohmann::ordered_json::array(
            {{{"index", 0},
              {"name", b.interface},
              {"description", b.interface + " (" + b.mac.toString() + ")"},
              {"mac", b.mac.toString()}}});
        EXPECT_EQ(nlohmann::ordered_json::parse(r.out), expected) << r.out;
    }
}

// A discovery with no device on the segment: the broadcast request goes out
// on the veth (seen by the peer on the other end) and nothing is found.
TEST_F(LinkOverVeth, DiscoverBroadcastsOnTheVethAndFindsNothing) {
    // The listener runs on end b; the utility on end a.
    startListener();
    const RunResult r = VethPair::runIn(
        pair_->a(), {KORVANE_CLI, "--interface", pair_->a().interface, "discover", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[]\n");
    const auto request = listener_->waitForLine("frame ", Clock::now() + kDeadline);
    ASSERT_TRUE(request);
    EXPECT_EQ(field(*request, "code"), "0x1001");
    EXPECT_EQ(field(*request, "src"), pair_->a().mac.toString());
    EXPECT_EQ(field(*request, "dst"), "FF-FF-FF-FF-FF-FF");
    EXPECT_EQ(field(*request, "length"), "41"); // the request's own length, unpadded
    const auto lines = stopListener();
    EXPECT_EQ(linesStartingWith(lines, "frame ").size(), 1u);
}

} // namespace

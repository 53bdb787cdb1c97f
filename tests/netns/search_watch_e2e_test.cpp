// `korvane search --watch 1 --json` against korvane-devsim over a veth pair:
// the link that goes down and comes back (or is deleted and made again) is
// searched again without a restart, and a flood of junk under the protocol's
// EtherType changes neither the devices listed nor the memory much.

#include "netns/devsim_pair_test.hpp"
#include "netns/netns_harness.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);
constexpr int kDevices = 8;

// The MACs listed by one line of `search --json --watch`; nullopt when the
// line is not a JSON array of objects.
std::optional<std::multiset<std::string>> listedMacs(const std::string& line) {
    const auto json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_array())
        return std::nullopt;
    std::multiset<std::string> macs;
    for (const auto& row : json) {
        if (!row.is_object() || !row.contains("mac") || !row["mac"].is_string())
            return std::nullopt;
        macs.insert(row["mac"].get<std::string>());
    }
    return macs;
}

std::multiset<std::string> devsimMacs() {
    std::multiset<std::string> macs;
    for (std::uint32_t n = 0; n < kDevices; ++n)
        macs.insert(
            MacAddress{{0x02, 0x19, 0xA7, 0, 0, static_cast<std::uint8_t>(1 + n)}}.toString());
    return macs;
}

class WatchOverVeth : public DevsimPairTest {
  protected:
    void SetUp() override {
        DevsimPairTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        startDevsim();
    }
    void TearDown() override {
        if (watch_)
            watch_->terminate(Clock::now() + kDeadline);
        devsim_.reset();
        pair_.reset();
    }

    void startDevsim() {
        std::string error;
        devsim_ = VethPair::spawnIn(pair_->b(),
                                    {devsimPath(), "--interface", pair_->b().interface, "--devices",
                                     std::to_string(kDevices)},
                                    &error);
        ASSERT_TRUE(devsim_) << error;
        ASSERT_TRUE(devsim_->waitForLine("ready", Clock::now() + kDeadline))
            << "korvane-devsim did not come up: " << devsim_->errText();
    }

    void startWatch() {
        std::string error;
        watch_ = VethPair::spawnIn(
            pair_->a(),
            {KORVANE_CLI, "--interface", pair_->a().interface, "search", "--watch", "1", "--json"},
            &error);
        ASSERT_TRUE(watch_) << error;
    }

    // The next search's line; fails the test when none comes or it is no JSON.
    std::multiset<std::string> nextSearch() {
        const auto line = watch_->waitForLine("[", Clock::now() + kDeadline);
        EXPECT_TRUE(line) << "no search line; stderr: " << watch_->errText();
        if (!line)
            return {};
        const auto macs = listedMacs(*line);
        EXPECT_TRUE(macs) << "not a JSON array: " << *line;
        return macs.value_or(std::multiset<std::string>{});
    }

    // Searches until one lists nothing (the link is seen gone), at most `tries`.
    bool seenEmpty(int tries) {
        for (int i = 0; i < tries; ++i)
            if (nextSearch().empty())
                return true;
        return false;
    }

    // Within three searches the eight are listed again.
    void expectBackWithinThreeSearches() {
        bool back = false;
        for (int i = 0; i < 3 && !back; ++i)
            back = nextSearch() == devsimMacs();
        EXPECT_TRUE(back) << "stderr: " << watch_->errText();
    }

    std::unique_ptr<Process> devsim_;
    std::unique_ptr<Process> watch_;
};

TEST_F(WatchOverVeth, TheLinkTakenDownAndUpIsSearchedAgainWithoutARestart) {
    startWatch();
    ASSERT_EQ(nextSearch(), devsimMacs());
    ASSERT_TRUE(pair_->setLink(pair_->a(), false));
    EXPECT_TRUE(seenEmpty(3));
    ASSERT_TRUE(pair_->setLink(pair_->a(), true));
    expectBackWithinThreeSearches();

    const RunResult ended = watch_->terminate(Clock::now() + kDeadline);
    watch_.reset();
    EXPECT_FALSE(ended.timedOut);
    EXPECT_EQ(ended.status, 0) << "SIGTERM ends the watch cleanly";
    EXPECT_EQ(ended.err.find("0x00000000"), std::string::npos) << ended.err;
}

TEST_F(WatchOverVeth, TheEmulatorsEndTakenDownAndUpAnswersAgainWithoutARestart) {
    startWatch();
    ASSERT_EQ(nextSearch(), devsimMacs());
    ASSERT_TRUE(pair_->setLink(pair_->b(), false));
    EXPECT_TRUE(seenEmpty(3));
    ASSERT_TRUE(pair_->setLink(pair_->b(), true));
    expectBackWithinThreeSearches();

    // It says that it lost the interface and got it back, and ends cleanly.
    const RunResult ended = devsim_->terminate(Clock::now() + kDeadline);
    devsim_.reset();
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_NE(ended.err.find("stopped delivering frames"), std::string::npos) << ended.err;
    EXPECT_NE(ended.err.find("is open again"), std::string::npos) << ended.err;
}

TEST_F(WatchOverVeth, ThePairDeletedAndMadeAgainIsSearchedAgainWithoutARestart) {
    startWatch();
    ASSERT_EQ(nextSearch(), devsimMacs());
    std::string error;
    devsim_.reset(); // its end goes with the pair
    ASSERT_TRUE(pair_->recreate(&error)) << error;
    startDevsim();
    expectBackWithinThreeSearches();
}

TEST_F(WatchOverVeth, AFloodOfJunkChangesNeitherTheListNorTheMemoryMuch) {
    constexpr int kSearches = 3;
    constexpr long kFloodFrames = 1'000'000;

    // Quiet: the same number of searches without the flood.
    startWatch();
    for (int i = 0; i < kSearches; ++i)
        ASSERT_EQ(nextSearch(), devsimMacs());
    const long quietKiB = peakResidentKiB(watch_->pid());
    watch_->terminate(Clock::now() + kDeadline);

    startWatch();
    ASSERT_EQ(nextSearch(), devsimMacs());
    std::string error;
    auto flood =
        VethPair::spawnIn(pair_->b(),
                          {KORVANE_NETNS_PEER, "flood", "--interface", pair_->b().interface, "--to",
                           pair_->a().mac.toString(), "--count", std::to_string(kFloodFrames),
                           "--devices", std::to_string(kDevices)},
                          &error);
    ASSERT_TRUE(flood) << error;
    int searches = 0;
    std::optional<std::string> done;
    // Searches while the flood runs, and at least kSearches of them.
    while (searches < kSearches || !done) {
        EXPECT_EQ(nextSearch(), devsimMacs()) << "search " << searches;
        ++searches;
        if (!done)
            done = flood->waitForLine("flooded", Clock::now());
        ASSERT_LT(searches, 60) << "the flood did not end";
    }
    const long floodKiB = peakResidentKiB(watch_->pid());
    const RunResult ended = watch_->terminate(Clock::now() + kDeadline);
    watch_.reset();
    EXPECT_EQ(ended.status, 0) << ended.err;
    const RunResult sender = flood->finish(Clock::now() + kDeadline);
    EXPECT_EQ(sender.status, 0) << sender.err;

    std::printf("flood: %s; %d searches during it; peak resident %ld KiB quiet, %ld KiB "
                "flooded\n",
                done->c_str(), searches, quietKiB, floodKiB);
    EXPECT_GT(quietKiB, 0);
    EXPECT_LE(floodKiB - quietKiB, 16 * 1024) << "resident memory grew by more than 16 MiB";
}

} // namespace

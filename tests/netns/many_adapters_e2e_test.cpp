// A host with dozens of adapters: korvane-devsim with 3 devices behind one
// veth pair, and 40 more veth pairs (80 adapters, both ends of each in the
// utility's namespace, up and linked) beside it. The search goes over all 81
// at once: it lists the 3 in about the time a search of their adapter alone
// takes, within a bounded memory.

#include "netns/devsim_pair_test.hpp"
#include "netns/netns_harness.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr int kDevices = 3;
constexpr int kExtraPairs = 40;
constexpr double kMaxTimeRatio = 1.5;
constexpr long kMaxPeakKiB = 128 * 1024;
constexpr auto kDeadline = std::chrono::seconds(30);

std::set<std::string> devsimMacs() {
    std::set<std::string> macs;
    for (int n = 0; n < kDevices; ++n)
        macs.insert(
            MacAddress{{0x02, 0x19, 0xA7, 0, 0, static_cast<std::uint8_t>(1 + n)}}.toString());
    return macs;
}

std::set<std::string> listedMacs(const std::string& json) {
    std::set<std::string> macs;
    const auto rows = nlohmann::json::parse(json, nullptr, false);
    if (!rows.is_array())
        return macs;
    for (const auto& row : rows)
        if (row.is_object() && row.contains("mac") && row["mac"].is_string())
            macs.insert(row["mac"].get<std::string>());
    return macs;
}

class ManyAdapters : public DevsimPairTest {
  protected:
    void SetUp() override {
        DevsimPairTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::string error;
        ASSERT_TRUE(pair_->addExtraPairs(pair_->a(), kExtraPairs, nullptr, &error)) << error;
        devsim_ = VethPair::spawnIn(pair_->b(),
                                    {devsimPath(), "--interface", pair_->b().interface, "--devices",
                                     std::to_string(kDevices)},
                                    &error);
        ASSERT_TRUE(devsim_) << error;
        ASSERT_TRUE(devsim_->waitForLine("ready", Clock::now() + kDeadline))
            << "korvane-devsim did not come up: " << devsim_->errText();
    }
    void TearDown() override {
        devsim_.reset();
        pair_.reset();
    }

    // One `korvane search --json` (over `interface` alone, or every adapter):
    // the shortest wall time of two runs, each listing the 3.
    double timedSearch(const std::string& interface) {
        double best = 1e9;
        for (int run = 0; run < 2; ++run) {
            std::vector<std::string> argv{KORVANE_CLI};
            if (!interface.empty())
                argv.insert(argv.end(), {"--interface", interface});
            argv.insert(argv.end(), {"search", "--json"});
            const auto start = Clock::now();
            const RunResult r = VethPair::runIn(pair_->a(), argv, std::chrono::seconds(60));
            const double wall = std::chrono::duration<double>(Clock::now() - start).count();
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(listedMacs(r.out), devsimMacs()) << r.out << r.err;
            best = std::min(best, wall);
        }
        return best;
    }

    std::unique_ptr<Process> devsim_;
};

TEST_F(ManyAdapters, EightyOneAdaptersAreSearchedInTheTimeOfOneWithinBoundedMemory) {
    const RunResult adapters = VethPair::runIn(pair_->a(), {KORVANE_CLI, "adapters", "--json"});
    ASSERT_EQ(adapters.status, 0) << adapters.err;
    const auto listed = nlohmann::json::parse(adapters.out, nullptr, false);
    ASSERT_TRUE(listed.is_array()) << adapters.out;
    ASSERT_EQ(listed.size(), static_cast<std::size_t>(2 * kExtraPairs + 1));

    const double one = timedSearch(pair_->a().interface);
    const double all = timedSearch({});
    std::printf("search of 1 adapter %.3f s, of %d adapters %.3f s (%.2f x)\n", one,
                2 * kExtraPairs + 1, all, all / one);
    EXPECT_LE(all, kMaxTimeRatio * one) << "every adapter took " << all << " s, one " << one;

    // Peak memory of a search over all of them: a watch keeps the program
    // alive after its first search, long enough to read it.
    std::string error;
    auto watch =
        VethPair::spawnIn(pair_->a(), {KORVANE_CLI, "search", "--watch", "3600", "--json"}, &error);
    ASSERT_TRUE(watch) << error;
    const auto line = watch->waitForLine("[", Clock::now() + kDeadline);
    ASSERT_TRUE(line) << watch->errText();
    EXPECT_EQ(listedMacs(*line), devsimMacs()) << *line;
    const long peakKiB = peakResidentKiB(watch->pid());
    const RunResult ended = watch->terminate(Clock::now() + kDeadline);
    EXPECT_EQ(ended.status, 0) << ended.err;
    std::printf("peak resident memory of a search over %d adapters: %ld KiB\n", 2 * kExtraPairs + 1,
                peakKiB);
    EXPECT_GT(peakKiB, 0);
    EXPECT_LE(peakKiB, kMaxPeakKiB);
    EXPECT_EQ(ended.err.find("not searched"), std::string::npos) << ended.err;
}

} // namespace

// The utility against korvane-devsim over a real veth pair: the emulator
// answers on end b, the command line runs on end a.

#include "netns/devsim_pair_test.hpp"
#include "netns/netns_harness.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <set>
#include <string>

using namespace korvane;
using namespace korvane::netns;

namespace {

constexpr auto kDeadline = std::chrono::seconds(15);
// korvane-devsim's first device unless told otherwise; the others count up.
constexpr std::uint32_t kFirstSerial = 1;

MacAddress deviceMac(std::uint32_t serial) {
    return MacAddress{{0x02, 0x19, 0xA7, static_cast<std::uint8_t>(serial >> 16),
                       static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial)}};
}

// The MACs of the devices a `discover --json` printed; `foreignAdapter`
// counts those listed on another adapter than `adapter`.
std::multiset<std::string> discoveredMacs(const std::string& json, const std::string& adapter,
                                          int& foreignAdapter) {
    std::multiset<std::string> macs;
    for (const auto& device : nlohmann::json::parse(json)) {
        macs.insert(device.at("mac").get<std::string>());
        if (device.at("adapter") != adapter)
            ++foreignAdapter;
    }
    return macs;
}

class DevsimOverVeth : public DevsimPairTest {
  protected:
    void TearDown() override {
        if (devsim_) {
            const RunResult r = devsim_->terminate(Clock::now() + kDeadline);
            EXPECT_FALSE(r.timedOut) << "korvane-devsim did not end on SIGTERM";
        }
        devsim_.reset();
        pair_.reset();
    }

    void startDevsim(int devices) {
        std::string error;
        devsim_ = VethPair::spawnIn(pair_->b(),
                                    {devsimPath(), "--interface", pair_->b().interface, "--devices",
                                     std::to_string(devices)},
                                    &error);
        ASSERT_TRUE(devsim_) << error;
        ASSERT_TRUE(devsim_->waitForLine("ready", Clock::now() + kDeadline))
            << "korvane-devsim did not come up: " << devsim_->errText();
    }

    std::unique_ptr<Process> devsim_;
};

// 256 devices is the discovery table's capacity: every one of them must be
// found, on every run, with nothing twice and nothing foreign.
TEST_F(DevsimOverVeth, DiscoverFindsAll256DevicesTwentyRunsInARow) {
    constexpr int kDevices = 256;
    constexpr int kRuns = 20;
    startDevsim(kDevices);
    std::multiset<std::string> expected;
    for (std::uint32_t i = 0; i < kDevices; ++i)
        expected.insert(deviceMac(kFirstSerial + i).toString());

    for (int run = 1; run <= kRuns; ++run) {
        const RunResult r = VethPair::runIn(
            pair_->a(), {KORVANE_CLI, "--interface", pair_->a().interface, "discover", "--json"});
        ASSERT_EQ(r.status, 0) << "run " << run << ": " << r.err;
        int foreignAdapter = 0;
        const auto found = discoveredMacs(r.out, pair_->a().interface, foreignAdapter);
        ASSERT_EQ(found.size(), expected.size()) << "run " << run;
        ASSERT_EQ(found, expected) << "run " << run;
        ASSERT_EQ(foreignAdapter, 0) << "run " << run;
    }
}

} // namespace

// How the units of a run space their commands: under the shared pacing one
// pause between any two commands on the segment, under per-device pacing one
// pause between the commands each device receives, with the units overlapping.

#include "firmware/upgrade.hpp"
#include "unit/firmware_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace korvane {
namespace {

using test::FirmwareRig;
using test::MakeImage;

// Long enough to tell the pacings apart at a glance; the tolerance of half
// of it is for the clock's own granularity only, since both the emulator and
// the clock below read when each frame was sent, not when the segment's
// delivery thread got round to it.
constexpr auto kPause = Millis(20);

// When every command was put on the segment, whichever device it is for.
class CommandClock {
  public:
    explicit CommandClock(SimulatedSegment& segment) {
        OpenOptions listen;
        listen.promiscuous = true;
        port_ = segment.attachStation({{0x02, 0x00, 0x00, 0x5E, 0x00, 0xFD}}, listen);
        port_->start([this](std::span<const std::uint8_t> frame) {
            const auto header = ParseHeader(frame);
            if (header &&
                (header->code == code::kFirmwareBlock || header->code == code::kFirmwareEnd)) {
                std::lock_guard lock(mutex_);
                at_.push_back(port_->deliveringFrameSentAt().value_or(SteadyClock::now()));
            }
        });
    }
    ~CommandClock() { port_->stop(); }
    Micros shortestGap() {
        std::lock_guard lock(mutex_);
        std::sort(at_.begin(), at_.end());
        Micros shortest = Micros::max();
        for (std::size_t i = 1; i < at_.size(); ++i)
            shortest = std::min(shortest, std::chrono::duration_cast<Micros>(at_[i] - at_[i - 1]));
        return shortest;
    }

  private:
    std::unique_ptr<PacketPort> port_;
    std::mutex mutex_;
    std::vector<SteadyClock::time_point> at_;
};

class FirmwarePacing : public ::testing::TestWithParam<CommandPacing> {};

TEST_P(FirmwarePacing, EachDeviceGetsItsCommandsAtLeastThePauseApart) {
    Timing timing = FirmwareRig::fastTiming();
    timing.commandSendPause = kPause;
    sim::LanOptions options = FirmwareRig::lanOptions();
    options.minCommandGap = kPause / 2;
    constexpr int kUnits = 4;
    FirmwareRig rig(kUnits, timing, options);
    CommandClock clock(rig.lan.lan.segment());
    rig.pacing = GetParam();

    const auto summary = rig.run(rig.writeImage(MakeImage(8 * 1024)));
    ASSERT_EQ(summary.failures, 0);
    for (std::size_t i = 0; i < kUnits; ++i) {
        const auto stats = rig.device(i).stats();
        EXPECT_EQ(stats.violationCount(sim::Violation::CommandGap), 0u) << "unit " << i;
        EXPECT_EQ(stats.totalViolations(), 0u) << "unit " << i;
        ASSERT_TRUE(stats.shortestCommandGap);
        EXPECT_GE(*stats.shortestCommandGap, kPause / 2) << "unit " << i;
    }
    if (GetParam() == CommandPacing::Shared)
        EXPECT_GE(clock.shortestGap(), kPause / 2); // the gap holds across devices too
    else
        EXPECT_LT(clock.shortestGap(), kPause / 2); // the units did send side by side
}

INSTANTIATE_TEST_SUITE_P(Pacings, FirmwarePacing,
                         ::testing::Values(CommandPacing::Shared, CommandPacing::PerDevice),
                         [](const auto& p) {
                             return p.param == CommandPacing::Shared ? "Shared" : "PerDevice";
                         });

TEST(FirmwarePacing, TheEmulatorCountsCommandsCloserThanItsGap) {
    Timing timing = FirmwareRig::fastTiming();
    timing.commandSendPause = Millis(0);
    sim::LanOptions options = FirmwareRig::lanOptions();
    options.minCommandGap = std::chrono::seconds(1);
    FirmwareRig rig(1, timing, options);
    ASSERT_EQ(rig.run(rig.writeImage(MakeImage(3 * 1024))).failures, 0);
    // Three blocks and the end of transfer: three gaps, each too short.
    EXPECT_EQ(rig.device(0).stats().violationCount(sim::Violation::CommandGap), 3u);
}

} // namespace
} // namespace korvane

// Several units in one run: batches of eight, the progress mean, the status
// list and summary, and the routing of completion notices by device.

#include "firmware/upgrade.hpp"
#include "unit/firmware_test_support.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace korvane {
namespace {

using sim::StatusRule;
using test::BlockRule;
using test::FirmwareRig;
using test::MakeImage;

// Every unit of a batch starts after every unit of the batch before it ended.
void expectBatchBarriers(FirmwareRig& rig, std::size_t units) {
    for (std::size_t k = kUnitsPerBatch; k < units; ++k) {
        const std::size_t previous = (k / kUnitsPerBatch - 1) * kUnitsPerBatch;
        for (std::size_t j = previous; j < previous + kUnitsPerBatch; ++j)
            EXPECT_GT(rig.op.rowSpan(rig.key(k)).first, rig.op.rowSpan(rig.key(j)).second)
                << "unit " << k << " started before unit " << j << " ended";
    }
}

Timing withBusyPause(Micros pause) {
    Timing t = FirmwareRig::fastTiming();
    t.firmwareBusyPause = pause;
    return t;
}

TEST(FirmwareUpgrade, NinthUnitStartsOnlyAfterAllEightEnded) {
    FirmwareRig rig(9, withBusyPause(Millis(300)));
    // The first unit is slow: its device is busy at first, which costs a pause.
    rig.addRule(0, StatusRule::busyFirstBlock());
    const auto summary = rig.run(rig.writeImage(MakeImage(2048)));

    EXPECT_EQ(summary.failures, 0);
    expectBatchBarriers(rig, 9);
    // The eight of a batch do run together: the last of them was under way
    // before the slow first one ended.
    EXPECT_LT(rig.op.rowSpan(rig.key(7)).first, rig.op.rowSpan(rig.key(0)).second);
}

TEST(FirmwareUpgrade, SeventeenUnitsRunInBatchesOfEightEightAndOne) {
    FirmwareRig rig(17);
    rig.addRule(3, StatusRule::busyFirstBlock());
    rig.addRule(12, StatusRule::busyFirstBlock());
    const auto summary = rig.run(rig.writeImage(MakeImage(1024)));

    EXPECT_EQ(summary.units, 17);
    EXPECT_EQ(summary.failures, 0);
    EXPECT_EQ(summary.summaryLine, "17 unit success, 0 unit fail. ");
    expectBatchBarriers(rig, 17);
}

TEST(FirmwareUpgrade, ProgressIsTheMeanOverAllUnits) {
    FirmwareRig rig(16);
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));
    ASSERT_EQ(summary.failures, 0);

    int secondBatchStart = std::numeric_limits<int>::max();
    for (std::size_t k = 8; k < 16; ++k)
        secondBatchStart = std::min(secondBatchStart, rig.op.rowSpan(rig.key(k)).first);
    int firstBatchPeak = 0;
    for (const auto& [seq, percent] : rig.op.progress)
        if (seq < secondBatchStart)
            firstBatchPeak = std::max(firstBatchPeak, percent);
    EXPECT_EQ(firstBatchPeak, 50); // half the units complete, the others not started
    EXPECT_EQ(rig.op.progress.back().second, 100);
}

TEST(FirmwareUpgrade, FailedUnitsCountAsCompleteInTheProgress) {
    FirmwareRig rig(2);
    rig.device(0).setFlashBootWord(0x01020009); // incompatible: fails before any block
    const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

    EXPECT_EQ(summary.failures, 1);
    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::BootIncompatible);
    EXPECT_EQ(rig.op.progress.back().second, 100);
}

TEST(FirmwareUpgrade, StatusListIsRebuiltInKeyTextOrder) {
    // Serial numbers 9, 10 and 11: as texts "10" and "11" sort before "9".
    sim::LanOptions options = FirmwareRig::lanOptions();
    options.firstDeviceMac = MacAddress{{0x00, 0x11, 0x00, 0x00, 0x00, 0x09}};
    FirmwareRig rig(3, FirmwareRig::fastTiming(), options);
    rig.addRule(2, BlockRule(0, status::kPasswordRefused)); // then Abort
    std::vector<bool> busy;
    FirmwareUpgrade session(rig.ctx(), rig.op, rig.units(), UnitPasswordGate(rig.ctx(), rig.op));
    EXPECT_EQ(session.statusRows(),
              (std::vector<StatusRow>{{"9", ""}, {"10", ""}, {"11", ""}})); // unit order
    session.setBusyReceiver([&](bool on) { busy.push_back(on); });

    const auto image = rig.writeImage(MakeImage(1024));
    ASSERT_TRUE(session.start([&] { return image.string(); }));
    EXPECT_TRUE(session.busy());
    EXPECT_FALSE(session.start([&] { return image.string(); })); // one run at a time
    session.wait();

    EXPECT_FALSE(session.busy());
    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
    const std::vector<StatusRow> expected{{"10", firmware_text::kDownloadSuccessfully},
                                          {"11", firmware_text::kDownloadFailed},
                                          {"9", firmware_text::kDownloadSuccessfully}};
    EXPECT_EQ(session.statusRows(), expected);
    ASSERT_TRUE(session.lastRun());
    EXPECT_EQ(session.lastRun()->rows, expected);
    EXPECT_EQ(session.lastRun()->summaryLine, "2 unit success, 1 unit fail. ");
    EXPECT_EQ(rig.op.statusLines.back(), "2 unit success, 1 unit fail. ");

    // Another run in the same session starts each row empty again.
    rig.op.rowEvents.clear();
    const auto second = session.DownloadAllUnits([&] { return image.string(); });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->failures, 0);
    EXPECT_EQ(rig.op.rowTexts("11").front(), "");
}

std::vector<std::uint8_t> noticeFrom(const MacAddress& device, const MacAddress& to) {
    const auto frame = BuildRequest(device, to, code::kFirmwareNotice, "", 0, {}, 0);
    return {frame->bytes.begin(), frame->bytes.begin() + static_cast<long>(frame->length)};
}

TEST(FirmwareUpgrade, OnlyTheUnitsOwnDeviceNoticeCompletesIt) {
    Timing timing = FirmwareRig::fastTiming();
    timing.noticeWait = Millis(400);
    FirmwareRig rig(2, timing);
    // The test sends the notices itself, at the moment it chooses.
    for (std::size_t i = 0; i < 2; ++i)
        rig.changeFaults(i, [](auto& f) { f.noNotice = true; });
    const MacAddress bystander{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x77}}; // not a unit
    FirmwareUpgrade session(rig.ctx(), rig.op, rig.units(), UnitPasswordGate(rig.ctx(), rig.op));
    const auto image = rig.writeImage(MakeImage(1024));
    ASSERT_TRUE(session.start([&] { return image.string(); }));

    // Both units wait for their notices now; the first unit's device and a
    // device that is no unit send theirs, the second unit's device never does.
    for (std::size_t i = 0; i < 2; ++i)
        ASSERT_TRUE(rig.device(i).waitForRequests(code::kFirmwareEnd, 1, testing::Deadline()));
    const MacAddress own = rig.lan.own();
    rig.ctx().link.deliver(noticeFrom(rig.lan.mac(0), own));
    rig.ctx().link.deliver(noticeFrom(bystander, own));
    session.wait();

    const auto summary = *session.lastRun();
    EXPECT_TRUE(summary.outcomes[0].success);
    EXPECT_FALSE(summary.outcomes[1].success);
    EXPECT_EQ(summary.outcomes[1].failure, UnitFailure::NoNotice);
    EXPECT_EQ(summary.summaryLine, "1 unit success, 1 unit fail. ");
    // The bystander's notice still shows, as a row of its own.
    EXPECT_EQ(summary.rows,
              (std::vector<StatusRow>{{rig.key(0), firmware_text::kDownloadSuccessfully},
                                      {rig.key(1), firmware_text::kDownloadFailed},
                                      {UnitKey(bystander), firmware_text::kDownloadSuccessfully}}));
}

TEST(FirmwareUpgrade, StopEndsAWaitingUnit) {
    Timing timing = FirmwareRig::fastTiming();
    timing.noticeWait = Millis(60000); // only the stop can end this wait in time
    FirmwareRig rig(1, timing);
    rig.changeFaults(0, [](auto& f) { f.noNotice = true; });
    FirmwareUpgrade session(rig.ctx(), rig.op, rig.units(), UnitPasswordGate(rig.ctx(), rig.op));
    const auto image = rig.writeImage(MakeImage(1024));
    ASSERT_TRUE(session.start([&] { return image.string(); }));
    ASSERT_TRUE(rig.device(0).waitForRequests(code::kFirmwareEnd, 1, testing::Deadline()));
    session.requestStop();
    session.wait();

    ASSERT_TRUE(session.lastRun());
    EXPECT_EQ(session.lastRun()->outcomes[0].failure, UnitFailure::Stopped);
}

} // namespace
} // namespace korvane

// Several units in one run: batches of eight, the progress mean, the status
// list and summary, and the routing of completion notices by device.

#include "firmware/upgrade.hpp"
#include "unit/firmware_station.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace korvane {
namespace {

using test::FirmwareRig;
using test::FirmwareStation;
using test::MakeImage;

// Every unit of batch b starts after every unit of batch b-1 did its last thing.
void expectBatchBarriers(const FirmwareRig& rig, std::size_t units) {
    for (std::size_t k = kUnitsPerBatch; k < units; ++k) {
        const std::size_t batchStart = (k / kUnitsPerBatch - 1) * kUnitsPerBatch;
        for (std::size_t j = batchStart; j < batchStart + kUnitsPerBatch; ++j)
            EXPECT_GT(rig.stations[k]->firstSeen(), rig.stations[j]->lastActive())
                << "unit " << k << " started before unit " << j << " ended";
    }
}

TEST(FirmwareUpgrade, NinthUnitStartsOnlyAfterAllEightEnded) {
    FirmwareRig rig([] {
        Timing t = FirmwareRig::fastTiming();
        t.firmwareBusyPause = Millis(300);
        return t;
    }());
    rig.addUnits(9);
    // The first unit is slow: its device is busy at first, which costs a pause.
    rig.stations[0]->blockStatuses = {status::kBusy};
    const auto summary = rig.run(rig.writeImage(MakeImage(2048)));

    EXPECT_EQ(summary.failures, 0);
    expectBatchBarriers(rig, 9);
    // Units of one batch do run together: the last of the eight started
    // before the slow first one ended.
    EXPECT_LT(rig.stations[7]->firstSeen(), rig.stations[0]->lastActive());
}

TEST(FirmwareUpgrade, SeventeenUnitsRunInBatchesOfEightEightAndOne) {
    FirmwareRig rig;
    rig.addUnits(17);
    rig.stations[3]->blockStatuses = {status::kBusy};
    rig.stations[12]->blockStatuses = {status::kBusy};
    const auto summary = rig.run(rig.writeImage(MakeImage(1024)));

    EXPECT_EQ(summary.units, 17);
    EXPECT_EQ(summary.failures, 0);
    EXPECT_EQ(summary.summaryLine, "17 unit success, 0 unit fail. ");
    expectBatchBarriers(rig, 17);
}

TEST(FirmwareUpgrade, ProgressIsTheMeanOverAllUnits) {
    FirmwareRig rig;
    rig.addUnits(16);
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));
    ASSERT_EQ(summary.failures, 0);

    int secondBatchStart = std::numeric_limits<int>::max();
    for (std::size_t k = 8; k < 16; ++k)
        secondBatchStart = std::min(secondBatchStart, rig.stations[k]->firstSeen());
    int firstBatchPeak = 0;
    for (const auto& [seq, percent] : rig.op.progress)
        if (seq < secondBatchStart)
            firstBatchPeak = std::max(firstBatchPeak, percent);
    EXPECT_EQ(firstBatchPeak, 50); // half the units complete, the others not started
    EXPECT_EQ(rig.op.progress.back().second, 100);
}

TEST(FirmwareUpgrade, FailedUnitsCountAsCompleteInTheProgress) {
    FirmwareRig rig;
    rig.addUnits(2);
    rig.stations[0]->flashBootWord = 0x01000009; // incompatible: fails before any block
    const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

    EXPECT_EQ(summary.failures, 1);
    EXPECT_EQ(rig.op.progress.back().second, 100);
}

TEST(FirmwareUpgrade, StatusListIsRebuiltInKeyTextOrder) {
    FirmwareRig rig;
    // Serial numbers 5 and 16: as texts "16" sorts before "5".
    rig.addUnit(MacAddress{{0x00, 0x11, 0x00, 0x00, 0x00, 0x05}});
    rig.addUnit(MacAddress{{0x00, 0x11, 0x00, 0x00, 0x00, 0x10}});
    rig.addUnit(MacAddress{{0x00, 0x11, 0x00, 0x00, 0x01, 0x00}});
    rig.stations[2]->blockStatuses = {status::kPasswordRefused}; // then Abort
    std::vector<bool> busy;
    FirmwareUpgrade session(rig.ctx, rig.op, rig.units(), UnitPasswordGate(rig.ctx, rig.op));
    EXPECT_EQ(session.statusRows(),
              (std::vector<StatusRow>{{"5", ""}, {"16", ""}, {"256", ""}})); // unit order
    session.setBusyReceiver([&](bool on) { busy.push_back(on); });

    const auto image = rig.writeImage(MakeImage(1024));
    ASSERT_TRUE(session.start([&] { return image.string(); }));
    EXPECT_TRUE(session.busy());
    EXPECT_FALSE(session.start([&] { return image.string(); })); // one run at a time
    session.wait();

    EXPECT_FALSE(session.busy());
    EXPECT_EQ(busy, (std::vector<bool>{true, false}));
    const std::vector<StatusRow> expected{{"16", firmware_text::kDownloadSuccessfully},
                                          {"256", firmware_text::kDownloadFailed},
                                          {"5", firmware_text::kDownloadSuccessfully}};
    EXPECT_EQ(session.statusRows(), expected);
    ASSERT_TRUE(session.lastRun());
    EXPECT_EQ(session.lastRun()->rows, expected);
    EXPECT_EQ(session.lastRun()->summaryLine, "2 unit success, 1 unit fail. ");
    EXPECT_EQ(rig.op.statusLines.back(), "2 unit success, 1 unit fail. ");

    // A second run in the same session starts from empty rows again.
    rig.op.unitStatuses.clear();
    rig.stations[2]->blockStatuses = {};
    const auto second = session.DownloadAllUnits([&] { return image.string(); });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->failures, 0);
    EXPECT_EQ(rig.op.rowTexts("256").front(), "");
}

TEST(FirmwareUpgrade, OnlyTheUnitsOwnDeviceNoticeCompletesIt) {
    FirmwareRig rig([] {
        Timing t = FirmwareRig::fastTiming();
        t.noticeWait = Millis(150);
        return t;
    }());
    FirmwareStation& finishing = rig.addUnit(FirmwareRig::unitMac(0));
    FirmwareStation& silent = rig.addUnit(FirmwareRig::unitMac(1));
    // A device on the segment that is not one of the units.
    FirmwareStation bystander(rig.segment, FirmwareRig::unitMac(7));
    silent.sendNotice = false;
    // While the silent device's unit waits, two other devices send notices.
    silent.onEndOfTransfer = [&] {
        finishing.sendNoticeTo(FirmwareRig::kAdapterMac);
        bystander.sendNoticeTo(FirmwareRig::kAdapterMac);
    };
    const auto summary = rig.run(rig.writeImage(MakeImage(1024)));

    EXPECT_TRUE(summary.outcomes[0].success);
    EXPECT_FALSE(summary.outcomes[1].success);
    EXPECT_EQ(summary.outcomes[1].failure, UnitFailure::NoNotice);
    EXPECT_EQ(summary.summaryLine, "1 unit success, 1 unit fail. ");
    // The bystander's notice still shows as a row of its own.
    EXPECT_EQ(summary.rows, (std::vector<StatusRow>{
                                {UnitKey(finishing.mac()), firmware_text::kDownloadSuccessfully},
                                {UnitKey(silent.mac()), firmware_text::kDownloadFailed},
                                {UnitKey(bystander.mac()), firmware_text::kDownloadSuccessfully}}));
    EXPECT_EQ(rig.op.rowTexts(UnitKey(bystander.mac())),
              std::vector<std::string>{firmware_text::kDownloadSuccessfully});
}

TEST(FirmwareUpgrade, StopEndsAWaitingUnit) {
    FirmwareRig rig([] {
        Timing t = FirmwareRig::fastTiming();
        t.noticeWait = Millis(60000); // only the stop can end this wait in time
        return t;
    }());
    FirmwareStation& device = rig.addUnits(1);
    device.sendNotice = false;
    FirmwareUpgrade session(rig.ctx, rig.op, rig.units(), UnitPasswordGate(rig.ctx, rig.op));
    device.onEndOfTransfer = [&] { session.requestStop(); };
    const auto image = rig.writeImage(MakeImage(1024));
    const auto summary = session.DownloadAllUnits([&] { return image.string(); });

    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->outcomes[0].failure, UnitFailure::Stopped);
}

} // namespace
} // namespace korvane

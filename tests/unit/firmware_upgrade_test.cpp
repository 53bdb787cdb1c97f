// Several units in one run: batches of eight, the progress mean, the status
// list and summary, and the routing of completion notices by device.

#include "firmware/upgrade.hpp"
#include "unit/firmware_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
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
                                          {"11", "Download Failed (block not accepted)"},
                                          {"9", firmware_text::kDownloadSuccessfully}};
    EXPECT_EQ(session.statusRows(), expected);
    ASSERT_TRUE(session.lastRun());
    EXPECT_EQ(session.lastRun()->rows, expected);
    EXPECT_EQ(session.lastRun()->summaryLine, "2 unit success, 1 unit fail. ");
    EXPECT_EQ(rig.op.statusLines.back(), "2 unit success, 1 unit fail. ");

    // Another run in the same session starts each row empty again.
    rig.op.rowEvents.clear();
    const auto second = session.downloadAllUnits([&] { return image.string(); });
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
    FirmwareUpgrade session(rig.ctx(), rig.op, rig.units(), UnitPasswordGate(rig.ctx(), rig.op));
    const auto image = rig.writeImage(MakeImage(1024));
    ASSERT_TRUE(session.start([&] { return image.string(); }));

    // Both units wait for their notices now; the first unit's device and
    // stations that are no unit send theirs (a forged flood from many
    // addresses, one of them twice), the second unit's device never does.
    for (std::size_t i = 0; i < 2; ++i)
        ASSERT_TRUE(rig.device(i).waitForRequests(code::kFirmwareEnd, 1, testing::Deadline()));
    const MacAddress own = rig.lan.own();
    rig.ctx().link.deliver(noticeFrom(rig.lan.mac(0), own));
    constexpr int kForged = 300;
    for (int i = 0; i < kForged; ++i) {
        const auto low = static_cast<std::uint8_t>(i % 250);
        rig.ctx().link.deliver(noticeFrom(MacAddress{{0x02, 0x66, 0x00, 0x00, 0x01, low}}, own));
    }
    session.wait();

    const auto summary = *session.lastRun();
    EXPECT_TRUE(summary.outcomes[0].success);
    EXPECT_FALSE(summary.outcomes[1].success);
    EXPECT_EQ(summary.outcomes[1].failure, UnitFailure::NoNotice);
    EXPECT_EQ(summary.summaryLine, "1 unit success, 1 unit fail. ");
    // The strangers' notices are counted, never rows, and said once.
    EXPECT_EQ(summary.foreignNotices, static_cast<std::uint64_t>(kForged));
    EXPECT_EQ(summary.rows,
              (std::vector<StatusRow>{{rig.key(0), firmware_text::kDownloadSuccessfully},
                                      {rig.key(1), "Download Failed (no completion notice)"}}));
    EXPECT_EQ(rig.op.statusLines.back(),
              "1 unit success, 1 unit fail. 300 notices from stations outside this run ignored");
}

TEST(FirmwareUpgrade, AShortImageIsAskedAboutOnceBeforeAnyUnitStarts) {
    for (const Answer answer : {Answer::Cancel, Answer::Continue}) {
        SCOPED_TRACE(answer == Answer::Cancel ? "Cancel" : "Continue");
        FirmwareRig rig(2);
        rig.op.answers[QuestionTopic::ShortImage] = answer;
        const auto summary = rig.run(rig.writeImage(MakeImage(3000)));

        ASSERT_EQ(rig.op.asked.size(), 1u);
        const Question& question = rig.op.asked[0];
        EXPECT_EQ(question.topic, QuestionTopic::ShortImage);
        EXPECT_EQ(question.buttons, QuestionButtons::ContinueCancel);
        EXPECT_EQ(question.defaultAnswer, Answer::Cancel);
        EXPECT_NE(question.text.find("3000 bytes"), std::string::npos) << question.text;
        EXPECT_NE(question.text.find("no complete factory block"), std::string::npos);
        for (std::size_t i = 0; i < 2; ++i) {
            const auto blocks = rig.device(i).stats().requestCount(code::kFirmwareBlock);
            if (answer == Answer::Cancel) {
                // Cancelled, and shown as such: nothing was sent.
                EXPECT_EQ(summary.outcomes[i].failure, UnitFailure::Cancelled);
                EXPECT_EQ(summary.rows[i].text, "Download Cancelled (nothing sent)");
                EXPECT_EQ(summary.summaryLine, "Download cancelled: nothing was sent.");
                EXPECT_EQ(rig.device(i).stats().requestCount(code::kCheckPassword), 0u);
                EXPECT_EQ(blocks, 0u);
            } else {
                EXPECT_TRUE(summary.outcomes[i].success);
                EXPECT_EQ(blocks, 3u);
            }
        }
    }
}

TEST(FirmwareUpgrade, AnImageOverTheBlockLimitIsRefusedWithoutAQuestion) {
    FirmwareRig rig(1);
    const auto path = rig.writeImage({});
    std::filesystem::resize_file(path, 70u << 20); // sparse: only its length matters
    const auto summary = rig.run(path);

    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::ImageRefused);
    EXPECT_TRUE(rig.op.asked.empty());
    ASSERT_EQ(rig.op.messages.size(), 1u);
    EXPECT_NE(rig.op.messages[0].first.find("64 MiB"), std::string::npos);
    EXPECT_EQ(rig.device(0).stats().requestCount(code::kCheckPassword), 0u);
}

TEST(FirmwareUpgrade, OlderBootIsOneQuestionNamingTheUnitsOfTheBatch) {
    for (const bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        FirmwareRig rig(4);
        for (std::size_t i = 0; i < 3; ++i)
            rig.device(i).setFlashBootWord(0x01030003); // flash 1.3, image 1.2
        rig.op.yesNoAnswer = yes;
        const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

        ASSERT_EQ(rig.op.asked.size(), 1u);
        const Question& question = rig.op.asked[0];
        EXPECT_EQ(question.topic, QuestionTopic::OlderBootVersion);
        EXPECT_EQ(question.devices.size(), 3u);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(question.text.find(DeviceName(rig.lan.mac(i))) != std::string::npos, i < 3)
                << question.text;
            // The answer counts for every unit it named, and only for them.
            EXPECT_EQ(summary.outcomes[i].success, yes || i == 3);
            if (!yes && i < 3) {
                EXPECT_EQ(summary.outcomes[i].failure, UnitFailure::BootVersionDeclined);
            }
        }
    }
}

// Detects two questions on the screen at once: each question waits a while
// for another to come in beside it, which only happens when they overlap.
class OverlapDetector : public test::ScriptedOperator {
  public:
    int most = 0;
    Answer ask(const Question& question) override {
        enter();
        const Answer answer = ScriptedOperator::ask(question);
        leave();
        return answer;
    }
    void showMessage(const std::string& text, MessageIcon icon) override {
        enter();
        ScriptedOperator::showMessage(text, icon);
        leave();
    }

  private:
    void enter() {
        std::unique_lock lock(overlapMutex_);
        most = std::max(most, ++inside_);
        overlapCv_.notify_all();
        overlapCv_.wait_for(lock, Millis(150), [&] { return inside_ > 1; });
    }
    void leave() {
        std::lock_guard lock(overlapMutex_);
        --inside_;
    }
    std::mutex overlapMutex_;
    std::condition_variable overlapCv_;
    int inside_ = 0;
};

TEST(FirmwareUpgrade, QuestionsOfUnitsRunningAtOnceComeOneAtATimeNamingTheirUnit) {
    FirmwareRig rig(3);
    for (std::size_t i = 0; i < 3; ++i)
        rig.addRule(i, BlockRule(0, status::kPasswordRefused, -1, StatusRule::Effect::Skip));
    OverlapDetector op;
    FirmwareUpgrade session(rig.ctx(), op, rig.units(), UnitPasswordGate(rig.ctx(), op));
    const auto image = rig.writeImage(MakeImage(0x10000));
    const auto summary = *session.downloadAllUnits([&] { return image.string(); });

    EXPECT_EQ(summary.failures, 3);
    EXPECT_EQ(op.most, 1);
    ASSERT_EQ(op.blockQuestions.size(), 3u);
    std::vector<std::string> named;
    for (const auto& text : op.blockQuestions)
        for (std::size_t i = 0; i < 3; ++i)
            if (text.rfind(DeviceName(rig.lan.mac(i)) + ": Download Failed", 0) == 0)
                named.push_back(rig.key(i));
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (std::vector<std::string>{rig.key(0), rig.key(1), rig.key(2)}));
}

TEST(FirmwareUpgrade, AUnitsRowIsItsOwnOutcome) {
    FirmwareRig rig(2);
    rig.device(0).setFlashBootWord(0x01020009); // incompatible: fails before any block
    // The second unit's device takes the image and sends its notice, but
    // refuses the end of transfer outright.
    rig.addRule(1, {code::kFirmwareEnd, std::nullopt, status::kPasswordRefused, 1,
                    StatusRule::Effect::CarryOut});
    FirmwareUpgrade session(rig.ctx(), rig.op, rig.units(), UnitPasswordGate(rig.ctx(), rig.op));
    // A notice from the first unit's MAC before the run: not its run's.
    rig.ctx().link.deliver(noticeFrom(rig.lan.mac(0), rig.lan.own()));
    const auto image = rig.writeImage(MakeImage(0x10000));
    const auto summary = *session.downloadAllUnits([&] { return image.string(); });

    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::BootIncompatible);
    EXPECT_EQ(summary.outcomes[1].failure, UnitFailure::TransferRefused);
    EXPECT_EQ(summary.rows,
              (std::vector<StatusRow>{{rig.key(0), "Download Failed (boot incompatible)"},
                                      {rig.key(1), "Download Failed (end of transfer refused)"}}));
    EXPECT_EQ(summary.summaryLine, "0 unit success, 2 unit fail. ");
    EXPECT_EQ(session.results(), (UnitResultMap{{rig.key(0), 0}, {rig.key(1), 0}}));
}

TEST(FirmwareUpgrade, ASilentUnitIsNotAnsweringNotARefusedPassword) {
    Timing timing = FirmwareRig::fastTiming();
    timing.queryWindow = Millis(30);
    FirmwareRig rig(1, timing);
    rig.changeFaults(0, [](auto& f) { f.neverAnswer = true; });
    const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::NoReply);
    EXPECT_TRUE(rig.op.prompts.empty());
    ASSERT_EQ(rig.op.messages.size(), 1u);
    EXPECT_EQ(rig.op.messages[0].first, DeviceName(rig.lan.mac(0)) + ": No respond!");
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

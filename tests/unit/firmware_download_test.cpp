// One unit's download against an emulated device: the blocks, the status
// table, the boot check, the factory block rule and the password gate. The
// emulated device checks every frame it is sent as a device would.

#include "firmware/upgrade.hpp"
#include "unit/firmware_test_support.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using sim::StatusRule;
using test::BlockRule;
using test::FirmwareRig;
using test::MakeImage;

std::vector<std::uint16_t> countUp(std::uint16_t n) {
    std::vector<std::uint16_t> numbers(n);
    for (std::uint16_t i = 0; i < n; ++i)
        numbers[i] = i;
    return numbers;
}

std::uint64_t blocksSent(FirmwareRig& rig) {
    return rig.device(0).stats().requestCount(code::kFirmwareBlock);
}

TEST(FirmwareDownload, BlocksCarryTheWholeImageInOrder) {
    struct Case {
        std::size_t length;
        std::uint16_t blocks;
    };
    const Case cases[] = {{1024, 1}, {3 * 1024, 3}, {1025, 2}, {0x10000, 64}, {0x10001, 65}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        FirmwareRig rig(1);
        const auto bytes = MakeImage(c.length);
        const auto summary = rig.run(rig.writeImage(bytes));

        ASSERT_TRUE(summary.outcomes[0].success);
        const auto received = rig.device(0).firmware();
        EXPECT_EQ(received.blockOrder, countUp(c.blocks));
        EXPECT_EQ(rig.device(0).stats().totalViolations(), 0u);
        // What the device received is the image, patched with its own MAC
        // when the image has a factory block.
        FirmwareImage expected(bytes);
        const bool patched = expected.checkAndPatchFactoryBlock(rig.lan.mac(0));
        EXPECT_EQ(received.image,
                  std::vector<std::uint8_t>(expected.bytes().begin(), expected.bytes().end()));
        EXPECT_EQ(received.imageSum, expected.sum());
        EXPECT_EQ(received.headerFlag, patched ? kHeaderFlagPatched : kHeaderFlagUnpatched);

        EXPECT_EQ(summary.summaryLine, "1 unit success, 0 unit fail. ");
        EXPECT_EQ(rig.op.progress.back().second, 100);
        const auto rows = rig.op.rowTexts(rig.key(0));
        EXPECT_EQ(rows.front(), "");
        EXPECT_EQ(rows[1], firmware_text::kDownloading);
        EXPECT_EQ(rows[rows.size() - 2], firmware_text::kProgramming);
        EXPECT_EQ(rows.back(), firmware_text::kDownloadSuccessfully);
    }
}

TEST(FirmwareDownload, BusyFirstBlockPausesOnceThenLaterBusyCountsAsAccepted) {
    FirmwareRig rig(1);
    rig.addRule(0, StatusRule::busyFirstBlock());
    // Block 1 is taken, but answered busy: the unit goes on without a pause.
    rig.addRule(0, BlockRule(1, status::kBusy, 1, StatusRule::Effect::CarryOut));
    const auto started = SteadyClock::now();
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));

    ASSERT_TRUE(summary.outcomes[0].success);
    EXPECT_GE(SteadyClock::now() - started, rig.ctx().timing.firmwareBusyPause);
    EXPECT_EQ(blocksSent(rig), 5u); // block 0 twice
    EXPECT_EQ(rig.device(0).firmware().blockOrder, countUp(4));
    const auto rows = rig.op.rowTexts(rig.key(0));
    EXPECT_EQ(std::count(rows.begin(), rows.end(), firmware_text::kPreparing), 1);
    EXPECT_EQ(rows[2], firmware_text::kPreparing);
    EXPECT_EQ(
        std::count(rig.op.statusLines.begin(), rig.op.statusLines.end(), firmware_text::kPreparing),
        1);
}

TEST(FirmwareDownload, RetryResendsTheSameBlockNumber) {
    FirmwareRig rig(1);
    // The device stores block 1 but answers 1: a resend must carry number 1 again.
    rig.addRule(0, BlockRule(1, status::kPasswordRefused, 1, StatusRule::Effect::CarryOut));
    rig.op.blockChoices = {BlockFailureChoice::Retry};
    const auto summary = rig.run(rig.writeImage(MakeImage(3 * 1024)));

    ASSERT_TRUE(summary.outcomes[0].success);
    const auto received = rig.device(0).firmware();
    EXPECT_EQ(received.blockOrder, (std::vector<std::uint16_t>{0, 1, 1, 2}));
    EXPECT_EQ(received.resentBlocks, 1u);
    EXPECT_EQ(rig.device(0).stats().totalViolations(), 0u);
    EXPECT_EQ(rig.op.blockQuestions, std::vector<std::string>{DeviceName(rig.lan.mac(0)) +
                                                              ": Download Failed at block 1"});
    const auto rows = rig.op.rowTexts(rig.key(0));
    EXPECT_NE(std::find(rows.begin(), rows.end(), firmware_text::kAbort), rows.end());
    EXPECT_EQ(rig.device(0).stats().requestCount(code::kCheckPassword), 2u); // one gate only
}

TEST(FirmwareDownload, IgnoreRerunsTheGateAndStartsOverAtBlockZero) {
    FirmwareRig rig(1);
    rig.addRule(0, StatusRule::busyFirstBlock());
    rig.addRule(0, BlockRule(2, status::kPasswordRefused));
    rig.op.blockChoices = {BlockFailureChoice::Ignore};
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));

    ASSERT_TRUE(summary.outcomes[0].success);
    const auto received = rig.device(0).firmware();
    EXPECT_EQ(received.restarts, 1u);
    EXPECT_EQ(received.blockOrder, countUp(4));
    // 0 (busy), 0, 1, 2 (refused), then 0 to 3 after the start over; the
    // pause flag is clear again but the device is no longer busy.
    EXPECT_EQ(blocksSent(rig), 8u);
    const auto stats = rig.device(0).stats();
    EXPECT_EQ(stats.requestCount(code::kCheckPassword), 4u); // two gates of two checks
    EXPECT_EQ(stats.requestCount(code::kBootQuery), 2u);
    EXPECT_EQ(stats.totalViolations(), 0u);
    EXPECT_EQ(summary.outcomes[0].blocksAccepted, 4u);
}

TEST(FirmwareDownload, IgnoreWithARefusedPasswordFailsTheUnit) {
    FirmwareRig rig(1);
    rig.addRule(0, BlockRule(0, status::kPasswordRefused));
    rig.op.blockChoices = {BlockFailureChoice::Ignore};
    // The gate passes the first time and refuses the second.
    int gates = 0;
    FirmwareUpgrade session(rig.ctx(), rig.op, rig.units(), [&](DeviceIdentity&, StopToken*) {
        return UnitGateResult{++gates == 1 ? UnitGateOutcome::Accepted : UnitGateOutcome::Refused,
                              ""};
    });
    const auto image = rig.writeImage(MakeImage(0x10000));
    const auto summary = *session.downloadAllUnits([&] { return image.string(); });

    EXPECT_EQ(gates, 2);
    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::PasswordRefused);
    ASSERT_EQ(rig.op.messages.size(), 1u);
    EXPECT_EQ(rig.op.messages[0].first, DeviceName(rig.lan.mac(0)) + ": Incorrect Password.");
    EXPECT_EQ(blocksSent(rig), 1u);
    EXPECT_EQ(rig.op.progress.back().second, 100);
}

TEST(FirmwareDownload, AbortFailsTheUnitAndCountsItComplete) {
    FirmwareRig rig(1);
    rig.addRule(0, BlockRule(1, status::kPasswordRefused));
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));

    EXPECT_FALSE(summary.outcomes[0].success);
    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::BlockAborted);
    EXPECT_EQ(blocksSent(rig), 2u);
    EXPECT_FALSE(rig.device(0).firmware().hasImage); // no end of transfer
    EXPECT_EQ(rig.op.progress.back().second, 100);
    EXPECT_EQ(rig.op.rowTexts(rig.key(0)).back(), firmware_text::kAbort);
    EXPECT_EQ(summary.rows,
              (std::vector<StatusRow>{{rig.key(0), "Download Failed (block not accepted)"}}));
    EXPECT_EQ(summary.summaryLine, "0 unit success, 1 unit fail. ");
}

TEST(FirmwareDownload, BootCheck) {
    // The image says boot version 1.2 ("1", "2"), compatibility code 3.
    struct Case {
        const char* name;
        bool answerBoot;
        std::uint32_t flash;
        bool yes;
        bool asked;
        UnitFailure failure;
    };
    const Case cases[] = {
        {"no answer skips the check", false, 0x01020004, true, false, UnitFailure::None},
        {"equal versions", true, 0x01020003, true, false, UnitFailure::None},
        {"image newer", true, 0x01010003, true, false, UnitFailure::None},
        {"image older, Yes", true, 0x0103FF03, true, true, UnitFailure::None},
        {"image older, No", true, 0x01030003, false, true, UnitFailure::BootVersionDeclined},
        {"other compatibility code", true, 0x01020004, true, false, UnitFailure::BootIncompatible},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Timing timing = FirmwareRig::fastTiming();
        timing.queryWindow = Millis(50); // the silent device costs every try
        FirmwareRig rig(1, timing);
        rig.device(0).setFlashBootWord(c.flash);
        if (!c.answerBoot)
            rig.changeFaults(0, [](auto& f) { f.silentCommands = {code::kBootQuery}; });
        rig.op.yesNoAnswer = c.yes;
        const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

        EXPECT_EQ(summary.outcomes[0].failure, c.failure);
        EXPECT_EQ(summary.outcomes[0].success, c.failure == UnitFailure::None);
        ASSERT_EQ(rig.op.asked.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(rig.op.asked[0].topic, QuestionTopic::OlderBootVersion);
            EXPECT_EQ(rig.op.asked[0].defaultAnswer, Answer::No);
            EXPECT_NE(rig.op.asked[0].text.find(DeviceName(rig.lan.mac(0))), std::string::npos);
        }
        EXPECT_TRUE(rig.op.messages.empty()); // failures here are silent
        EXPECT_EQ(rig.device(0).stats().requestCount(code::kBootQuery),
                  c.answerBoot ? 1u : static_cast<std::uint64_t>(timing.tries));
        if (c.failure != UnitFailure::None) {
            EXPECT_EQ(blocksSent(rig), 0u);
        }
    }
}

TEST(FirmwareDownload, FactoryBlockRuleForTheEarlyKind) {
    struct Case {
        const char* name;
        std::size_t length;
        bool validBlock;
        bool early;
        UnitFailure failure;
        std::uint32_t flag;
        bool shortImage; // asked about (and answered Continue) before the run
    };
    const Case cases[] = {
        {"valid block, early kind", 0x10000, true, true, UnitFailure::None, kHeaderFlagPatched,
         false},
        {"invalid block", 0x10000, false, false, UnitFailure::None, kHeaderFlagUnpatched, false},
        {"invalid block, early kind", 0x10000, false, true, UnitFailure::EarlyKindRefused, 0,
         false},
        {"short image", 0x8000, true, false, UnitFailure::None, kHeaderFlagUnpatched, true},
        {"short image, early kind", 0x8000, true, true, UnitFailure::EarlyKindRefused, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareRig rig(1);
        if (c.early)
            rig.records[0]->bytes[identity_offset::kFirmwareVersion] = 0x01;
        const auto bytes = MakeImage(c.length, c.validBlock);
        const auto summary = rig.run(rig.writeImage(bytes));

        EXPECT_EQ(summary.outcomes[0].failure, c.failure);
        EXPECT_TRUE(rig.op.messages.empty());
        ASSERT_EQ(rig.op.asked.size(), c.shortImage ? 1u : 0u);
        if (c.failure != UnitFailure::None) {
            EXPECT_EQ(blocksSent(rig), 0u);
            continue;
        }
        const auto received = rig.device(0).firmware();
        EXPECT_TRUE(received.accepted); // the device agrees with the flag
        EXPECT_EQ(received.headerFlag, c.flag);
        if (c.flag == kHeaderFlagUnpatched) {
            EXPECT_EQ(received.image, bytes);
        } else {
            const auto mac = rig.lan.mac(0);
            EXPECT_TRUE(
                std::equal(mac.bytes.begin(), mac.bytes.end(), received.image.begin() + 0xFF04));
        }
    }
}

TEST(FirmwareDownload, PasswordGate) {
    struct Case {
        const char* name;
        std::string remembered;
        std::optional<std::string> answer;
        bool prompted;
        std::string preset;
        bool success;
    };
    const Case cases[] = {
        {"remembered password passes without a prompt", "s3cret", std::nullopt, false, "", true},
        {"prompt, right answer", "", "s3cret", true, "", true},
        {"stale remembered password is the preset", "old", "s3cret", true, "old", true},
        {"cancel", "", std::nullopt, true, "", false},
        {"wrong answer, no second prompt", "", "guess", true, "", false},
        {"longer than the frame holds", "", "s3cret-but-far-too-long", true, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareRig rig(1);
        rig.device(0).setPassword("s3cret");
        rig.records[0]->setRememberedPassword(c.remembered);
        rig.op.passwordAnswer = c.answer;
        const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

        EXPECT_EQ(summary.outcomes[0].success, c.success);
        ASSERT_EQ(rig.op.prompts.size(), c.prompted ? 1u : 0u);
        if (c.prompted) {
            EXPECT_EQ(rig.op.prompts[0].label, "2801795073 MAC:02-19-A7-00-00-01");
            EXPECT_EQ(rig.op.prompts[0].preset, c.preset);
        }
        if (c.success) {
            EXPECT_EQ(rig.records[0]->rememberedPassword(), "s3cret");
            EXPECT_EQ(rig.device(0).stats().refusedPasswords, c.prompted ? 2u : 1u);
            EXPECT_TRUE(rig.device(0).firmware().accepted);
        } else {
            EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::PasswordRefused);
            ASSERT_FALSE(rig.op.messages.empty());
            EXPECT_EQ(rig.op.messages.back().first,
                      DeviceName(rig.lan.mac(0)) + ": " + firmware_text::kIncorrectPassword);
            EXPECT_EQ(rig.device(0).stats().requestCount(code::kBootQuery), 0u);
        }
    }
}

TEST(FirmwareDownload, UnreadableImageFailsWithoutTouchingTheDevice) {
    FirmwareRig rig(1);
    const auto summary = rig.run(rig.dir.path() / "missing.bin");

    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::ImageUnreadable);
    EXPECT_EQ(summary.outcomes[0].imageError, ImageLoadError::CannotOpen);
    EXPECT_EQ(rig.device(0).stats().requestCount(code::kCheckPassword), 0u);
    EXPECT_TRUE(rig.op.messages.empty());
    EXPECT_EQ(summary.summaryLine, "0 unit success, 1 unit fail. ");
}

} // namespace
} // namespace korvane

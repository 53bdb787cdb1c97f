// One unit's download against a scripted device: the blocks, the status
// table, the boot check, the factory block rule and the password gate.

#include "firmware/upgrade.hpp"
#include "unit/firmware_station.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using test::FirmwareRig;
using test::FirmwareStation;
using test::MakeImage;

std::vector<std::uint16_t> numbersOf(const FirmwareStation& station) {
    std::vector<std::uint16_t> numbers;
    for (const auto& block : station.blocks())
        numbers.push_back(block.number);
    return numbers;
}

std::vector<std::uint16_t> countUp(std::uint16_t n) {
    std::vector<std::uint16_t> numbers(n);
    for (std::uint16_t i = 0; i < n; ++i)
        numbers[i] = i;
    return numbers;
}

TEST(FirmwareDownload, BlocksCarryTheWholeImageInOrder) {
    struct Case {
        std::size_t length;
        std::uint16_t blocks;
        std::size_t lastBlock;
    };
    const Case cases[] = {
        {1024, 1, 1024}, {3 * 1024, 3, 1024}, {1025, 2, 1}, {0x10000, 64, 1024}, {0x10001, 65, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        FirmwareRig rig;
        FirmwareStation& device = rig.addUnits(1);
        const auto bytes = MakeImage(c.length);
        const auto summary = rig.run(rig.writeImage(bytes));

        ASSERT_TRUE(summary.outcomes[0].success);
        EXPECT_EQ(numbersOf(device), countUp(c.blocks));
        EXPECT_EQ(device.blocks().back().data.size(), c.lastBlock);

        // What the device assembled is the image, patched with its own MAC
        // when the image has a factory block.
        FirmwareImage expected(bytes);
        const bool patched = expected.checkAndPatchFactoryBlock(device.mac());
        EXPECT_EQ(device.assembled(),
                  std::vector<std::uint8_t>(expected.bytes().begin(), expected.bytes().end()));
        const EndOfTransferRecord record{expected.sum(),
                                         patched ? kHeaderFlagPatched : kHeaderFlagUnpatched};
        const auto encoded = record.encode();
        EXPECT_EQ(device.endRecord(), std::vector<std::uint8_t>(encoded.begin(), encoded.end()));

        EXPECT_EQ(summary.summaryLine, "1 unit success, 0 unit fail. ");
        EXPECT_EQ(rig.op.progress.back().second, 100);
        const auto rows = rig.op.rowTexts(UnitKey(device.mac()));
        EXPECT_EQ(rows.front(), "");
        EXPECT_EQ(rows[1], firmware_text::kDownloading);
        EXPECT_EQ(rows[rows.size() - 2], firmware_text::kProgramming);
        EXPECT_EQ(rows.back(), firmware_text::kDownloadSuccessfully);
    }
}

TEST(FirmwareDownload, BusyFirstBlockPausesOnceThenLaterBusyCountsAsAccepted) {
    FirmwareRig rig;
    FirmwareStation& device = rig.addUnits(1);
    device.blockStatuses = {status::kBusy, status::kDone, status::kBusy};
    const auto started = SteadyClock::now();
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));

    ASSERT_TRUE(summary.outcomes[0].success);
    EXPECT_GE(SteadyClock::now() - started, rig.ctx.timing.firmwareBusyPause);
    // Block 0 twice (after the pause); block 1's busy was taken as accepted.
    EXPECT_EQ(numbersOf(device), (std::vector<std::uint16_t>{0, 0, 1, 2, 3}));
    const auto rows = rig.op.rowTexts(UnitKey(device.mac()));
    EXPECT_EQ(std::count(rows.begin(), rows.end(), firmware_text::kPreparing), 1);
    EXPECT_EQ(rows[2], firmware_text::kPreparing);
    EXPECT_EQ(
        std::count(rig.op.statusLines.begin(), rig.op.statusLines.end(), firmware_text::kPreparing),
        1);
}

TEST(FirmwareDownload, RetryResendsTheSameBlockNumber) {
    FirmwareRig rig;
    FirmwareStation& device = rig.addUnits(1);
    device.blockStatuses = {status::kDone, status::kPasswordRefused};
    rig.op.blockChoices = {BlockFailureChoice::Retry};
    const auto summary = rig.run(rig.writeImage(MakeImage(3 * 1024)));

    ASSERT_TRUE(summary.outcomes[0].success);
    EXPECT_EQ(numbersOf(device), (std::vector<std::uint16_t>{0, 1, 1, 2}));
    EXPECT_EQ(rig.op.blockQuestions, std::vector<std::string>{firmware_text::kDownloadFailed});
    const auto rows = rig.op.rowTexts(UnitKey(device.mac()));
    EXPECT_NE(std::find(rows.begin(), rows.end(), firmware_text::kAbort), rows.end());
    EXPECT_EQ(device.passwordChecks(), 2); // one gate only
}

TEST(FirmwareDownload, IgnoreRerunsTheGateAndStartsOverAtBlockZero) {
    FirmwareRig rig;
    FirmwareStation& device = rig.addUnits(1);
    device.blockStatuses = {status::kBusy, status::kDone, status::kPasswordRefused};
    rig.op.blockChoices = {BlockFailureChoice::Ignore};
    const auto summary = rig.run(rig.writeImage(MakeImage(3 * 1024)));

    ASSERT_TRUE(summary.outcomes[0].success);
    // The pause flag is clear again after the start over, but the device
    // is no longer busy; the boot check ran again too.
    EXPECT_EQ(numbersOf(device), (std::vector<std::uint16_t>{0, 0, 1, 0, 1, 2}));
    EXPECT_EQ(device.passwordChecks(), 4); // two gates of two checks each
    EXPECT_EQ(device.bootQueries(), 2);
    EXPECT_EQ(summary.outcomes[0].blocksAccepted, 3u);
}

TEST(FirmwareDownload, IgnoreWithARefusedPasswordFailsTheUnit) {
    FirmwareRig rig;
    FirmwareStation& device = rig.addUnits(1);
    device.blockStatuses = {status::kPasswordRefused};
    rig.op.blockChoices = {BlockFailureChoice::Ignore};
    // The gate passes the first time and refuses the second.
    int gates = 0;
    FirmwareUpgrade session(rig.ctx, rig.op, rig.units(), [&](DeviceIdentity&, StopToken*) {
        return ++gates == 1 ? std::optional<std::string>("") : std::nullopt;
    });
    const auto image = rig.writeImage(MakeImage(2 * 1024));
    const auto summary = *session.DownloadAllUnits([&] { return image.string(); });

    EXPECT_EQ(gates, 2);
    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::PasswordRefused);
    ASSERT_EQ(rig.op.messages.size(), 3u); // two warnings about the short image first
    EXPECT_EQ(rig.op.messages[2].first, firmware_text::kIncorrectPassword);
    EXPECT_EQ(numbersOf(device), (std::vector<std::uint16_t>{0}));
    EXPECT_EQ(rig.op.progress.back().second, 100);
}

TEST(FirmwareDownload, AbortFailsTheUnitAndCountsItComplete) {
    FirmwareRig rig;
    FirmwareStation& device = rig.addUnits(1);
    device.blockStatuses = {status::kDone, status::kPasswordRefused};
    const auto summary = rig.run(rig.writeImage(MakeImage(4 * 1024)));

    EXPECT_FALSE(summary.outcomes[0].success);
    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::BlockAborted);
    EXPECT_EQ(numbersOf(device), (std::vector<std::uint16_t>{0, 1}));
    EXPECT_FALSE(device.endRecord());
    EXPECT_EQ(rig.op.progress.back().second, 100);
    EXPECT_EQ(rig.op.rowTexts(UnitKey(device.mac())).back(), firmware_text::kAbort);
    EXPECT_EQ(summary.rows,
              (std::vector<StatusRow>{{UnitKey(device.mac()), firmware_text::kDownloadFailed}}));
    EXPECT_EQ(summary.summaryLine, "0 unit success, 1 unit fail. ");
}

TEST(FirmwareDownload, BootCheck) {
    // The image says boot version 1.0 ("1", "0"), compatibility code 3.
    struct Case {
        const char* name;
        bool answerBoot;
        std::uint32_t flash;
        bool yes;
        bool asked;
        UnitFailure failure;
    };
    const Case cases[] = {
        {"no answer skips the check", false, 0x01000004, true, false, UnitFailure::None},
        {"equal versions", true, 0x01000003, true, false, UnitFailure::None},
        {"image newer", true, 0x00090003, true, false, UnitFailure::None},
        {"image older, Yes", true, 0x0102FF03, true, true, UnitFailure::None},
        {"image older, No", true, 0x01020003, false, true, UnitFailure::BootVersionDeclined},
        {"other compatibility code", true, 0x01000004, true, false, UnitFailure::BootIncompatible},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareRig rig;
        FirmwareStation& device = rig.addUnits(1);
        device.answerBoot = c.answerBoot;
        device.flashBootWord = c.flash;
        rig.op.yesNoAnswer = c.yes;
        const auto summary = rig.run(rig.writeImage(MakeImage(0x10000)));

        EXPECT_EQ(summary.outcomes[0].failure, c.failure);
        EXPECT_EQ(summary.outcomes[0].success, c.failure == UnitFailure::None);
        EXPECT_EQ(rig.op.questions, c.asked
                                        ? std::vector<std::string>{firmware_text::kOlderBootVersion}
                                        : std::vector<std::string>{});
        EXPECT_TRUE(rig.op.messages.empty()); // failures here are silent
        EXPECT_EQ(device.bootQueries(), c.answerBoot ? 1 : rig.ctx.timing.tries);
        if (c.failure != UnitFailure::None) {
            EXPECT_TRUE(device.blocks().empty());
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
        std::size_t warnings;
    };
    const Case cases[] = {
        {"valid block, early kind", 0x10000, true, true, UnitFailure::None, kHeaderFlagPatched, 0},
        {"invalid block", 0x10000, false, false, UnitFailure::None, kHeaderFlagUnpatched, 0},
        {"invalid block, early kind", 0x10000, false, true, UnitFailure::EarlyKindRefused, 0, 0},
        {"short image", 0x8000, true, false, UnitFailure::None, kHeaderFlagUnpatched, 2},
        {"short image, early kind", 0x8000, true, true, UnitFailure::EarlyKindRefused, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareRig rig;
        FirmwareStation& device = rig.addUnits(1);
        if (c.early)
            rig.records[0]->bytes[identity_offset::kFirmwareVersion] = 0x01;
        const auto bytes = MakeImage(c.length, c.validBlock);
        const auto summary = rig.run(rig.writeImage(bytes));

        EXPECT_EQ(summary.outcomes[0].failure, c.failure);
        ASSERT_EQ(rig.op.messages.size(), c.warnings);
        for (const auto& [text, icon] : rig.op.messages)
            EXPECT_EQ(icon, MessageIcon::Warning);
        if (c.failure != UnitFailure::None) {
            EXPECT_TRUE(device.blocks().empty());
            continue;
        }
        ASSERT_TRUE(device.endRecord());
        EXPECT_EQ(readU32(*device.endRecord(), 4), c.flag);
        const auto assembled = device.assembled();
        if (c.flag == kHeaderFlagUnpatched) {
            EXPECT_EQ(assembled, bytes);
        } else {
            EXPECT_TRUE(std::equal(device.mac().bytes.begin(), device.mac().bytes.end(),
                                   assembled.begin() + 0xFF04));
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
        FirmwareRig rig;
        FirmwareStation& device = rig.addUnits(1);
        device.password = "s3cret";
        rig.records[0]->setRememberedPassword(c.remembered);
        rig.op.passwordAnswer = c.answer;
        const auto summary = rig.run(rig.writeImage(MakeImage(2048)));

        EXPECT_EQ(summary.outcomes[0].success, c.success);
        ASSERT_EQ(rig.op.prompts.size(), c.prompted ? 1u : 0u);
        if (c.prompted) {
            EXPECT_EQ(rig.op.prompts[0].label, PasswordPromptLabel(device.mac()));
            EXPECT_EQ(rig.op.prompts[0].preset, c.preset);
        }
        if (c.success) {
            EXPECT_EQ(rig.records[0]->rememberedPassword(), "s3cret");
            EXPECT_EQ(device.blocks().size(), 2u); // the device refuses a wrong password
        } else {
            EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::PasswordRefused);
            ASSERT_FALSE(rig.op.messages.empty());
            EXPECT_EQ(rig.op.messages.back().first, firmware_text::kIncorrectPassword);
            EXPECT_EQ(device.bootQueries(), 0);
        }
    }
}

TEST(FirmwareDownload, UnreadableImageFailsWithoutTouchingTheDevice) {
    FirmwareRig rig;
    FirmwareStation& device = rig.addUnits(1);
    const auto summary = rig.run(rig.dir.path() / "missing.bin");

    EXPECT_EQ(summary.outcomes[0].failure, UnitFailure::ImageUnreadable);
    EXPECT_EQ(summary.outcomes[0].imageError, ImageLoadError::CannotOpen);
    EXPECT_EQ(device.passwordChecks(), 0);
    EXPECT_TRUE(rig.op.messages.empty());
    EXPECT_EQ(summary.summaryLine, "0 unit success, 1 unit fail. ");
}

} // namespace
} // namespace korvane

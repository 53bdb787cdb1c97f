// The configuration commands against an emulated device on the simulated
// segment: which frames each command sends, with which password, and what
// the person is told.

#include "config_test_support.hpp"

#include "config/config_commands.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using testing::DeviceFixture;
using testing::kAdapterMac;
using testing::kDeviceMac;
using testing::ScriptedOperator;
using testing::StaticBlock;

using testing::Request;

// Checks a settings write: length, block mark, checksum of the body, the
// password field, and returns the block as sent.
std::vector<std::uint8_t> CheckSettingsWrite(const Request& r, std::size_t n,
                                             const std::string& password) {
    EXPECT_EQ(r.frame.size(), n + 42);
    EXPECT_EQ(r.password, password);
    const auto data = r.data();
    EXPECT_EQ(data.size(), n);
    if (data.size() != n)
        return data;
    EXPECT_EQ(readU32(data, 0), kSettingsBlockMark);
    EXPECT_EQ(readU32(data, 4), BlockChecksum(std::span(data).subspan(8)));
    return data;
}

struct Sheet {
    std::vector<SheetRefusal> seen;
    std::function<void(NetworkSettingsModel&)> change;
    int oks = 1; // how many times OK is pressed before Cancel

    SheetEditor editor() {
        return [this](NetworkSettingsModel& m, SheetRefusal previous) {
            seen.push_back(previous);
            if (static_cast<int>(seen.size()) > oks)
                return false;
            if (seen.size() == 1 && change)
                change(m);
            return true;
        };
    }
};

NetworkSettingsHooks Hooks(Sheet& sheet, int& searches) {
    NetworkSettingsHooks hooks;
    hooks.edit = sheet.editor();
    hooks.startSearch = [&searches] { ++searches; };
    hooks.addressInUse = [](std::uint32_t) { return false; };
    return hooks;
}

TEST(RunNetworkSettings, OkWithoutChangeWritesNothingAndStartsNoSearch) {
    DeviceFixture f;
    f.device.setSettings(StaticBlock());
    Sheet sheet;
    int searches = 0;
    ScriptedOperator op;
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, Hooks(sheet, searches));
    EXPECT_EQ(r.end, ConfigEnd::NothingToWrite);
    EXPECT_EQ(searches, 0);
    EXPECT_TRUE(f.requests(code::kWriteSettings).empty());
    EXPECT_TRUE(f.requests(code::kSetPassword).empty());
    const auto reads = f.requests(code::kReadSettings);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].frame.size(), 110u);
    EXPECT_EQ(reads[0].password, "");
    EXPECT_TRUE(op.messages.empty());
}

TEST(RunNetworkSettings, NoReplyToTheReadSaysNoRespond) {
    DeviceFixture f;
    f.shortWindows();
    testing::SetSilent(f.device);
    Sheet sheet;
    int searches = 0;
    ScriptedOperator op;
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, Hooks(sheet, searches));
    EXPECT_EQ(r.end, ConfigEnd::NoReply);
    EXPECT_EQ(op.messages, std::vector<std::string>{"No respond!"});
    EXPECT_TRUE(sheet.seen.empty()) << "the sheet is never shown";
}

TEST(RunNetworkSettings, ChangedAddressWritesThe72ByteBlockThenSearches) {
    DeviceFixture f;
    const SettingsBlock read = StaticBlock();
    f.device.setSettings(read);
    Sheet sheet;
    sheet.change = [](NetworkSettingsModel& m) {
        m.ipPage.ipAddress = 0x0A000005;
        m.ipPage.subnetMask = 0xFF000000;
        m.ipPage.gateway = 0x0A000001;
    };
    int searches = 0;
    ScriptedOperator op;
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, Hooks(sheet, searches));
    EXPECT_EQ(r.end, ConfigEnd::Written);
    EXPECT_EQ(r.settingsStatus, status::kDone);
    EXPECT_TRUE(r.searchStarted);
    EXPECT_EQ(searches, 1);

    const auto writes = f.requests(code::kWriteSettings);
    ASSERT_EQ(writes.size(), 1u);
    const auto data = CheckSettingsWrite(writes[0], 72, "");
    ASSERT_EQ(data.size(), 72u);
    EXPECT_EQ(readU32(data, settings_offset::kIpAddress), 0x0A000005u);
    EXPECT_EQ(readU32(data, settings_offset::kSubnetMask), 0xFF000000u);
    EXPECT_EQ(readU32(data, settings_offset::kGateway), 0x0A000001u);
    EXPECT_EQ(data[settings_offset::kAddressMode], 0);
    for (std::size_t i = 8; i < 23; ++i)
        EXPECT_EQ(data[i], read.bytes[i]) << "byte " << i << " goes back as read";
    for (std::size_t i = 48; i < 68; ++i)
        EXPECT_EQ(data[i], read.bytes[i]) << "byte " << i << " goes back as read";
    for (std::size_t i = 68; i < 72; ++i)
        EXPECT_EQ(data[i], 0) << i;
}

TEST(RunNetworkSettings, AbsentHttpsIsWrittenBackAsZero) {
    DeviceFixture f;
    SettingsBlock read = StaticBlock(40);
    read.setPort<settings_offset::kHttpsPort>(0);
    f.device.setSettings(read);
    Sheet sheet;
    sheet.change = [](NetworkSettingsModel& m) { m.advancedPage.ssh.port = 2222; };
    int searches = 0;
    ScriptedOperator op;
    RunNetworkSettings(f.ctx, f.identity, op, Hooks(sheet, searches));
    const auto writes = f.requests(code::kWriteSettings);
    ASSERT_EQ(writes.size(), 1u);
    const auto data = writes[0].data();
    EXPECT_EQ(readU16(data, settings_offset::kHttpsPort), 0);
    EXPECT_EQ(readU16(data, settings_offset::kSshPort), 2222);
    EXPECT_EQ(readU16(data, settings_offset::kHttpPort), 80);
    EXPECT_EQ(readU16(data, settings_offset::kTelnetPort), 23);
}

TEST(RunNetworkSettings, RefusedOkKeepsTheSheetOpenWithTheReason) {
    DeviceFixture f;
    f.device.setSettings(StaticBlock());
    f.device.setPassword("pw");
    Sheet sheet;
    sheet.oks = 4;
    sheet.change = [](NetworkSettingsModel& m) { m.advancedPage.http.port = 0; };
    ScriptedOperator op;
    op.passwords = {std::nullopt, "wrong"};
    int searches = 0;
    auto hooks = Hooks(sheet, searches);
    // Fix the port after the first refusal; then cancel the password, then type a wrong one.
    hooks.edit = [&](NetworkSettingsModel& m, SheetRefusal previous) {
        sheet.seen.push_back(previous);
        if (sheet.seen.size() == 1)
            m.advancedPage.http.port = 0;
        if (sheet.seen.size() == 2)
            m.advancedPage.http.port = 8080;
        return sheet.seen.size() <= 3;
    };
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, hooks);
    EXPECT_EQ(r.end, ConfigEnd::Cancelled);
    EXPECT_EQ(sheet.seen,
              (std::vector<SheetRefusal>{SheetRefusal::None, SheetRefusal::TestFailed,
                                         SheetRefusal::GateCancelled, SheetRefusal::GateRefused}));
    EXPECT_EQ(op.messages, (std::vector<std::string>{std::string(text::kHttpPortRange),
                                                     std::string(text::kIncorrectPassword)}));
    EXPECT_TRUE(f.requests(code::kWriteSettings).empty());
    EXPECT_EQ(searches, 0);
}

TEST(RunNetworkSettings, SheetClosesOnceItsOkIsAcceptedAndBeforeTheWrites) {
    DeviceFixture f;
    f.device.setSettings(StaticBlock());
    f.device.setPassword("pw");
    Sheet sheet;
    sheet.oks = 3;
    sheet.change = [](NetworkSettingsModel& m) { m.ipPage.gateway = 0xC0A801FE; };
    int searches = 0;
    auto hooks = Hooks(sheet, searches);
    std::vector<std::size_t> writesWhenClosed;
    hooks.sheetAccepted = [&] {
        writesWhenClosed.push_back(f.requests(code::kWriteSettings).size());
    };
    ScriptedOperator op;
    op.passwords = {std::nullopt, "pw"}; // the first OK's prompt is cancelled
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, hooks);
    EXPECT_EQ(r.end, ConfigEnd::Written);
    EXPECT_EQ(sheet.seen.size(), 2u);
    EXPECT_EQ(writesWhenClosed, std::vector<std::size_t>{0});
    EXPECT_EQ(f.requests(code::kWriteSettings).size(), 1u);

    // Cancel never closes it as accepted.
    Sheet cancelled;
    cancelled.oks = 0;
    auto cancelHooks = Hooks(cancelled, searches);
    int closed = 0;
    cancelHooks.sheetAccepted = [&closed] { ++closed; };
    EXPECT_EQ(RunNetworkSettings(f.ctx, f.identity, op, cancelHooks).end, ConfigEnd::Cancelled);
    EXPECT_EQ(closed, 0);
}

TEST(RunNetworkSettings, PasswordKeptChangedOrCleared) {
    struct Case {
        const char* what;
        std::function<void(NetworkSettingsModel&)> change;
        std::optional<std::string> block; // new password in the 0x7002 block; nullopt: none sent
        int settingsWrites;
    };
    const Case cases[] = {
        {"stars kept: no password write, settings carry the password",
         [](NetworkSettingsModel& m) { m.ipPage.gateway = 0xC0A801FE; }, std::nullopt, 1},
        {"unticked: the password is cleared",
         [](NetworkSettingsModel& m) { m.passwordPage.enabled = false; }, std::string(), 0},
        // The device takes the new password at once and refuses the old one
        // in the settings write: the settings go again with the new one.
        {"new password, then the settings",
         [](NetworkSettingsModel& m) {
             m.passwordPage.newPassword = m.passwordPage.confirmPassword = "fresh";
             m.ipPage.gateway = 0xC0A801FE;
         },
         std::string("fresh"), 2},
    };
    for (const Case& c : cases) {
        DeviceFixture f;
        f.device.setSettings(StaticBlock());
        f.device.setPassword("pw");
        Sheet sheet;
        sheet.change = c.change;
        int searches = 0;
        ScriptedOperator op;
        op.passwords = {"pw"};
        const auto r = RunNetworkSettings(f.ctx, f.identity, op, Hooks(sheet, searches));
        EXPECT_EQ(r.end, ConfigEnd::Written) << c.what;
        EXPECT_EQ(searches, 1) << c.what;
        EXPECT_TRUE(op.messages.empty()) << c.what;

        const auto passwordWrites = f.requests(code::kSetPassword);
        ASSERT_EQ(passwordWrites.size(), c.block ? 1u : 0u) << c.what;
        if (c.block) {
            EXPECT_EQ(passwordWrites[0].password, "pw") << c.what;
            const auto data = passwordWrites[0].data();
            ASSERT_EQ(data.size(), 24u);
            std::array<std::uint8_t, 24> expected{};
            std::copy(c.block->begin(), c.block->end(), expected.begin() + 4);
            writeU32(expected, 0, BlockChecksum(expected));
            EXPECT_TRUE(std::equal(data.begin(), data.end(), expected.begin())) << c.what;
        }
        const auto settingsWrites = f.requests(code::kWriteSettings);
        ASSERT_EQ(settingsWrites.size(), static_cast<std::size_t>(c.settingsWrites)) << c.what;
        if (c.settingsWrites > 0) {
            CheckSettingsWrite(settingsWrites[0], 72, "pw");
            if (c.settingsWrites == 2)
                CheckSettingsWrite(settingsWrites[1], 72, *c.block);
            EXPECT_EQ(r.settingsStatus, status::kDone) << c.what;
            EXPECT_EQ(f.device.settings().gateway(), 0xC0A801FEu) << c.what;
        }
    }
}

TEST(RunNetworkSettings, PasswordWriteWithoutReplySaysSetPasswordAbortAndGoesOn) {
    DeviceFixture f;
    f.shortWindows();
    f.ctx.timing.queryWindow = Millis(200);
    f.device.setSettings(StaticBlock());
    testing::ScriptStatuses(f.device, code::kSetPassword, {0});
    Sheet sheet;
    sheet.change = [](NetworkSettingsModel& m) {
        m.passwordPage = {true, "new", "new"};
        m.ipPage.gateway = 0xC0A801FE;
    };
    int searches = 0;
    ScriptedOperator op;
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, Hooks(sheet, searches));
    EXPECT_EQ(op.messages, std::vector<std::string>{"Set Password Abort"});
    EXPECT_TRUE(r.settingsWritten);
    EXPECT_EQ(searches, 1);
}

TEST(RunNetworkSettings, ConflictQuestionNoKeepsTheSheetOpen) {
    DeviceFixture f;
    f.device.setSettings(StaticBlock());
    Sheet sheet;
    sheet.oks = 2;
    sheet.change = [](NetworkSettingsModel& m) { m.ipPage.ipAddress = 0xC0A80199; };
    int searches = 0;
    auto hooks = Hooks(sheet, searches);
    std::vector<std::uint32_t> probed;
    hooks.addressInUse = [&](std::uint32_t ip) {
        probed.push_back(ip);
        return true;
    };
    ScriptedOperator op;
    op.answers = {false, true};
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, hooks);
    EXPECT_EQ(sheet.seen,
              (std::vector<SheetRefusal>{SheetRefusal::None, SheetRefusal::ConflictDeclined}));
    EXPECT_EQ(probed, (std::vector<std::uint32_t>{0xC0A80199, 0xC0A80199}));
    EXPECT_EQ(r.end, ConfigEnd::Written);
    EXPECT_EQ(f.device.settings().ipAddress(), 0xC0A80199u);
}

TEST(RunIpSettings, Writes68BytesWithTheEnteredPassword) {
    DeviceFixture f;
    const SettingsBlock read = StaticBlock(40);
    f.device.setSettings(read);
    f.device.setPassword("pw");
    ScriptedOperator op;
    op.passwords = {"pw"};
    std::vector<std::optional<std::string>> refusals;
    const auto r =
        RunIpSettings(f.ctx, f.identity, op, [&](IpAddressPageModel& page, const auto& refusal) {
            refusals.push_back(refusal);
            EXPECT_EQ(page.version, 0);
            EXPECT_FALSE(page.bootpAvailable());
            page.ipAddress = refusals.size() == 1 ? 0 : 0x0A000009;
            return true;
        });
    EXPECT_EQ(r.end, ConfigEnd::Written);
    ASSERT_EQ(refusals.size(), 2u);
    EXPECT_EQ(refusals[1], std::optional<std::string>(std::string(text::kIpAddressZero)));
    const auto reads = f.requests(code::kReadSettings);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].password, "pw");
    const auto writes = f.requests(code::kWriteSettings);
    ASSERT_EQ(writes.size(), 1u);
    const auto data = CheckSettingsWrite(writes[0], 68, "pw");
    EXPECT_EQ(readU32(data, settings_offset::kIpAddress), 0x0A000009u);
    EXPECT_EQ(readU16(data, settings_offset::kHttpPort), 80) << "ports go back as read";
}

TEST(RunIpSettings, WrongPasswordAndRefusedWrite) {
    DeviceFixture f;
    f.device.setSettings(StaticBlock());
    f.device.setPassword("pw");
    ScriptedOperator op;
    op.passwords = {"nope"};
    int shown = 0;
    const auto editor = [&](IpAddressPageModel&, const auto&) {
        ++shown;
        return true;
    };
    EXPECT_EQ(RunIpSettings(f.ctx, f.identity, op, editor).end, ConfigEnd::PasswordRefused);
    EXPECT_EQ(op.messages, std::vector<std::string>{"Incorrect Password."});
    EXPECT_EQ(shown, 0);

    f.device.setPassword("");
    // An OK without a change writes nothing.
    EXPECT_EQ(RunIpSettings(f.ctx, f.identity, op, editor).end, ConfigEnd::NothingToWrite);
    EXPECT_TRUE(f.requests(code::kWriteSettings).empty());

    testing::ScriptStatuses(f.device, code::kWriteSettings, {1});
    op.messages.clear();
    const auto changer = [&](IpAddressPageModel& page, const auto&) {
        page.gateway = 0x0A0000FE;
        return true;
    };
    EXPECT_EQ(RunIpSettings(f.ctx, f.identity, op, changer).end, ConfigEnd::WriteFailed);
    EXPECT_EQ(op.messages, std::vector<std::string>{"Write Abort"});
}

TEST(RunSetPassword, SetsAndClearsWithTheAcceptedPassword) {
    DeviceFixture f;
    f.device.setPassword("old");
    ScriptedOperator op;
    op.passwords = {"old"};
    std::vector<std::optional<std::string>> refusals;
    auto r = RunSetPassword(f.ctx, f.identity, op, [&](PasswordPageModel& page, const auto& why) {
        refusals.push_back(why);
        page.enabled = true;
        page.newPassword = "new";
        page.confirmPassword = refusals.size() == 1 ? "nwe" : "new";
        return true;
    });
    EXPECT_EQ(r.end, ConfigEnd::Written);
    EXPECT_EQ(f.device.password(), "new");
    ASSERT_EQ(refusals.size(), 2u);
    EXPECT_EQ(refusals[1], std::optional<std::string>(std::string(text::kPasswordsDiffer)));
    auto writes = f.requests(code::kSetPassword);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].password, "old");

    op.passwords = {"new"};
    r = RunSetPassword(f.ctx, f.identity, op, [](PasswordPageModel& page, const auto&) {
        page.enabled = false;
        return true;
    });
    EXPECT_EQ(r.end, ConfigEnd::Written);
    writes = f.requests(code::kSetPassword);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].password, "new");
    const auto data = writes[1].data();
    EXPECT_EQ(data, std::vector<std::uint8_t>(24, 0)) << "clearing sends 24 zero bytes";
    EXPECT_EQ(f.device.password(), "");
}

TEST(RunSetPassword, StarsWriteNothingAndRefusedWriteSaysAbort) {
    DeviceFixture f;
    ScriptedOperator op;
    auto r = RunSetPassword(f.ctx, f.identity, op, [](PasswordPageModel& page, const auto&) {
        page = {true, std::string(kUnchangedPassword), std::string(kUnchangedPassword)};
        return true;
    });
    EXPECT_EQ(r.end, ConfigEnd::NothingToWrite);
    EXPECT_TRUE(f.requests(code::kSetPassword).empty());

    testing::ScriptStatuses(f.device, code::kSetPassword, {1});
    r = RunSetPassword(f.ctx, f.identity, op, [](PasswordPageModel& page, const auto&) {
        page = {true, "x", "x"};
        return true;
    });
    EXPECT_EQ(r.end, ConfigEnd::WriteFailed);
    EXPECT_EQ(op.messages, std::vector<std::string>{"Set Password Abort"});
}

TEST(RunSetSerialNumber, FactoryBlockCarriesMacHardwareVersionAndPassword) {
    DeviceFixture f;
    f.device.setPassword("pw");
    ScriptedOperator op;
    op.passwords = {"pw"};
    std::string preset;
    const auto r = RunSetSerialNumber(f.ctx, f.identity, op, [&](std::string_view p) {
        preset = std::string(p);
        return std::optional<std::string>("2801795073");
    });
    EXPECT_EQ(preset, "2801795072");
    EXPECT_EQ(r.end, ConfigEnd::Written);
    EXPECT_EQ(r.newMac.toString(), "02-19-A7-00-00-01");
    const auto writes = f.requests(code::kWriteFactory);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].password, "pw");
    EXPECT_EQ(writes[0].frame.size(), 28u + 42u);
    const auto data = writes[0].data();
    ASSERT_EQ(data.size(), 28u);
    const auto expected = BuildFactoryBlock(r.newMac, "HW-2.1");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), expected.begin()));
    EXPECT_EQ(data[12], 'H');
    EXPECT_TRUE(op.messages.empty());
}

TEST(RunSetSerialNumber, NumericHardwareVersionGoesBackByteForByte) {
    DeviceFixture f;
    const std::uint8_t numeric[] = {0x01, 0x00, 0x02, 0x03};
    std::copy(std::begin(numeric), std::end(numeric),
              f.identity.bytes.begin() +
                  static_cast<std::ptrdiff_t>(identity_offset::kHardwareVersion));
    std::fill_n(f.identity.bytes.begin() +
                    static_cast<std::ptrdiff_t>(identity_offset::kHardwareVersion + 4),
                12, 0);
    ScriptedOperator op;
    // 5 gives 02-19-00-00-00-05, outside the range: asked, with No the default.
    const auto five = [](std::string_view) { return std::optional<std::string>("5"); };
    auto r = RunSetSerialNumber(f.ctx, f.identity, op, five);
    EXPECT_EQ(r.end, ConfigEnd::Declined);
    EXPECT_TRUE(r.outOfRange);
    EXPECT_FALSE(r.collides);
    ASSERT_EQ(op.questions.size(), 1u);
    EXPECT_NE(op.questions[0].find(DeviceName(kDeviceMac)), std::string::npos) << op.questions[0];
    EXPECT_TRUE(f.requests(code::kWriteFactory).empty());

    op.answers = {true};
    r = RunSetSerialNumber(f.ctx, f.identity, op, five);
    EXPECT_EQ(r.end, ConfigEnd::Written);
    const auto writes = f.requests(code::kWriteFactory);
    ASSERT_EQ(writes.size(), 1u);
    const auto data = writes[0].data();
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin() + 12, data.begin() + 16),
              std::vector<std::uint8_t>(std::begin(numeric), std::end(numeric)));
}

TEST(RunSetSerialNumber, StatusesOfTheWrite) {
    struct Case {
        std::vector<std::uint16_t> statuses;
        ConfigEnd end;
        std::vector<std::string> messages;
        std::size_t writes;
    };
    const Case cases[] = {
        {{3, 2}, ConfigEnd::Written, {}, 2},
        {{3, 3}, ConfigEnd::WriteFailed, {"Download Failed"}, 2},
        {{1}, ConfigEnd::WriteFailed, {"Write Abort"}, 1},
        {{0}, ConfigEnd::WriteFailed, {"Write Abort"}, 1},
        {{0x8001}, ConfigEnd::WriteFailed, {}, 1},
        {{3, 0xFFFF}, ConfigEnd::WriteFailed, {}, 2},
        {{7}, ConfigEnd::Written, {}, 1},
    };
    for (const Case& c : cases) {
        DeviceFixture f;
        f.ctx.timing.factoryBusyWait = Millis(20);
        testing::ScriptStatuses(f.device, code::kWriteFactory, c.statuses);
        ScriptedOperator op;
        const auto started = SteadyClock::now();
        const auto r = RunSetSerialNumber(f.ctx, f.identity, op, [](std::string_view) {
            return std::optional<std::string>("2801795072");
        });
        EXPECT_EQ(r.end, c.end) << c.statuses[0];
        EXPECT_EQ(op.messages, c.messages) << c.statuses[0];
        EXPECT_EQ(f.requests(code::kWriteFactory).size(), c.writes) << c.statuses[0];
        if (c.writes == 2) {
            EXPECT_GE(SteadyClock::now() - started, Millis(20)) << "one busy wait";
        }
    }
}

TEST(RunSetSerialNumber, CancelAndGateEndsSendNothing) {
    DeviceFixture f;
    ScriptedOperator op;
    auto r = RunSetSerialNumber(f.ctx, f.identity, op,
                                [](std::string_view) { return std::optional<std::string>(); });
    EXPECT_EQ(r.end, ConfigEnd::Cancelled);
    f.device.setPassword("pw");
    op.passwords = {"bad"};
    r = RunSetSerialNumber(f.ctx, f.identity, op,
                           [](std::string_view) { return std::optional<std::string>("1"); });
    EXPECT_EQ(r.end, ConfigEnd::PasswordRefused);
    EXPECT_EQ(op.messages, std::vector<std::string>{"Incorrect Password."});
    EXPECT_TRUE(f.requests(code::kWriteFactory).empty());
}

} // namespace
} // namespace korvane

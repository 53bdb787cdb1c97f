// The Network Settings model: the shared port and mask tests, the sheet's
// OK tests in their order, the fill rules, the change test and what goes
// back into the block.

#include "config_test_support.hpp"

#include "config/config_commands.hpp"
#include "config/settings_model.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using testing::ScriptedOperator;
using testing::StaticBlock;

TEST(CheckServicePorts, EqualPairsThenReservedNumbersInTableOrder) {
    struct Case {
        int http, https, ssh, telnet;
        int result;
        int reserved;
    };
    const Case cases[] = {
        {80, 443, 22, 23, 1, 0},
        {80, 80, 22, 23, -1, 0},      // HTTP and HTTPS
        {80, 443, 23, 23, -1, 0},     // SSH and Telnet, the last pair
        {80, 443, 3478, 23, 0, 3478}, // SSH on a reserved port
        {21, 443, 22, 503, 0, 503},   // 503 comes before 21 in the table
        {1115, 1012, 22, 23, 0, 1012},
        {21, 21, 22, 23, -1, 0}, // equal ports are reported before reserved ones
    };
    for (const Case& c : cases) {
        int reserved = 0;
        EXPECT_EQ(CheckServicePorts(c.http, c.https, c.ssh, c.telnet, reserved), c.result)
            << c.http << " " << c.https << " " << c.ssh << " " << c.telnet;
        if (c.result == 0) {
            EXPECT_EQ(reserved, c.reserved);
        }
    }
}

TEST(IsContiguousMask, OnesThenZeros) {
    EXPECT_TRUE(IsContiguousMask(0xFFFFFF00));
    EXPECT_TRUE(IsContiguousMask(0xFFFFFFFE));  // 255.255.255.254
    EXPECT_FALSE(IsContiguousMask(0xFFFFFFFD)); // 255.255.255.253
    EXPECT_FALSE(IsContiguousMask(0xFF00FF00));
    EXPECT_FALSE(IsContiguousMask(0x7FFFFFFF));
    EXPECT_TRUE(IsContiguousMask(0x80000000));
    EXPECT_TRUE(IsContiguousMask(0));
    EXPECT_TRUE(IsContiguousMask(0xFFFFFFFF));
}

// A sheet that passes every test: static address, the four services on their defaults.
NetworkSettingsModel GoodSheet() {
    return FillNetworkSettings(StaticBlock(), status::kDone, false);
}

TEST(SheetOkTests, EachStepReportsItsMessageInOrder) {
    struct Case {
        const char* what;
        void (*change)(NetworkSettingsModel&);
        OkTest test;
        std::string message;
    };
    const Case cases[] = {
        {"passwords differ, also when the new one is empty",
         [](NetworkSettingsModel& m) {
             m.passwordPage = {true, "", "x"};
         },
         OkTest::PasswordsDiffer, std::string(text::kPasswordsDiffer)},
        {"empty new password",
         [](NetworkSettingsModel& m) {
             m.passwordPage = {true, "", ""};
         },
         OkTest::PasswordEmpty, std::string(text::kPasswordSpaceOrEmpty)},
        {"blank inside",
         [](NetworkSettingsModel& m) {
             m.passwordPage = {true, "a b", "a b"};
         },
         OkTest::PasswordBlank, std::string(text::kPasswordSpaceOrEmpty)},
        {"longer than a frame carries",
         [](NetworkSettingsModel& m) {
             m.passwordPage = {true, "abcdefghijklmnop", "abcdefghijklmnop"};
         },
         OkTest::PasswordTooLong, text::PasswordTooLong(15)},
        {"HTTP port 0 before the IP address 0.0.0.0",
         [](NetworkSettingsModel& m) {
             m.advancedPage.http.port = 0;
             m.ipPage.ipAddress = 0;
         },
         OkTest::HttpPortRange, std::string(text::kHttpPortRange)},
        {"Telnet 65535 before HTTPS 0",
         [](NetworkSettingsModel& m) {
             m.advancedPage.telnet.port = 65535;
             m.advancedPage.https.port = 0;
         },
         OkTest::TelnetPortRange, std::string(text::kTelnetPortRange)},
        {"HTTPS", [](NetworkSettingsModel& m) { m.advancedPage.https.port = 70000; },
         OkTest::HttpsPortRange, std::string(text::kHttpsPortRange)},
        {"SSH", [](NetworkSettingsModel& m) { m.advancedPage.ssh.port = 0; }, OkTest::SshPortRange,
         std::string(text::kSshPortRange)},
        {"IP 0.0.0.0 before a bad mask",
         [](NetworkSettingsModel& m) {
             m.ipPage.ipAddress = 0;
             m.ipPage.subnetMask = 0;
         },
         OkTest::IpAddressZero, std::string(text::kIpAddressZero)},
        {"first octet 0", [](NetworkSettingsModel& m) { m.ipPage.ipAddress = 0x00010203; },
         OkTest::IpFirstOctetZero, std::string(text::kInvalidIpAddress)},
        {"mask all ones", [](NetworkSettingsModel& m) { m.ipPage.subnetMask = 0xFFFFFFFF; },
         OkTest::SubnetMaskZeroAll, std::string(text::kSubnetMaskZeroOrAll)},
        {"gateway all ones", [](NetworkSettingsModel& m) { m.ipPage.gateway = 0xFFFFFFFF; },
         OkTest::GatewayAll, std::string(text::kGatewayAll)},
        {"gateway 0.0.0.0", [](NetworkSettingsModel& m) { m.ipPage.gateway = 0; },
         OkTest::GatewayFirstOctet, std::string(text::kInvalidGateway)},
        {"equal ports of switched-off services, before a reserved port and a bad mask",
         [](NetworkSettingsModel& m) {
             m.advancedPage.http = {false, false, 80};
             m.advancedPage.https = {true, false, 80};
             m.advancedPage.ssh.port = 21;
             m.ipPage.subnetMask = 0xFFFFFFFD;
         },
         OkTest::PortsSame, text::PortsSame("HTTP", "HTTPS", 80)},
        {"reserved port before the mask",
         [](NetworkSettingsModel& m) {
             m.advancedPage.http.port = 21;
             m.advancedPage.telnet.port = 503;
             m.ipPage.subnetMask = 0xFFFFFFFD;
         },
         OkTest::ReservedPort, "Invalid port: 503"},
        {"mask with a hole", [](NetworkSettingsModel& m) { m.ipPage.subnetMask = 0xFFFFFFFD; },
         OkTest::MaskNotContiguous, std::string(text::kInvalidSubnetMask)},
    };
    for (const Case& c : cases) {
        NetworkSettingsModel m = GoodSheet();
        c.change(m);
        std::optional<OkFailure> failure = SheetTestsBeforeConflict(m);
        if (!failure)
            failure = SheetTestsAfterConflict(m);
        ASSERT_TRUE(failure) << c.what;
        EXPECT_EQ(failure->test, c.test) << c.what;
        EXPECT_EQ(failure->message, c.message) << c.what;

        ScriptedOperator op;
        EXPECT_EQ(RunSheetOkTests(m, op, nullptr), SheetVerdict::TestFailed) << c.what;
        EXPECT_EQ(op.messages, std::vector<std::string>{c.message}) << c.what;
    }
    EXPECT_FALSE(SheetTestsBeforeConflict(GoodSheet()));
    EXPECT_FALSE(SheetTestsAfterConflict(GoodSheet()));
}

TEST(SheetOkTests, PageRulesApplyOnlyWhenTickedAndStarsPass) {
    NetworkSettingsModel m = GoodSheet();
    m.passwordPage = {false, "a b", "different"};
    EXPECT_FALSE(SheetTestsBeforeConflict(m));
    m.passwordPage = {true, std::string(kUnchangedPassword), std::string(kUnchangedPassword)};
    EXPECT_FALSE(SheetTestsBeforeConflict(m));
    m.passwordPage = {true, "fifteen-chars-1", "fifteen-chars-1"};
    EXPECT_FALSE(SheetTestsBeforeConflict(m));
}

TEST(SheetOkTests, AddressTestsArePassedOverOutsideStaticMode) {
    for (AddressMode mode : {AddressMode::Dhcp, AddressMode::Bootp}) {
        NetworkSettingsModel m = GoodSheet();
        m.ipPage.mode = mode;
        m.ipPage.ipAddress = 0;
        m.ipPage.subnetMask = 0xFFFFFFFD;
        m.ipPage.gateway = 0;
        EXPECT_FALSE(SheetTestsAfterConflict(m));
        EXPECT_FALSE(IpAddressPageTest(m.ipPage));
        m.advancedPage.ssh.port = 3478; // the port tests still apply
        ASSERT_TRUE(SheetTestsAfterConflict(m));
        EXPECT_EQ(SheetTestsAfterConflict(m)->message, "Invalid port: 3478");
    }
}

TEST(SheetOkTests, ConflictQuestionOnlyForANewStaticAddress) {
    NetworkSettingsModel m = GoodSheet();
    int probes = 0;
    const AddressProbe taken = [&](std::uint32_t) {
        ++probes;
        return true;
    };
    ScriptedOperator op;
    EXPECT_EQ(RunSheetOkTests(m, op, taken), SheetVerdict::Accepted); // own address kept
    EXPECT_EQ(probes, 0);

    m.ipPage.ipAddress = 0xC0A80165;
    op.answers = {false};
    EXPECT_EQ(RunSheetOkTests(m, op, taken), SheetVerdict::ConflictDeclined);
    ASSERT_EQ(op.questions.size(), 1u);
    EXPECT_EQ(op.questions[0],
              "IP address: 192.168.1.101 already exists on the LAN. Are you sure you want to "
              "continue?");
    op.answers = {true};
    EXPECT_EQ(RunSheetOkTests(m, op, taken), SheetVerdict::Accepted);

    // Yes goes on to the tests after the question.
    m.ipPage.gateway = 0;
    op.answers = {true};
    EXPECT_EQ(RunSheetOkTests(m, op, taken), SheetVerdict::TestFailed);
    EXPECT_EQ(op.messages.back(), text::kInvalidGateway);

    m.ipPage.mode = AddressMode::Dhcp;
    const int before = probes;
    RunSheetOkTests(m, op, taken);
    EXPECT_EQ(probes, before);
}

TEST(PageTests, AdvancedAndIpSettingsPages) {
    AdvancedPageModel adv = GoodSheet().advancedPage;
    adv.http = {false, false, 80};
    adv.https = {true, false, 80};
    ASSERT_TRUE(AdvancedPageTest(adv));
    EXPECT_EQ(AdvancedPageTest(adv)->message,
              "Port numbers should not be same: HTTP and HTTPS both use port 80");
    adv = GoodSheet().advancedPage;
    adv.http.port = 0;
    ASSERT_TRUE(AdvancedPageTest(adv));
    EXPECT_EQ(AdvancedPageTest(adv)->test, OkTest::PortEditRange);

    IpAddressPageModel page;
    page.mode = AddressMode::Dhcp;
    page.subnetMask = 0xFFFFFFFF;
    page.gateway = 0xFFFFFFFF;
    EXPECT_FALSE(IpSettingsPageOk(page));
    EXPECT_EQ(page.subnetMask, 0xFFFFFF00u);
    EXPECT_EQ(page.gateway, 0u);

    page.mode = AddressMode::Static;
    page.ipAddress = 0x0A000001;
    page.subnetMask = 0xFFFFFFFF;
    ASSERT_TRUE(IpSettingsPageOk(page));
    EXPECT_EQ(IpSettingsPageOk(page)->message, text::kSubnetMaskZeroOrAll);
    page.subnetMask = 0xFF000000;
    page.gateway = 0; // the page alone does not test the gateway's first octet
    EXPECT_FALSE(IpSettingsPageOk(page));
}

TEST(FillRules, PortsAndTheirDefaults) {
    SettingsBlock b = StaticBlock(32);
    b.setPort<settings_offset::kHttpPort>(0xFFFF);
    b.setPort<settings_offset::kTelnetPort>(0);
    b.setPort<settings_offset::kHttpsPort>(0);
    b.setPort<settings_offset::kSshPort>(0xFFFF);
    const auto adv = FillNetworkSettings(b, status::kDone, false).advancedPage;
    EXPECT_FALSE(adv.http.enabled);
    EXPECT_EQ(adv.http.port, 80);
    EXPECT_FALSE(adv.telnet.enabled);
    EXPECT_EQ(adv.telnet.port, 23);
    EXPECT_TRUE(adv.https.absent);
    EXPECT_FALSE(adv.https.enabled);
    EXPECT_EQ(adv.https.port, 443);
    EXPECT_FALSE(adv.serviceEditable(ServiceKind::Https));
    EXPECT_FALSE(adv.ssh.absent);
    EXPECT_FALSE(adv.ssh.enabled);
    EXPECT_EQ(adv.ssh.port, 22);

    b.setPort<settings_offset::kHttpPort>(8080);
    b.setPort<settings_offset::kSshPort>(2222);
    const auto on = FillNetworkSettings(b, status::kDone, false).advancedPage;
    EXPECT_TRUE(on.http.enabled);
    EXPECT_EQ(on.http.port, 8080);
    EXPECT_TRUE(on.ssh.enabled);
    EXPECT_EQ(on.ssh.port, 2222);
}

TEST(FillRules, OldVersionsHaveNoHttpTelnetFields) {
    SettingsBlock b = StaticBlock(31);
    b.setPort<settings_offset::kHttpPort>(443); // not read at this version
    b.setPort<settings_offset::kTelnetPort>(0);
    const auto m = FillNetworkSettings(b, status::kDone, false);
    EXPECT_EQ(m.advancedPage.http.port, 80);
    EXPECT_EQ(m.advancedPage.telnet.port, 23);
    EXPECT_FALSE(m.advancedPage.serviceEditable(ServiceKind::Http));
    EXPECT_FALSE(SheetTestsAfterConflict(m)) << "the defaults pass the port tests";

    // Version 751 counts as 0.
    b.setRawVersion(751);
    EXPECT_EQ(FillNetworkSettings(b, status::kDone, false).advancedPage.version, 0);
}

TEST(FillRules, AddressModeAlternateAddressAndBootp) {
    SettingsBlock b = StaticBlock(30);
    b.setAddressMode(AddressMode::Dhcp);
    writeU32(b.bytes, settings_offset::kAlternateIp, 0x0A0A0A0A);
    auto ip = FillNetworkSettings(b, status::kDone, true).ipPage;
    EXPECT_EQ(ip.mode, AddressMode::Dhcp);
    EXPECT_EQ(ip.ipAddress, 0x0A0A0A0Au) << "DHCP under version 31 shows the alternate address";
    EXPECT_EQ(ip.firstAddress, 0x0A0A0A0Au);
    EXPECT_FALSE(ip.showsMaskAndGateway());
    EXPECT_FALSE(ip.bootpAvailable());

    b.setRawVersion(31);
    ip = FillNetworkSettings(b, status::kDone, true).ipPage;
    EXPECT_EQ(ip.ipAddress, 0xC0A80164u);
    EXPECT_TRUE(ip.showsMaskAndGateway());
    EXPECT_TRUE(ip.bootpAvailable());
    EXPECT_FALSE(FillNetworkSettings(b, status::kDone, false).ipPage.bootpAvailable());

    b.bytes[settings_offset::kAddressMode] = 2;
    EXPECT_EQ(FillNetworkSettings(b, status::kDone, true).ipPage.mode, AddressMode::Bootp);
    b.bytes[settings_offset::kAddressMode] = 7;
    EXPECT_EQ(FillNetworkSettings(b, status::kDone, true).ipPage.mode, AddressMode::Static);
}

TEST(FillRules, PasswordPageFollowsTheReadStatus) {
    const auto withPassword = FillNetworkSettings(StaticBlock(), status::kPasswordRefused, false);
    EXPECT_TRUE(withPassword.devicePasswordSet);
    EXPECT_TRUE(withPassword.passwordPage.enabled);
    EXPECT_EQ(withPassword.passwordPage.newPassword, "********");
    EXPECT_EQ(withPassword.passwordPage.confirmPassword, "********");
    EXPECT_EQ(PlannedPasswordWrite(withPassword).kind, PasswordWrite::Kind::None);

    auto cleared = withPassword;
    cleared.passwordPage.enabled = false;
    EXPECT_EQ(PlannedPasswordWrite(cleared).kind, PasswordWrite::Kind::Clear);

    auto none = GoodSheet();
    EXPECT_FALSE(none.passwordPage.enabled);
    EXPECT_TRUE(none.passwordPage.newPassword.empty());
    none.passwordPage = {true, std::string(kUnchangedPassword), std::string(kUnchangedPassword)};
    EXPECT_EQ(PlannedPasswordWrite(none).kind, PasswordWrite::Kind::None);
    none.passwordPage = {true, "secret", "secret"};
    EXPECT_EQ(PlannedPasswordWrite(none).kind, PasswordWrite::Kind::Set);
    EXPECT_EQ(PlannedPasswordWrite(none).newPassword, "secret");
}

TEST(AdvancedPage, CheckBoxAndEditRules) {
    AdvancedPageModel adv;
    adv.https.port = 0;
    adv.setEnabled(ServiceKind::Https, true);
    EXPECT_EQ(adv.https.port, 443);
    adv.ssh.port = 65535;
    adv.setEnabled(ServiceKind::Ssh, true);
    EXPECT_EQ(adv.ssh.port, 22);
    adv.setPortText(ServiceKind::Ssh, "2200");
    EXPECT_EQ(adv.ssh.port, 2200);
    adv.setEnabled(ServiceKind::Ssh, false);
    EXPECT_EQ(adv.ssh.port, 2200);
    adv.setPortText(ServiceKind::Telnet, "");
    EXPECT_EQ(adv.telnet.port, 23);
    adv.setPortText(ServiceKind::Http, "99999999999999");
    EXPECT_GT(adv.http.port, 65534);
}

TEST(ChangeTest, WhatCountsAsAChange) {
    EXPECT_FALSE(SettingsChanged(GoodSheet()));

    auto m = GoodSheet();
    m.ipPage.mode = AddressMode::Dhcp;
    EXPECT_TRUE(SettingsChanged(m));
    m = GoodSheet();
    m.ipPage.gateway = 0xC0A801FE;
    EXPECT_TRUE(SettingsChanged(m));
    m = GoodSheet();
    m.advancedPage.telnet.enabled = false;
    EXPECT_TRUE(SettingsChanged(m));

    // An old device has no HTTP/Telnet fields: those values never count.
    m = FillNetworkSettings(StaticBlock(31), status::kDone, false);
    m.advancedPage.http.port = 81;
    EXPECT_FALSE(SettingsChanged(m));
    // HTTPS and SSH go into every write, so their changes count at any version.
    m.advancedPage.https.port = 4443;
    EXPECT_TRUE(SettingsChanged(m));
}

TEST(ApplySettings, OnlyHttpsChangedOnVersion32) {
    SettingsBlock read = StaticBlock(32);
    read.setPort<settings_offset::kHttpPort>(8080);
    read.setPort<settings_offset::kTelnetPort>(0xFFFF);
    auto m = FillNetworkSettings(read, status::kDone, false);
    m.advancedPage.https.port = 8443;
    ASSERT_TRUE(SettingsChanged(m));

    SettingsBlock written = read;
    ApplyNetworkSettings(m, written);
    EXPECT_EQ(written.port<settings_offset::kHttpPort>(), 8080);
    EXPECT_EQ(written.port<settings_offset::kTelnetPort>(), 0xFFFF);
    EXPECT_EQ(written.port<settings_offset::kHttpsPort>(), 8443);
    EXPECT_EQ(written.port<settings_offset::kSshPort>(), 22);
    // Everything else goes back exactly as read.
    written.setPort<settings_offset::kHttpsPort>(443);
    EXPECT_EQ(written.bytes, read.bytes);
}

TEST(ApplySettings, AbsentAndOffServicesAndOldVersions) {
    SettingsBlock read = StaticBlock(40);
    read.setPort<settings_offset::kHttpsPort>(0);
    auto m = FillNetworkSettings(read, status::kDone, false);
    m.advancedPage.setEnabled(ServiceKind::Ssh, false);
    m.advancedPage.setEnabled(ServiceKind::Http, false);
    SettingsBlock written = read;
    ApplyNetworkSettings(m, written);
    EXPECT_EQ(written.port<settings_offset::kHttpsPort>(), 0) << "absent HTTPS written back as 0";
    EXPECT_EQ(written.port<settings_offset::kSshPort>(), 0xFFFF);
    EXPECT_EQ(written.port<settings_offset::kHttpPort>(), 0xFFFF);

    SettingsBlock old = StaticBlock(31);
    old.setPort<settings_offset::kHttpPort>(0x1234);
    old.setPort<settings_offset::kTelnetPort>(0x5678);
    auto mo = FillNetworkSettings(old, status::kDone, false);
    mo.ipPage.mode = AddressMode::Dhcp;
    SettingsBlock oldWritten = old;
    ApplyNetworkSettings(mo, oldWritten);
    EXPECT_EQ(oldWritten.port<settings_offset::kHttpPort>(), 0x1234) << "not written below 32";
    EXPECT_EQ(oldWritten.port<settings_offset::kTelnetPort>(), 0x5678);
    EXPECT_EQ(oldWritten.rawAddressMode(), 1);
}

TEST(SerialNumber, DecimalConversionAndMac) {
    struct Case {
        const char* text;
        std::uint32_t value;
        const char* mac;
    };
    const Case cases[] = {
        {"2801795072", 2801795072u, "02-19-A7-00-00-00"},
        {"2801795073", 2801795073u, "02-19-A7-00-00-01"},
        {"5", 5, "02-19-00-00-00-05"},
        {"", 0, "02-19-00-00-00-00"},
        {"12ab", 12, "02-19-00-00-00-0C"},
        {"  42", 42, "02-19-00-00-00-2A"},
        {"99999999999999", 0xFFFFFFFFu, "02-19-FF-FF-FF-FF"},
        {"4294967296", 0xFFFFFFFFu, "02-19-FF-FF-FF-FF"},
        {"abc", 0, "02-19-00-00-00-00"},
        // Only 18 characters fit the edit: the 19th digit is never read.
        {"0000000000000000071", 7, "02-19-00-00-00-07"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSerialNumberText(c.text), c.value) << c.text;
        EXPECT_EQ(SerialNumberMac(ParseSerialNumberText(c.text)).toString(), c.mac) << c.text;
    }
}

TEST(FactoryCommands, EnablingRule) {
    const auto mac = [](std::uint8_t b2, std::uint8_t b3, std::uint8_t b4) {
        return MacAddress{{0x02, 0x19, b2, b3, b4, 0x55}};
    };
    EXPECT_TRUE(FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, mac(0xA7, 0, 0)));
    EXPECT_TRUE(FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, mac(0xA7, 0, 1)));
    EXPECT_FALSE(FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, mac(0xA7, 0, 2)));
    EXPECT_FALSE(FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, mac(0xA7, 1, 0)));
    EXPECT_FALSE(FactoryCommandEnabled(FactoryCommand::SerialNumber, 1, mac(0xA6, 0, 0)));
    EXPECT_FALSE(FactoryCommandEnabled(FactoryCommand::SerialNumber, 2, mac(0xA7, 0, 0)));
    for (auto command :
         {FactoryCommand::Mac, FactoryCommand::IpSettings, FactoryCommand::SetPassword}) {
        EXPECT_TRUE(FactoryCommandEnabled(command, 1, mac(0x00, 9, 9)));
        EXPECT_FALSE(FactoryCommandEnabled(command, 0, mac(0xA7, 0, 0)));
        EXPECT_FALSE(FactoryCommandEnabled(command, 2, mac(0xA7, 0, 0)));
    }
}

} // namespace
} // namespace korvane

namespace korvane {
namespace {

TEST(ModelLetter, SeventhCharacterOfATextFirmwareVersion) {
    using testing::RecordWithFirmware;
    EXPECT_TRUE(ModelLetterIsK(RecordWithFirmware("1.2.3-K7")));
    EXPECT_FALSE(ModelLetterIsK(RecordWithFirmware("1.2.3-A")));
    EXPECT_FALSE(ModelLetterIsK(RecordWithFirmware("K")));
    // The numeric form has no letter, whatever its seventh byte holds.
    EXPECT_FALSE(
        ModelLetterIsK(RecordWithFirmware(std::string_view("\x01\x02\x03\x04\x05\x06K", 7))));
}

} // namespace
} // namespace korvane

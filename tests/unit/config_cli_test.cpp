// The configuration commands of the command line, run in process against an
// emulated device: what they send, what they print, their exit statuses, and
// that no password is ever printed.

#include "config_test_support.hpp"

#include "app/environment.hpp"
#include "base/platform.hpp"
#include "cli/cli.hpp"
#include "cli/cli_operator.hpp"
#include "cli/resolver.hpp"
#include "config/settings_model.hpp"
#include "sim/arp_responder.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvane {
namespace {

using testing::kAdapterMac;
using testing::kDeviceMac;
using testing::StaticBlock;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ConfigCli : public ::testing::Test {
  protected:
    ConfigCli() : device(lan.add(kDeviceMac)) {}
    ~ConfigCli() override {
        EXPECT_EQ(lan.violations(), 0u) << "a device found faults in what it received";
        for (const auto& path : files)
            std::remove(path.c_str());
        platform::UnsetEnvironment(cli::kPasswordEnvironment);
    }

    CliRun run(const std::string& command, std::vector<std::string> args, std::string input = {},
               bool interactive = false) {
        EnvironmentOptions options;
        options.timing = testing::TestTiming();
        Environment env(options, lan.segment);
        std::istringstream in(input);
        std::ostringstream out, err;
        args.insert(args.begin(), command);
        CliRun r;
        r.status = cli::RunIn(env, args, {in, out, err, interactive});
        r.out = out.str();
        r.err = err.str();
        return r;
    }

    std::string file(const std::string& content) {
        const std::string path = ::testing::TempDir() + "korvane_pw_" +
                                 std::to_string(files.size()) + "_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::ofstream(path, std::ios::binary) << content; // the bytes as given, also on Windows
        files.push_back(path);
        return path;
    }

    std::vector<testing::Request> requests(std::uint16_t code,
                                           const MacAddress& to = kDeviceMac) const {
        return lan.requests(to, code);
    }

    testing::EmulatedSegment lan;
    sim::EmulatedDevice& device;
    std::vector<std::string> files;
};

TEST_F(ConfigCli, ShowPrintsTheSettingsAsJson) {
    SettingsBlock b = StaticBlock(40);
    b.setPort<settings_offset::kHttpsPort>(0);
    b.setPort<settings_offset::kSshPort>(0xFFFF);
    device.setSettings(b);
    device.setPassword("secret");
    const auto r = run("settings", {"show", "2801795363", "--json"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(
        nlohmann::ordered_json::parse(r.out),
        nlohmann::ordered_json::parse(
            R"({"serial": "2801795363", "mac": "02-19-A7-00-01-23", "address_mode": "static", )"
            R"("ip_address": "192.168.1.100", "subnet_mask": "255.255.255.0", )"
            R"("gateway": "192.168.1.1", "services": {"http": {"state": "on", "port": 80}, )"
            R"("https": {"state": "absent", "port": null}, )"
            R"("telnet": {"state": "on", "port": 23}, "ssh": {"state": "off", "port": 22}}, )"
            R"("settings_version": 40, "password_set": true})"))
        << r.out;
    EXPECT_EQ(r.out.find("secret"), std::string::npos);
}

TEST_F(ConfigCli, ShowTextAndOldVersionsAndLookupErrors) {
    device.setSettings(StaticBlock(31));
    auto r = run("settings", {"show", "02:19:a7:00:01:23"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_NE(r.out.find("HTTP:             absent"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("HTTPS:            on, port 443"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Password:         not set"), std::string::npos) << r.out;

    r = run("settings", {"show", "02-19-A7-00-09-99"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("no device 02-19-A7-00-09-99 answered"), std::string::npos) << r.err;
    r = run("settings", {"show", "kitchen"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("neither a serial number nor a MAC"), std::string::npos) << r.err;
    r = run("settings", {"show", "1", "--yes"});
    EXPECT_EQ(r.status, cli::kExitUsage);
}

TEST_F(ConfigCli, SetWritesThe72ByteBlock) {
    const auto r = run("settings", {"set", "2801795363", "--ip", "10.1.2.3", "--mask", "255.0.0.0",
                                    "--gateway", "10.0.0.1", "--ssh", "off", "--http", "8080"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    const auto writes = requests(code::kWriteSettings);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].frame.size(), 72u + 42u);
    const SettingsBlock now = device.settings();
    EXPECT_EQ(now.ipAddress(), 0x0A010203u);
    EXPECT_EQ(now.subnetMask(), 0xFF000000u);
    EXPECT_EQ(now.gateway(), 0x0A000001u);
    EXPECT_EQ(now.port<settings_offset::kSshPort>(), 0xFFFF);
    EXPECT_EQ(now.port<settings_offset::kHttpPort>(), 8080);
}

TEST_F(ConfigCli, SetWithoutChangeWritesNothing) {
    const auto r = run("settings", {"set", "2801795363", "--http", "80"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_TRUE(requests(code::kWriteSettings).empty());
}

TEST_F(ConfigCli, SetReportsTheSheetsMessages) {
    struct Case {
        std::vector<std::string> options;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--https", "80", "--http", "off"},
         cli::kExitFailure,
         std::string(text::kPortsSame) + ": HTTP and HTTPS both use port 80"},
        {{"--mask", "255.255.255.253"}, cli::kExitFailure, std::string(text::kInvalidSubnetMask)},
        {{"--ssh", "3478"}, cli::kExitFailure, "Invalid port: 3478"},
        {{"--bootp"}, cli::kExitFailure, "BOOTP is not available"},
        {{"--dhcp", "--static"}, cli::kExitUsage, "at most 1"},
        {{"--ip", "10.0.0.300"}, cli::kExitUsage, "dotted IPv4"},
        {{"--http", "eighty"}, cli::kExitUsage, "port number or off"},
        {{"--json"}, cli::kExitUsage, "not expected: --json"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"set", "2801795363"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = run("settings", args);
        EXPECT_EQ(r.status, c.status) << c.options[0] << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.options[0] << ": " << r.err;
    }
    EXPECT_TRUE(requests(code::kWriteSettings).empty());
}

TEST_F(ConfigCli, UsageErrorsAreRefusedBeforeAnyDeviceIsAsked) {
    const std::vector<std::string> cases[] = {
        {"set", "2801795363", "--dhcp", "--ip", "10.0.0.1"},
        {"set-ip", "2801795363", "--dhcp", "--gateway", "10.0.0.1"},
        {"set", "2801795363", "--http", "0"},
        {"set", "2801795363", "--ssh", "65535"},
        {"set", "2801795363", "--dhcp", "--static"},
    };
    for (const auto& args : cases) {
        const auto r = run("settings", args);
        EXPECT_EQ(r.status, cli::kExitUsage) << args[2] << ": " << r.err;
    }
    const MacAddress broadcast{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    EXPECT_TRUE(lan.requests(broadcast, code::kDiscover).empty());
}

TEST_F(ConfigCli, PasswordFileErrorsAndARefusedNewPassword) {
    auto r =
        run("settings", {"set", "2801795363", "--gateway", "10.0.0.1", "--password-file", "/tmp"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;

    r = run("password", {"set", "2801795363", "--new-password-file", file("two words\n")});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("Password could not have space"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("cancelled"), std::string::npos) << r.err;
    EXPECT_TRUE(requests(code::kSetPassword).empty());
}

TEST_F(ConfigCli, SetIpWithoutOptionsChangesNothing) {
    SettingsBlock bootp = device.settings();
    bootp.setAddressMode(AddressMode::Bootp);
    device.setSettings(bootp);
    auto r = run("settings", {"set-ip", "2801795363"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_NE(r.out.find("Nothing changed"), std::string::npos) << r.out;
    EXPECT_TRUE(requests(code::kWriteSettings).empty());
    // An address change keeps the device's BOOTP mode unless a mode is given.
    r = run("settings", {"set-ip", "2801795363", "--static", "--ip", "10.9.8.7"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(device.settings().rawAddressMode(), 0);
}

TEST_F(ConfigCli, PasswordComesFromFileOrEnvironmentAndIsNeverPrinted) {
    device.setPassword("s3cr3t");
    // No terminal and no password: refused with a word on where to put it.
    auto r = run("settings", {"set", "2801795363", "--gateway", "192.168.1.254"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("--password-file"), std::string::npos) << r.err;
    EXPECT_TRUE(requests(code::kWriteSettings).empty());

    r = run("settings", {"set", "2801795363", "--gateway", "192.168.1.254", "--password-file",
                         file("wrong\n")});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("Incorrect Password."), std::string::npos) << r.err;

    r = run("settings", {"set", "2801795363", "--gateway", "192.168.1.254", "--password-file",
                         file("s3cr3t\r\n")});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    auto writes = requests(code::kWriteSettings);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].password, "s3cr3t");
    EXPECT_EQ(r.out.find("s3cr3t"), std::string::npos);
    EXPECT_EQ(r.err.find("s3cr3t"), std::string::npos);

    platform::SetEnvironment(cli::kPasswordEnvironment, "s3cr3t");
    r = run("settings", {"set", "2801795363", "--gateway", "192.168.1.253"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(device.settings().gateway(), 0xC0A801FDu);

    r = run("settings", {"set", "2801795363", "--password-file", "/nonexistent/korvane-pw"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("there is no file"), std::string::npos);

    // A file that never ends its first line is no password file, and is not
    // read for ever (where there is no endless file, a long one stands in).
    const std::string endless =
        std::filesystem::exists("/dev/zero") ? "/dev/zero" : file(std::string(1 << 20, '\0'));
    r = run("settings", {"set", "2801795363", "--password-file", endless});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("first line of the password file '" + endless + "' is too long"),
              std::string::npos)
        << r.err;
}

TEST_F(ConfigCli, PasswordPromptAtATerminal) {
    device.setPassword("s3cr3t");
    const auto r =
        run("settings", {"set", "2801795363", "--gateway", "192.168.1.254"}, "s3cr3t\n", true);
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_NE(r.err.find("Password: "), std::string::npos);
    EXPECT_EQ(r.err.find("s3cr3t"), std::string::npos);
}

TEST_F(ConfigCli, ConflictQuestionNeedsYesWithoutATerminal) {
    sim::ArpResponder host(lan.segment, MacAddress{{0x02, 0x42, 0, 0, 0, 9}}, {0xC0A80107});
    auto r = run("settings", {"set", "2801795363", "--ip", "192.168.1.7"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("IP address: 192.168.1.7 already exists on the LAN."), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--yes"), std::string::npos);
    EXPECT_TRUE(requests(code::kWriteSettings).empty());

    r = run("settings", {"set", "2801795363", "--ip", "192.168.1.7"}, "n\n", true);
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_TRUE(requests(code::kWriteSettings).empty());

    r = run("settings", {"set", "2801795363", "--ip", "192.168.1.7", "--yes"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(device.settings().ipAddress(), 0xC0A80107u);
}

TEST_F(ConfigCli, SetIpWrites68Bytes) {
    auto r = run("settings", {"set-ip", "2801795363", "--dhcp"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    const auto writes = requests(code::kWriteSettings);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].frame.size(), 68u + 42u);
    EXPECT_EQ(device.settings().rawAddressMode(), 1);

    r = run("settings", {"set-ip", "2801795363", "--bootp"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    r = run("settings", {"set-ip", "2801795363", "--static", "--mask", "255.255.255.255"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find(text::kSubnetMaskZeroOrAll), std::string::npos) << r.err;
}

TEST_F(ConfigCli, PasswordSetAndClear) {
    auto r = run("password", {"set", "2801795363"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("--new-password-file"), std::string::npos) << r.err;

    r = run("password", {"set", "2801795363", "--new-password-file", file("n3w\n")});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(device.password(), "n3w");
    EXPECT_EQ(r.out.find("n3w"), std::string::npos);
    EXPECT_EQ(r.err.find("n3w"), std::string::npos);

    // Asked twice at a terminal: the current password, then the new one and its confirmation.
    r = run("password", {"set", "2801795363"}, "n3w\nnext\nnxet\n", true);
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find(text::kPasswordsDiffer), std::string::npos) << r.err;
    EXPECT_EQ(device.password(), "n3w");

    r = run("password", {"set", "2801795363", "--password-file", file("n3w"), "--new-password-file",
                         file("has space")});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("Password could not have space"), std::string::npos) << r.err;
    r = run("password", {"set", "2801795363", "--password-file", file("n3w"), "--new-password-file",
                         file("0123456789abcdef")});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("at most 15 characters"), std::string::npos) << r.err;

    r = run("password", {"clear", "2801795363", "--password-file", file("n3w")});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(device.password(), "");
    const auto writes = requests(code::kSetPassword);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].password, "n3w");
    EXPECT_EQ(writes[1].data(), std::vector<std::uint8_t>(24, 0));
}

TEST_F(ConfigCli, FactorySerial) {
    // Only a device in the factory range takes a serial number.
    const MacAddress productMac{{0x02, 0x19, 0xA7, 0x00, 0x02, 0x00}};
    lan.add(productMac);
    auto r = run("factory", {"serial", "02-19-A7-00-02-00", "2801795073"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.err.find("02-19-A7-00-01-FF"), std::string::npos) << r.err;
    EXPECT_TRUE(requests(code::kWriteFactory, productMac).empty());

    const MacAddress factoryMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x00}};
    lan.add(factoryMac);
    r = run("factory", {"serial", "02-19-A7-00-00-00", "2801795073"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_NE(r.out.find("02-19-A7-00-00-01"), std::string::npos) << r.out;
    const auto writes = requests(code::kWriteFactory, factoryMac);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].frame.size(), 28u + 42u);

    for (const char* bad : {"12ab", "", "4294967296", "-1"}) {
        r = run("factory", {"serial", "02-19-A7-00-00-00", "--", bad});
        EXPECT_EQ(r.status, cli::kExitUsage) << bad;
    }
    EXPECT_EQ(requests(code::kWriteFactory, factoryMac).size(), 1u);
}

TEST_F(ConfigCli, FactorySerialThatCollidesOrLeavesTheRangeNeedsForce) {
    // kDeviceMac, 02-19-A7-00-01-23, is serial number 2801795363.
    struct Case {
        MacAddress device;
        const char* number;
        const char* says;
    };
    const Case cases[] = {
        {MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x00}}, "2801795363", "Another device"},
        {MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x10}}, "5", "never be set again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        lan.add(c.device);
        auto r = run("factory", {"serial", c.device.toString(), c.number});
        EXPECT_EQ(r.status, cli::kExitFailure);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(DeviceName(c.device)), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
        EXPECT_TRUE(requests(code::kWriteFactory, c.device).empty());

        r = run("factory", {"serial", c.device.toString(), c.number, "--force"});
        EXPECT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_EQ(requests(code::kWriteFactory, c.device).size(), 1u);
    }
}

TEST(DeviceSelector, SerialOrMac) {
    EXPECT_EQ(cli::ParseDeviceSelector("02-19-A7-00-01-23")->mac, kDeviceMac);
    EXPECT_EQ(cli::ParseDeviceSelector("02:19:a7:00:01:23")->mac, kDeviceMac);
    EXPECT_EQ(cli::ParseDeviceSelector("4294967295")->serial, 0xFFFFFFFFu);
    EXPECT_FALSE(cli::ParseDeviceSelector("4294967296"));
    EXPECT_FALSE(cli::ParseDeviceSelector("12ab"));
    EXPECT_FALSE(cli::ParseDeviceSelector(""));
}

} // namespace
} // namespace korvane

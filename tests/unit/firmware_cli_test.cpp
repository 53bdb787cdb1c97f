// korvane firmware upgrade, run in process against scripted devices on the
// simulated LAN.

#include "cli/commands.hpp"
#include "sim/simulated_lan.hpp"
#include "unit/firmware_station.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace korvane::cli {
namespace {

using test::FirmwareRig;
using test::FirmwareStation;
using test::MakeImage;
using test::TempDir;

class FirmwareCommand : public ::testing::Test {
  protected:
    FirmwareCommand() : env_(options()) {}

    static GlobalOptions options() {
        GlobalOptions global;
        global.simulate = 0; // the simulated adapter alone; the devices are ours
        global.timing = FirmwareRig::fastTiming();
        global.timing.noticeWait = Millis(200);
        return global;
    }

    FirmwareStation& addDevice(int n) {
        stations_.push_back(
            std::make_unique<FirmwareStation>(env_.lan()->segment(), FirmwareRig::unitMac(n)));
        return *stations_.back();
    }
    std::string image(std::size_t length = 2048) {
        return dir_.write("fw.bin", MakeImage(length)).string();
    }

    int run(std::vector<std::string> args, std::string input = {}) {
        out_.str({});
        err_.str({});
        std::istringstream in(input);
        Invocation inv{env_, ArgList(std::move(args)), Streams{in, out_, err_, !input.empty()}};
        return CmdFirmware(inv);
    }

    static std::string serial(int n) { return UnitKey(FirmwareRig::unitMac(n)); }

    Environment env_;
    TempDir dir_;
    std::vector<std::unique_ptr<FirmwareStation>> stations_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(FirmwareCommand, UpgradesDevicesNamedBySerialOrMac) {
    addDevice(0);
    addDevice(1);
    addDevice(2); // not named: left alone
    const auto file = image();
    EXPECT_EQ(run({"upgrade", file, serial(0), FirmwareRig::unitMac(1).toString()}), kExitOk)
        << err_.str();
    EXPECT_EQ(stations_[0]->blocks().size(), 2u);
    EXPECT_EQ(stations_[1]->blocks().size(), 2u);
    EXPECT_TRUE(stations_[2]->blocks().empty());

    const std::string out = out_.str();
    // Without a terminal: plain lines as units change, then the list and the summary.
    EXPECT_NE(out.find(serial(0) + "  Downloading..."), std::string::npos) << out;
    EXPECT_NE(out.find(serial(1) + "  Programming..."), std::string::npos) << out;
    EXPECT_NE(out.find(serial(0) + "  Download Successfully\n" + serial(1) +
                       "  Download Successfully\n2 unit success, 0 unit fail. \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("\x1b["), std::string::npos);
}

TEST_F(FirmwareCommand, JsonGivesEachUnitsOutcomeAndFailureSetsTheExitStatus) {
    addDevice(0);
    addDevice(1).sendNotice = false;
    EXPECT_EQ(run({"upgrade", image(), "--all", "--json"}), kExitFailure);
    const std::string out = out_.str();
    EXPECT_NE(out.find("\"device\": \"" + serial(0) +
                       "\", \"mac\": \"02-19-A7-00-00-01\", "
                       "\"success\": true, \"failure\": \"none\", \"status\": \"Download "
                       "Successfully\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"success\": false, \"failure\": \"no_notice\", \"status\": \"Download "
                       "Failed\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"summary\": \"1 unit success, 1 unit fail. \""), std::string::npos);
    EXPECT_EQ(out.find("Downloading"), std::string::npos); // no progress lines in JSON
}

TEST_F(FirmwareCommand, PasswordsPerDeviceFromTheFile) {
    addDevice(0).password = "alpha";
    addDevice(1).password = "beta";
    const auto passwords = (dir_.path() / "pw").string();
    {
        std::ofstream file(passwords);
        file << "# per device\n"
             << serial(0) << " alpha\n"
             << FirmwareRig::unitMac(1).toString(':') << " beta\n";
    }
    EXPECT_EQ(run({"upgrade", image(), "--all", "--password-file", passwords}), kExitOk)
        << err_.str();
    EXPECT_EQ(err_.str().find("alpha"), std::string::npos); // passwords are never shown
}

TEST_F(FirmwareCommand, QuestionsWithoutATerminalNeedTheirFlags) {
    FirmwareStation& device = addDevice(0);
    device.password = "alpha";
    // No password given and nobody to ask.
    EXPECT_EQ(run({"upgrade", image(), "--all"}), kExitFailure);
    EXPECT_NE(err_.str().find("--password-file"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("Incorrect Password."), std::string::npos);

    // A prompt on a terminal answers it.
    EXPECT_EQ(run({"upgrade", image(), "--all"}, "alpha\n"), kExitOk) << err_.str();
    EXPECT_NE(err_.str().find("Password for MAC:02-19-A7-00-00-01: "), std::string::npos);

    // An older boot version needs --yes; a refused block --on-block-failure.
    device.password.clear();
    device.flashBootWord = 0x0200'0003;
    EXPECT_EQ(run({"upgrade", image(0x10000), "--all"}), kExitFailure);
    device.blockStatuses = {status::kPasswordRefused};
    EXPECT_EQ(run({"upgrade", image(0x10000), "--all", "--yes", "--on-block-failure", "retry"}),
              kExitOk)
        << err_.str();
}

TEST_F(FirmwareCommand, BadArguments) {
    addDevice(0);
    const auto file = image();
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{}, kExitUsage, "missing subcommand"},
        {{"flash", file, "--all"}, kExitUsage, "unknown subcommand"},
        {{"upgrade"}, kExitUsage, "missing IMAGE"},
        {{"upgrade", file}, kExitUsage, "give DEVICEs or --all"},
        {{"upgrade", file, serial(0), "--all"}, kExitUsage, "not both"},
        {{"upgrade", file, "--all", "--on-block-failure", "skip"}, kExitUsage, "abort, retry"},
        {{"upgrade", file, "--all", "--password-file", "/nonexistent/pw"},
         kExitUsage,
         "password file"},
        {{"upgrade", dir_.path().string(), "--all"}, kExitUsage, "not a readable"},
        {{"upgrade", file, "4242"}, kExitFailure, "no device 4242 found"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), c.status) << c.says;
        EXPECT_NE(err_.str().find(c.says), std::string::npos) << err_.str();
    }
    EXPECT_TRUE(stations_[0]->blocks().empty());
}

} // namespace
} // namespace korvane::cli

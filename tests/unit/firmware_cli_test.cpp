// korvane firmware upgrade, run in process against the emulated devices of
// the simulated LAN.

#include "app/environment.hpp"
#include "cli/cli.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "unit/firmware_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <thread>

namespace korvane::cli {
namespace {

using test::BlockRule;
using test::FirmwareRig;
using test::MakeImage;
using test::TempDir;

class FirmwareCommand : public ::testing::Test {
  protected:
    void makeLan(int devices) {
        EnvironmentOptions global;
        global.simulate = devices;
        global.timing = FirmwareRig::fastTiming();
        global.timing.noticeWait = Millis(300);
        env_ = std::make_unique<Environment>(global);
        for (int i = 0; i < devices; ++i)
            device(i).setProgrammingDelay(Millis(1));
    }
    sim::EmulatedDevice& device(int i) {
        return env_->lan()->emulator()->device(static_cast<std::size_t>(i));
    }
    std::string serial(int i) { return UnitKey(device(i).mac()); }
    std::uint64_t blocksTo(int i) { return device(i).stats().requestCount(code::kFirmwareBlock); }
    std::string image(std::size_t length = 0x10000) {
        return dir_.write("fw.bin", MakeImage(length)).string();
    }

    // Without input there is nobody at a terminal.
    int run(std::vector<std::string> args, std::string input = {}) {
        out_.str({});
        err_.str({});
        std::istringstream in(input);
        args.insert(args.begin(), "firmware");
        return RunIn(*env_, args, Streams{in, out_, err_, !input.empty()});
    }

    // Runs the command on a thread of its own, so that the test can interrupt
    // it; the thread is joined when it goes, also when an assertion ends the
    // test early.
    std::jthread runInterruptible(std::vector<std::string> args, Interrupt& interrupt,
                                  int& status) {
        args.insert(args.begin(), "firmware");
        return std::jthread([this, args, &interrupt, &status] {
            std::istringstream in;
            status = RunIn(*env_, args, Streams{in, out_, err_, false, &interrupt});
        });
    }

    std::unique_ptr<Environment> env_;
    TempDir dir_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(FirmwareCommand, UpgradesDevicesNamedBySerialOrMac) {
    makeLan(3);
    EXPECT_EQ(run({"upgrade", image(), serial(0), device(1).mac().toString()}), kExitOk)
        << err_.str();
    EXPECT_EQ(blocksTo(0), 64u);
    EXPECT_EQ(blocksTo(1), 64u);
    EXPECT_EQ(blocksTo(2), 0u); // not named: left alone

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
    makeLan(2);
    auto faults = device(1).faults();
    faults.noNotice = true;
    device(1).setFaults(faults);
    EXPECT_EQ(run({"upgrade", image(), "--all", "--json"}), kExitFailure);
    const std::string out = out_.str();
    const auto report = nlohmann::ordered_json::parse(out);
    EXPECT_EQ(report["units"][0],
              nlohmann::ordered_json::parse(R"({"device": ")" + serial(0) + R"(",
                  "mac": "02-19-A7-00-00-01", "success": true, "failure": "none",
                  "status": "Download Successfully", "image_length": 65536, "blocks": 64,
                  "factory_block_patched": true})"));
    EXPECT_EQ(report["units"][1]["success"], false);
    EXPECT_EQ(report["units"][1]["failure"], "no_notice");
    EXPECT_EQ(report["units"][1]["status"], "Download Failed");
    EXPECT_EQ(report["summary"], "1 unit success, 1 unit fail. ");
    EXPECT_EQ(out.find("Downloading"), std::string::npos); // no progress lines in JSON
}

TEST_F(FirmwareCommand, PasswordsPerDeviceFromTheFile) {
    makeLan(2);
    device(0).setPassword("alpha");
    device(1).setPassword("beta");
    const auto passwords = (dir_.path() / "pw").string();
    {
        std::ofstream file(passwords);
        file << "# per device\n"
             << serial(0) << " alpha\n"
             << device(1).mac().toString(':') << " beta\n";
    }
    EXPECT_EQ(run({"upgrade", image(), "--all", "--password-file", passwords}), kExitOk)
        << err_.str();
    EXPECT_EQ(err_.str().find("alpha"), std::string::npos); // passwords are never shown
}

TEST_F(FirmwareCommand, QuestionsWithoutATerminalNeedTheirFlags) {
    makeLan(1);
    device(0).setPassword("alpha");
    // No password given and nobody to ask.
    EXPECT_EQ(run({"upgrade", image(), "--all"}), kExitFailure);
    EXPECT_NE(err_.str().find("--password-file"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("Incorrect Password."), std::string::npos);

    // A prompt on a terminal answers it.
    EXPECT_EQ(run({"upgrade", image(), "--all"}, "alpha\n"), kExitOk) << err_.str();
    EXPECT_NE(err_.str().find("MAC:02-19-A7-00-00-01 Korvane Utility Password: "),
              std::string::npos);

    // An older boot version needs --allow-older-boot (--yes is not enough);
    // a refused block --on-block-failure.
    device(0).setPassword("");
    device(0).setFlashBootWord(0x0103'0003);
    EXPECT_EQ(run({"upgrade", image(), "--all", "--yes"}), kExitFailure);
    EXPECT_NE(err_.str().find("--allow-older-boot is needed"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(DeviceName(device(0).mac())), std::string::npos) << err_.str();
    auto faults = device(0).faults();
    faults.statusRules = {BlockRule(3, status::kPasswordRefused)};
    device(0).setFaults(faults);
    EXPECT_EQ(
        run({"upgrade", image(), "--all", "--allow-older-boot", "--on-block-failure", "retry"}),
        kExitOk)
        << err_.str();
    EXPECT_NE(err_.str().find(DeviceName(device(0).mac()) + ": Download Failed at block 3\n"),
              std::string::npos)
        << err_.str();
    EXPECT_EQ(blocksTo(0), 64u * 2 + 1); // two runs got through, one block sent twice
}

TEST_F(FirmwareCommand, PerDevicePacingUpgradesEveryUnitAndHelpSaysTheDefault) {
    makeLan(3);
    EXPECT_EQ(run({"upgrade", image(4096), "--all", "--allow-short-image", "--pacing", "per-device",
                   "--json"}),
              kExitOk)
        << err_.str();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(blocksTo(i), 4u);
        EXPECT_EQ(device(i).stats().totalViolations(), 0u);
    }
    EXPECT_EQ(run({"upgrade", "--help"}), kExitOk);
    EXPECT_NE(out_.str().find("--pacing TEXT:{shared,per-device}"), std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find("'shared' (the default, the conservative choice)"), std::string::npos)
        << out_.str();
}

TEST_F(FirmwareCommand, ImagesAreJudgedBeforeTheSearch) {
    makeLan(1);
    const auto discoveries = [&] { return device(0).stats().requestCount(code::kDiscover); };
    const auto short3000 = image(3000);
    EXPECT_EQ(run({"upgrade", short3000, "--all", "--yes"}), kExitUsage);
    EXPECT_NE(err_.str().find("3000 bytes long"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("--allow-short-image"), std::string::npos) << err_.str();

    const auto large = dir_.write("large.bin", {});
    std::filesystem::resize_file(large, 70u << 20);
    EXPECT_EQ(run({"upgrade", large.string(), "--all", "--allow-short-image"}), kExitUsage);
    EXPECT_NE(err_.str().find("64 MiB"), std::string::npos) << err_.str();
    EXPECT_EQ(discoveries(), 0u);
    EXPECT_EQ(blocksTo(0), 0u);

    EXPECT_EQ(run({"upgrade", short3000, "--all", "--allow-short-image"}), kExitOk) << err_.str();
    EXPECT_EQ(blocksTo(0), 3u);
}

TEST_F(FirmwareCommand, AutomaticAnswersAreCountedPerUnitOverBatches) {
    makeLan(16);
    for (int i = 0; i < 16; ++i) {
        auto faults = device(i).faults();
        faults.statusRules = {BlockRule(0, status::kPasswordRefused, -1)};
        device(i).setFaults(faults);
    }
    EXPECT_EQ(run({"upgrade", image(), "--all", "--on-block-failure", "retry"}), kExitFailure);
    // The first try and three automatic retries, for the second batch too.
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(blocksTo(i), 4u) << "unit " << i;
}

TEST_F(FirmwareCommand, EachUnitsRowAndReasonAreItsOwn) {
    makeLan(3);
    // Unit 0: its device refuses the end of transfer but still sends a notice.
    auto faults = device(0).faults();
    faults.statusRules = {{code::kFirmwareEnd, std::nullopt, status::kPasswordRefused, -1,
                           sim::StatusRule::Effect::CarryOut}};
    device(0).setFaults(faults);
    // Unit 1: found by the search, silent from then on.
    faults = device(1).faults();
    faults.silentCommands = {code::kCheckPassword};
    device(1).setFaults(faults);
    EXPECT_EQ(run({"upgrade", image(), "--all", "--json"}), kExitFailure);
    std::string out = out_.str();
    const auto units = nlohmann::json::parse(out)["units"];
    ASSERT_EQ(units.size(), 3u) << out;
    EXPECT_EQ(units[0]["failure"], "transfer_refused");
    EXPECT_EQ(units[0]["status"], "Download Failed");
    EXPECT_EQ(units[1]["failure"], "no_reply");
    EXPECT_EQ(units[1]["status"], "Download Failed");
    EXPECT_NE(err_.str().find(DeviceName(device(1).mac()) + ": No respond!"), std::string::npos)
        << err_.str();
    EXPECT_EQ(err_.str().find("password"), std::string::npos) << err_.str();

    EXPECT_EQ(run({"upgrade", image(), serial(0), serial(1)}), kExitFailure);
    out = out_.str();
    EXPECT_NE(out.find(serial(0) + "  Download Failed (end of transfer refused)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(serial(1) + "  Download Failed (no reply)"), std::string::npos) << out;
}

TEST_F(FirmwareCommand, PasswordFileErrors) {
    makeLan(1);
    device(0).setPassword("alpha");
    const auto write = [&](const std::string& name, const std::string& content) {
        const auto path = (dir_.path() / name).string();
        std::ofstream(path) << content;
        return path;
    };
    // A refused password given by file is named as such, not asked for.
    EXPECT_EQ(run({"upgrade", image(), "--all", "--password-file", write("wrong", "beta\n")}),
              kExitFailure);
    EXPECT_NE(err_.str().find("the password given by --password-file was refused"),
              std::string::npos)
        << err_.str();
    EXPECT_EQ(err_.str().find("give it with"), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("beta"), std::string::npos);

    // A line that does not parse is not quoted; a folder is no password file.
    EXPECT_EQ(run({"upgrade", image(), "--all", "--password-file", write("bad", "s3cr3t x\n")}),
              kExitUsage);
    EXPECT_EQ(err_.str().find("s3cr3t"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"upgrade", image(), "--all", "--password-file", dir_.path().string()}),
              kExitUsage);
    EXPECT_NE(err_.str().find("is a folder"), std::string::npos) << err_.str();
    EXPECT_EQ(blocksTo(0), 0u);
}

TEST_F(FirmwareCommand, BadArguments) {
    makeLan(1);
    const auto file = image();
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{}, kExitUsage, "A subcommand is required"},
        {{"flash", file, "--all"}, kExitUsage, "no command 'flash'"},
        {{"upgrade"}, kExitUsage, "IMAGE is required"},
        {{"upgrade", file}, kExitUsage, "DEVICE or --all is required"},
        {{"upgrade", file, serial(0), "--all"}, kExitUsage, "DEVICE excludes --all"},
        {{"upgrade", file, "--all", "--on-block-failure", "skip"}, kExitUsage, "skip not in"},
        {{"upgrade", file, "--all", "--password-file", "/nonexistent/pw"},
         kExitUsage,
         "there is no file '/nonexistent/pw'"},
        {{"upgrade", dir_.path().string(), "--all"}, kExitUsage, "is a folder"},
        {{"upgrade", file, "4242"}, kExitFailure, "no device 4242 answered on sim0"},
        {{"upgrade", file, "dev-one"}, kExitUsage, "neither a serial number nor a MAC"},
        {{"upgrade", file, "--all", "--pacing", "fast"}, kExitUsage, "fast not in"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), c.status) << c.says;
        EXPECT_NE(err_.str().find(c.says), std::string::npos) << err_.str();
    }
    EXPECT_EQ(blocksTo(0), 0u);
}

// The first interrupt is a gentle stop: the units already transferring
// finish their image, the others never send a block, every unit is in the
// summary, and the status is 130.
TEST_F(FirmwareCommand, AnInterruptLetsTransfersFinishAndStartsNoOtherUnit) {
    EnvironmentOptions global;
    global.simulate = 8;
    global.timing = FirmwareRig::fastTiming();
    // Units 3 to 7 wait out one long boot query their devices never answer,
    // so they are still short of their transfer when the interrupt comes.
    global.timing.tries = 1;
    global.timing.queryWindow = Millis(1500);
    env_ = std::make_unique<Environment>(global);
    for (int i = 0; i < 8; ++i) {
        device(i).setProgrammingDelay(Millis(1));
        if (i >= 3) {
            auto faults = device(i).faults();
            faults.silentCommands.push_back(code::kBootQuery);
            device(i).setFaults(faults);
        }
    }
    Interrupt interrupt;
    int status = -1;
    auto command = runInterruptible({"upgrade", image(), "--all"}, interrupt, status);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(device(i).waitForRequests(code::kFirmwareBlock, 1, testing::Deadline()));
    ASSERT_TRUE(interrupt.deliver());
    command.join();

    EXPECT_EQ(status, kExitInterrupted) << err_.str();
    const std::string out = out_.str();
    for (int i = 0; i < 8; ++i) {
        const std::string row =
            serial(i) + "  " +
            (i < 3 ? "Download Successfully\n" : "Download Failed (stopped before it started)\n");
        EXPECT_NE(out.find(row), std::string::npos) << row << " not in\n" << out;
        EXPECT_EQ(blocksTo(i), i < 3 ? 64u : 0u) << serial(i);
    }
    EXPECT_NE(out.find("3 unit success, 5 unit fail. "), std::string::npos) << out;
    EXPECT_EQ(err_.str().find("cut mid-transfer"), std::string::npos) << err_.str();
}

// The second interrupt aborts at once and names the units cut in the middle
// of their image, with the block they reached.
TEST_F(FirmwareCommand, ASecondInterruptAbortsAndNamesTheUnitsCut) {
    makeLan(2);
    for (int i = 0; i < 2; ++i) {
        auto faults = device(i).faults();
        faults.flashDelayPerBlock = Millis(20); // a transfer that takes over a second
        device(i).setFaults(faults);
    }
    Interrupt interrupt;
    int status = -1;
    auto command = runInterruptible({"upgrade", image(), "--all", "--json"}, interrupt, status);
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(device(i).waitForRequests(code::kFirmwareBlock, 3, testing::Deadline()));
    ASSERT_TRUE(interrupt.deliver());
    ASSERT_TRUE(interrupt.deliver());
    EXPECT_FALSE(interrupt.deliver()) << "a third interrupt is the process's to end it";
    command.join();

    EXPECT_EQ(status, kExitInterrupted);
    const auto report = nlohmann::json::parse(out_.str());
    ASSERT_EQ(report["units"].size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const auto& unit = report["units"][static_cast<std::size_t>(i)];
        EXPECT_EQ(unit["failure"], "stopped");
        const auto blocks = unit["blocks"].get<std::uint64_t>();
        EXPECT_GE(blocks, 2u); // the third was on its way
        EXPECT_LT(blocks, 64u);
        EXPECT_NE(err_.str().find(serial(i) + " was cut mid-transfer, stopped after " +
                                  std::to_string(blocks) + " of 64 blocks"),
                  std::string::npos)
            << err_.str();
    }
}

} // namespace
} // namespace korvane::cli

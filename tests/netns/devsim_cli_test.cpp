// korvane-devsim's command line: --version and --help, and usage errors that
// end the program with status 2 before it opens any interface. None of these
// needs a namespace: the interface named ("none0") is never opened.

#include "netns/devsim_pair_test.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

using namespace korvane::netns;

namespace {

class DevsimCommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (devsimPath().empty())
            GTEST_SKIP() << "korvane-devsim is not built (set KORVANE_DEVSIM to one)";
    }

    static RunResult devsim(std::vector<std::string> args) {
        args.insert(args.begin(), devsimPath());
        return run(args);
    }
};

TEST_F(DevsimCommandLine, VersionAndHelpEndWithStatusZero) {
    const RunResult version = devsim({"--version"});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_TRUE(std::regex_match(version.out, std::regex("korvane-devsim [0-9]+\\.[0-9]+\n")))
        << version.out;

    const RunResult help = devsim({"--help"});
    EXPECT_EQ(help.status, 0) << help.err;
    for (const char* option : {"--interface", "--devices", "--status", "--fault-devices",
                               "--password-file", "--report", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option << " not in:\n" << help.out;
}

TEST_F(DevsimCommandLine, UsageErrorsEndWithStatusTwoBeforeTheInterfaceIsOpened) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("korvane-devsim-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string secret = "sixteen-letters!"; // one more than a device takes
    const auto longPassword = dir / "long-password";
    std::ofstream(longPassword) << secret << "\n";

    const struct {
        std::vector<std::string> args;
        const char* says; // a part of the message
    } cases[] = {
        {{"--interface", "none0", "--bogus"}, "--bogus"},
        {{"--devices", "2"}, "--interface is required"},
        {{"--interface", "none0", "stray"}, "stray"},
        {{"--interface", "none0", "--devices", "0"}, "from 1 to 4096"},
        {{"--interface", "none0", "--devices", "4097"}, "from 1 to 4096"},
        {{"--interface", "none0", "--seed", "-1"}, "--seed"},
        {{"--interface", "none0", "--reply-delay", "1e3"}, "--reply-delay"},
        {{"--interface", "none0", "--drop-rate", "nan"}, "fraction from 0 to 1"},
        {{"--interface", "none0", "--first-mac", "02-19-A7-00-01"}, "MAC address"},
        {{"--interface", "none0", "--status", "0x3001"}, "CODE=STATUS"},
        {{"--interface", "none0", "--status", "0x3001=3:1:0:7"}, "CODE=STATUS"},
        {{"--interface", "none0", "--status", "0x3001=0x10000"}, "CODE=STATUS"},
        {{"--interface", "none0", "--devices", "3", "--fault-devices", "1,x"}, "--fault-devices"},
        {{"--interface", "none0", "--devices", "2", "--fault-devices", "1,3"}, "device 3 of 2"},
        {{"--interface", "none0", "--capture", ""}, "--capture"},
        {{"--interface", "none0", "--password-file", (dir / "missing").string()}, "missing"},
        {{"--interface", "none0", "--password-file", dir.string()}, "--password-file"},
        {{"--interface", "none0", "--password-file", longPassword.string()}, "at most 15"},
        {{"--interface", "none0", "--password", secret}, "at most 15"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args)
            line += " " + a;
        SCOPED_TRACE("korvane-devsim" + line);
        const RunResult r = devsim(c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(secret), std::string::npos) << "the password was shown: " << r.err;
        EXPECT_EQ(r.out, "");
    }
    std::filesystem::remove_all(dir);
}

} // namespace

// The command line as a whole, run in process on the simulated LAN: the
// generated help of every command, usage errors that reach no device, global
// options wherever they stand, device names, and the JSON of every read
// command against the shapes documented in docs/command-line.md.

#include "app/environment.hpp"
#include "base/platform.hpp"
#include "base/printable_text.hpp"
#include "cli/cli.hpp"
#include "cli/json_output.hpp"
#include "devices_test_support.hpp"
#include "protocol/config_blocks.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "unit/firmware_test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace korvane::cli {
namespace {

using OrderedJson = nlohmann::ordered_json;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// A simulated LAN of `devices` with the short timing of the unit tests.
class CommandLine : public ::testing::Test {
  protected:
    explicit CommandLine(int devices = 3) {
        EnvironmentOptions options;
        options.simulate = devices;
        options.timing = test::TestTiming();
        env_ = std::make_unique<Environment>(options);
    }

    Outcome run(const std::vector<std::string>& args) {
        std::istringstream in;
        std::ostringstream out, err;
        Outcome o;
        o.status = RunIn(*env_, args, Streams{in, out, err, false});
        o.out = out.str();
        o.err = err.str();
        return o;
    }
    std::uint64_t framesToDevices() { return env_->lan()->emulator()->counters().framesReceived; }

    std::unique_ptr<Environment> env_;
};

const std::vector<std::vector<std::string>> kCommands = {
    {"adapters"},
    {"discover"},
    {"search"},
    {"info"},
    {"open"},
    {"settings", "show"},
    {"settings", "set"},
    {"settings", "set-ip"},
    {"settings", "apply"},
    {"password", "set"},
    {"password", "clear"},
    {"factory", "serial"},
    {"firmware", "upgrade"},
};

std::string joined(const std::vector<std::string>& words) {
    std::string s;
    for (const auto& w : words)
        s += (s.empty() ? "" : " ") + w;
    return s;
}

TEST_F(CommandLine, EveryCommandHasItsGeneratedHelpThreeWays) {
    const Outcome top = run({"--help"});
    EXPECT_EQ(top.status, kExitOk);
    EXPECT_NE(top.out.find("Exit status:"), std::string::npos) << top.out;
    for (const auto& command : kCommands) {
        EXPECT_NE(top.out.find("\n  " + command[0] + " "), std::string::npos) << command[0];
        std::vector<std::string> viaHelp = {"help"};
        viaHelp.insert(viaHelp.end(), command.begin(), command.end());
        std::vector<std::string> viaFlag = command;
        viaFlag.push_back("--help");
        const Outcome a = run(viaHelp);
        const Outcome b = run(viaFlag);
        EXPECT_EQ(a.status, kExitOk) << joined(command);
        EXPECT_EQ(b.status, kExitOk) << joined(command);
        EXPECT_EQ(a.out, b.out) << joined(command);
        EXPECT_NE(a.out.find("Usage: korvane " + joined(command) + " [OPTIONS]"), std::string::npos)
            << a.out;
    }
    // The manual page is written from --help-all: every command's help in it.
    const Outcome all = run({"--help-all"});
    EXPECT_EQ(all.status, kExitOk);
    for (const auto& command : kCommands)
        EXPECT_NE(all.out.find("Usage: korvane " + joined(command) + " [OPTIONS]"),
                  std::string::npos)
            << joined(command);
    // The footer every command's help ends with is not repeated there.
    EXPECT_EQ(all.out.find("2 wrong arguments (nothing was sent)"), std::string::npos);
    EXPECT_NE(all.out.find("\nExamples:\n"), std::string::npos);
    EXPECT_EQ(run({"help", "frobnicate"}).status, kExitUsage);
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.out, "korvane " KORVANE_VERSION_TEXT "\n");
    EXPECT_EQ(framesToDevices(), 0u);
}

// A help option anywhere on a line that would otherwise run prints help and
// sends nothing: right after the command, after its arguments, before it,
// and as --help-all (which once let the command run).
// Every command with arguments complete enough to run as they stand.
std::vector<std::vector<std::string>> runnableLines(const std::string& image,
                                                    const std::string& password) {
    return {
        {"adapters"},
        {"discover"},
        {"search"},
        {"info", "2801795073"},
        {"open", "2801795073", "--print"},
        {"settings", "show", "2801795073"},
        {"settings", "set", "2801795073", "--http", "8080", "--yes"},
        {"settings", "set-ip", "2801795073", "--ip", "192.168.1.150", "--yes"},
        {"settings", "apply", password, "--password-book", password},
        {"password", "set", "2801795073", "--new-password-file", password},
        {"password", "clear", "2801795073"},
        {"factory", "serial", "2801795074", "2801795099"},
        {"firmware", "upgrade", image, "--all", "--allow-short-image", "--yes"},
    };
}

TEST_F(CommandLine, HelpAnywhereOnTheLineNeverRunsTheCommand) {
    test::TempDir dir;
    const auto image = dir.write("fw.bin", test::MakeImage(4096)).string();
    const auto password = dir.write("pw", std::vector<std::uint8_t>{'n', 'e', 'w', '\n'}).string();
    const auto lines = runnableLines(image, password);
    for (const auto& line : lines) {
        const std::size_t commandWords = line[0] == "settings" || line[0] == "password" ||
                                                 line[0] == "factory" || line[0] == "firmware"
                                             ? 2
                                             : 1;
        for (const char* flag : {"--help", "-h", "--help-all"}) {
            std::vector<std::vector<std::string>> placements;
            auto atEnd = line;
            atEnd.push_back(flag);
            placements.push_back(atEnd);
            auto afterCommand = line;
            afterCommand.insert(afterCommand.begin() + static_cast<long>(commandWords), flag);
            placements.push_back(afterCommand);
            auto before = line;
            before.insert(before.begin(), flag);
            placements.push_back(before);
            for (const auto& args : placements) {
                const Outcome o = run(args);
                EXPECT_EQ(o.status, kExitOk) << joined(args) << ": " << o.err;
                EXPECT_NE(o.out.find("Usage: korvane"), std::string::npos) << joined(args);
                ASSERT_EQ(framesToDevices(), 0u) << joined(args) << " sent frames";
            }
        }
    }
}

// One wrong line per command: each is refused with status 2, says where to
// look, and not one frame reaches the devices.
TEST_F(CommandLine, UsageErrorsReachNoDevice) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{}, "A subcommand is required"},
        {{"frobnicate"}, "no command 'frobnicate'"},
        {{"settings", "delete", "1"}, "no command 'delete' in korvane settings"},
        {{"adapters", "extra"}, "not expected: extra"},
        {{"discover", "--watch", "1"}, "--watch"},
        {{"search", "--watch", "0"}, "--watch"},
        {{"search", "--simulate", "257"}, "from 0 to 256 devices"},
        {{"info"}, "DEVICE is required"},
        {{"info", "kitchen"}, "'kitchen' is neither a serial number nor a MAC address"},
        {{"info", "2801795073", "2801795074"}, "not expected"},
        {{"open"}, "DEVICE is required"},
        {{"open", "02-19-A7-00-00-0G"}, "neither a serial number nor a MAC"},
        {{"settings"}, "A subcommand is required"},
        {{"settings", "show", "1", "--yes"}, "--yes"},
        {{"settings", "set", "1", "--http", "0"}, "port number from 1 to 65534"},
        {{"settings", "set", "1", "--ssh", "65535"}, "port number from 1 to 65534"},
        {{"settings", "set", "1", "--http", "eighty"}, "port number or off"},
        {{"settings", "set", "1", "--ip", "10.0.0.300"}, "dotted IPv4"},
        {{"settings", "set", "1", "--dhcp", "--static"}, "at most 1"},
        {{"settings", "set", "1", "--dhcp", "--ip", "10.0.0.1"}, "cannot go with --ip"},
        {{"settings", "set-ip", "1", "--bootp"}, "--bootp"},
        {{"settings", "set", "1", "--password-file", "/tmp"}, "is a folder"},
        {{"password", "set", "1", "--new-password-file", "/nonexistent"}, "no file"},
        {{"password", "clear", "1", "--new-password-file", "/etc/hostname"}, "not expected"},
        {{"factory", "serial", "1", "42949672960"}, "from 0 to 4294967295"},
        {{"factory", "serial", "1"}, "NUMBER is required"},
        {{"firmware", "upgrade"}, "IMAGE is required"},
        {{"firmware", "upgrade", "/nonexistent.bin", "--all"}, "no file"},
        {{"firmware", "upgrade", "/etc/hostname", "--all", "--pacing", "fast"}, "fast"},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, kExitUsage) << joined(c.args) << ": " << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << joined(c.args) << ": " << o.err;
        EXPECT_NE(o.err.find("--help"), std::string::npos) << joined(c.args) << ": " << o.err;
        EXPECT_EQ(o.out, "") << joined(c.args);
    }
    EXPECT_EQ(framesToDevices(), 0u);
}

// Without the capture library (Npcap not installed on Windows) no adapter can
// be reached: every command says why and ends with 3, not with "No Ethernet
// adapter found", which would hide the reason.
TEST(CommandLineWithoutCapture, EveryCommandSaysWhyAndEndsWithThree) {
    class MissingLibrary : public PacketDriver {
      public:
        std::vector<AdapterInfo> listAdapters() override { return {}; }
        OpenResult open(const std::string&, const OpenOptions&) override {
            return {nullptr, OpenFailure::Other, "not loaded"};
        }
        std::string unavailableReason() const override {
            return "the capture library is not installed";
        }
    } driver;
    EnvironmentOptions options;
    options.timing = test::TestTiming();
    Environment env(options, driver);
    test::TempDir dir;
    const auto image = dir.write("fw.bin", test::MakeImage(4096)).string();
    const auto password = dir.write("pw", std::vector<std::uint8_t>{'n', 'e', 'w', '\n'}).string();
    for (const auto& line : runnableLines(image, password)) {
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(RunIn(env, line, Streams{in, out, err, false}), kExitNoAdapter) << joined(line);
        EXPECT_NE(err.str().find(": the capture library is not installed\n"), std::string::npos)
            << joined(line) << ": " << err.str();
        EXPECT_EQ(out.str(), "") << joined(line);
    }
}

// An argument that starts with a slash is a path on every system: CLI11
// would take /x for an option on Windows unless told not to.
TEST_F(CommandLine, ASlashArgumentIsAPathNotAnOption) {
    const Outcome o =
        run({"settings", "set", "2801795073", "--http", "8080", "--yes", "--password-file", "/x"});
    EXPECT_EQ(o.status, kExitUsage);
    EXPECT_NE(o.err.find("'/x'"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("not expected"), std::string::npos) << o.err;
}

TEST(CommandLineGlobal, GlobalOptionsMayFollowTheCommand) {
    // --time-scale shrinks the timing table as the unit tests do.
    for (const auto& args :
         {std::vector<std::string>{"--simulate", "2", "--time-scale", "0.1", "discover", "--json"},
          std::vector<std::string>{"discover", "--json", "--simulate", "2", "--time-scale", "0.1"},
          std::vector<std::string>{"discover", "--simulate", "2", "--json", "--interface", "sim0",
                                   "--time-scale", "0.1"}}) {
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(cli::Run(args, Streams{in, out, err, false}), kExitOk) << err.str();
        EXPECT_EQ(nlohmann::json::parse(out.str()).size(), 2u) << out.str();
    }
    // -v: a line per frame on the error stream, none with a password in it.
    {
        platform::SetEnvironment("KORVANE_PASSWORD", "Xq9secret");
        std::istringstream in;
        std::ostringstream out, err;
        const int status = cli::Run(
            {"password", "clear", "2801795073", "--simulate", "1", "-v", "--time-scale", "0.1"},
            Streams{in, out, err, false});
        platform::UnsetEnvironment("KORVANE_PASSWORD");
        EXPECT_EQ(status, kExitOk) << err.str();
        const std::string log = err.str();
        EXPECT_NE(log.find(" sent sim0 to FF-FF-FF-FF-FF-FF discover (0x1001) status 0, 41 bytes"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find(" received sim0 from 02-19-A7-00-00-01 discover reply (0x1002)"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("set password (0x7002)"), std::string::npos) << log;
        EXPECT_EQ(log.find("Xq9"), std::string::npos) << log;
    }
    // --json before the command: the error says where it goes.
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(cli::Run({"--json", "search", "--simulate", "1", "--time-scale", "0.1"},
                       Streams{in, out, err, false}),
              kExitUsage);
    EXPECT_NE(err.str().find("--json goes after the command: korvane search --json"),
              std::string::npos)
        << err.str();
}

// A mistake is named for what it is, before anything else on the line is
// taken for something it is not; nothing typed is echoed at length, and a
// password given on the line is never echoed at all.
TEST_F(CommandLine, MistakesAreNamedForWhatTheyAre) {
    test::TempDir dir;
    const auto image = dir.write("fw.bin", test::MakeImage(4096)).string();
    const std::string longName(100000, '7');
    const struct {
        std::vector<std::string> args;
        const char* says;
        std::string neverSays;
    } cases[] = {
        {{"--simlate", "8", "search"},
         "unknown option --simlate (did you mean --simulate?)",
         "no command"},
        {{"firmware", "upgrade", image, "--all", "--pace", "per-device"},
         "unknown option --pace (did you mean --pacing?)",
         "neither a serial number"},
        {{"search", "--jsn"}, "unknown option --jsn (did you mean --json?)", "goes after"},
        {{"password", "set", "2801795073", "--password", "hunter2"},
         "unknown option --password (did you mean --password-file?); passwords are never given "
         "on the command line",
         "hunter2"},
        {{"password", "set", "2801795073", "--password=hunter2"}, "--password-file", "hunter2"},
        {{"info", longName}, "... (100000 characters)", std::string(kEchoLimit + 1, '7')},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, kExitUsage) << joined(c.args).substr(0, 80);
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find(c.neverSays), std::string::npos) << o.err;
        EXPECT_LT(o.err.size(), 600u) << o.err.substr(0, 200);
    }
    EXPECT_EQ(framesToDevices(), 0u);
}

// Without a terminal or --allow-short-image, a short image is explained and
// refused; the question that nobody can answer is not printed.
TEST_F(CommandLine, AShortImageIsExplainedNotAsked) {
    test::TempDir dir;
    const auto image = dir.write("short.bin", test::MakeImage(1000)).string();
    const Outcome o = run({"firmware", "upgrade", image, "--all"});
    EXPECT_EQ(o.status, kExitUsage);
    EXPECT_NE(o.err.find("no boot identification word"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("refused: --allow-short-image is needed"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("Continue anyway?"), std::string::npos) << o.err;
    EXPECT_EQ(framesToDevices(), 0u);
}

// Standard output that cannot be written (a full disk) fails the command.
TEST_F(CommandLine, AnOutputThatCannotBeWrittenIsAFailure) {
    struct FullDevice : std::streambuf {
        int_type overflow(int_type) override { return traits_type::eof(); }
        std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
    } full;
    std::ostream out(&full);
    std::istringstream in;
    std::ostringstream err;
    const int status = RunIn(*env_, {"search"}, Streams{in, out, err, false});
    EXPECT_EQ(status, kExitFailure);
    EXPECT_NE(err.str().find("korvane search: cannot write to standard output"), std::string::npos)
        << err.str();
}

// Plain lists get a header line for a person at a terminal, not in a pipe.
TEST_F(CommandLine, PlainListsHaveAHeaderOnlyOnATerminal) {
    for (const bool terminal : {false, true}) {
        for (const std::string command : {"search", "adapters"}) {
            std::istringstream in;
            std::ostringstream out, err;
            Streams streams{in, out, err, false};
            streams.outputIsTerminal = terminal;
            ASSERT_EQ(RunIn(*env_, {command}, streams), kExitOk) << err.str();
            const bool header = out.str().starts_with(command == "search" ? "Serial number" : "#");
            EXPECT_EQ(header, terminal) << command << ":\n" << out.str();
        }
    }
}

// set-ip asks the address question as settings set does: without --yes an
// address another device answers to is not written; with it, it is.
TEST_F(CommandLine, SetIpAsksBeforeTakingAnAddressInUse) {
    auto& first = env_->lan()->emulator()->device(0);
    const std::uint32_t own = first.settings().ipAddress();
    const std::uint32_t taken = env_->lan()->emulator()->device(1).settings().ipAddress();
    const std::string takenText = FormatIPv4(taken);

    Outcome o = run({"settings", "set-ip", "2801795073", "--ip", takenText});
    EXPECT_EQ(o.status, kExitFailure);
    EXPECT_NE(o.err.find("IP address: " + takenText + " already exists on the LAN"),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("--yes"), std::string::npos) << o.err;
    EXPECT_EQ(first.settings().ipAddress(), own);

    o = run({"settings", "set-ip", "2801795073", "--ip", takenText, "--yes"});
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_NE(o.out.find("Settings written (to the simulated LAN"), std::string::npos) << o.out;
    EXPECT_EQ(first.settings().ipAddress(), taken);
}

TEST_F(CommandLine, DevicesAreNamedTheSameWayByEveryCommand) {
    // Well-formed names that match nothing are named, for every command that resolves.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"info", "4242"},
             {"open", "--print", "2801795073", "02-19-A7-00-09-99"},
             {"settings", "show", "02:19:a7:00:09:99"},
             {"password", "clear", "4242"},
             {"factory", "serial", "4242", "2801795200"},
             {"firmware", "upgrade", "/etc/hostname", "4242", "--allow-short-image"}}) {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, kExitFailure) << joined(args) << ": " << o.err;
        EXPECT_NE(o.err.find("korvane " + args[0]), std::string::npos) << o.err;
        EXPECT_NE(o.err.find(" answered on sim0"), std::string::npos) << o.err;
        EXPECT_TRUE(o.err.find("4242") != std::string::npos ||
                    o.err.find("02-19-A7-00-09-99") != std::string::npos ||
                    o.err.find("02:19:a7:00:09:99") != std::string::npos)
            << o.err;
    }
    // Either form of a MAC, or the serial number, reach the same device.
    for (const char* name : {"2801795074", "02-19-A7-00-00-02", "02:19:a7:00:00:02"}) {
        const Outcome o = run({"info", name, "--json"});
        ASSERT_EQ(o.status, kExitOk) << o.err;
        EXPECT_EQ(nlohmann::json::parse(o.out)["mac"], "02-19-A7-00-00-02");
    }
    // An adapter name that does not exist lists the ones there are.
    const EnvironmentOptions options = [] {
        EnvironmentOptions o;
        o.simulate = 1;
        o.interfaces = {"nope0"};
        o.timing = test::TestTiming();
        return o;
    }();
    Environment elsewhere(options);
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunIn(elsewhere, {"info", "2801795073"}, Streams{in, out, err, false}),
              kExitNoAdapter);
    EXPECT_NE(err.str().find("no Ethernet adapter named 'nope0'; the adapters here are: sim0"),
              std::string::npos)
        << err.str();
}

// Without a browser to start, the URL is still printed and --print suggested.
TEST_F(CommandLine, OpenWithoutABrowserSuggestsPrint) {
    if (std::string(platform::UrlOpenerName()) != "xdg-open")
        GTEST_SKIP() << "the opener is found through PATH only where it is xdg-open";
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    platform::SetEnvironment("PATH", ::testing::TempDir()); // no xdg-open there
    const Outcome o = run({"open", "2801795073"});
    platform::SetEnvironment("PATH", path);
    EXPECT_EQ(o.status, kExitFailure);
    EXPECT_EQ(o.out, "http://192.168.1.100:80/\n");
    EXPECT_NE(o.err.find("'korvane open --print DEVICE...' prints the URLs"), std::string::npos)
        << o.err;
}

// ------------------------------------------------------------- documented JSON

// The JSON example that docs/command-line.md gives for each command, by the
// marker line before it.
std::map<std::string, OrderedJson> documentedJson() {
    std::ifstream file(KORVANE_SOURCE_DIR "/docs/command-line.md");
    std::stringstream text;
    text << file.rdbuf();
    const std::string doc = text.str();
    std::map<std::string, OrderedJson> shapes;
    const std::string marker = "<!-- json: ";
    for (std::size_t at = doc.find(marker); at != std::string::npos;
         at = doc.find(marker, at + 1)) {
        const std::size_t nameEnd = doc.find(" -->", at);
        const std::string name = doc.substr(at + marker.size(), nameEnd - at - marker.size());
        const std::size_t open = doc.find("```json\n", nameEnd) + 8;
        const std::size_t close = doc.find("```", open);
        shapes[name] = OrderedJson::parse(doc.substr(open, close - open));
    }
    return shapes;
}

// Same keys in the same order, same kinds of value, all the way down; every
// element of an array has the shape of the documented first one.
void expectShape(const OrderedJson& documented, const OrderedJson& real, const std::string& path) {
    const auto kind = [](const OrderedJson& j) {
        return j.is_number() ? std::string("number") : std::string(j.type_name());
    };
    ASSERT_EQ(kind(documented), kind(real)) << path << ": " << real.dump();
    if (documented.is_object()) {
        std::vector<std::string> documentedKeys, realKeys;
        for (const auto& [key, value] : documented.items())
            documentedKeys.push_back(key);
        for (const auto& [key, value] : real.items())
            realKeys.push_back(key);
        ASSERT_EQ(documentedKeys, realKeys) << path;
        for (const auto& key : documentedKeys)
            expectShape(documented[key], real[key], path + "." + key);
    } else if (documented.is_array()) {
        ASSERT_FALSE(documented.empty()) << path;
        ASSERT_FALSE(real.empty()) << path;
        for (std::size_t i = 0; i < real.size(); ++i)
            expectShape(documented[0], real[i], path + "[" + std::to_string(i) + "]");
    }
}

TEST_F(CommandLine, JsonOfEveryReadCommandHasTheDocumentedShape) {
    const auto documented = documentedJson();
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"adapters", {"adapters", "--json"}},
        {"discover", {"discover", "--json"}},
        {"search", {"search", "--json"}},
        {"info", {"info", "2801795075", "--json"}},
        {"settings show", {"settings", "show", "02-19-A7-00-00-01", "--json"}},
    };
    for (const auto& [name, args] : commands) {
        ASSERT_TRUE(documented.count(name)) << name << " has no documented JSON";
        const Outcome o = run(args);
        ASSERT_EQ(o.status, kExitOk) << name << ": " << o.err;
        expectShape(documented.at(name), OrderedJson::parse(o.out), name);
    }

    // The one command that prints JSON about what it wrote.
    for (std::size_t i = 0; i < 3; ++i)
        env_->lan()->emulator()->device(i).setProgrammingDelay(Millis(1));
    test::TempDir dir;
    const auto image = dir.write("fw.bin", test::MakeImage(4096)).string();
    const Outcome o =
        run({"firmware", "upgrade", image, "2801795073", "--allow-short-image", "--json"});
    ASSERT_EQ(o.status, kExitOk) << o.err;
    ASSERT_TRUE(documented.count("firmware upgrade"));
    expectShape(documented.at("firmware upgrade"), OrderedJson::parse(o.out), "firmware upgrade");

    // A comparison with a saved list that differs every way: one device
    // moved, one gone, two not in the list.
    const auto text = [](std::string_view t) {
        return std::span(reinterpret_cast<const std::uint8_t*>(t.data()), t.size());
    };
    const auto saved =
        dir.write("saved.csv", text("mac,ip\n02-19-A7-00-00-01,10.9.9.9\n02-19-A7-00-00-99,\n"));
    const Outcome compared = run({"search", "--compare", saved.string(), "--json"});
    ASSERT_EQ(compared.status, kExitFailure) << compared.err;
    ASSERT_TRUE(documented.count("search --compare"));
    expectShape(documented.at("search --compare"), OrderedJson::parse(compared.out),
                "search --compare");

    // settings apply prints one line per device as it is done.
    const auto plan = dir.write("plan.csv", text("mac,gateway\n02-19-A7-00-00-02,192.168.1.254\n"));
    const Outcome applied = run({"settings", "apply", plan.string(), "--json"});
    ASSERT_EQ(applied.status, kExitOk) << applied.err;
    ASSERT_TRUE(documented.count("settings apply"));
    expectShape(documented.at("settings apply"),
                OrderedJson::parse(applied.out.substr(0, applied.out.find('\n'))),
                "settings apply");
}

// Whatever the bytes of a text, the JSON is ASCII, parses, and gives back
// the text as UTF-8 (a byte that is no UTF-8 read as Latin-1).
TEST(JsonOutput, TextOfAnyBytesPrintsAsAsciiAndParsesBack) {
    const struct {
        std::string in;
        std::string parsed;
    } cases[] = {
        {"plain \"quoted\" \\", "plain \"quoted\" \\"},
        {"R\xC3\xA9seau \xE2\x82\xAC \xF0\x9F\x98\x80",
         "R\xC3\xA9seau \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\x1b[2J\x7f\x01", "\x1b[2J\x7f\x01"},
        {"\xC2\x9B C1", "\xC2\x9B C1"},
        {"Latin-1 \xE9\xFF", "Latin-1 \xC3\xA9\xC3\xBF"},
        {"cut \xE2\x82", "cut \xC3\xA2\xC2\x82"},
        {"\xC0\x80", "\xC3\x80\xC2\x80"},
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        PrintJson(out, Json{{"text", JsonText(c.in)}}, JsonLayout::OneLine);
        const std::string printed = out.str();
        for (const char ch : printed)
            EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7F)) << printed;
        EXPECT_EQ(nlohmann::json::parse(printed)["text"], c.parsed) << printed;
    }
}

} // namespace
} // namespace korvane::cli

// The search, info and open commands, run in process: on the simulated LAN,
// and on a machine view with no usable adapter (an adapter name that does not exist).

#include "app/environment.hpp"
#include "cli/cli.hpp"
#include "cli/json_output.hpp"
#include "emulator_fixture.hpp"
#include "link/simulated_segment.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

namespace korvane::cli {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runWith(std::vector<std::string> global, const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out, err;
    global.insert(global.end(), args.begin(), args.end());
    const int status = Run(global, Streams{in, out, err, false});
    return {status, out.str(), err.str()};
}
Outcome simulated(const std::vector<std::string>& args) {
    return runWith({"--simulate", "3", "--time-scale", "0.1"}, args);
}

TEST(DevicesCli, SearchInfoAndOpenOnTheSimulatedLan) {
    const Outcome json = simulated({"search", "--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(nlohmann::ordered_json::parse(json.out).at(2),
              nlohmann::ordered_json::parse(
                  R"({"serial": "2801795075", "ip": "192.168.1.102", )"
                  R"("mac": "02-19-A7-00-00-03", "hardware_version": "Q3.0", )"
                  R"("firmware_version": "1.18.3M.4", "version_number": 1018003, )"
                  R"("adapter": "sim0", "adapter_index": 0})"))
        << json.out;

    const Outcome info = simulated({"info", "02:19:a7:00:00:02"});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out, "Serial Number: 2801795074\nHardware Version: Q2.1\n"
                        "Firmware Version: 1.20.7K.15\nLAN IP Address: 192.168.1.101\n");

    // The pages open in list order, whatever the order of the names.
    const Outcome open = simulated({"open", "--print", "2801795075", "02-19-A7-00-00-01"});
    EXPECT_EQ(open.status, 0) << open.err;
    EXPECT_EQ(open.out, "http://192.168.1.100:80/\nhttp://192.168.1.102:80/\n");
}

TEST(DevicesCli, SearchExitStatusSaysWhetherAnythingWasSearched) {
    // "No device found" with status 0 only after a real search.
    const Outcome none = runWith({"--simulate", "0", "--time-scale", "0.1"}, {"search"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No device found\n");
    EXPECT_EQ(runWith({"--simulate", "0", "--time-scale", "0.1"}, {"search", "--json"}).out,
              "[]\n");

    // An unknown --interface is named, with the adapters there are.
    for (const auto& args :
         {std::vector<std::string>{"search"}, std::vector<std::string>{"search", "--json"},
          std::vector<std::string>{"discover"}}) {
        const Outcome unknown = runWith({"--simulate", "2", "--interface", "nope0"}, args);
        EXPECT_EQ(unknown.status, 3);
        EXPECT_EQ(unknown.out, "");
        EXPECT_NE(
            unknown.err.find("no Ethernet adapter named 'nope0'; the adapters here are: sim0"),
            std::string::npos)
            << unknown.err;
    }
    EXPECT_EQ(runWith({"--simulate", "1"}, {"search", "--watch", "0"}).status, 2);
}

// Output that interrupts the command after its second line, as Ctrl-C would.
class InterruptAfterTwoLines : public std::stringbuf {
  public:
    explicit InterruptAfterTwoLines(Interrupt& interrupt) : interrupt_(interrupt) {}

  protected:
    int_type overflow(int_type c) override {
        if (c == '\n' && ++lines_ == 2)
            interrupt_.stop.requestStop();
        return std::stringbuf::overflow(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i)
            overflow(static_cast<unsigned char>(s[i]));
        return n;
    }

  private:
    Interrupt& interrupt_;
    int lines_ = 0;
};

TEST(DevicesCli, WatchPrintsOneJsonArrayPerSearchUntilInterrupted) {
    Interrupt interrupt;
    InterruptAfterTwoLines buffer(interrupt);
    std::ostream out(&buffer);
    std::istringstream in;
    std::ostringstream err;
    EnvironmentOptions options;
    options.simulate = 2;
    options.timing = Timing::defaults().scaled(0.05);
    Environment env(options);
    EXPECT_EQ(
        RunIn(env, {"search", "--watch", "1", "--json"}, Streams{in, out, err, false, &interrupt}),
        kExitOk);
    EXPECT_FALSE(interrupt.claimed.load()); // handed back: a second signal ends the process
    std::istringstream lines(buffer.str());
    std::string line;
    int searches = 0;
    while (std::getline(lines, line)) {
        ++searches;
        const auto found = nlohmann::json::parse(line); // one whole array per line
        ASSERT_EQ(found.size(), 2u) << line;
        EXPECT_EQ(found[0]["serial"], "2801795073");
        EXPECT_EQ(found[1]["mac"], "02-19-A7-00-00-02");
    }
    EXPECT_EQ(searches, 2);
    EXPECT_EQ(err.str(), "");
}

// search and discover alike: nothing searched is status 3 with each
// adapter's reason, not "No device found"; one adapter skipped of two is
// named on standard error while the other is searched.
TEST(DevicesCli, SearchAndDiscoverThatCouldOpenNoAdapterFailWithTheReasonAndTheFix) {
    const MacAddress first{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
    const MacAddress second{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}};
    for (const auto& args :
         {std::vector<std::string>{"search"}, std::vector<std::string>{"search", "--json"},
          std::vector<std::string>{"discover"}, std::vector<std::string>{"discover", "--json"}}) {
        SimulatedSegment segment;
        segment.addAdapter("sim0", "first", first);
        segment.denyAccess("sim0");
        std::istringstream in;
        std::ostringstream out, err;
        {
            Environment env(EnvironmentOptions{}, segment);
            env.setPermissionReporter([&](const std::string& line) { err << line; });
            EXPECT_EQ(RunIn(env, args, Streams{in, out, err, false}), kExitNoAdapter) << args[0];
        }
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find("no adapter could be searched; sim0: raw Ethernet access was "
                                 "refused"),
                  std::string::npos)
            << err.str();
        EXPECT_NE(err.str().find("setcap cap_net_raw+ep " + ProgramPath()), std::string::npos);

        // A second adapter that opens: searched, status 0, the first one named.
        SimulatedSegment two;
        two.addAdapter("sim0", "first", first);
        two.addAdapter("sim1", "second", second);
        two.setAdapterDown("sim0", true);
        std::ostringstream out2, err2;
        {
            EnvironmentOptions options;
            options.timing = Timing::defaults().scaled(0.05);
            Environment env(options, two);
            EXPECT_EQ(RunIn(env, args, Streams{in, out2, err2, false}), kExitOk) << args[0];
        }
        EXPECT_NE(err2.str().find("not searched: sim0 (the adapter is down)"), std::string::npos)
            << err2.str();
        EXPECT_EQ(err2.str().find("sim1"), std::string::npos) << err2.str();
    }
}

// A device's texts may hold anything: control characters that would act on
// a terminal, a newline that would forge a line, bytes above 0x7F.
TEST(DevicesCli, DeviceTextIsEscapedAndJsonStaysValid) {
    sim::LanOptions one;
    one.devices = 1;
    sim::SimulatedLan lan(one);
    sim::EmulatedDevice& device = lan.emulator()->device(0);
    device.setFirmwareVersion(sim::VersionText("1.20.7K\x1b]0;owned\x07\nIP: 6.6.6.6\xE9\\"));
    device.setHardwareVersion(sim::VersionText("Q2\x1b[2J\x9b"));

    auto command = [&](std::vector<std::string> args) {
        EnvironmentOptions options;
        options.timing = testing::TestTiming();
        Environment env(options, lan.segment());
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(RunIn(env, args, {in, out, err, false}), kExitOk) << err.str();
        return out.str();
    };
    const auto onlyPrintable = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) {
            return c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F &&
                                 static_cast<unsigned char>(c) < 0x80);
        });
    };

    const std::string search = command({"search"});
    EXPECT_TRUE(onlyPrintable(search)) << search;
    EXPECT_NE(search.find(R"(  Q2\x1B[2J\x9B  1.20.7K\x1B]0;owned\x07\x0AIP: 6.6.6.6\xE9\\  )"),
              std::string::npos)
        << search;

    const std::string info = command({"info", "02-19-A7-00-00-01"});
    EXPECT_TRUE(onlyPrintable(info)) << info;
    EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 4) << info; // no forged line

    const std::string json = command({"search", "--json"});
    EXPECT_TRUE(onlyPrintable(json)) << json;
    const auto parsed = nlohmann::json::parse(json); // throws on invalid UTF-8
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["firmware_version"], R"(1.20.7K\x1B]0;owned\x07\x0AIP: 6.6.6.6\xE9\\)");
}

} // namespace
} // namespace korvane::cli

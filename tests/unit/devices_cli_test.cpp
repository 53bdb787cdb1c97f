// The search, info and open commands, run in process: on the simulated LAN,
// and on a machine view with no usable adapter (an adapter name that does not exist).

#include "cli/cli.hpp"
#include "cli/commands.hpp"
#include "link/simulated_segment.hpp"

#include <gtest/gtest.h>

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
// A machine view with no adapter to search.
Outcome run(const std::vector<std::string>& args) {
    return runWith({"--interface", "korvane-test-no-such-adapter"}, args);
}
Outcome simulated(const std::vector<std::string>& args) {
    return runWith({"--simulate", "3"}, args);
}

TEST(DevicesCli, SearchInfoAndOpenOnTheSimulatedLan) {
    const Outcome json = simulated({"search", "--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find(R"({"serial": "2801795075", "ip": "192.168.1.102", )"
                            R"("mac": "02-19-A7-00-00-03", "hardware_version": "Q3.0", )"
                            R"("firmware_version": "1.18.3M.4", "version_number": 1018003, )"
                            R"("adapter": "sim0", "adapter_index": 0})"),
              std::string::npos)
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
    const Outcome none = runWith({"--simulate", "0"}, {"search"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No device found\n");
    EXPECT_EQ(runWith({"--simulate", "0"}, {"search", "--json"}).out, "[]\n");

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

TEST(DevicesCli, SearchThatCouldOpenNoAdapterFailsWithTheReasonAndTheFix) {
    SimulatedSegment segment;
    segment.addAdapter("sim0", "first", MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}});
    segment.denyAccess("sim0");
    for (const bool json : {false, true}) {
        std::istringstream in;
        std::ostringstream out, err;
        Environment env(GlobalOptions{}, segment);
        env.setPermissionReporter([&](const std::string& line) { err << line; });
        Invocation inv{
            env, ArgList(json ? std::vector<std::string>{"--json"} : std::vector<std::string>{}),
            Streams{in, out, err, false}};
        EXPECT_EQ(CmdSearch(inv), kExitNoAdapter);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find("no adapter could be searched; sim0: raw Ethernet access was "
                                 "refused"),
                  std::string::npos)
            << err.str();
        EXPECT_NE(err.str().find("setcap cap_net_raw+ep " + ProgramPath()), std::string::npos);
    }
}

TEST(DevicesCli, ArgumentsAndUnknownDevices) {
    EXPECT_EQ(run({"search", "extra"}).status, 2);
    EXPECT_EQ(run({"info"}).status, 2);
    EXPECT_EQ(run({"open"}).status, 2);
    EXPECT_EQ(run({"open", "--bogus", "1"}).status, 2);
    const Outcome info = run({"info", "02-19-A7-00-00-01"});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.err.find("no device '02-19-A7-00-00-01' found"), std::string::npos);
    EXPECT_EQ(run({"open", "--print", "2801795073"}).status, 1);
}

} // namespace
} // namespace korvane::cli

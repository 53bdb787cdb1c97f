// The search, info and open commands, run in process: on the simulated LAN,
// and on a machine view with no usable adapter (an adapter name that does not exist).

#include "cli/cli.hpp"

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

TEST(DevicesCli, SearchWithoutAdapters) {
    EXPECT_EQ(run({"search"}).out, "No device found\n");
    EXPECT_EQ(run({"search", "--json"}).out, "[]\n");
    const Outcome required = run({"search", "--require-adapter"});
    EXPECT_EQ(required.status, 1);
    EXPECT_NE(required.err.find("no network adapter could be opened"), std::string::npos);
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

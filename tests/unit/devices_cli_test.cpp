// The search, info and open commands' arguments and errors, run in process
// on a machine view with no usable adapter (an adapter name that does not exist).

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

Outcome run(std::vector<std::string> args) {
    std::istringstream in;
    std::ostringstream out, err;
    args.insert(args.begin(), {"--interface", "korvane-test-no-such-adapter"});
    const int status = Run(args, Streams{in, out, err, false});
    return {status, out.str(), err.str()};
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

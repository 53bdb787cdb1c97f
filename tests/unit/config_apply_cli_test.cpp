// Fleet work on the command line, in process against eight emulated devices
// on the simulated segment: settings apply (its checks, its writes, a second
// run that writes nothing, a refused password, an interrupt) and search
// --csv / --compare.

#include "config_test_support.hpp"

#include "app/environment.hpp"
#include "cli/cli.hpp"
#include "config/settings_model.hpp"
#include "sim/arp_responder.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace korvane {
namespace {

constexpr int kDevices = 8;

MacAddress deviceMac(int n) { // n from 0
    return MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, static_cast<std::uint8_t>(n + 1)}};
}
std::uint32_t deviceIp(int n) {
    return 0xC0A80164 + static_cast<std::uint32_t>(n); // 192.168.1.100 + n
}
std::string serial(int n) {
    return std::to_string(deviceMac(n).serialNumber());
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Output that delivers an interrupt the first time `trigger` is written, as
// Ctrl-C pressed while the command prints.
class InterruptOnText : public std::stringbuf {
  public:
    InterruptOnText(cli::Interrupt& interrupt, std::string trigger)
        : interrupt_(interrupt), trigger_(std::move(trigger)) {}

  protected:
    int sync() override {
        if (!fired_ && str().find(trigger_) != std::string::npos) {
            fired_ = true;
            interrupt_.deliver();
        }
        return 0;
    }

  private:
    cli::Interrupt& interrupt_;
    std::string trigger_;
    bool fired_ = false;
};

class FleetCli : public ::testing::Test {
  protected:
    FleetCli() {
        for (int n = 0; n < kDevices; ++n)
            devices.push_back(&lan.add(
                deviceMac(n), [n](sim::DeviceConfig& c) { c.settings.setIpAddress(deviceIp(n)); }));
    }
    ~FleetCli() override {
        EXPECT_EQ(lan.violations(), 0u) << "a device found faults in what it received";
        for (const auto& path : files)
            std::remove(path.c_str());
    }

    CliRun run(std::vector<std::string> args, std::streambuf* outBuffer = nullptr,
               cli::Interrupt* interrupt = nullptr) {
        EnvironmentOptions options;
        options.timing = testing::TestTiming();
        Environment env(options, lan.segment);
        std::istringstream in;
        std::ostringstream captured, err;
        std::ostream out(outBuffer ? outBuffer : captured.rdbuf());
        CliRun r;
        r.status = cli::RunIn(env, args, {in, out, err, false, interrupt});
        out.flush();
        r.out = outBuffer ? "" : captured.str();
        r.err = err.str();
        return r;
    }

    std::string file(const std::string& content) {
        const std::string path = ::testing::TempDir() + "korvane_fleet_" +
                                 std::to_string(files.size()) + "_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::ofstream(path, std::ios::binary) << content;
        files.push_back(path);
        return path;
    }

    std::size_t settingsWrites(int n) const {
        return lan.requests(deviceMac(n), code::kWriteSettings).size();
    }
    std::size_t allSettingsWrites() const {
        std::size_t total = 0;
        for (int n = 0; n < kDevices; ++n)
            total += settingsWrites(n);
        return total;
    }

    // Every device moves one address up: each takes the address its
    // neighbour gives up, the last one a free one.
    std::string shiftPlan() const {
        std::string plan = "serial,ip,mask,gateway\n";
        for (int n = 0; n < kDevices; ++n)
            plan += serial(n) + "," + FormatIPv4(deviceIp(n + 1)) + ",255.255.0.0,192.168.1.1\n";
        return plan;
    }

    testing::EmulatedSegment lan;
    std::vector<sim::EmulatedDevice*> devices;
    std::vector<std::string> files;
};

TEST_F(FleetCli, APlanOfEightDevicesIsWrittenOnceAndTheSecondRunWritesNothing) {
    const std::string plan = file(shiftPlan());

    CliRun r = run({"settings", "apply", plan, "--dry-run"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_NE(r.out.find(DeviceName(deviceMac(0)) +
                         "  would write  ip 192.168.1.100 -> 192.168.1.101, mask 255.255.255.0 -> "
                         "255.255.0.0\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("8 would be written, 0 unchanged"), std::string::npos) << r.out;
    EXPECT_EQ(allSettingsWrites(), 0u);

    r = run({"settings", "apply", plan});
    EXPECT_EQ(r.status, cli::kExitOk) << r.out << r.err;
    EXPECT_NE(r.out.find("8 devices: 8 written, 0 unchanged, 0 failed"), std::string::npos)
        << r.out;
    for (int n = 0; n < kDevices; ++n) {
        EXPECT_EQ(devices[n]->settings().ipAddress(), deviceIp(n + 1)) << n;
        EXPECT_EQ(devices[n]->settings().subnetMask(), 0xFFFF0000u) << n;
        EXPECT_EQ(settingsWrites(n), 1u) << n;
    }
    // A device takes its neighbour's address only after the neighbour gave it up.
    const auto position = [&](int n) { return r.out.find(DeviceName(deviceMac(n))); };
    for (int n = 0; n + 1 < kDevices; ++n)
        EXPECT_GT(position(n), position(n + 1)) << r.out;

    r = run({"settings", "apply", plan, "--json"});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(allSettingsWrites(), static_cast<std::size_t>(kDevices));
    std::istringstream lines(r.out);
    std::string line;
    std::vector<nlohmann::json> objects;
    while (std::getline(lines, line))
        objects.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(objects.size(), static_cast<std::size_t>(kDevices) + 1) << r.out;
    EXPECT_EQ(objects[0]["result"], "unchanged");
    EXPECT_EQ(objects[0]["changes"], nlohmann::json::array());
    EXPECT_EQ(objects.back()["summary"]["unchanged"], kDevices);
    EXPECT_EQ(objects.back()["summary"]["written"], 0);
}

TEST_F(FleetCli, APlanThatContradictsItselfIsRefusedBeforeAnyFrame) {
    const CliRun r = run({"settings", "apply",
                          file("mac,ip\n" + deviceMac(0).toString() + ",10.0.0.5\n" +
                               deviceMac(1).toString() + ",10.0.0.5\n"),
                          "--json"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("row 2 (line 3, 02-19-A7-00-00-02): gives the address 10.0.0.5 that "
                         "row 1 gives too"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("nothing was written"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(r.out)["errors"][0]["row"], 2) << r.out;
    EXPECT_TRUE(lan.requests(MacAddress::broadcast(), code::kDiscover).empty());
}

TEST_F(FleetCli, EachErrorNamesItsRowAndNothingIsWritten) {
    // Another station answers to 192.168.7.7.
    sim::ArpResponder host(lan.segment, MacAddress{{0x02, 0x42, 0, 0, 0, 9}}, {0xC0A80707});
    const std::string plan = file("serial,ip,mask,gateway\n" +                         //
                                  serial(0) + ",10.1.0.1,,\n" +                        // fine
                                  serial(1) + ",,255.255.255.253,\n" +                 // bad mask
                                  "2801799999,10.1.0.3,,\n" +                          // no device
                                  serial(3) + ",192.168.7.7,,\n" +                     // in use
                                  serial(4) + "," + FormatIPv4(deviceIp(5)) + ",,\n" + // kept by 5
                                  serial(5) + ",,,192.168.1.254\n" +                   // fine
                                  serial(6) + ",,,0.0.0.0\n");                         // gateway
    const CliRun r = run({"settings", "apply", plan});
    EXPECT_EQ(r.status, cli::kExitUsage) << r.out << r.err;
    for (const std::string& expected :
         {"row 2 (line 3, " + serial(1) + "): " + std::string(text::kInvalidSubnetMask),
          std::string("row 3 (line 4, 2801799999): no such device answered on the segment"),
          "row 4 (line 5, " + serial(3) + "): IP address: 192.168.7.7 already exists on the LAN",
          "row 5 (line 6, " + serial(4) +
              "): ends with the address 192.168.1.105, as the "
              "device of row 6 does",
          "row 7 (line 8, " + serial(6) + "): " + std::string(text::kInvalidGateway),
          std::string("5 errors in the plan: nothing was written")})
        EXPECT_NE(r.err.find(expected), std::string::npos) << expected << "\n" << r.err;
    EXPECT_EQ(r.err.find("row 1 "), std::string::npos) << r.err;
    EXPECT_EQ(allSettingsWrites(), 0u);
    EXPECT_EQ(devices[0]->settings().ipAddress(), deviceIp(0));
}

TEST_F(FleetCli, AWrongPasswordFailsThatDeviceAlone) {
    devices[2]->setPassword("k2");
    devices[5]->setPassword("k5");
    const std::string book = file("# passwords of the cabinet\nk2\n" + serial(5) + " wrong\n");
    std::string plan = "mac,gateway\n";
    for (int n = 0; n < kDevices; ++n)
        plan += deviceMac(n).toString() + ",192.168.1.254\n";
    CliRun r = run({"settings", "apply", file(plan), "--password-book", book});
    EXPECT_EQ(r.status, cli::kExitFailure) << r.out << r.err;
    EXPECT_NE(r.out.find(DeviceName(deviceMac(5)) + "  failed       " +
                         std::string(text::kIncorrectPassword)),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("8 devices: 7 written, 0 unchanged, 1 failed"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("not written to " + DeviceName(deviceMac(5))), std::string::npos) << r.err;
    for (int n = 0; n < kDevices; ++n)
        EXPECT_EQ(devices[n]->settings().gateway(), n == 5 ? 0xC0A80101u : 0xC0A801FEu) << n;
    EXPECT_EQ(r.out.find("k2"), std::string::npos);
    EXPECT_EQ(r.err.find("wrong"), std::string::npos);

    // A device that was to give its address up and was not written still
    // holds it: the device planned to take it is not written either, nor the
    // one that was to take that one's, and so on down the shift.
    devices[7]->setPassword("k7");
    r = run({"settings", "apply", file(shiftPlan()), "--password-book", book});
    EXPECT_EQ(r.status, cli::kExitFailure);
    EXPECT_NE(r.out.find(DeviceName(deviceMac(6)) +
                         "  failed       not written: its new "
                         "address 192.168.1.107 is still held by " +
                         DeviceName(deviceMac(7)) + ", which was not written"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("8 devices: 0 written, 0 unchanged, 8 failed"), std::string::npos)
        << r.out;
    for (int n = 0; n < kDevices; ++n)
        EXPECT_EQ(devices[n]->settings().ipAddress(), deviceIp(n)) << n;
}

TEST_F(FleetCli, AnInterruptLetsTheDeviceInProgressFinishAndStartsNoOther) {
    std::string plan = "mac,gateway\n";
    for (int n = 0; n < kDevices; ++n)
        plan += deviceMac(n).toString() + ",192.168.1.254\n";
    cli::Interrupt interrupt;
    InterruptOnText out(interrupt, "written");
    const CliRun r = run({"settings", "apply", file(plan)}, &out, &interrupt);
    EXPECT_EQ(r.status, cli::kExitInterrupted) << out.str() << r.err;
    EXPECT_NE(out.str().find("8 devices: 1 written, 0 unchanged, 0 failed, 7 not started"),
              std::string::npos)
        << out.str();
    EXPECT_EQ(allSettingsWrites(), 1u);
}

TEST_F(FleetCli, SearchCompareReportsMissingNewAndChanged) {
    CliRun r = run({"search", "--csv"});
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "serial,mac,ip,hardware_version,firmware_version,adapter\r");
    EXPECT_NE(r.out.find(serial(3) + ",02-19-A7-00-00-04,192.168.1.103,HW-2.1,1.2.3-A,sim0\r\n"),
              std::string::npos)
        << r.out;
    const std::string saved = file(r.out);
    r = run({"search", "--compare", saved});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "The segment matches the saved list (8 devices)\n");

    testing::SetSilent(*devices[1]);
    SettingsBlock moved = devices[6]->settings();
    moved.setIpAddress(0x0A000006);
    devices[6]->setSettings(moved);
    lan.add(deviceMac(20));
    r = run({"search", "--compare", saved});
    EXPECT_EQ(r.status, cli::kExitFailure) << r.err;
    EXPECT_EQ(r.out, "missing  " + serial(1) + "  02-19-A7-00-00-02  192.168.1.101\n" +
                         "changed  " + serial(6) + "  02-19-A7-00-00-07  10.0.0.6  ip " +
                         "192.168.1.106 -> 10.0.0.6\n" + "new      " + serial(20) +
                         "  02-19-A7-00-00-15  192.168.1.100\n" +
                         "3 differences from the saved list: 1 missing, 1 new, 1 changed\n");

    r = run({"search", "--compare", saved, "--json"});
    EXPECT_EQ(r.status, cli::kExitFailure);
    const auto report = nlohmann::json::parse(r.out);
    EXPECT_EQ(report["matches"], false);
    EXPECT_EQ(report["missing"][0]["mac"], "02-19-A7-00-00-02");
    EXPECT_EQ(report["changed"][0]["changes"][0],
              nlohmann::json::parse(R"({"field": "ip", "saved": "192.168.1.106",
                                        "now": "10.0.0.6"})"));

    for (const auto& args : {std::vector<std::string>{"search", "--compare", file("not,a,list\n")},
                             std::vector<std::string>{"search", "--csv", "--json"},
                             std::vector<std::string>{"search", "--csv", "--compare", saved}}) {
        r = run(args);
        EXPECT_EQ(r.status, cli::kExitUsage) << args[1] << " " << args[2] << ": " << r.err;
    }
}

} // namespace
} // namespace korvane

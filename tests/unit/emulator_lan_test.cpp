// The emulator on a simulated segment, driven by the utility's own
// operations: the simulated LAN of --simulate, configuration round trips,
// the factory write's new MAC and a firmware transfer up to its notice.

#include "base/byte_cursor.hpp"
#include "cli/cli.hpp"
#include "config/arp_probe.hpp"
#include "config/blocks.hpp"
#include "devices/lan_address.hpp"
#include "emulator_fixture.hpp"
#include "protocol/discovery.hpp"
#include "protocol/transactions.hpp"
#include "sim/emulator_report.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <vector>

namespace korvane {
namespace {

using namespace testing;
using sim::DeviceFaults;

TEST(EmulatorLan, DevicesLookLikeACurrentInstallation) {
    sim::LanOptions options;
    options.password = "site";
    TestLan net(5, TestTiming(), options);
    auto records = std::vector<DeviceIdentity>(kDiscoveryCapacity);
    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), 5);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const DeviceIdentity& r = records[i];
        EXPECT_EQ(r.mac(), sim::MacPlus(options.firstDeviceMac, i));
        EXPECT_EQ(r.serialNumber(), 2801795073u + i); // 02-19-A7-00-00-01 onwards
        EXPECT_TRUE(r.hardwareVersionIsText());
        EXPECT_EQ(r.hardwareVersionText().front(), 'Q');
        ASSERT_TRUE(r.firmwareVersionIsText());
        ASSERT_GE(r.firmwareVersionText().size(), 7u);
        EXPECT_EQ(r.firmwareVersionText()[6], i % 3 == 2 ? 'M' : 'K');
        EXPECT_GT(r.versionNumber(), 1000000u);

        EXPECT_EQ(
            QueryDevice(*net.ctx, r.mac(), code::kCheckPassword, code::kPasswordReply, "", 0, {}),
            status::kPasswordRefused);
        EXPECT_EQ(QueryDevice(*net.ctx, r.mac(), code::kCheckPassword, code::kPasswordReply, "site",
                              0, {}),
                  status::kDone);
        SettingsBlock block;
        EXPECT_EQ(ReadSettings(*net.ctx, r.mac(), "", block), status::kPasswordRefused);
        EXPECT_EQ(block.version(), 32);
        EXPECT_EQ(FormatIPv4(block.ipAddress()), "192.168.1." + std::to_string(100 + i));
        EXPECT_EQ(block.port<settings_offset::kHttpPort>(), 80);
        EXPECT_EQ(ReadLanAddress(*net.ctx, r.mac()), block.ipAddress());
    }
}

TEST(EmulatorLan, MacsCountUpAcrossByteBoundaries) {
    EXPECT_EQ(sim::MacPlus(MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0xFF}}, 1),
              (MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x01, 0x00}}));
    EXPECT_EQ(sim::MacPlus(MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}}, 4095),
              (MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x10, 0x00}}));
}

TEST(EmulatorLan, SettingsAndPasswordRoundTripThroughTheUtilitysOperations) {
    TestLan net(1);
    const MacAddress target = net.mac(0);
    const SettingsBlock original = net.device(0).settings();

    SettingsBlock block;
    ASSERT_EQ(ReadSettings(*net.ctx, target, "", block), status::kDone);
    block.setIpAddress(0x0A000063);
    block.setAddressMode(AddressMode::Static);
    ASSERT_EQ(WriteSettings(*net.ctx, target, "", block, kSettingsSheetWriteSize), status::kDone);
    const SettingsBlock stored = net.device(0).settings();
    EXPECT_EQ(stored.ipAddress(), 0x0A000063u);
    // What the utility does not interpret went back exactly as read.
    EXPECT_TRUE(std::equal(stored.bytes.begin() + 10, stored.bytes.begin() + 23,
                           original.bytes.begin() + 10));
    EXPECT_TRUE(std::equal(stored.bytes.begin() + 48, stored.bytes.begin() + 68,
                           original.bytes.begin() + 48));
    EXPECT_EQ(net.device(0).stats().lastSettingsWriteLength, kSettingsSheetWriteSize);

    ASSERT_EQ(WritePassword(*net.ctx, target, "", "guard"), status::kDone);
    EXPECT_EQ(net.device(0).password(), "guard");
    EXPECT_EQ(WriteSettings(*net.ctx, target, "", block, kSettingsIpWriteSize),
              status::kPasswordRefused);
    EXPECT_EQ(WriteSettings(*net.ctx, target, "guard", block, kSettingsIpWriteSize), status::kDone);
    EXPECT_EQ(net.device(0).stats().lastSettingsWriteLength, kSettingsIpWriteSize);
    ASSERT_EQ(WritePassword(*net.ctx, target, "guard", ""), status::kDone);
    EXPECT_EQ(net.device(0).password(), "");
    EXPECT_EQ(net.device(0).stats().totalViolations(), 0u);
}

TEST(EmulatorLan, FactoryWriteMovesTheDeviceToItsNewMac) {
    TestLan net(2);
    const MacAddress old = net.mac(0);
    const MacAddress next{{0x02, 0x19, 0xA7, 0x00, 0x02, 0x00}};
    const auto block = BuildFactoryBlock(next, "Q2.2");
    ASSERT_EQ(WriteFactoryBlock(*net.ctx, old, "", block), status::kDone);
    EXPECT_EQ(net.lan.emulator()->findDevice(next), &net.device(0));
    EXPECT_EQ(net.lan.emulator()->findDevice(old), nullptr);
    EXPECT_EQ(QueryDevice(*net.ctx, next, code::kCheckPassword, code::kPasswordReply, "", 0, {}),
              status::kDone);
    net.ctx->timing.queryWindow = 20ms;
    EXPECT_EQ(QueryDevice(*net.ctx, old, code::kCheckPassword, code::kPasswordReply, "", 0, {}),
              status::kNoReply);

    net.ctx->timing.discoveryWindow = 50ms;
    auto records = std::vector<DeviceIdentity>(kDiscoveryCapacity);
    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), 2);
    EXPECT_EQ(records[0].mac(), next);
    EXPECT_EQ(records[0].hardwareVersionText(), "Q2.2");
}

TEST(EmulatorLan, BusyFactoryWriteIsAnsweredThreeThenTwo) {
    TestLan net(1);
    DeviceFaults faults;
    faults.statusRules = {{code::kWriteFactory, {}, status::kBusy, 1}};
    net.device(0).setFaults(faults);
    const auto block = BuildFactoryBlock(net.mac(0), "Q2.1");
    EXPECT_EQ(WriteFactoryBlock(*net.ctx, net.mac(0), "", block), status::kBusy);
    EXPECT_EQ(WriteFactoryBlock(*net.ctx, net.mac(0), "", block), status::kDone);
    EXPECT_EQ(net.device(0).stats().factoryWrites, 1u);
}

TEST(EmulatorLan, FirmwareTransferEndsWithOneNoticeFromTheDevice) {
    TestLan net(2);
    std::mutex mutex;
    std::vector<MacAddress> notices;
    net.ctx->link.setNoticeReceiver([&](const MacAddress& source) {
        std::lock_guard lock(mutex);
        notices.push_back(source);
    });
    sim::EmulatedDevice& device = net.device(1);
    device.setProgrammingDelay(30ms);
    DeviceFaults faults;
    faults.flashDelayPerBlock = 2ms;
    faults.statusRules = {sim::StatusRule::busyFirstBlock()};
    device.setFaults(faults);

    std::vector<std::uint8_t> image(5 * 1024 + 17);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    std::vector<std::uint16_t> statuses;
    std::size_t at = 0;
    std::uint16_t index = 0;
    while (at < image.size()) {
        const auto block =
            std::span(image).subspan(at, std::min<std::size_t>(1024, image.size() - at));
        const auto s = CommandDevice(*net.ctx, net.mac(1), code::kFirmwareBlock,
                                     code::kFirmwareReply, "", index, block);
        statuses.push_back(s);
        if (s == status::kBusy)
            continue; // the same block again
        at += block.size();
        ++index;
    }
    EXPECT_EQ(statuses, (std::vector<std::uint16_t>{3, 2, 2, 2, 2, 2, 2}));
    std::array<std::uint8_t, 8> end{};
    writeU32(end, 0, BlockChecksum(image));
    writeU32(end, 4, sim::kHeaderFlagUnpatched);
    const auto sent = SteadyClock::now();
    EXPECT_EQ(
        CommandDevice(*net.ctx, net.mac(1), code::kFirmwareEnd, code::kFirmwareReply, "", 0, end),
        status::kDone);
    ASSERT_TRUE(net.ctx->link.noticeEvent().waitUntil(Deadline()));
    EXPECT_GE(SteadyClock::now() - sent, 30ms);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(notices, std::vector<MacAddress>{net.mac(1)});
    }
    const auto record = device.firmware();
    EXPECT_TRUE(record.accepted);
    EXPECT_EQ(record.image, image);
    EXPECT_EQ(record.blockOrder, (std::vector<std::uint16_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(device.stats().totalViolations(), 0u);
    EXPECT_GT(net.lan.emulator()->counters().framesDelayed, 0u);
    EXPECT_EQ(net.device(0).firmware().hasImage, false);
}

TEST(EmulatorLan, StoppedEmulatorSendsNothingMore) {
    TestLan net(1, SilentTiming());
    DeviceFaults faults;
    faults.replyDelay = 1h;
    net.device(0).setFaults(faults);
    EXPECT_EQ(
        QueryDevice(*net.ctx, net.mac(0), code::kCheckPassword, code::kPasswordReply, "", 0, {}),
        status::kNoReply);
    net.lan.segment().drain();
    EXPECT_EQ(net.lan.emulator()->pendingFrames(), 5u);
    net.lan.emulator()->stop();
    EXPECT_EQ(net.lan.emulator()->pendingFrames(), 0u);
}

// Emulated devices answer ARP for the address their settings hold, as real
// ones do, and follow it when a write moves it.
TEST(EmulatorLan, DevicesAnswerArpForTheirOwnAddress) {
    TestLan net(2);
    net.ctx->timing.arpProbeWindow = Millis(30);
    sim::EmulatedDevice& second = net.device(1);
    const std::uint32_t address = second.settings().lanAddress();
    EXPECT_TRUE(ProbeAddressInUse(*net.ctx, address));
    EXPECT_FALSE(ProbeAddressInUse(*net.ctx, 0xC0A801C8));

    SettingsBlock moved = second.settings();
    moved.setIpAddress(0xC0A801C8);
    second.setSettings(moved);
    EXPECT_TRUE(ProbeAddressInUse(*net.ctx, 0xC0A801C8));
    EXPECT_FALSE(ProbeAddressInUse(*net.ctx, address));
    EXPECT_EQ(net.lan.emulator()->counters().arpReplies, 2u);
}

// So --simulate can put the address-conflict question: the first device
// asked onto the second's address.
TEST(EmulatorLan, SimulatedLanPutsTheConflictQuestion) {
    std::istringstream in;
    std::ostringstream out, err;
    const int status =
        cli::Run({"--simulate", "2", "settings", "set", "2801795073", "--ip", "192.168.1.101"},
                 cli::Streams{in, out, err, false});
    EXPECT_EQ(status, cli::kExitFailure) << out.str() << err.str();
    EXPECT_NE(err.str().find("IP address: 192.168.1.101 already exists on the LAN."),
              std::string::npos)
        << err.str();
}

// korvane-devsim's --report: the keys in their order, the nesting and the
// types that scripts read, and valid ASCII JSON whatever bytes the
// interface name has.
TEST(EmulatorLan, ReportKeepsItsShapeAndIsValidJsonForAnyName) {
    TestLan net(2);
    auto records = std::vector<DeviceIdentity>(kDiscoveryCapacity);
    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), 2);

    const std::string text = sim::EmulatorReport("veth\xff\xc3", *net.lan.emulator());
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    const auto report = nlohmann::ordered_json::parse(text);
    const auto keys = [](const nlohmann::ordered_json& object) {
        std::vector<std::string> names;
        for (const auto& [key, value] : object.items())
            names.push_back(key);
        return names;
    };
    EXPECT_EQ(keys(report), (std::vector<std::string>{"interface", "emulator", "devices"}));
    EXPECT_EQ(report["interface"], "veth\uFFFD\uFFFD");
    EXPECT_EQ(keys(report["emulator"]),
              (std::vector<std::string>{"frames_received", "frames_for_devices", "frames_sent",
                                        "send_failures", "frames_delayed", "arp_replies"}));
    ASSERT_EQ(report["devices"].size(), 2u);
    const auto& device = report["devices"][1];
    EXPECT_EQ(keys(device),
              (std::vector<std::string>{
                  "mac", "serial", "hardware_version", "firmware_version", "ip_address",
                  "has_password", "requests", "violations", "violations_total", "dropped",
                  "ignored", "replies", "notices", "refused_passwords", "settings_writes",
                  "password_writes", "factory_writes", "reboots", "firmware"}));
    EXPECT_EQ(device["mac"], net.mac(1).toString());
    EXPECT_EQ(device["serial"], net.mac(1).serialNumber());
    EXPECT_EQ(device["ip_address"], "192.168.1.101");
    EXPECT_EQ(device["has_password"], false);
    ASSERT_EQ(keys(device["requests"]), std::vector<std::string>{"0x1001"});
    EXPECT_GE(device["requests"]["0x1001"].get<int>(), 1);
    EXPECT_TRUE(device["violations"].is_object());
    EXPECT_EQ(device["violations_total"], 0);
    EXPECT_EQ(device["replies"], device["requests"]["0x1001"]);
    EXPECT_EQ(keys(device["firmware"]),
              (std::vector<std::string>{"has_image", "accepted", "image_length", "image_sum",
                                        "header_flag", "block_order", "completed", "refused",
                                        "restarts", "resent_blocks", "receiving_bytes"}));
    EXPECT_TRUE(device["firmware"]["block_order"].is_array());
    EXPECT_EQ(device["firmware"]["has_image"], false);
}

} // namespace
} // namespace korvane

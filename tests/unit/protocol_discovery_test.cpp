// DiscoverDevices against emulated devices.

#include "emulator_fixture.hpp"
#include "protocol/discovery.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace korvane {
namespace {

using namespace testing;
using sim::DeviceFaults;

std::vector<DeviceIdentity> Records(std::size_t n = kDiscoveryCapacity) {
    return std::vector<DeviceIdentity>(n);
}

TEST(ProtocolDiscovery, EachDeviceOnceInTheOrderOfItsFirstReply) {
    Timing timing = TestTiming();
    timing.discoveryWindow = 300ms;
    TestLan net(3, timing);
    DeviceFaults slow, twice;
    slow.replyDelay = 60ms;
    twice.replyDelay = 30ms;
    twice.answerTwice = true;
    net.device(0).setFaults(slow);
    net.device(1).setFaults(twice);

    auto records = Records();
    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 7), 3);
    EXPECT_EQ(records[0].mac(), net.mac(2));
    EXPECT_EQ(records[1].mac(), net.mac(1));
    EXPECT_EQ(records[2].mac(), net.mac(0));
    EXPECT_EQ(records[3].mac(), MacAddress{});
    EXPECT_EQ(net.device(1).stats().replies, 2u);

    const DeviceIdentity& r = records[2];
    EXPECT_EQ(r.adapterIndex(), 7);
    EXPECT_EQ(r.hardwareVersionText(), "Q2.1");
    EXPECT_EQ(r.firmwareVersionText(), "1.20.7K.15");
    EXPECT_EQ(r.versionNumber(), 1020007u);
    EXPECT_EQ(r.leadingNumber(), net.device(0).identity().leadingNumber());
    EXPECT_EQ(r.rememberedPassword(), "");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(net.device(static_cast<std::size_t>(i)).stats().totalViolations(), 0u);
}

TEST(ProtocolDiscovery, RememberedPasswordCarriesOverAndTheLastMatchWins) {
    TestLan net(2);
    auto records = Records();
    records[0].setMac(net.mac(0));
    records[0].setRememberedPassword("first");
    records[5].setMac(net.mac(0));
    records[5].setRememberedPassword("second");
    records[9].setMac(MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x01, 0x00}}); // gone since
    records[9].setRememberedPassword("gone");

    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), 2);
    EXPECT_EQ(records[0].mac(), net.mac(0));
    EXPECT_EQ(records[0].rememberedPassword(), "second");
    EXPECT_EQ(records[1].mac(), net.mac(1));
    EXPECT_EQ(records[1].rememberedPassword(), "");
}

TEST(ProtocolDiscovery, NoAnswerLeavesTheRecordsAsTheyWere) {
    TestLan net(0);
    auto records = Records();
    records[0].setMac(MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x09}});
    records[0].setRememberedPassword("kept");
    const auto before = records;
    EXPECT_EQ(DiscoverDevices(*net.ctx, records, 0), 0);
    for (std::size_t i = 0; i < records.size(); ++i)
        ASSERT_EQ(records[i].bytes, before[i].bytes) << i;
}

TEST(ProtocolDiscovery, LoopedBackRequestsAndOwnFramesAreDropped) {
    TestLan net(1);
    const MacAddress own = net.own();
    auto frameFrom = [](const MacAddress& source, std::uint16_t code) {
        std::vector<std::uint8_t> f(kFrameHead + kIdentitySize + kFrameTail, 0);
        std::fill_n(f.begin(), 6, 0xFF);
        std::copy(source.bytes.begin(), source.bytes.end(), f.begin() + 6);
        f[12] = 0x51, f[13] = 0x52, f[15] = 1;
        f[16] = static_cast<std::uint8_t>(code >> 8), f[17] = static_cast<std::uint8_t>(code);
        std::copy(source.bytes.begin(), source.bytes.end(), f.begin() + kFrameHead + 4);
        return f;
    };
    // Another utility's request, and a reply-shaped frame from our own address.
    const MacAddress otherUtility{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x77}};
    auto other = net.lan.segment().attachStation(otherUtility, {});
    auto echo = net.lan.segment().attachStation(own, {});
    other->send(frameFrom(otherUtility, code::kDiscover));
    echo->send(frameFrom(own, code::kDiscoverReply));
    net.lan.segment().drain();
    ASSERT_EQ(net.ctx->link.queuedFrames(), 2u);

    auto records = Records();
    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), 1);
    EXPECT_EQ(records[0].mac(), net.mac(0));
}

TEST(ProtocolDiscovery, TwoHundredFiftySixDevicesAnsweringAtOnceAreAllFound) {
    TestLan net(256);
    auto records = Records();
    ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), 256);
    std::set<MacAddress> found;
    for (const auto& r : records)
        found.insert(r.mac());
    std::set<MacAddress> expected;
    for (std::size_t i = 0; i < 256; ++i)
        expected.insert(net.mac(i));
    EXPECT_EQ(found, expected);
    EXPECT_EQ(net.ctx->link.counters().droppedListFull, 0u);
}

TEST(ProtocolDiscovery, DevicesBeyondTheCapacityAreIgnored) {
    TestLan net(6);
    auto all = Records(5);
    const std::span<DeviceIdentity> four(all.data(), 4);
    EXPECT_EQ(DiscoverDevices(*net.ctx, four, 0), 4);
    EXPECT_EQ(all[4].mac(), MacAddress{}); // nothing written past the array
}

} // namespace
} // namespace korvane

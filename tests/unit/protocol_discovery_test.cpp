// DiscoverDevices against emulated devices.

#include "emulator_fixture.hpp"
#include "protocol/discovery.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

// A 0x1002 reply as a station on the segment would send it.
std::vector<std::uint8_t> DiscoveryReply(const MacAddress& to, const MacAddress& from,
                                         const MacAddress& identityMac,
                                         std::size_t length = kFrameHead + kIdentitySize) {
    std::vector<std::uint8_t> f(std::max<std::size_t>(length, 60), 0);
    std::copy(to.bytes.begin(), to.bytes.end(), f.begin());
    std::copy(from.bytes.begin(), from.bytes.end(), f.begin() + 6);
    f[12] = 0x51, f[13] = 0x52, f[15] = 1, f[16] = 0x10, f[17] = 0x02;
    if (length >= kFrameHead + identity_offset::kMac + 6)
        std::copy(identityMac.bytes.begin(), identityMac.bytes.end(),
                  f.begin() + kFrameHead + identity_offset::kMac);
    f.resize(length);
    return f;
}

TEST(ProtocolDiscovery, MalformedMisaddressedEarlyAndDuplicateRepliesAreDroppedAndCounted) {
    const MacAddress stranger{{0x02, 0x19, 0xA7, 0x00, 0x0F, 0x0F}};
    const MacAddress otherStation{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x99}};
    enum class When { AfterRequest, BeforeRequest };
    struct Case {
        const char* what;
        When when;
        bool toOther;        // addressed to another station
        bool deviceIdentity; // carries the real device's identity MAC
        MacAddress identity;
        std::size_t length;
        int found; // rows, the real device included
        std::atomic<std::uint64_t> WireCounters::*counter;
    };
    const MacAddress zero{};
    const MacAddress group{{0x01, 0x00, 0x5E, 0x00, 0x00, 0x01}};
    const Case cases[] = {
        {"well formed", When::AfterRequest, false, false, stranger, 168, 2, nullptr},
        {"sent before the request", When::BeforeRequest, false, false, stranger, 168, 1,
         &WireCounters::earlyDiscovery},
        {"to another station", When::AfterRequest, true, false, stranger, 168, 1,
         &WireCounters::misaddressedDiscovery},
        {"ends before the identity", When::AfterRequest, false, false, stranger, 60, 1,
         &WireCounters::malformedDiscovery},
        {"ends inside the device's part", When::AfterRequest, false, false, stranger, 99, 1,
         &WireCounters::malformedDiscovery},
        {"identity MAC zero", When::AfterRequest, false, false, zero, 168, 1,
         &WireCounters::malformedDiscovery},
        {"identity MAC multicast", When::AfterRequest, false, false, group, 168, 1,
         &WireCounters::malformedDiscovery},
        {"identity MAC broadcast", When::AfterRequest, false, false, MacAddress::broadcast(), 168,
         1, &WireCounters::malformedDiscovery},
        {"the device again from another source", When::AfterRequest, false, true, zero, 168, 1,
         &WireCounters::duplicateDiscovery},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestLan net(1);
        DeviceFaults slow;
        slow.replyDelay = 10ms; // the real device answers after the station
        net.device(0).setFaults(slow);
        const MacAddress identity = c.deviceIdentity ? net.mac(0) : c.identity;
        const auto reply =
            DiscoveryReply(c.toOther ? otherStation : net.own(), stranger, identity, c.length);
        OpenOptions promiscuous;
        promiscuous.promiscuous = true;
        auto station = net.lan.segment().attachStation(stranger, promiscuous);
        PacketPort* port = station.get();
        station->start([&, port](std::span<const std::uint8_t> request) {
            const auto header = ParseHeader(request);
            if (c.when != When::AfterRequest || !header || header->code != code::kDiscover)
                return;
            if (c.toOther)
                net.ctx->link.deliver(reply); // foreign unicast that the capture saw
            else
                port->send(reply);
        });
        if (c.when == When::BeforeRequest) {
            station->send(reply);
            net.lan.segment().drain();
        }

        auto records = Records();
        ASSERT_EQ(DiscoverDevices(*net.ctx, records, 0), c.found);
        EXPECT_TRUE(std::any_of(records.begin(), records.begin() + c.found,
                                [&](const DeviceIdentity& r) { return r.mac() == net.mac(0); }));
        if (c.counter) {
            EXPECT_EQ((net.ctx->wire.*c.counter).load(), 1u);
        }
        station->stop();
    }
}

} // namespace
} // namespace korvane

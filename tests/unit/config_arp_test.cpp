// The address-conflict probe on the simulated segment, against a station
// that owns addresses.

#include "config_test_support.hpp"

#include "config/arp_probe.hpp"
#include "config/config_commands.hpp"
#include "sim/arp_responder.hpp"
#include "wire_fields.hpp"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using testing::DeviceFixture;
using testing::kAdapterMac;
using testing::ScriptedOperator;
using testing::StaticBlock;

const MacAddress kHostMac{{0x02, 0x42, 0x00, 0x00, 0x00, 0x07}};

TEST(ArpProbe, ProbeFrameClaimsNoAddress) {
    const auto frame = BuildArpProbe(kAdapterMac, 0xC0A80107);
    // Broadcast, from the adapter, ARP, Ethernet/IPv4, request.
    const std::vector<std::uint8_t> head = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00,
                                            0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x01,
                                            0x08, 0x00, 0x06, 0x04, 0x00, 0x01};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), frame.begin()));
    EXPECT_EQ(macAt(frame, arp_offset::kSenderMac), kAdapterMac);
    EXPECT_EQ(readU32(frame, arp_offset::kSenderIp), 0u);
    EXPECT_EQ(readU32(frame, arp_offset::kTargetIp), 0xC0A80107u);
    for (std::size_t i = arp_offset::kTargetMac; i < arp_offset::kTargetIp; ++i)
        EXPECT_EQ(frame[i], 0);
}

TEST(ArpProbe, FilterTakesOnlyRepliesFromTheAddress) {
    const std::uint32_t ip = 0xC0A80107;
    const auto request = BuildArpProbe(kAdapterMac, ip);
    const auto reply = sim::BuildArpReply(request, kHostMac, ip);
    ASSERT_FALSE(reply.empty());
    const auto filter = ArpReplyFilter(ip);
    EXPECT_NE(runBpf(filter, reply), 0u);
    EXPECT_TRUE(IsArpReplyFor(reply, ip));
    EXPECT_EQ(runBpf(filter, request), 0u) << "a request is no answer";
    EXPECT_EQ(runBpf(ArpReplyFilter(ip + 1), reply), 0u);
    EXPECT_FALSE(IsArpReplyFor(reply, ip + 1));
    EXPECT_EQ(runBpf(filter, std::span(reply).first(30)), 0u) << "short frame";
    EXPECT_TRUE(sim::BuildArpReply(request, kHostMac, ip + 1).empty());
}

TEST(ArpProbe, TakenAddressAnswersFreeOneDoesNot) {
    DeviceFixture f;
    f.ctx.timing.arpProbeWindow = Millis(30);
    sim::ArpResponder host(f.lan.segment, kHostMac, {0xC0A80107});
    EXPECT_TRUE(ProbeAddressInUse(f.ctx, 0xC0A80107));
    EXPECT_EQ(host.requestsAnswered(), 1u) << "the first answer ends the probe";

    const auto started = SteadyClock::now();
    EXPECT_FALSE(ProbeAddressInUse(f.ctx, 0xC0A80108));
    EXPECT_GE(SteadyClock::now() - started, 3 * Millis(30)) << "every try waits its window";
    EXPECT_EQ(host.requestsAnswered(), 1u);

    // The device link is untouched: its list saw no ARP frame.
    EXPECT_EQ(f.ctx.link.queuedFrames(), 0u);
}

TEST(ArpProbe, ClosedLinkMeansNoConflict) {
    SimulatedSegment segment;
    Context ctx(segment, Timing::defaults().scaled(0.01));
    EXPECT_FALSE(ProbeAddressInUse(ctx, 0x0A000001));
}

TEST(ArpProbe, SheetAsksTheConflictQuestionForATakenAddress) {
    DeviceFixture f;
    f.ctx.timing.arpProbeWindow = Millis(30);
    f.device.setSettings(StaticBlock());
    sim::ArpResponder host(f.lan.segment, kHostMac, {0xC0A80107});
    ScriptedOperator op;
    op.answers = {false};
    NetworkSettingsHooks hooks;
    int shown = 0;
    hooks.edit = [&](NetworkSettingsModel& m, SheetRefusal) {
        m.ipPage.ipAddress = 0xC0A80107;
        return ++shown == 1;
    };
    const auto r = RunNetworkSettings(f.ctx, f.identity, op, hooks);
    EXPECT_EQ(r.lastRefusal, SheetRefusal::ConflictDeclined);
    ASSERT_EQ(op.questions.size(), 1u);
    EXPECT_EQ(op.questions[0], text::AddressConflictQuestion(0xC0A80107));
    EXPECT_TRUE(f.requests(code::kWriteSettings).empty());
}

} // namespace
} // namespace korvane

#include "sim/arp_responder.hpp"

#include "base/byte_cursor.hpp"
#include "protocol/arp.hpp"
#include "protocol/frame.hpp"

#include <algorithm>

namespace korvane::sim {

namespace {
using namespace bpf;

constexpr BpfInstruction kProtocolAndArp[] = {
    {kLdHalfAbs, 0, 0, kEtherTypeOffset}, // EtherType
    {kJeqK, 1, 0, kProtocolEtherType},    // the protocol's: accept
    {kJeqK, 0, 1, kArpEtherType},         // ARP: accept, else reject
    {kRetK, 0, 0, 0xFFFFFFFF},
    {kRetK, 0, 0, 0},
};
} // namespace

std::span<const BpfInstruction> ProtocolAndArpFilterProgram() {
    return kProtocolAndArp;
}

std::vector<std::uint8_t> BuildArpReply(std::span<const std::uint8_t> request,
                                        const MacAddress& owner, std::uint32_t address) {
    const auto head = fixedHead<kArpFrameLength>(request);
    if (!head)
        return {};
    ByteReader r(*head, kEtherTypeOffset);
    if (r.u16() != kArpEtherType || r.u16() != kArpHardwareEthernet || r.u16() != kIpv4EtherType ||
        r.u8() != 6 || r.u8() != 4 || r.u16() != kArpRequest ||
        loadU32<arp_offset::kTargetIp>(*head) != address)
        return {};
    const auto requester = MacAddress::fromBytes(head->subspan<arp_offset::kSenderMac, 6>());
    const std::uint32_t requesterIp = loadU32<arp_offset::kSenderIp>(*head);

    std::vector<std::uint8_t> reply(kEthernetMinFrame, 0);
    ByteWriter w(reply);
    w.bytes(requester.bytes);
    w.bytes(owner.bytes);
    w.u16(kArpEtherType);
    w.u16(kArpHardwareEthernet);
    w.u16(kIpv4EtherType);
    w.u8(6);
    w.u8(4);
    w.u16(kArpReply);
    w.bytes(owner.bytes);
    w.u32(address);
    w.bytes(requester.bytes);
    w.u32(requesterIp);
    return reply;
}

ArpResponder::ArpResponder(SimulatedSegment& segment, MacAddress mac,
                           std::vector<std::uint32_t> addresses)
    : mac_(mac), addresses_(std::move(addresses)) {
    OpenOptions options;
    options.filter = {
        {kLdHalfAbs, 0, 0, kEtherTypeOffset},
        {kJeqK, 0, 1, kArpEtherType},
        {kRetK, 0, 0, 0xFFFFFFFF},
        {kRetK, 0, 0, 0},
    };
    port_ = segment.attachStation(mac_, std::move(options));
    port_->start([this](std::span<const std::uint8_t> frame) { onFrame(frame); });
}

ArpResponder::~ArpResponder() {
    port_->stop();
}

void ArpResponder::onFrame(std::span<const std::uint8_t> frame) {
    for (const std::uint32_t address : addresses_) {
        const auto reply = BuildArpReply(frame, mac_, address);
        if (reply.empty())
            continue;
        ++answered_;
        port_->send(reply);
    }
}

} // namespace korvane::sim

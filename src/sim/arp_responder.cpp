#include "sim/arp_responder.hpp"

#include "base/byte_cursor.hpp"
#include "protocol/arp.hpp"
#include "protocol/frame.hpp"

#include <algorithm>

namespace korvane::sim {

namespace {
using namespace bpf;

constexpr BpfInstruction kProtocolAndArp[] = {
    {kLdHalfAbs, 0, 0, 12},            // EtherType
    {kJeqK, 1, 0, kProtocolEtherType}, // the protocol's: accept
    {kJeqK, 0, 1, kArpEtherType},      // ARP: accept, else reject
    {kRetK, 0, 0, 0xFFFFFFFF},
    {kRetK, 0, 0, 0},
};
} // namespace

std::span<const BpfInstruction> ProtocolAndArpFilterProgram() {
    return kProtocolAndArp;
}

std::vector<std::uint8_t> BuildArpReply(std::span<const std::uint8_t> request,
                                        const MacAddress& owner, std::uint32_t address) {
    if (request.size() < arp_offset::kTargetIp + 4)
        return {};
    ByteReader r(request, 12);
    if (r.u16() != kArpEtherType || r.u16() != 1 || r.u16() != 0x0800 || r.u8() != 6 ||
        r.u8() != 4 || r.u16() != kArpRequest || readU32(request, arp_offset::kTargetIp) != address)
        return {};
    const auto requester = MacAddress::fromBytes(request.subspan(arp_offset::kSenderMac, 6));
    const std::uint32_t requesterIp = readU32(request, arp_offset::kSenderIp);

    std::vector<std::uint8_t> reply(kEthernetMinFrame, 0);
    ByteWriter w(reply);
    w.bytes(requester.bytes);
    w.bytes(owner.bytes);
    w.u16(kArpEtherType);
    w.u16(1);
    w.u16(0x0800);
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
        {kLdHalfAbs, 0, 0, 12},
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

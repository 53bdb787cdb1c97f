#include "protocol/arp.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>

namespace korvane {

namespace {
using namespace bpf;
} // namespace

std::array<std::uint8_t, kEthernetMinFrame> BuildArpProbe(const MacAddress& source,
                                                          std::uint32_t address) {
    std::array<std::uint8_t, kEthernetMinFrame> frame{};
    ByteWriter w(frame);
    w.bytes(MacAddress::broadcast().bytes);
    w.bytes(source.bytes);
    w.u16(kArpEtherType);
    w.u16(kArpHardwareEthernet);
    w.u16(kIpv4EtherType);
    w.u8(6);
    w.u8(4);
    w.u16(kArpRequest);
    w.bytes(source.bytes);         // sender hardware address
    w.u32(0);                      // sender protocol address: a probe claims no address
    w.seek(arp_offset::kTargetIp); // target hardware address stays zero
    w.u32(address);
    return frame;
}

bool IsArpProbeFrom(std::span<const std::uint8_t> frame, const MacAddress& source) {
    if (frame.size() != kEthernetMinFrame)
        return false;
    const auto expected =
        BuildArpProbe(source, loadU32<arp_offset::kTargetIp>(frame.first<kEthernetMinFrame>()));
    return std::equal(frame.begin(), frame.end(), expected.begin());
}

std::vector<BpfInstruction> ArpReplyFilter(std::uint32_t address) {
    return {
        {kLdHalfAbs, 0, 0, kEtherTypeOffset},       // EtherType
        {kJeqK, 0, 5, kArpEtherType},               //   not ARP: reject
        {kLdHalfAbs, 0, 0, arp_offset::kOperation}, // operation
        {kJeqK, 0, 3, kArpReply},                   //   not a reply: reject
        {kLdWordAbs, 0, 0, arp_offset::kSenderIp},  // who answers
        {kJeqK, 0, 1, address},                     //   another address: reject
        {kRetK, 0, 0, 0xFFFFFFFF},
        {kRetK, 0, 0, 0},
    };
}

bool IsArpReplyFor(std::span<const std::uint8_t> frame, std::uint32_t address) {
    const auto head = fixedHead<kArpFrameLength>(frame);
    if (!head)
        return false;
    ByteReader r(*head, kEtherTypeOffset);
    return r.u16() == kArpEtherType && r.u16() == kArpHardwareEthernet &&
           r.u16() == kIpv4EtherType && r.u8() == 6 && r.u8() == 4 && r.u16() == kArpReply &&
           loadU32<arp_offset::kSenderIp>(*head) == address;
}

} // namespace korvane

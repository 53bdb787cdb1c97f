#include "protocol/arp.hpp"

#include "base/byte_cursor.hpp"

#include <algorithm>

namespace korvane {

namespace {
constexpr std::uint16_t kHardwareEthernet = 1;
using namespace bpf;
} // namespace

std::array<std::uint8_t, kEthernetMinFrame> BuildArpProbe(const MacAddress& source,
                                                          std::uint32_t address) {
    std::array<std::uint8_t, kEthernetMinFrame> frame{};
    ByteWriter w(frame);
    w.bytes(MacAddress::broadcast().bytes);
    w.bytes(source.bytes);
    w.u16(kArpEtherType);
    w.u16(kHardwareEthernet);
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
    const auto expected = BuildArpProbe(source, readU32(frame, arp_offset::kTargetIp));
    return std::equal(frame.begin(), frame.end(), expected.begin());
}

std::vector<BpfInstruction> ArpReplyFilter(std::uint32_t address) {
    return {
        {kLdHalfAbs, 0, 0, 12},                     // EtherType
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
    if (frame.size() < arp_offset::kTargetIp + 4)
        return false;
    ByteReader r(frame, 12);
    return r.u16() == kArpEtherType && r.u16() == kHardwareEthernet && r.u16() == kIpv4EtherType &&
           r.u8() == 6 && r.u8() == 4 && r.u16() == kArpReply &&
           readU32(frame, arp_offset::kSenderIp) == address;
}

} // namespace korvane

#include "link/packet_driver.hpp"

#include "base/byte_cursor.hpp"
#include "link/ethernet.hpp"

namespace korvane {

namespace {
using namespace bpf;

constexpr BpfInstruction kProtocolFilter[] = {
    {kLdHalfAbs, 0, 0, kEtherTypeOffset}, // EtherType
    {kJeqK, 0, 1, kProtocolEtherType},    // ours? go on : skip one
    {kRetK, 0, 0, 0xFFFFFFFF},            // accept the whole frame
    {kRetK, 0, 0, 0},                     // reject
};
} // namespace

std::span<const BpfInstruction> protocolFilterProgram() {
    return kProtocolFilter;
}

std::uint32_t runBpf(std::span<const BpfInstruction> program, std::span<const std::uint8_t> frame) {
    std::uint32_t accumulator = 0;
    std::size_t pc = 0;
    while (pc < program.size()) {
        const BpfInstruction& in = program[pc];
        switch (in.code) {
        case kLdHalfAbs: {
            ByteReader reader(frame, in.k);
            const auto value = reader.u16();
            if (!value)
                return 0; // a load past the packet rejects it, as in the kernel
            accumulator = *value;
            ++pc;
            break;
        }
        case kLdWordAbs: {
            ByteReader reader(frame, in.k);
            const auto value = reader.u32();
            if (!value)
                return 0;
            accumulator = *value;
            ++pc;
            break;
        }
        case kJeqK:
            pc += 1 + (accumulator == in.k ? in.jt : in.jf);
            break;
        case kRetK:
            return in.k;
        default:
            return 0;
        }
    }
    return 0;
}

} // namespace korvane

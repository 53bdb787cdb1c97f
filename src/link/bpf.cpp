#include "link/packet_driver.hpp"

#include "base/byte_cursor.hpp"

namespace korvane {

namespace {
constexpr std::uint16_t kLdWordAbs = 0x20; // BPF_LD | BPF_W | BPF_ABS
constexpr std::uint16_t kLdHalfAbs = 0x28; // BPF_LD | BPF_H | BPF_ABS
constexpr std::uint16_t kJeqK = 0x15;      // BPF_JMP | BPF_JEQ | BPF_K
constexpr std::uint16_t kRetK = 0x06;      // BPF_RET | BPF_K

constexpr BpfInstruction kProtocolFilter[] = {
    {kLdHalfAbs, 0, 0, 12},    // EtherType
    {kJeqK, 0, 1, 0x5152},     // ours? go on : skip one
    {kRetK, 0, 0, 0xFFFFFFFF}, // accept the whole frame
    {kRetK, 0, 0, 0},          // reject
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

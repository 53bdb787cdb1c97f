#pragma once

// The Ethernet facts the layers share, each under one name: the EtherTypes,
// the frame sizes, and the classic BPF opcodes the receive filters are
// written in.

#include <cstddef>
#include <cstdint>

namespace korvane {

inline constexpr std::uint16_t kProtocolEtherType = 0x5152; // this protocol's frames
inline constexpr std::uint16_t kArpEtherType = 0x0806;
inline constexpr std::uint16_t kIpv4EtherType = 0x0800;

inline constexpr std::size_t kSourceMacOffset = 6;       // after the destination's
inline constexpr std::size_t kEtherTypeOffset = 12;      // after the two MAC addresses
inline constexpr std::size_t kEthernetHeaderLength = 14; // the MACs and the EtherType
inline constexpr std::size_t kEthernetMinFrame = 60;     // without the frame check sequence
inline constexpr std::size_t kEthernetMaxPayload = 1500; // and so every frame buffer's size

// Where a frame of this protocol carries its command code. The link reads it
// below the protocol's codecs: for the relay's notices and to mask passwords
// in a capture.
inline constexpr std::size_t kProtocolCodeOffset = 16;

namespace bpf {
inline constexpr std::uint16_t kLdWordAbs = 0x20; // BPF_LD | BPF_W | BPF_ABS
inline constexpr std::uint16_t kLdHalfAbs = 0x28; // BPF_LD | BPF_H | BPF_ABS
inline constexpr std::uint16_t kJeqK = 0x15;      // BPF_JMP | BPF_JEQ | BPF_K
inline constexpr std::uint16_t kRetK = 0x06;      // BPF_RET | BPF_K
} // namespace bpf

} // namespace korvane

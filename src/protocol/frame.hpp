#pragma once

// The device protocol's frame: a fixed 40-byte head after which the data
// follows, all numbers big-endian. Pure codecs only: no I/O here.
//
// Part of the protocol layer: uses link and base; docs/architecture.md shows which
// layer may use which.

#include "base/mac_address.hpp"
#include "link/ethernet.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace korvane {

inline constexpr std::uint16_t kProtocolVersion = 1;

namespace frame_offset {
inline constexpr std::size_t kDestination = 0;
inline constexpr std::size_t kSource = kSourceMacOffset;
inline constexpr std::size_t kEtherType = kEtherTypeOffset;
inline constexpr std::size_t kVersion = 14;
inline constexpr std::size_t kCode = kProtocolCodeOffset;
inline constexpr std::size_t kParameter = 18;
inline constexpr std::size_t kStatus = 20;
inline constexpr std::size_t kPassword = 22;
inline constexpr std::size_t kDataLength = 38;
inline constexpr std::size_t kData = 40;
} // namespace frame_offset

inline constexpr std::size_t kFrameHead = 40;
inline constexpr std::size_t kFrameTail = 2; // two zero bytes after the data
inline constexpr std::size_t kPasswordField = 16;
// A password the device protocol can carry: the frame's field holds 15
// characters and the terminating zero. A new password is held to the same
// limit, although its block has room for 19, because a longer one could
// never be sent back to unlock the device.
inline constexpr std::size_t kMaxFramePassword = 15;
inline constexpr std::size_t kMaxRequestData =
    kEthernetMaxPayload - kFrameHead - kFrameTail; // 1458
inline constexpr std::size_t kDiscoveryRequestLength = 41;

// Command and reply codes. A reply code is not always the command plus one:
// a transaction accepts only the reply code paired with its command here.
namespace code {
inline constexpr std::uint16_t kBootQuery = 0x0001;
inline constexpr std::uint16_t kBootReply = 0x0002;
inline constexpr std::uint16_t kDiscover = 0x1001;
inline constexpr std::uint16_t kDiscoverReply = 0x1002;
inline constexpr std::uint16_t kWriteSettings = 0x2001;
inline constexpr std::uint16_t kReadSettings = 0x2002;
inline constexpr std::uint16_t kSettingsReply = 0x2003;
inline constexpr std::uint16_t kFirmwareBlock = 0x3001;
inline constexpr std::uint16_t kFirmwareEnd = 0x3005;
inline constexpr std::uint16_t kFirmwareReply = 0x3003;
inline constexpr std::uint16_t kFirmwareNotice = 0x4001; // unsolicited, from the device
inline constexpr std::uint16_t kCheckPassword = 0x7001;
inline constexpr std::uint16_t kSetPassword = 0x7002;
inline constexpr std::uint16_t kPasswordReply = 0x7003;
inline constexpr std::uint16_t kWriteFactory = 0xF0F0;
inline constexpr std::uint16_t kFactoryReply = 0xF000;
} // namespace code

// What a person reads for a command or reply code ("settings reply"); empty
// for a code the protocol does not have.
std::string_view CommandName(std::uint16_t code);

// Reply status values (offset 20 of a reply).
namespace status {
inline constexpr std::uint16_t kNoReply = 0; // also: failure
inline constexpr std::uint16_t kPasswordRefused = 1;
inline constexpr std::uint16_t kDone = 2;
inline constexpr std::uint16_t kBusy = 3;
inline constexpr std::uint16_t kDoneAfterPause = 4;
} // namespace status

// 32-bit wrapping sum of the bytes.
std::uint32_t BlockChecksum(std::span<const std::uint8_t> bytes);

// Whether a password fits the frame's field (at most 15 characters, no NUL).
bool PasswordFitsFrame(std::string_view password);

struct RequestFrame {
    std::array<std::uint8_t, kEthernetMaxPayload> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

// Builds a request: head, the data (or, with `data` empty, `dataLength` zero
// bytes that the device fills in its reply), and the two-byte zero tail.
// nullopt when the password does not fit its field or the data is too long.
std::optional<RequestFrame> BuildRequest(const MacAddress& source, const MacAddress& target,
                                         std::uint16_t command, std::string_view password,
                                         std::uint16_t parameter,
                                         std::span<const std::uint8_t> data,
                                         std::uint16_t dataLength);

// The 41-byte broadcast discovery request.
RequestFrame BuildDiscoveryRequest(const MacAddress& source);

// Header fields of a received frame; nullopt when it is too short to hold them.
// Trailing padding (short frames padded to 60 bytes) is simply not looked at.
struct FrameHeader {
    MacAddress destination;
    MacAddress source;
    std::uint16_t etherType = 0;
    std::uint16_t version = 0;
    std::uint16_t code = 0;
    std::uint16_t parameter = 0;
    std::uint16_t status = 0;
};
std::optional<FrameHeader> ParseHeader(std::span<const std::uint8_t> frame);

// Whether a received frame answers a request to `target` expecting `replyCode`.
enum class ReplyMatch {
    Reply,        // from the target, version 1, the expected reply code
    OwnFrame,     // sent by our own adapter (looped back): never a reply
    OtherSource,  // belongs to another device's transaction
    NotThisReply, // from the target but wrong version or code: dropped
    Malformed,    // too short to carry a head
};
ReplyMatch MatchReply(std::span<const std::uint8_t> frame, const MacAddress& own,
                      const MacAddress& target, std::uint16_t replyCode);

} // namespace korvane

#pragma once

// What korvane and korvane-utility say to korvane-relay, the small program
// that holds cap_net_raw for them, and what it answers.
//
// Every message is a 4-byte big-endian length, then that many bytes: a type
// byte and the type's fields. Lengths are bounded (kMaxMessage), text fields
// carry their own 2-byte length and are bounded too, and a message must hold
// exactly its fields: one byte short or one byte over is malformed. The relay
// trusts nothing its client sends: this decoder is what stands between an
// unprivileged program and a raw socket, and it is fuzzed.
//
// Two kinds of connection, both stream sockets:
//  - control (the socketpair the client starts the relay with): the relay
//    greets with Hello; the client asks List (answered by one Adapter per
//    adapter and ListEnd) and Open (answered by Opened, which carries the
//    new port's socket as SCM_RIGHTS, or OpenFailed);
//  - port (one per opened adapter): the client sends Send; the relay sends
//    Frame (with its arrival stamp), Refused and SendFailed (a frame it did
//    not put on the wire), Dropped (the capture ring's losses), Ended (the
//    adapter's receive side ended) and Error (a malformed message, after
//    which the relay closes the port).
//
// Part of the relay layer: uses protocol and what lies below it; docs/architecture.md shows which
// layer may use which.

#include "base/mac_address.hpp"
#include "link/packet_driver.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::relay {

inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kLengthBytes = 4;
// Frames up to the capture length (2048) pass, so the client's link counts
// over-long frames as it would on a direct socket.
inline constexpr std::size_t kMaxFrame = 2048;
inline constexpr std::size_t kMaxText = 512;
// The longest message: a Frame (type, stamp, the longest frame).
inline constexpr std::size_t kMaxMessage = 1 + 8 + kMaxFrame;
// The relay opens at most this many ports at once for one client: every
// adapter a machine may list, and the address probes beside them.
inline constexpr std::size_t kMaxOpenPorts = 256 + 16;

enum class MessageType : std::uint8_t {
    // control, client to relay
    List = 0x01,
    Open = 0x02,
    // port, client to relay
    Send = 0x10,
    // control, relay to client
    Hello = 0x81,
    Adapter = 0x82,
    ListEnd = 0x83,
    Opened = 0x84,
    OpenFailed = 0x85,
    // port, relay to client
    Frame = 0x90,
    Refused = 0x91,
    SendFailed = 0x92,
    Dropped = 0x93,
    Ended = 0x94,
    // either connection, relay to client
    Error = 0xA0,
};

// What a port is opened for; it decides the port's kernel filter and what it may send.
enum class PortKind : std::uint8_t {
    Protocol = 1, // EtherType 0x5152, both ways
    ArpProbe = 2, // ARP probes out, ARP replies from one IPv4 address in
};

// One decoded message. The views point into the bytes it was decoded from.
struct Message {
    MessageType type{};
    PortKind kind{};            // Open
    std::uint32_t number32 = 0; // Hello: version; Open: probe address
    std::uint64_t number64 = 0; // Frame: arrival stamp (steady clock, ns); Refused, Dropped: count
    OpenFailure failure{};      // OpenFailed
    MacAddress mac;             // Adapter, Opened
    std::string_view text;      // Adapter: name; Open: name; the reason or error of the others
    std::string_view description;        // Adapter
    std::span<const std::uint8_t> frame; // Send, Frame
};

// Decodes one message body (type and fields, without the length); nullopt
// with `error` set when it is malformed.
std::optional<Message> DecodeMessage(std::span<const std::uint8_t> body, std::string& error);

// Appends the whole message (length included) to `out`. False, with `out`
// unchanged, when a field is over its bound.
bool AppendMessage(std::vector<std::uint8_t>& out, const Message& message);

// Splits a byte stream into message bodies.
class MessageReader {
  public:
    // Where to put newly read bytes: call consumed(n) with how many came.
    std::span<std::uint8_t> space();
    void consumed(std::size_t n);
    // Takes bytes from elsewhere (tests, the fuzzer).
    void feed(std::span<const std::uint8_t> bytes);

    enum class Status { Message, NeedMore, Malformed };
    // The next complete body, valid until the next call of any member.
    // Malformed (with `error`) when a length is 0 or above kMaxMessage: the
    // stream cannot be followed past it.
    Status next(std::span<const std::uint8_t>& body, std::string& error);
    // Whether bytes of an unfinished message are held.
    bool holdsPartial() const { return end_ > begin_; }

  private:
    void compact();
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kReadChunk);
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    static constexpr std::size_t kReadChunk = 64 * 1024;
};

// Empty when a port of `kind` on the adapter with MAC `own` may send
// `frame`, else why not. Protocol ports send EtherType 0x5152 from the
// adapter's own MAC; probe ports send only the address probe's request.
std::string RefusalOf(PortKind kind, const MacAddress& own, std::span<const std::uint8_t> frame);

// The kernel filter the relay installs on a port of `kind`.
std::vector<BpfInstruction> FilterOf(PortKind kind, std::uint32_t probeAddress);

// Which kind of port the link's open options ask for: the protocol's filter
// or an address probe's; nullopt for anything else (no filter, another
// program, promiscuous mode), which the relay does not open.
struct PortRequest {
    PortKind kind;
    std::uint32_t probeAddress = 0;
};
std::optional<PortRequest> PortRequestOf(const OpenOptions& options);

} // namespace korvane::relay

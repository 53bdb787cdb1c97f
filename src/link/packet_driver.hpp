#pragma once

// The layer that stands where a packet-driver library would: list adapters,
// open one, learn its MAC, install a receive filter, send raw frames and get
// received frames delivered. Backends: libpcap (PcapDriver) and an in-process
// hub (SimulatedSegment).
//
// Part of the link layer: uses base; docs/architecture.md shows which
// layer may use which.

#include "base/mac_address.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korvane {

struct AdapterInfo {
    std::string name;        // what open() takes
    std::string description; // what a person reads
    MacAddress mac;
    // Other names of the same adapter that open() takes too (Windows: the
    // interface GUID and the capture device's name beside the friendly name).
    std::vector<std::string> aliases;

    bool answersTo(const std::string& given) const {
        return given == name || std::find(aliases.begin(), aliases.end(), given) != aliases.end();
    }
};

// One classic BPF instruction (as in struct sock_filter / struct bpf_insn).
struct BpfInstruction {
    std::uint16_t code;
    std::uint8_t jt;
    std::uint8_t jf;
    std::uint32_t k;
};

// Runs a classic BPF program over a frame; returns the accepted length (0 = reject).
// Only the instructions our filters use are understood; anything else rejects.
std::uint32_t runBpf(std::span<const BpfInstruction> program, std::span<const std::uint8_t> frame);

// The receive filter the utility installs: accept EtherType 0x5152, reject the rest.
std::span<const BpfInstruction> protocolFilterProgram();

// NoLink: the adapter is down or has no link; it may come back.
enum class OpenFailure { None, NoSuchAdapter, PermissionDenied, NoLink, Other };

struct OpenOptions {
    bool promiscuous = false;
    std::vector<BpfInstruction> filter; // empty: accept everything
    // The receive ring's size in bytes, a wish the driver may round; 0: the
    // driver's own size. A search over many adapters asks for less on each.
    std::size_t ringBytes = 0;
};

// An opened adapter. Received frames are handed to the receiver on a thread
// of the port (the receive thread); start() begins delivery, stop() ends it
// and returns only when the receiver will not be called again.
//
// The receive side can also end by itself: the adapter went down, was
// unplugged or deleted. The port then calls `ended` once, on its receive
// thread, with what the system said, and delivers nothing more; the port is
// of no further use and is reopened by name.
class PacketPort {
  public:
    using Receiver = std::function<void(std::span<const std::uint8_t> frame)>;
    using EndHandler = std::function<void(const std::string& reason)>;

    virtual ~PacketPort() = default;
    virtual MacAddress mac() const = 0;
    virtual bool send(std::span<const std::uint8_t> frame) = 0;
    virtual void start(Receiver receiver, EndHandler ended = {}) = 0;
    virtual void stop() = 0;
    // What the system said about the last failed send (empty when unknown).
    virtual std::string lastError() const { return {}; }
    // Frames the backend dropped before delivery (capture ring overflow and the like).
    virtual std::uint64_t droppedByBackend() const { return 0; }
    // Called from inside the receiver: when the frame being delivered was put
    // on the wire, where the backend knows that better than the moment of
    // delivery (the simulated segment delivers from a thread of its own,
    // which a busy machine can hold back and then let run through a backlog).
    virtual std::optional<std::chrono::steady_clock::time_point> deliveringFrameSentAt() const {
        return std::nullopt;
    }
    // Called from inside the receiver: when the frame being delivered
    // arrived, where the backend stamped it before handing it on (the relay
    // stamps frames as it captures them, a socket hop before delivery).
    virtual std::optional<std::chrono::steady_clock::time_point> deliveringFrameArrivedAt() const {
        return std::nullopt;
    }
    // Asks to be told, on the receive thread, after each run of frames that
    // the backend delivered back to back, so that a receiver can gather
    // frames and pass them on in one go. Call before start(). False when the
    // backend has no such runs: the receiver then passes each frame on alone.
    virtual bool setBatchEnd(std::function<void()> /*batchEnd*/) { return false; }
};

struct OpenResult {
    std::unique_ptr<PacketPort> port;
    OpenFailure failure = OpenFailure::None;
    std::string error; // what the backend said, for diagnostics
};

class PacketDriver {
  public:
    virtual ~PacketDriver() = default;
    virtual std::vector<AdapterInfo> listAdapters() = 0;
    virtual OpenResult open(const std::string& name, const OpenOptions& options) = 0;
    // What a person does when open() failed with PermissionDenied: the
    // sentence that ends the link's message. By default: run as root, or give
    // this program the capability.
    virtual std::string permissionFix() const;
    // Why no adapter can be reached at all (the capture library is not
    // installed), as a whole message for a person; empty when it can.
    virtual std::string unavailableReason() const { return {}; }
};

} // namespace korvane

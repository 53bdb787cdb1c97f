#pragma once

// The utility's single door to the Ethernet: one adapter open at a time, a
// receive thread that queues the protocol's frames in arrival order, sends,
// and the device's completion notice (code 0x4001) turned into a callback
// and an event instead of being queued.

#include "base/mac_address.hpp"
#include "base/sync.hpp"
#include "base/timing.hpp"
#include "link/ethernet.hpp"
#include "link/packet_driver.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <vector>

namespace korvane {

inline constexpr std::size_t kMaxLinkFrame = 1600; // longest frame sent or queued
// The received-frame list holds a burst that readers have not taken yet. It
// is bounded twice: by frames, and by the bytes they carry, so that a burst of
// short frames (a 100000-frame burst of 60-byte frames leaves readers a few
// thousand behind) fits, while full-size frames cannot take more memory.
inline constexpr std::size_t kDefaultFrameListLimit = 16384;
inline constexpr std::size_t kFrameListByteLimit = 8 * 1024 * 1024;
inline constexpr std::uint16_t kNoticeCode = 0x4001;

struct LinkCounters {
    std::uint64_t queued = 0;           // frames appended to the list
    std::uint64_t droppedListFull = 0;  // oldest frames dropped because the list was full
    std::uint64_t droppedBadLength = 0; // length 0 or above 1600
    std::uint64_t notices = 0;
};

// This program's own file, as the permission fix names it (`setcap ... PATH`).
const std::string& ProgramPath();

class AdapterLink {
  public:
    using NoticeReceiver = std::function<void(const MacAddress& source)>;
    using DiagnosticSink = std::function<void(const std::string& line)>;

    explicit AdapterLink(PacketDriver& driver, std::size_t frameListLimit = kDefaultFrameListLimit);
    ~AdapterLink();
    AdapterLink(const AdapterLink&) = delete;
    AdapterLink& operator=(const AdapterLink&) = delete;

    // Closes and clears everything; the link is closed afterwards.
    void reset();
    // Opens the named adapter; an open link is closed first. The list starts
    // empty. Returns whether the link is open afterwards.
    bool open(const std::string& adapterName);
    // Stops the receive thread (waiting for it) and releases the adapter.
    void close();

    // False once the adapter's receive side ended by itself (it went down,
    // was unplugged or deleted): the link then counts as closed, and the next
    // open() of the same adapter starts afresh.
    bool isOpen() const;
    // Whether the open adapter's receive side ended, and what the system said.
    bool receiveEnded() const { return receiveEnded_.load(std::memory_order_acquire); }
    std::string receiveEndReason() const;
    // Set from the moment close begins until the next open: sends and reads fail.
    bool stopFlag() const { return stopFlag_.load(std::memory_order_acquire); }
    MacAddress ownAddress() const;
    // Copies: the names change under open() on whatever thread calls it.
    std::string adapterName() const;
    OpenFailure lastOpenFailure() const;
    // What the backend said when the last open failed.
    std::string lastOpenError() const;

    // After the receive side ended by itself (an adapter that went down and
    // came back): opens the same adapter again, keeping the frames already
    // queued, so that the operations waiting on the link go on over it.
    // Several waiters may call it at once; one reopens and the others see
    // its result, and while the adapter stays gone a new attempt is made at
    // most once per `retryInterval`. True when the link is usable afterwards;
    // false at once for a link that close() ended or that never opened.
    bool recover(Micros retryInterval);
    // Whether recover() has something to do: the link was open and its
    // receive side ended by itself.
    bool recoverable() const;
    // How often recover() reopened the adapter.
    std::uint64_t recoveries() const { return recoveries_.load(std::memory_order_relaxed); }

    // Diagnostics and the missing-rights report go to `parent`'s sinks (its
    // once-only report included): a search's extra links speak as one.
    void reportThrough(AdapterLink& parent);

    // The receive ring the next opens ask the driver for (0: the driver's own).
    void setRingBytes(std::size_t bytes) { ringBytes_.store(bytes, std::memory_order_relaxed); }

    // False when the link is not usable, the frame is empty or longer than 1600 bytes.
    bool send(std::span<const std::uint8_t> frame);

    // Takes the oldest queued frame. Never blocks. Copies at most
    // buffer.size() bytes: a frame longer than the caller's buffer (1501 to
    // 1600 bytes against the usual 1500) is cut to it, and `length` is the
    // number of bytes copied. No protocol field lies beyond byte 1500.
    bool read(std::span<std::uint8_t> buffer, std::size_t& length);
    // The same, also giving when the receive thread queued the frame
    // (monotonic clock): a reply can be told from one sent before a request.
    bool read(std::span<std::uint8_t> buffer, std::size_t& length,
              SteadyClock::time_point& arrivedAt);

    // Notified after every queued frame; waiters sleep on it instead of polling.
    ArrivalSignal& arrivals() { return arrivals_; }
    // Sleeps until a frame is queued or the deadline passes; true when one is there.
    bool waitForFrame(SteadyClock::time_point deadline);

    void setNoticeReceiver(NoticeReceiver receiver);
    AutoResetEvent& noticeEvent() { return noticeEvent_; }

    // Console diagnostics (default: standard error).
    void setDiagnosticSink(DiagnosticSink sink);
    // Told once, the first time an adapter cannot be opened for lack of
    // raw-frame rights (default: a line on standard error naming the fix).
    void setPermissionReporter(DiagnosticSink reporter);

    std::size_t queuedFrames() const;
    LinkCounters counters() const;
    // Frames the open adapter's backend lost before the receive thread saw
    // them (capture ring overflow); 0 while closed.
    std::uint64_t droppedByBackend() const;

    // Exposed for tests: what the receive thread does with each frame,
    // stamped with `arrivedAt` where the backend knows it, else now.
    void deliver(std::span<const std::uint8_t> frame,
                 std::optional<SteadyClock::time_point> arrivedAt = std::nullopt);

  private:
    // Each frame is kept at its own length: a burst of short frames costs
    // what it carries, not 1600 bytes apiece.
    struct Frame {
        std::vector<std::uint8_t> bytes;
        SteadyClock::time_point arrivedAt;
    };

    void closeLocked();
    // Opens the driver's port and starts it; the port lock is held.
    bool openPortLocked(const std::string& adapterName);
    void onReceiveEnd(std::uint64_t openCount, const std::string& reason);
    void diagnostic(const std::string& line);
    void reportPermission(const std::string& adapterName, const std::string& error);

    PacketDriver& driver_;
    const std::size_t frameListLimit_;

    mutable std::shared_mutex portMutex_; // exclusive for open/close, shared for send
    std::unique_ptr<PacketPort> port_;
    MacAddress ownAddress_;
    SteadyClock::time_point lastRecoveryAttempt_{}; // under portMutex_
    std::atomic<std::uint64_t> recoveries_{0};
    std::atomic<std::size_t> ringBytes_{0};

    // Taken alone, also by the receive thread while close() holds the port lock.
    mutable std::mutex nameMutex_;
    std::string adapterName_;
    OpenFailure lastOpenFailure_ = OpenFailure::None;
    std::string lastOpenError_;

    std::atomic<bool> open_{false};
    std::atomic<bool> stopFlag_{false};
    std::atomic<bool> receiveEnded_{false};
    std::atomic<std::uint64_t> openCount_{0}; // tells a late end report from a stale port
    std::string receiveEndReason_;            // under callbackMutex_

    mutable std::mutex listMutex_;
    std::deque<Frame> frames_;
    std::size_t frameBytes_ = 0; // bytes carried by frames_
    LinkCounters counters_;
    ArrivalSignal arrivals_;

    mutable std::mutex callbackMutex_;
    NoticeReceiver noticeReceiver_;
    DiagnosticSink diagnostics_;
    DiagnosticSink permissionReporter_;
    bool permissionReported_ = false;
    AdapterLink* reportsTo_ = nullptr;
    AutoResetEvent noticeEvent_;
};

} // namespace korvane

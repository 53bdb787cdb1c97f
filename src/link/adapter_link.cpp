#include "link/adapter_link.hpp"

#include "base/byte_cursor.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace korvane {

namespace {
constexpr std::size_t kCodeOffset = 16;

std::string ProgramPathUncached() {
    std::array<char, 4096> path{};
    const auto n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return n > 0 ? std::string(path.data(), static_cast<std::size_t>(n)) : std::string("<program>");
}

void printToStderr(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}
} // namespace

const std::string& ProgramPath() {
    static const std::string path = ProgramPathUncached();
    return path;
}

std::string PacketDriver::permissionFix() const {
    return "Run the program as root, or give it the capability once after each build: sudo "
           "setcap cap_net_raw+ep " +
           ProgramPath();
}

AdapterLink::AdapterLink(PacketDriver& driver, std::size_t frameListLimit)
    : driver_(driver), frameListLimit_(frameListLimit == 0 ? 1 : frameListLimit),
      diagnostics_(printToStderr), permissionReporter_(printToStderr) {}

AdapterLink::~AdapterLink() {
    close();
}

void AdapterLink::reset() {
    close();
    std::unique_lock lock(portMutex_);
    ownAddress_ = {};
    adapterName_.clear();
    stopFlag_.store(false, std::memory_order_release);
    std::lock_guard listLock(listMutex_);
    frames_.clear();
    frameBytes_ = 0;
}

bool AdapterLink::open(const std::string& adapterName) {
    std::unique_lock lock(portMutex_);
    if (open_.load())
        closeLocked();
    stopFlag_.store(false, std::memory_order_release);
    receiveEnded_.store(false, std::memory_order_release);
    {
        std::lock_guard listLock(listMutex_);
        frames_.clear(); // frames of the previous adapter never reach a transaction
        frameBytes_ = 0;
    }
    adapterName_ = adapterName;
    const std::uint64_t openCount = openCount_.fetch_add(1) + 1;

    OpenOptions options;
    const auto program = protocolFilterProgram();
    options.filter.assign(program.begin(), program.end());
    OpenResult result = driver_.open(adapterName, options);
    lastOpenFailure_ = result.failure;
    lastOpenError_ = result.error;
    if (!result.port) {
        if (result.failure == OpenFailure::PermissionDenied) {
            bool first = false;
            DiagnosticSink reporter;
            {
                std::lock_guard cbLock(callbackMutex_);
                first = !permissionReported_;
                permissionReported_ = true;
                reporter = permissionReporter_;
            }
            if (first && reporter)
                reporter("Cannot open network adapter " + adapterName +
                         ": raw Ethernet access was refused (" + result.error + "). " +
                         driver_.permissionFix() + "\n");
        }
        return false;
    }
    port_ = std::move(result.port);
    ownAddress_ = port_->mac();
    open_.store(true, std::memory_order_release);
    port_->start(
        [this, port = port_.get()](std::span<const std::uint8_t> frame) {
            deliver(frame, port->deliveringFrameArrivedAt());
        },
        [this, openCount](const std::string& reason) { onReceiveEnd(openCount, reason); });
    return true;
}

// Called on the port's receive thread, which close() may be joining while it
// holds the port lock: only the callback lock is taken here.
void AdapterLink::onReceiveEnd(std::uint64_t openCount, const std::string& reason) {
    if (openCount != openCount_.load())
        return; // a port that was already replaced
    std::string name;
    {
        std::lock_guard cbLock(callbackMutex_);
        receiveEndReason_ = reason.empty() ? "the receive side ended" : reason;
        name = adapterName_;
    }
    receiveEnded_.store(true, std::memory_order_release);
    arrivals_.notify(); // waiters give up at once instead of at their deadline
    diagnostic("Receive ended on " + name + ": " + receiveEndReason() +
               "; the adapter is reopened by the next search or operation\n");
}

std::string AdapterLink::receiveEndReason() const {
    std::lock_guard cbLock(callbackMutex_);
    return receiveEndReason_;
}

void AdapterLink::close() {
    std::unique_lock lock(portMutex_);
    closeLocked();
}

void AdapterLink::closeLocked() {
    if (!open_.load())
        return;
    stopFlag_.store(true, std::memory_order_release);
    arrivals_.notify(); // waiters notice the stop at once
    if (port_) {
        port_->stop(); // returns when the receive thread has ended
        port_.reset();
    }
    open_.store(false, std::memory_order_release);
}

bool AdapterLink::isOpen() const {
    return open_.load(std::memory_order_acquire) && !receiveEnded();
}

MacAddress AdapterLink::ownAddress() const {
    std::shared_lock lock(portMutex_);
    return ownAddress_;
}

bool AdapterLink::send(std::span<const std::uint8_t> frame) {
    if (frame.empty() || frame.size() > kMaxLinkFrame)
        return false;
    std::shared_lock lock(portMutex_);
    if (!open_.load(std::memory_order_acquire) || stopFlag() || !port_)
        return false;
    if (!port_->send(frame)) {
        std::string error = port_->lastError();
        if (error.empty())
            error = receiveEnded() ? receiveEndReason() : "the adapter refused the frame";
        diagnostic("Send Failed; Error: " + error + "\n");
        return false;
    }
    return true;
}

void AdapterLink::deliver(std::span<const std::uint8_t> frame,
                          std::optional<SteadyClock::time_point> arrivedAt) {
    if (!open_.load(std::memory_order_acquire) || stopFlag())
        return;
    if (frame.empty() || frame.size() > kMaxLinkFrame) {
        std::lock_guard listLock(listMutex_);
        ++counters_.droppedBadLength;
        return;
    }
    if (frame.size() >= kCodeOffset + 2 && readU16(frame, kCodeOffset) == kNoticeCode) {
        const MacAddress source = MacAddress::fromBytes(frame.subspan(6, 6));
        NoticeReceiver receiver;
        {
            std::lock_guard cbLock(callbackMutex_);
            receiver = noticeReceiver_;
        }
        if (receiver)
            receiver(source);
        {
            std::lock_guard listLock(listMutex_);
            ++counters_.notices;
        }
        noticeEvent_.set();
        return;
    }
    // The copy is made before the lock so that a reader never waits for it.
    Frame copy{{frame.begin(), frame.end()}, arrivedAt.value_or(SteadyClock::now())};
    {
        std::lock_guard listLock(listMutex_);
        // A station flooding our EtherType must not grow memory without end:
        // keep the newest frames, which are the ones a waiter can still use.
        while (!frames_.empty() && (frames_.size() >= frameListLimit_ ||
                                    frameBytes_ + copy.bytes.size() > kFrameListByteLimit)) {
            frameBytes_ -= frames_.front().bytes.size();
            frames_.pop_front();
            ++counters_.droppedListFull;
        }
        frameBytes_ += copy.bytes.size();
        frames_.push_back(std::move(copy));
        ++counters_.queued;
    }
    arrivals_.notify();
}

bool AdapterLink::read(std::span<std::uint8_t> buffer, std::size_t& length) {
    SteadyClock::time_point arrivedAt;
    return read(buffer, length, arrivedAt);
}

bool AdapterLink::read(std::span<std::uint8_t> buffer, std::size_t& length,
                       SteadyClock::time_point& arrivedAt) {
    if (!open_.load(std::memory_order_acquire) || stopFlag())
        return false;
    Frame frame;
    {
        std::lock_guard listLock(listMutex_);
        if (stopFlag() || frames_.empty())
            return false;
        frame = std::move(frames_.front());
        frames_.pop_front();
        frameBytes_ -= frame.bytes.size();
    }
    length = std::min(frame.bytes.size(), buffer.size());
    if (length > 0)
        std::memcpy(buffer.data(), frame.bytes.data(), length);
    arrivedAt = frame.arrivedAt;
    return true;
}

bool AdapterLink::waitForFrame(SteadyClock::time_point deadline) {
    for (;;) {
        const auto seen = arrivals_.generation();
        if (stopFlag())
            return false;
        if (receiveEnded())
            return queuedFrames() > 0;
        if (queuedFrames() > 0)
            return true;
        if (!arrivals_.waitUntil(seen, deadline))
            return queuedFrames() > 0 && !stopFlag();
    }
}

void AdapterLink::setNoticeReceiver(NoticeReceiver receiver) {
    std::lock_guard cbLock(callbackMutex_);
    noticeReceiver_ = std::move(receiver);
}

void AdapterLink::setDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard cbLock(callbackMutex_);
    diagnostics_ = std::move(sink);
}

void AdapterLink::setPermissionReporter(DiagnosticSink reporter) {
    std::lock_guard cbLock(callbackMutex_);
    permissionReporter_ = std::move(reporter);
}

void AdapterLink::diagnostic(const std::string& line) {
    DiagnosticSink sink;
    {
        std::lock_guard cbLock(callbackMutex_);
        sink = diagnostics_;
    }
    if (sink)
        sink(line);
}

std::size_t AdapterLink::queuedFrames() const {
    std::lock_guard listLock(listMutex_);
    return frames_.size();
}

std::uint64_t AdapterLink::droppedByBackend() const {
    std::shared_lock lock(portMutex_);
    return port_ ? port_->droppedByBackend() : 0;
}

LinkCounters AdapterLink::counters() const {
    std::lock_guard listLock(listMutex_);
    return counters_;
}

} // namespace korvane

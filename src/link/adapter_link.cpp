#include "link/adapter_link.hpp"

#include "base/byte_cursor.hpp"
#include "base/platform.hpp"

#include <cstdio>
#include <cstring>

namespace korvane {

namespace {
void printToStderr(const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}
} // namespace

const std::string& ProgramPath() {
    static const std::string path = platform::OwnProgramPath();
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
    {
        std::lock_guard nameLock(nameMutex_);
        adapterName_.clear();
    }
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
    {
        std::lock_guard nameLock(nameMutex_);
        adapterName_ = adapterName;
    }
    return openPortLocked(adapterName);
}

bool AdapterLink::openPortLocked(const std::string& adapterName) {
    const std::uint64_t openCount = openCount_.fetch_add(1) + 1;
    OpenOptions options;
    options.ringBytes = ringBytes_.load(std::memory_order_relaxed);
    const auto program = protocolFilterProgram();
    options.filter.assign(program.begin(), program.end());
    OpenResult result = driver_.open(adapterName, options);
    {
        std::lock_guard nameLock(nameMutex_);
        lastOpenFailure_ = result.failure;
        lastOpenError_ = result.error;
    }
    if (!result.port) {
        if (result.failure == OpenFailure::PermissionDenied)
            reportPermission(adapterName, result.error);
        return false;
    }
    port_ = std::move(result.port);
    ownAddress_ = port_->mac();
    open_.store(true, std::memory_order_release);
    receiveEnded_.store(false, std::memory_order_release);
    port_->start(
        [this, port = port_.get()](std::span<const std::uint8_t> frame) {
            deliver(frame, port->deliveringFrameArrivedAt());
        },
        [this, openCount](const std::string& reason) { onReceiveEnd(openCount, reason); });
    return true;
}

void AdapterLink::reportPermission(const std::string& adapterName, const std::string& error) {
    bool first = false;
    DiagnosticSink reporter;
    AdapterLink* parent = nullptr;
    {
        std::lock_guard cbLock(callbackMutex_);
        parent = reportsTo_;
        if (!parent) {
            first = !permissionReported_;
            permissionReported_ = true;
            reporter = permissionReporter_;
        }
    }
    if (parent) {
        parent->reportPermission(adapterName, error);
        return;
    }
    if (first && reporter)
        reporter("Cannot open network adapter " + adapterName +
                 ": raw Ethernet access was refused (" + error + "). " + driver_.permissionFix() +
                 "\n");
}

bool AdapterLink::recover(Micros retryInterval) {
    std::unique_lock lock(portMutex_);
    if (!open_.load() || stopFlag())
        return false; // closed on purpose, or never opened: nothing to come back
    if (!receiveEnded())
        return true; // another waiter has reopened it
    const auto now = SteadyClock::now();
    if (now - lastRecoveryAttempt_ < retryInterval)
        return false;
    lastRecoveryAttempt_ = now;
    // The dead port's thread has ended or ends without delivering more; the
    // queued frames stay for the operations that wait for them.
    if (port_) {
        port_->stop();
        port_.reset();
    }
    if (!openPortLocked(adapterName()))
        return false; // still gone: the link stays ended, and the next attempt tries again
    recoveries_.fetch_add(1, std::memory_order_relaxed);
    diagnostic("Reopened " + adapterName() + " after its receive side ended\n");
    return true;
}

bool AdapterLink::recoverable() const {
    return open_.load(std::memory_order_acquire) && receiveEnded() && !stopFlag();
}

void AdapterLink::reportThrough(AdapterLink& parent) {
    std::lock_guard cbLock(callbackMutex_);
    reportsTo_ = &parent;
}

std::string AdapterLink::adapterName() const {
    std::lock_guard nameLock(nameMutex_);
    return adapterName_;
}

OpenFailure AdapterLink::lastOpenFailure() const {
    std::lock_guard nameLock(nameMutex_);
    return lastOpenFailure_;
}

std::string AdapterLink::lastOpenError() const {
    std::lock_guard nameLock(nameMutex_);
    return lastOpenError_;
}

// Called on the port's receive thread, which close() may be joining while it
// holds the port lock: only the callback and name locks are taken here.
void AdapterLink::onReceiveEnd(std::uint64_t openCount, const std::string& reason) {
    if (openCount != openCount_.load())
        return; // a port that was already replaced
    {
        std::lock_guard cbLock(callbackMutex_);
        receiveEndReason_ = reason.empty() ? "the receive side ended" : reason;
    }
    receiveEnded_.store(true, std::memory_order_release);
    arrivals_.notify(); // waiters turn to reopening at once instead of at their deadline
    diagnostic("Receive ended on " + adapterName() + ": " + receiveEndReason() +
               "; the adapter is reopened by the operation waiting on it or the next search\n");
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
    const auto head = fixedHead<kEthernetHeaderLength>(frame);
    if (head && ByteReader(frame, kProtocolCodeOffset).u16() == kNoticeCode) {
        const MacAddress source = MacAddress::fromBytes(head->subspan<kSourceMacOffset, 6>());
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
    AdapterLink* parent = nullptr;
    {
        std::lock_guard cbLock(callbackMutex_);
        parent = reportsTo_;
        sink = diagnostics_;
    }
    if (parent)
        parent->diagnostic(line);
    else if (sink)
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

#include "relay/relay_server.hpp"

#include "relay/relay_protocol.hpp"
#include "relay/relay_socket.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace korvane::relay {

namespace {
// Frames gathered during one run of the capture are written in pieces of
// about this size: one write instead of one per frame keeps a burst moving.
constexpr std::size_t kFlushBytes = 32 * 1024;

std::uint64_t stampNow() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::vector<std::uint8_t> encode(const Message& m) {
    std::vector<std::uint8_t> out;
    AppendMessage(out, m);
    return out;
}

Message textMessage(MessageType type, std::string_view text) {
    Message m;
    m.type = type;
    m.text = text.substr(0, kMaxText);
    return m;
}
} // namespace

struct RelayServer::Port {
    int fd = -1;
    std::unique_ptr<PacketPort> port;
    PortKind kind{};
    MacAddress mac;
    MessageReader reader;
    ServerCounters* counters = nullptr;
    bool batched = false;
    std::uint64_t refused = 0; // main thread only

    std::mutex writeMutex;
    std::vector<std::uint8_t> pending; // under writeMutex
    bool broken = false;               // under writeMutex: the client stopped reading for good
    std::uint64_t reportedDrops = 0;   // under writeMutex

    // Receive thread.
    void deliver(std::span<const std::uint8_t> frame) {
        if (frame.size() > kMaxFrame)
            return; // longer than the capture length: cannot happen with libpcap's snaplen
        Message m;
        m.type = MessageType::Frame;
        m.number64 = stampNow();
        m.frame = frame;
        std::lock_guard lock(writeMutex);
        AppendMessage(pending, m);
        counters->framesDelivered.fetch_add(1, std::memory_order_relaxed);
        if (!batched || pending.size() >= kFlushBytes)
            flushLocked();
    }

    void batchEnd() {
        std::lock_guard lock(writeMutex);
        appendDropsLocked();
        flushLocked();
    }

    void ended(const std::string& reason) {
        std::lock_guard lock(writeMutex);
        appendDropsLocked();
        AppendMessage(pending, textMessage(MessageType::Ended, reason));
        flushLocked();
    }

    // Main thread.
    void write(const Message& m) {
        std::lock_guard lock(writeMutex);
        AppendMessage(pending, m);
        flushLocked();
    }

    void appendDropsLocked() {
        const std::uint64_t drops = port->droppedByBackend();
        if (drops == reportedDrops)
            return;
        reportedDrops = drops;
        Message m;
        m.type = MessageType::Dropped;
        m.number64 = drops;
        AppendMessage(pending, m);
    }

    void flushLocked() {
        if (!broken && !pending.empty() && !WriteAll(fd, pending))
            broken = true;
        pending.clear();
    }
};

RelayServer::RelayServer(PacketDriver& driver, int controlFd)
    : driver_(driver), controlFd_(controlFd) {}

RelayServer::~RelayServer() {
    for (auto& port : ports_)
        closePort(*port);
    if (controlFd_ >= 0)
        ::close(controlFd_);
}

int RelayServer::run() {
    Message hello;
    hello.type = MessageType::Hello;
    hello.number32 = kVersion;
    if (!writeControl(encode(hello)))
        return 0;
    MessageReader control;
    int result = 0;
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({controlFd_, POLLIN, 0});
        for (const auto& port : ports_)
            fds.push_back({port->fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0) {
            auto space = control.space();
            const long n = ReadSome(controlFd_, space);
            if (n <= 0)
                break; // the client is gone
            control.consumed(static_cast<std::size_t>(n));
            bool keepGoing = true;
            for (;;) {
                std::span<const std::uint8_t> body;
                std::string error;
                const auto status = control.next(body, error);
                if (status == MessageReader::Status::NeedMore)
                    break;
                if (status == MessageReader::Status::Malformed) {
                    counters_.malformed.fetch_add(1);
                    writeControl(encode(textMessage(MessageType::Error, "refused " + error)));
                    keepGoing = false;
                    break;
                }
                if (!handleControlMessage(body)) {
                    keepGoing = false;
                    break;
                }
            }
            if (!keepGoing) {
                result = 1;
                break;
            }
        }
        std::size_t i = 1;
        for (auto& port : ports_) {
            if (i < fds.size() && fds[i].fd == port->fd && fds[i].revents != 0)
                handlePort(*port);
            ++i;
        }
        ports_.remove_if([](const std::unique_ptr<Port>& port) { return port->fd < 0; });
    }
    for (auto& port : ports_)
        closePort(*port);
    ports_.clear();
    ::shutdown(controlFd_, SHUT_RDWR); // the client hears the end at once
    return result;
}

bool RelayServer::handleControlMessage(std::span<const std::uint8_t> body) {
    std::string error;
    const auto message = DecodeMessage(body, error);
    if (!message) {
        counters_.malformed.fetch_add(1);
        writeControl(encode(textMessage(MessageType::Error, "refused " + error)));
        return false;
    }
    switch (message->type) {
    case MessageType::List: {
        std::vector<std::uint8_t> out;
        const auto adapters = driver_.listAdapters();
        for (std::size_t i = 0; i < adapters.size() && i < kMaxOpenPorts; ++i) {
            Message m;
            m.type = MessageType::Adapter;
            m.text = adapters[i].name;
            m.description = std::string_view(adapters[i].description).substr(0, kMaxText);
            m.mac = adapters[i].mac;
            AppendMessage(out, m); // a name over the bound is left out, never cut
        }
        Message end;
        end.type = MessageType::ListEnd;
        AppendMessage(out, end);
        return writeControl(out);
    }
    case MessageType::Open:
        handleOpen(std::string(message->text), static_cast<int>(message->kind), message->number32);
        return true;
    default:
        counters_.malformed.fetch_add(1);
        writeControl(encode(
            textMessage(MessageType::Error, "refused a message of type " +
                                                std::to_string(static_cast<int>(message->type)) +
                                                " on the control connection")));
        return false;
    }
}

void RelayServer::handleOpen(const std::string& name, int kindValue, std::uint32_t address) {
    const auto kind = static_cast<PortKind>(kindValue);
    const auto fail = [&](OpenFailure failure, const std::string& why) {
        Message m = textMessage(MessageType::OpenFailed, why);
        m.failure = failure;
        writeControl(encode(m));
    };
    if (ports_.size() >= kMaxOpenPorts) {
        counters_.refusedOpens.fetch_add(1);
        fail(OpenFailure::Other,
             "the relay has " + std::to_string(kMaxOpenPorts) + " adapters open already, its most");
        return;
    }
    // Only what the relay itself lists: real Ethernet adapters, never a
    // pseudo-device such as "any" or the loopback.
    const auto adapters = driver_.listAdapters();
    if (std::none_of(adapters.begin(), adapters.end(),
                     [&](const AdapterInfo& a) { return a.name == name; })) {
        counters_.refusedOpens.fetch_add(1);
        fail(OpenFailure::NoSuchAdapter, "no Ethernet adapter named '" + name + "'");
        return;
    }
    OpenOptions options;
    options.filter = FilterOf(kind, address);
    OpenResult opened = driver_.open(name, options);
    if (!opened.port) {
        fail(opened.failure, opened.error);
        return;
    }
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        fail(OpenFailure::Other, std::string("socketpair: ") + std::strerror(errno));
        return;
    }
    EnlargeSendBuffer(pair[0]);
    auto port = std::make_unique<Port>();
    port->fd = pair[0];
    port->port = std::move(opened.port);
    port->kind = kind;
    port->mac = port->port->mac();
    port->counters = &counters_;
    Port* raw = port.get();
    port->batched = port->port->setBatchEnd([raw] { raw->batchEnd(); });

    Message reply;
    reply.type = MessageType::Opened;
    reply.mac = port->mac;
    const bool told = writeControl(encode(reply), pair[1]);
    ::close(pair[1]);
    if (!told) {
        closePort(*port);
        return;
    }
    port->port->start([raw](std::span<const std::uint8_t> frame) { raw->deliver(frame); },
                      [raw](const std::string& reason) { raw->ended(reason); });
    ports_.push_back(std::move(port));
}

void RelayServer::handlePort(Port& port) {
    const long n = ReadSome(port.fd, port.reader.space());
    if (n <= 0) {
        closePort(port); // the client closed the port
        return;
    }
    port.reader.consumed(static_cast<std::size_t>(n));
    for (;;) {
        std::span<const std::uint8_t> body;
        std::string error;
        const auto status = port.reader.next(body, error);
        if (status == MessageReader::Status::NeedMore)
            return;
        std::optional<Message> message;
        if (status == MessageReader::Status::Message)
            message = DecodeMessage(body, error);
        if (message && message->type != MessageType::Send)
            error = "a message of type " + std::to_string(static_cast<int>(message->type)) +
                    " on a port";
        if (!message || message->type != MessageType::Send) {
            counters_.malformed.fetch_add(1);
            port.write(textMessage(MessageType::Error, "refused " + error + "; port closed"));
            closePort(port);
            return;
        }
        const std::string refusal = RefusalOf(port.kind, port.mac, message->frame);
        if (!refusal.empty()) {
            counters_.refusedFrames.fetch_add(1);
            Message m = textMessage(MessageType::Refused, refusal);
            m.number64 = ++port.refused;
            port.write(m);
            continue;
        }
        if (!port.port->send(message->frame)) {
            std::string why = port.port->lastError();
            port.write(textMessage(MessageType::SendFailed,
                                   why.empty() ? "the adapter refused the frame" : why));
            continue;
        }
        counters_.framesSent.fetch_add(1, std::memory_order_relaxed);
    }
}

void RelayServer::closePort(Port& port) {
    if (port.fd < 0)
        return;
    // A receive thread blocked on a client that stopped reading gets an
    // error instead, so stop() cannot wait for ever.
    ::shutdown(port.fd, SHUT_RDWR);
    port.port->stop();
    ::close(port.fd);
    port.fd = -1;
}

bool RelayServer::writeControl(const std::vector<std::uint8_t>& bytes, int passFd) {
    return WriteAll(controlFd_, bytes, passFd);
}

} // namespace korvane::relay

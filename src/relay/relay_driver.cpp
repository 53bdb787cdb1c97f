#include "relay/relay_driver.hpp"

#include "link/pcap_driver.hpp"
#include "relay/relay_socket.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korvane {

using relay::Message;
using relay::MessageReader;
using relay::MessageType;
using relay::PortKind;

namespace {

// The fd the relay finds its control connection on.
constexpr int kRelayControlFd = 3;
constexpr const char* kRelayEnded = "the raw-frame relay ended";

int millisUntil(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 60 * 60 * 1000));
}

} // namespace

struct RelayDriver::Sink {
    std::mutex mutex;
    MessageSink sink = [](const std::string& line) {
        std::fputs((line + "\n").c_str(), stderr);
        std::fflush(stderr);
    };
    void say(const std::string& line) {
        std::lock_guard lock(mutex);
        if (sink)
            sink(line);
    }
};

namespace {

class RelayPort : public PacketPort {
  public:
    RelayPort(int fd, MacAddress mac, PortKind kind, std::string adapter,
              std::shared_ptr<RelayDriver::Sink> sink)
        : fd_(fd), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), mac_(mac), kind_(kind),
          adapter_(std::move(adapter)), sink_(std::move(sink)) {}
    ~RelayPort() override {
        stop();
        ::close(fd_); // the relay closes its side of the port
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
    }

    MacAddress mac() const override { return mac_; }

    bool send(std::span<const std::uint8_t> frame) override {
        // The relay would refuse it: say so now, as a direct socket would
        // fail at once, instead of after a round trip.
        if (std::string refusal = relay::RefusalOf(kind_, mac_, frame); !refusal.empty()) {
            setError("korvane-relay does not pass " + refusal);
            return false;
        }
        Message m;
        m.type = MessageType::Send;
        m.frame = frame;
        std::vector<std::uint8_t> bytes;
        bytes.reserve(relay::kLengthBytes + 1 + frame.size());
        relay::AppendMessage(bytes, m);
        std::lock_guard lock(sendMutex_);
        if (relay::WriteAll(fd_, bytes))
            return true;
        setError(kRelayEnded);
        return false;
    }

    void start(Receiver receiver, EndHandler ended) override {
        std::lock_guard lock(threadMutex_);
        if (thread_.joinable())
            return;
        receiver_ = std::move(receiver);
        ended_ = std::move(ended);
        running_.store(true);
        thread_ = std::thread([this] { run(); });
    }

    void stop() override {
        std::lock_guard lock(threadMutex_);
        if (!thread_.joinable())
            return;
        running_.store(false);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }

    std::string lastError() const override {
        std::lock_guard lock(errorMutex_);
        return error_;
    }
    std::uint64_t droppedByBackend() const override { return dropped_.load(); }
    std::optional<std::chrono::steady_clock::time_point> deliveringFrameArrivedAt() const override {
        return arrivedAt_;
    }

  private:
    void setError(std::string text) {
        std::lock_guard lock(errorMutex_);
        error_ = std::move(text);
    }

    void run() {
        const std::string reason = receiveUntilEnd();
        // An end that stop() asked for is no news; any other (the adapter
        // went down, the relay ended) is the receive side ending.
        if (running_.load() && ended_)
            ended_(reason);
    }

    // Why receiving ended; empty when stop() ended it.
    std::string receiveUntilEnd() {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        while (running_.load()) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return std::string("poll: ") + std::strerror(errno);
            }
            if (!running_.load() || fds[1].revents != 0)
                return {};
            const long n = relay::ReadSome(fd_, reader_.space());
            if (n <= 0)
                return kRelayEnded;
            reader_.consumed(static_cast<std::size_t>(n));
            for (;;) {
                std::span<const std::uint8_t> body;
                std::string error;
                const auto status = reader_.next(body, error);
                if (status == MessageReader::Status::NeedMore)
                    break;
                std::optional<Message> message;
                if (status == MessageReader::Status::Message)
                    message = relay::DecodeMessage(body, error);
                if (!message)
                    return "the raw-frame relay sent " + error;
                if (auto end = take(*message))
                    return *end;
                if (!running_.load())
                    return {};
            }
        }
        return {};
    }

    // Acts on one message; the reason when it ends the port.
    std::optional<std::string> take(const Message& m) {
        switch (m.type) {
        case MessageType::Frame:
            arrivedAt_ = SteadyClock::time_point(std::chrono::duration_cast<SteadyClock::duration>(
                std::chrono::nanoseconds(m.number64)));
            receiver_(m.frame);
            arrivedAt_.reset();
            return std::nullopt;
        case MessageType::Refused:
            setError("korvane-relay refused " + std::string(m.text));
            sink_->say("korvane-relay refused a frame on " + adapter_ + " (" +
                       std::to_string(m.number64) + " so far): " + std::string(m.text));
            return std::nullopt;
        case MessageType::SendFailed:
            setError(std::string(m.text));
            sink_->say("Send Failed on " + adapter_ +
                       " (korvane-relay); Error: " + std::string(m.text));
            return std::nullopt;
        case MessageType::Dropped:
            dropped_.store(m.number64);
            return std::nullopt;
        case MessageType::Ended:
            return std::string(m.text.empty() ? "the receive side ended" : m.text);
        case MessageType::Error:
            return "the raw-frame relay closed the port: " + std::string(m.text);
        default:
            return "the raw-frame relay sent a message of type " +
                   std::to_string(static_cast<int>(m.type)) + " on a port";
        }
    }

    const int fd_;
    const int wakeFd_;
    const MacAddress mac_;
    const PortKind kind_;
    const std::string adapter_;
    std::shared_ptr<RelayDriver::Sink> sink_;

    std::mutex sendMutex_; // one message at a time on the stream
    std::mutex threadMutex_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    Receiver receiver_;
    EndHandler ended_;
    MessageReader reader_;                             // receive thread only
    std::optional<SteadyClock::time_point> arrivedAt_; // receive thread only
    std::atomic<std::uint64_t> dropped_{0};
    mutable std::mutex errorMutex_;
    std::string error_;
};

std::vector<std::uint8_t> encode(const Message& m) {
    std::vector<std::uint8_t> out;
    relay::AppendMessage(out, m);
    return out;
}

} // namespace

RelayDriver::RelayDriver(std::string program, Micros answerWait)
    : program_(std::move(program)), answerWait_(answerWait), spawns_(true),
      sink_(std::make_shared<Sink>()) {
    spawner_ = std::thread([this] { spawnerLoop(); });
    std::lock_guard lock(controlMutex_);
    std::string error;
    connectLocked(error); // at once, so that a relay that cannot start is said early
}

RelayDriver::RelayDriver(int controlFd, Micros answerWait)
    : answerWait_(answerWait), spawns_(false), sink_(std::make_shared<Sink>()) {
    std::lock_guard lock(controlMutex_);
    controlFd_ = controlFd;
    std::string error;
    greetLocked(error);
}

RelayDriver::~RelayDriver() {
    {
        std::lock_guard lock(controlMutex_);
        disconnectLocked();
    }
    if (spawner_.joinable()) {
        {
            std::lock_guard lock(spawnMutex_);
            quit_ = true;
        }
        spawnCv_.notify_all();
        spawner_.join();
    }
}

void RelayDriver::setMessageSink(MessageSink sink) {
    std::lock_guard lock(sink_->mutex);
    sink_->sink = std::move(sink);
}

std::string RelayDriver::permissionFix() const {
    const std::string program = program_.empty() ? std::string("korvane-relay") : program_;
    const std::string intro = "This program reaches the adapters through the raw-frame relay " +
                              program +
                              ", which needs the cap_net_raw capability and the right to run it: ";
    if (program.ends_with("/libexec/korvane/korvane-relay"))
        return intro +
               "sudo dpkg-reconfigure korvane-utility gives it the capability again; where the "
               "relay is kept to one group (see the README), join that group; or run this "
               "program as root";
    return intro + "give it the capability once after each build (sudo setcap cap_net_raw+ep " +
           program + "), or run this program as root";
}

void RelayDriver::spawnerLoop() {
    std::unique_lock lock(spawnMutex_);
    for (;;) {
        spawnCv_.wait(lock, [this] { return quit_ || spawnWanted_; });
        if (quit_)
            return;
        spawnWanted_ = false;
        spawnedFd_ = -1;
        spawnedPid_ = -1;
        spawnError_.clear();

        int pair[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            spawnError_ = std::string("socketpair: ") + std::strerror(errno);
        } else {
            // Above the fd the child expects, so that dup2() always clears
            // close-on-exec on the copy it makes.
            const int child = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kRelayControlFd + 1);
            ::close(pair[1]);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, child, kRelayControlFd);
            const std::string parent = std::to_string(::getpid());
            std::vector<char*> argv{const_cast<char*>(program_.c_str()),
                                    const_cast<char*>("--parent"),
                                    const_cast<char*>(parent.c_str()), nullptr};
            char* noEnvironment[] = {nullptr}; // the relay is handed nothing of ours
            pid_t pid = -1;
            const int status = ::posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(),
                                             noEnvironment);
            posix_spawn_file_actions_destroy(&actions);
            ::close(child);
            if (status != 0) {
                ::close(pair[0]);
                spawnError_ = std::strerror(status);
            } else {
                spawnedFd_ = pair[0];
                spawnedPid_ = pid;
            }
        }
        spawnDone_ = true;
        lock.unlock();
        spawnCv_.notify_all();
        lock.lock();
    }
}

bool RelayDriver::connectLocked(std::string& error) {
    if (controlFd_ >= 0)
        return true;
    if (!spawns_) {
        error = kRelayEnded;
        return false;
    }
    {
        std::unique_lock lock(spawnMutex_);
        spawnDone_ = false;
        spawnWanted_ = true;
        spawnCv_.notify_all();
        spawnCv_.wait(lock, [this] { return spawnDone_ || quit_; });
        if (!spawnDone_ || spawnedFd_ < 0) {
            startError_ =
                "cannot start the raw-frame relay " + program_ + ": " +
                (spawnError_.empty() ? std::string("the driver is closing") : spawnError_);
            error = startError_;
            return false;
        }
        controlFd_ = spawnedFd_;
        pid_ = spawnedPid_;
    }
    return greetLocked(error);
}

bool RelayDriver::greetLocked(std::string& error) {
    // Its greeting says it runs and speaks our version.
    MessageReader reader;
    const auto deadline = SteadyClock::now() + answerWait_;
    std::string why = "it did not greet within " +
                      std::to_string(std::chrono::duration_cast<Millis>(answerWait_).count()) +
                      " ms";
    for (;;) {
        pollfd fd{controlFd_, POLLIN, 0};
        if (::poll(&fd, 1, millisUntil(deadline)) <= 0)
            break;
        const long n = relay::ReadSome(controlFd_, reader.space());
        if (n <= 0) {
            why = "it ended at once";
            break;
        }
        reader.consumed(static_cast<std::size_t>(n));
        std::span<const std::uint8_t> body;
        std::string decodeError;
        const auto status = reader.next(body, decodeError);
        if (status == MessageReader::Status::NeedMore)
            continue;
        const auto hello = status == MessageReader::Status::Message
                               ? relay::DecodeMessage(body, decodeError)
                               : std::nullopt;
        if (hello && hello->type == MessageType::Hello && hello->number32 == relay::kVersion &&
            !reader.holdsPartial()) {
            startError_.clear();
            return true;
        }
        why = hello && hello->type == MessageType::Hello
                  ? "it speaks version " + std::to_string(hello->number32) + ", not " +
                        std::to_string(relay::kVersion)
                  : "its greeting was " + (decodeError.empty() ? "wrong" : decodeError);
        break;
    }
    disconnectLocked();
    startError_ = "the raw-frame relay " + program_ + " cannot be used: " + why;
    error = startError_;
    return false;
}

void RelayDriver::disconnectLocked() {
    if (controlFd_ >= 0) {
        ::close(controlFd_); // the relay ends when its control connection does
        controlFd_ = -1;
    }
    if (pid_ <= 0)
        return;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidfd >= 0) {
        pollfd fd{pidfd, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::chrono::duration_cast<Millis>(answerWait_).count()));
        ::close(pidfd);
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

bool RelayDriver::exchange(const std::vector<std::uint8_t>& request, const AnswerHandler& onAnswer,
                           std::string& error) {
    std::lock_guard lock(controlMutex_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connectLocked(error))
            return false;
        if (!relay::WriteAll(controlFd_, request)) {
            disconnectLocked(); // it ended since the last request: start it again
            error = kRelayEnded;
            continue;
        }
        MessageReader reader;
        std::vector<int> fds;
        const auto deadline = SteadyClock::now() + answerWait_;
        bool gone = false;
        for (;;) {
            pollfd fd{controlFd_, POLLIN, 0};
            if (::poll(&fd, 1, millisUntil(deadline)) <= 0) {
                error = "the raw-frame relay did not answer";
                disconnectLocked();
                return false;
            }
            const long n = relay::ReadSome(controlFd_, reader.space(), &fds);
            if (n <= 0) {
                gone = true;
                break;
            }
            reader.consumed(static_cast<std::size_t>(n));
            for (;;) {
                std::span<const std::uint8_t> body;
                std::string decodeError;
                const auto status = reader.next(body, decodeError);
                if (status == MessageReader::Status::NeedMore)
                    break;
                auto message = status == MessageReader::Status::Message
                                   ? relay::DecodeMessage(body, decodeError)
                                   : std::nullopt;
                if (message && message->type == MessageType::Error)
                    decodeError = "it said: " + std::string(message->text);
                if (!message || message->type == MessageType::Error) {
                    for (int passed : fds)
                        ::close(passed);
                    error = "the raw-frame relay could not be followed: " + decodeError;
                    disconnectLocked();
                    return false;
                }
                // A passed fd travels with the Opened message, the only one that carries one.
                int passed = -1;
                if (message->type == MessageType::Opened && !fds.empty()) {
                    passed = fds.front();
                    fds.erase(fds.begin());
                }
                if (onAnswer(*message, passed) == Step::Done) {
                    for (int extra : fds)
                        ::close(extra);
                    return true;
                }
            }
        }
        for (int passed : fds)
            ::close(passed);
        if (gone) {
            disconnectLocked();
            error = kRelayEnded;
        }
    }
    return false;
}

std::vector<AdapterInfo> RelayDriver::listAdapters() {
    std::vector<AdapterInfo> adapters;
    Message list;
    list.type = MessageType::List;
    std::string error;
    const bool answered = exchange(
        encode(list),
        [&](const Message& m, int) {
            if (m.type == MessageType::ListEnd)
                return Step::Done;
            if (m.type == MessageType::Adapter)
                adapters.push_back({std::string(m.text), std::string(m.description), m.mac, {}});
            return Step::More;
        },
        error);
    if (answered)
        return adapters;
    // Listing needs no privilege: the adapters are shown, and opening one
    // says what is wrong with the relay.
    if (spawns_)
        return PcapDriver().listAdapters();
    return {};
}

OpenResult RelayDriver::open(const std::string& name, const OpenOptions& options) {
    const auto request = relay::PortRequestOf(options);
    if (!request)
        return {nullptr, OpenFailure::Other,
                "the raw-frame relay opens adapters only for the protocol's frames and the "
                "address probe's ARP replies"};
    if (name.size() > relay::kMaxText)
        return {nullptr, OpenFailure::NoSuchAdapter, "no Ethernet adapter has so long a name"};
    Message open;
    open.type = MessageType::Open;
    open.kind = request->kind;
    open.number32 = request->probeAddress;
    open.text = name;
    OpenResult result;
    std::string error;
    const bool answered = exchange(
        encode(open),
        [&](const Message& m, int passedFd) {
            if (m.type == MessageType::Opened && passedFd >= 0) {
                result.port =
                    std::make_unique<RelayPort>(passedFd, m.mac, request->kind, name, sink_);
            } else if (m.type == MessageType::OpenFailed) {
                result.failure = m.failure == OpenFailure::None ? OpenFailure::Other : m.failure;
                result.error = std::string(m.text);
            } else {
                if (passedFd >= 0)
                    ::close(passedFd);
                result.failure = OpenFailure::Other;
                result.error = "the raw-frame relay answered an open without its port";
            }
            return Step::Done;
        },
        error);
    if (!answered) {
        // No relay, no raw access: the fix is the relay's.
        return {nullptr, OpenFailure::PermissionDenied, error};
    }
    return result;
}

} // namespace korvane

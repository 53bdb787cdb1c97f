#pragma once

// Harness for end-to-end runs over a veth pair between two network namespaces.
//
// Everything a run touches is created here and removed here: two namespaces
// named kvt-<pid>-<n>-a and -b, joined by a veth pair that is created inside
// them (it never exists in the machine's own namespace). The ends come up
// with IPv6 disabled and no addresses, so the kernel puts no frame of its own
// on the pair. Programs run inside a namespace through `ip netns exec`, which
// also mounts that namespace's /sys: the link reads an interface's MAC and
// type from /sys/class/net, so a thread that merely called setns() would see
// the interfaces of the wrong namespace there. That is why the side that
// opens an adapter always runs as its own program.
//
// Header-only so that the end-to-end tests and the benchmarks share it.
// Cleanup: the destructor kills what still runs in the namespaces and
// deletes them; SIGINT/SIGTERM/SIGHUP delete them before the process dies;
// children get SIGKILL when the harness process dies (PR_SET_PDEATHSIG); and
// namespaces left by a harness process that was killed outright are swept
// the next time a pair is created.

#include "base/byte_cursor.hpp"
#include "base/mac_address.hpp"
#include "base/timing.hpp"
#include "wire_fields.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::netns {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Child processes with captured output.

struct RunResult {
    int status = -1;       // exit code; 128 + signal number when killed
    bool timedOut = false; // killed because the deadline passed
    std::string out;
    std::string err;
};

class Process {
  public:
    // Starts argv[0] (searched on PATH) with piped stdin, stdout and stderr.
    // Null with `error` set when it could not be started.
    static std::unique_ptr<Process> spawn(const std::vector<std::string>& argv,
                                          std::string* error = nullptr) {
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0) {
            if (error)
                *error = std::string("pipe: ") + std::strerror(errno);
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
                if (fd >= 0)
                    ::close(fd);
            return nullptr;
        }
        // Everything the child needs is prepared before fork: after it, only
        // async-signal-safe calls until exec.
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::execvp(args[0], args.data());
            static constexpr char kFailed[] = "exec failed\n";
            [[maybe_unused]] auto n = ::write(2, kFailed, sizeof kFailed - 1);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        if (pid < 0) {
            if (error)
                *error = std::string("fork: ") + std::strerror(errno);
            ::close(in[1]);
            ::close(out[0]);
            ::close(err[0]);
            return nullptr;
        }
        ::fcntl(out[0], F_SETFL, O_NONBLOCK);
        ::fcntl(err[0], F_SETFL, O_NONBLOCK);
        return std::unique_ptr<Process>(new Process(pid, in[1], out[0], err[0]));
    }

    ~Process() {
        kill(SIGKILL);
        reap(Clock::now() + std::chrono::seconds(5));
        closeFd(stdin_);
        closeFd(stdout_);
        closeFd(stderr_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }

    // Writes to the program's standard input.
    bool write(std::string_view text) {
        while (!text.empty() && stdin_ >= 0) {
            const auto n = ::write(stdin_, text.data(), text.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        return text.empty();
    }
    void closeStdin() { closeFd(stdin_); }

    // The first line of standard output that starts with `prefix` and that
    // no earlier wait returned; nullopt when the deadline passes or the
    // program closed its output first. Lines that other waits skipped stay
    // available, so the order of waits need not follow the order of lines
    // that different threads of the program print.
    std::optional<std::string> waitForLine(std::string_view prefix, Clock::time_point deadline) {
        for (std::size_t scanned = 0;;) {
            for (; scanned < lines_.size(); ++scanned) {
                if (taken_[scanned] || !lines_[scanned].starts_with(prefix))
                    continue;
                taken_[scanned] = true;
                return lines_[scanned];
            }
            if (stdout_ < 0 || !pump(deadline))
                return std::nullopt;
        }
    }

    // Waits until standard error holds `needle` at least `count` times; false
    // when the deadline passes or the program closed its error output first.
    bool waitForErr(std::string_view needle, std::size_t count, Clock::time_point deadline) {
        for (;;) {
            std::size_t found = 0;
            for (std::size_t at = errText_.find(needle); at != std::string::npos;
                 at = errText_.find(needle, at + needle.size()))
                if (++found >= count)
                    return true;
            if (stderr_ < 0 || Clock::now() >= deadline || !pump(deadline))
                return false;
        }
    }

    // Keeps reading the program's output for `duration` (so that it never
    // blocks on a full pipe meanwhile).
    void drainFor(Clock::duration duration) {
        const auto until = Clock::now() + duration;
        while (Clock::now() < until && (stdout_ >= 0 || stderr_ >= 0))
            pump(until);
    }

    // Closes stdin, collects the output until the program ends and returns its
    // status; at the deadline it is killed.
    RunResult finish(Clock::time_point deadline) {
        closeStdin();
        while ((stdout_ >= 0 || stderr_ >= 0) && pump(deadline)) {
        }
        RunResult result;
        if (stdout_ >= 0 || stderr_ >= 0) {
            result.timedOut = true;
            kill(SIGKILL);
        }
        result.status = reap(result.timedOut ? Clock::now() + std::chrono::seconds(5) : deadline);
        if (result.status < 0) {
            result.timedOut = true;
            kill(SIGKILL);
            result.status = reap(Clock::now() + std::chrono::seconds(5));
        }
        drainAvailable();
        result.out = outText_;
        result.err = errText_;
        return result;
    }

    // Asks the program to end (SIGTERM), then collects it like finish().
    RunResult terminate(Clock::time_point deadline) {
        kill(SIGTERM);
        return finish(deadline);
    }

    const std::vector<std::string>& lines() const { return lines_; }
    const std::string& errText() const { return errText_; }

  private:
    Process(pid_t pid, int in, int out, int err)
        : pid_(pid), stdin_(in), stdout_(out), stderr_(err) {}

    static void closeFd(int& fd) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    void kill(int signal) {
        if (pid_ > 0 && !reaped_)
            ::kill(pid_, signal);
    }

    // Waits for the program to end; its status, or -1 at the deadline. A
    // pidfd becomes readable when the child ends, so this sleeps in poll().
    int reap(Clock::time_point deadline) {
        if (reaped_)
            return status_;
        if (pid_ <= 0)
            return -1;
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        for (;;) {
            int raw = 0;
            const pid_t r = ::waitpid(pid_, &raw, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                break;
            }
            if (r < 0 && errno != EINTR)
                break;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                break;
            if (pidfd < 0) {
                // No pidfd (a kernel before 5.3): block, the deadline cannot hold.
                if (::waitpid(pid_, &raw, 0) == pid_) {
                    reaped_ = true;
                    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                }
                break;
            }
            pollfd fd{pidfd, POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        }
        if (pidfd >= 0)
            ::close(pidfd);
        return reaped_ ? status_ : -1;
    }

    // Reads what is there, waiting until the deadline for something to come;
    // false when the deadline passed with nothing new.
    bool pump(Clock::time_point deadline) {
        pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return drainAvailable();
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR)
            return false;
        drainAvailable();
        return true;
    }

    // Takes everything readable now; true when anything came or a pipe closed.
    bool drainAvailable() {
        bool any = false;
        char buffer[65536];
        for (int* fd : {&stdout_, &stderr_}) {
            while (*fd >= 0) {
                const auto n = ::read(*fd, buffer, sizeof buffer);
                if (n > 0) {
                    any = true;
                    if (fd == &stdout_)
                        addOutput(std::string_view(buffer, static_cast<std::size_t>(n)));
                    else
                        errText_.append(buffer, static_cast<std::size_t>(n));
                    continue;
                }
                if (n < 0 && errno == EINTR)
                    continue;
                if (n == 0) {
                    closeFd(*fd);
                    any = true;
                    if (fd == &stdout_ && !partial_.empty()) {
                        lines_.push_back(partial_);
                        taken_.push_back(false);
                        partial_.clear();
                    }
                }
                break;
            }
        }
        return any;
    }

    void addOutput(std::string_view text) {
        outText_.append(text);
        for (char c : text) {
            if (c == '\n') {
                lines_.push_back(partial_);
                taken_.push_back(false);
                partial_.clear();
            } else {
                partial_.push_back(c);
            }
        }
    }

    pid_t pid_;
    int stdin_;
    int stdout_;
    int stderr_;
    bool reaped_ = false;
    int status_ = -1;
    std::string outText_;
    std::string errText_;
    std::string partial_;
    std::vector<std::string> lines_;
    std::vector<bool> taken_; // returned by waitForLine
};

// Runs a program to its end (killed at the deadline).
inline RunResult run(const std::vector<std::string>& argv,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::string error;
    auto process = Process::spawn(argv, &error);
    if (!process) {
        RunResult failed;
        failed.err = error;
        return failed;
    }
    return process->finish(Clock::now() + timeout);
}

// Peak resident memory of a running program, in KiB (0 when unknown).
inline long peakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// The running program's own path, for programs that start themselves inside
// a namespace in another role.
inline std::string selfPath() {
    char path[4096];
    const auto n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// ---------------------------------------------------------------------------
// The ip tool and whether namespaces can be used here.

inline const std::string& ipTool() {
    static const std::string path = [] {
        for (const char* candidate : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
            if (::access(candidate, X_OK) == 0)
                return std::string(candidate);
        return std::string();
    }();
    return path;
}

inline RunResult ip(std::vector<std::string> args) {
    args.insert(args.begin(), ipTool());
    return run(args);
}

// Why the end-to-end runs cannot work on this machine; nullopt when they can.
inline std::optional<std::string> unavailableReason() {
    static const std::optional<std::string> reason = []() -> std::optional<std::string> {
        if (::geteuid() != 0)
            return "needs root: it creates network namespaces and a veth pair and opens raw "
                   "sockets (run the netns tests as root, as CI does)";
        if (ipTool().empty())
            return "the ip tool (iproute2) is not installed";
        const std::string probe = "kvt-" + std::to_string(::getpid()) + "-probe";
        const RunResult added = ip({"netns", "add", probe});
        if (added.status != 0)
            return "ip netns is not usable here: " + added.err;
        ip({"netns", "del", probe});
        return std::nullopt;
    }();
    return reason;
}

// ---------------------------------------------------------------------------
// Namespaces that must go away even when the process is interrupted.

namespace detail {

inline constexpr std::size_t kMaxRegistered = 16;
inline constexpr std::size_t kNameBytes = 64;

struct Registry {
    char ipPath[256] = {};
    char names[kMaxRegistered][kNameBytes] = {};
    std::atomic<bool> used[kMaxRegistered] = {};
};

inline Registry& registry() {
    static Registry r;
    return r;
}

// Runs in a signal handler: fork, exec and waitpid only.
inline void deleteRegisteredNamespaces() {
    Registry& r = registry();
    for (std::size_t i = 0; i < kMaxRegistered; ++i) {
        if (!r.used[i].load())
            continue;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(r.ipPath, "ip", "netns", "del", r.names[i], static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid > 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
}

extern "C" inline void onFatalSignal(int signal) {
    deleteRegisteredNamespaces();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

inline void installSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::snprintf(registry().ipPath, sizeof registry().ipPath, "%s", ipTool().c_str());
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction action {};
            action.sa_handler = onFatalSignal;
            sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

inline int registerNamespace(const std::string& name) {
    Registry& r = registry();
    for (std::size_t i = 0; i < kMaxRegistered; ++i) {
        if (r.used[i].load())
            continue;
        std::snprintf(r.names[i], kNameBytes, "%s", name.c_str());
        r.used[i].store(true);
        return static_cast<int>(i);
    }
    return -1;
}

inline void unregisterNamespace(int slot) {
    if (slot >= 0)
        registry().used[static_cast<std::size_t>(slot)].store(false);
}

// Namespaces named kvt-<pid>-... whose process no longer exists were left by
// a run that was killed outright; they are ours to remove.
inline void sweepStaleNamespaces() {
    static std::once_flag once;
    std::call_once(once, [] {
        const RunResult list = ip({"netns", "list"});
        std::size_t start = 0;
        while (start < list.out.size()) {
            std::size_t end = list.out.find('\n', start);
            if (end == std::string::npos)
                end = list.out.size();
            const std::string line = list.out.substr(start, end - start);
            start = end + 1;
            const std::string name = line.substr(0, line.find(' '));
            if (!name.starts_with("kvt-"))
                continue;
            char* after = nullptr;
            const long pid = std::strtol(name.c_str() + 4, &after, 10);
            if (pid <= 0 || after == nullptr || *after != '-')
                continue;
            if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                ip({"netns", "del", name});
        }
    });
}

} // namespace detail

// ---------------------------------------------------------------------------
// Two namespaces joined by a veth pair.

struct VethEnd {
    std::string ns;        // namespace name
    std::string interface; // the veth end inside it
    MacAddress mac;
};

class VethPair {
  public:
    // Null with `error` set when the pair could not be set up (what was made
    // is removed again).
    static std::unique_ptr<VethPair> create(std::string* error = nullptr) {
        if (const auto reason = unavailableReason()) {
            if (error)
                *error = *reason;
            return nullptr;
        }
        detail::installSignalCleanup();
        detail::sweepStaleNamespaces();
        static std::atomic<int> counter{0};
        const int n = counter.fetch_add(1);
        const std::string pid = std::to_string(::getpid());
        std::unique_ptr<VethPair> pair(new VethPair);
        const auto octet = static_cast<std::uint8_t>(n & 0xFF);
        // Interface names have at most 15 characters: "kv" + pid + "n" + n + side.
        pair->a_ = {"kvt-" + pid + "-" + std::to_string(n) + "-a",
                    "kv" + pid + "n" + std::to_string(n % 1000) + "a",
                    MacAddress{{0x02, 0x6B, 0x76, 0x00, octet, 0x0A}}};
        pair->b_ = {"kvt-" + pid + "-" + std::to_string(n) + "-b",
                    "kv" + pid + "n" + std::to_string(n % 1000) + "b",
                    MacAddress{{0x02, 0x6B, 0x76, 0x00, octet, 0x0B}}};
        if (!pair->setUp(error))
            return nullptr; // the destructor removed what was made
        return pair;
    }

    ~VethPair() {
        for (const VethEnd* end : {&a_, &b_})
            removeNamespace(*end);
        for (int slot : slots_)
            detail::unregisterNamespace(slot);
    }
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    const VethEnd& a() const { return a_; }
    const VethEnd& b() const { return b_; }

    // Starts a program inside the end's namespace.
    static std::unique_ptr<Process> spawnIn(const VethEnd& end, std::vector<std::string> argv,
                                            std::string* error = nullptr) {
        argv.insert(argv.begin(), {ipTool(), "netns", "exec", end.ns});
        return Process::spawn(argv, error);
    }
    static RunResult runIn(const VethEnd& end, std::vector<std::string> argv,
                           std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        argv.insert(argv.begin(), {ipTool(), "netns", "exec", end.ns});
        return run(argv, timeout);
    }

    // Takes an end's interface down or up, as a network manager or a
    // suspend does.
    bool setLink(const VethEnd& end, bool up) {
        return ip({"-n", end.ns, "link", "set", end.interface, up ? "up" : "down"}).status == 0;
    }
    // Adds `count` more veth pairs to `end`'s namespace, all up: both ends
    // there, or the peers in `peers`'s namespace. These are the many
    // adapters of a host with containers, bridges and virtual machines; they
    // go with the namespaces.
    bool addExtraPairs(const VethEnd& end, int count, const VethEnd* peers = nullptr,
                       std::string* error = nullptr) {
        static std::atomic<int> counter{0};
        const std::string pid = std::to_string(::getpid());
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(counter.fetch_add(1) % 1000);
            const std::string a = "kx" + pid + "e" + n + "a";
            const std::string b = "kx" + pid + "e" + n + "b";
            const std::string& peerNs = peers ? peers->ns : end.ns;
            if (!step(ip({"-n", end.ns, "link", "add", a, "type", "veth", "peer", "name", b,
                          "netns", peerNs}),
                      "ip link add " + a, error) ||
                !step(ip({"-n", end.ns, "link", "set", a, "up"}), "ip link set " + a + " up",
                      error) ||
                !step(ip({"-n", peerNs, "link", "set", b, "up"}), "ip link set " + b + " up",
                      error))
                return false;
        }
        return true;
    }

    // Deletes the pair (both ends go) and makes it again with the same names
    // and addresses, as an adapter unplugged and plugged in again.
    bool recreate(std::string* error = nullptr) {
        ip({"-n", a_.ns, "link", "del", a_.interface});
        return addLink(error);
    }

  private:
    VethPair() = default;

    bool step(const RunResult& result, const std::string& what, std::string* error) {
        if (result.status == 0)
            return true;
        if (error)
            *error = what + " failed (status " + std::to_string(result.status) + "): " + result.err;
        return false;
    }

    bool setUp(std::string* error) {
        for (const VethEnd* end : {&a_, &b_}) {
            if (!step(ip({"netns", "add", end->ns}), "ip netns add " + end->ns, error))
                return false;
            slots_.push_back(detail::registerNamespace(end->ns));
            made_.push_back(end->ns);
            // Interfaces made afterwards inherit "default": no IPv6, hence no
            // router solicitations or duplicate-address probes on the pair.
            runIn(*end, {"sysctl", "-q", "-e", "-w", "net.ipv6.conf.all.disable_ipv6=1",
                         "net.ipv6.conf.default.disable_ipv6=1"});
        }
        return addLink(error);
    }

    bool addLink(std::string* error) {
        if (!step(ip({"-n", a_.ns, "link", "add", a_.interface, "address", a_.mac.toString(':'),
                      "type", "veth", "peer", "name", b_.interface, "netns", b_.ns, "address",
                      b_.mac.toString(':')}),
                  "ip link add (veth)", error))
            return false;
        for (const VethEnd* end : {&a_, &b_}) {
            runIn(*end, {"sysctl", "-q", "-e", "-w",
                         "net.ipv6.conf." + end->interface + ".disable_ipv6=1"});
            if (!step(ip({"-n", end->ns, "link", "set", "lo", "up"}), "ip link set lo up", error) ||
                !step(ip({"-n", end->ns, "link", "set", end->interface, "up"}),
                      "ip link set " + end->interface + " up", error))
                return false;
        }
        return true;
    }

    void removeNamespace(const VethEnd& end) {
        if (std::find(made_.begin(), made_.end(), end.ns) == made_.end())
            return;
        // Whatever still runs in the namespace was started by this harness.
        const RunResult pids = ip({"netns", "pids", end.ns});
        for (std::size_t pos = 0; pos < pids.out.size();) {
            char* after = nullptr;
            const long pid = std::strtol(pids.out.c_str() + pos, &after, 10);
            if (after == pids.out.c_str() + pos)
                break;
            if (pid > 1 && pid != ::getpid())
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            pos = static_cast<std::size_t>(after - pids.out.c_str());
        }
        // Deleting the last namespace reference also deletes the veth end.
        ip({"netns", "del", end.ns});
    }

    VethEnd a_;
    VethEnd b_;
    std::vector<std::string> made_;
    std::vector<int> slots_;
};

// ---------------------------------------------------------------------------
// Frames the link tests and benchmarks put on the pair.

inline constexpr std::size_t kMinimumFrame = 60;   // Ethernet minimum without the FCS
inline constexpr std::size_t kSequenceOffset = 40; // where the protocol's data begins
inline constexpr std::uint16_t kVlanTag = 0x8100;

// The protocol head (version 1, `code`) under `etherType`, a big-endian
// sequence number as its data and zero padding up to `length`. With `vlan`
// the same frame carries an 802.1Q tag (VLAN 5) in front of the EtherType.
inline std::vector<std::uint8_t> buildTestFrame(const MacAddress& to, const MacAddress& from,
                                                std::uint16_t etherType, std::uint16_t code,
                                                std::uint32_t sequence,
                                                std::size_t length = kMinimumFrame,
                                                bool vlan = false) {
    const std::size_t shift = vlan ? 4 : 0;
    std::vector<std::uint8_t> frame(std::max(length, kSequenceOffset + 4 + shift), 0);
    std::copy(to.bytes.begin(), to.bytes.end(), frame.begin());
    std::copy(from.bytes.begin(), from.bytes.end(), frame.begin() + 6);
    if (vlan) {
        writeU16(frame, 12, kVlanTag);
        writeU16(frame, 14, 5);
    }
    writeU16(frame, 12 + shift, etherType);
    writeU16(frame, 14 + shift, 1); // version
    writeU16(frame, 16 + shift, code);
    writeU16(frame, 38 + shift, 4); // data length
    writeU32(frame, kSequenceOffset + shift, sequence);
    return frame;
}

} // namespace korvane::netns

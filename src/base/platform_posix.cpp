// The POSIX bodies of the platform functions (Linux first).

#include "base/platform.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

extern char** environ;

namespace korvane::platform {

namespace {

// The terminal settings from before a secret prompt turned echo off.
std::mutex terminalLock;
std::optional<termios> echoingTerminal;

sigset_t interruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Blocks SIGINT and SIGTERM in this thread and in every thread it starts
// from now on, so that only sigwait() takes them.
const sigset_t& blockedInterrupts() {
    static const sigset_t signals = [] {
        const sigset_t s = interruptSignals();
        pthread_sigmask(SIG_BLOCK, &s, nullptr);
        return s;
    }();
    return signals;
}

} // namespace

void PrepareConsole() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

std::string OwnProgramPath() {
    std::array<char, 4096> path{};
    const auto n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return n > 0 ? std::string(path.data(), static_cast<std::size_t>(n)) : std::string("<program>");
}

MemoryFigures ProcessMemory() {
    MemoryFigures figures;
    std::ifstream status("/proc/self/status"); // Linux; elsewhere nothing is read
    std::string line;
    while (std::getline(status, line)) {
        const auto value = [&line] { return std::atol(line.c_str() + line.find(':') + 1); };
        if (line.rfind("VmRSS:", 0) == 0)
            figures.residentKib = value();
        else if (line.rfind("VmHWM:", 0) == 0)
            figures.peakKib = value();
    }
    return figures;
}

std::tm LocalTime(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

bool IsTerminal(int standardStream) {
    return ::isatty(standardStream) != 0;
}

ConsoleEchoOff::ConsoleEchoOff(bool active) {
    termios saved{};
    if (!active || !::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    std::lock_guard lock(terminalLock);
    on_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    if (on_)
        echoingTerminal = saved;
}

ConsoleEchoOff::~ConsoleEchoOff() {
    if (!on_)
        return;
    std::lock_guard lock(terminalLock);
    if (echoingTerminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &*echoingTerminal);
    echoingTerminal.reset();
}

void RestoreConsoleEcho() {
    std::lock_guard lock(terminalLock);
    if (echoingTerminal)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &*echoingTerminal);
    echoingTerminal.reset();
}

void WatchInterrupts(std::function<bool()> onInterrupt) {
    const sigset_t& signals = blockedInterrupts();
    std::thread([onInterrupt = std::move(onInterrupt), &signals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0)
                return;
            if (onInterrupt())
                continue;
            std::signal(signal, SIG_DFL);
            pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
            std::raise(signal);
            return;
        }
    }).detach();
}

InterruptPause::InterruptPause() {
    blockedInterrupts();
}

bool InterruptPause::wait(std::chrono::nanoseconds wait) {
    const sigset_t& signals = blockedInterrupts();
    timespec span{};
    span.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
    span.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
    return sigtimedwait(&signals, nullptr, &span) > 0;
}

UrlOpen OpenUrlOnDesktop(const std::string& url) {
    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return UrlOpen::NoOpener;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return UrlOpen::Failed;
    // xdg-open ends with 3 when it finds no tool to open the URL with.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        return UrlOpen::NoOpener;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? UrlOpen::Opened : UrlOpen::Failed;
}

const char* UrlOpenerName() {
    return "xdg-open";
}

int OpenPrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return fd;
    // An existing file keeps its mode through O_TRUNC; narrow a regular file
    // that others could read (not a pipe or a device given as the path).
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0077) != 0 &&
        ::fchmod(fd, st.st_mode & 0700) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const void* bytes, std::size_t size) {
    const auto* at = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, at + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void CloseFile(int fd) {
    ::close(fd);
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnvironment(const std::string& name) {
    ::unsetenv(name.c_str());
}

} // namespace korvane::platform

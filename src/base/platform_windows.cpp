// The Windows bodies of the platform functions. Text crosses into the
// system through the wide (UTF-16) functions, converted from and to UTF-8.

#include "base/platform.hpp"
#include "base/windows_text.hpp"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace korvane::platform {

namespace {

std::mutex consoleLock;
bool echoOff = false;     // a ConsoleEchoOff is in force
DWORD echoingConsole = 0; // the input mode from before it

std::mutex interruptLock;
std::function<bool()> interruptHandler;
HANDLE interruptEvent = nullptr; // set by an interrupt that InterruptPause takes

BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    std::function<bool()> handler;
    HANDLE pause = nullptr;
    {
        std::lock_guard lock(interruptLock);
        handler = interruptHandler;
        pause = interruptEvent;
    }
    if (pause != nullptr) {
        ::SetEvent(pause);
        return TRUE;
    }
    // The system calls this on a thread of its own; FALSE lets the next
    // handler, the default one, end the process.
    return handler && handler() ? TRUE : FALSE;
}

void installConsoleHandler() {
    static std::once_flag once;
    std::call_once(once, [] { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); });
}

} // namespace

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>{};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(FromWide(wide[i]));
    ::LocalFree(wide);
    return args;
}

std::string OwnProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return "<program>";
        if (n < path.size())
            return FromWide(std::wstring(path.data(), n));
        if (path.size() >= 32768)
            return "<program>";
        path.resize(path.size() * 2);
    }
}

MemoryFigures ProcessMemory() {
    MemoryFigures figures;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) {
        figures.residentKib = static_cast<long>(counters.WorkingSetSize / 1024);
        figures.peakKib = static_cast<long>(counters.PeakWorkingSetSize / 1024);
    }
    return figures;
}

std::tm LocalTime(std::time_t seconds) {
    std::tm local{};
    localtime_s(&local, &seconds);
    return local;
}

bool IsTerminal(int standardStream) {
    return ::_isatty(standardStream) != 0;
}

ConsoleEchoOff::ConsoleEchoOff(bool active) {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!active || input == INVALID_HANDLE_VALUE || !::GetConsoleMode(input, &mode))
        return;
    std::lock_guard lock(consoleLock);
    on_ = ::SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    echoOff = on_;
    echoingConsole = mode;
}

ConsoleEchoOff::~ConsoleEchoOff() {
    if (!on_)
        return;
    std::lock_guard lock(consoleLock);
    if (echoOff)
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), echoingConsole);
    echoOff = false;
    // The Enter that ended the secret was not echoed either.
    std::fputs("\n", stderr);
}

void RestoreConsoleEcho() {
    std::lock_guard lock(consoleLock);
    if (echoOff)
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), echoingConsole);
    echoOff = false;
}

void WatchInterrupts(std::function<bool()> onInterrupt) {
    {
        std::lock_guard lock(interruptLock);
        interruptHandler = std::move(onInterrupt);
    }
    installConsoleHandler();
}

InterruptPause::InterruptPause() {
    {
        std::lock_guard lock(interruptLock);
        if (interruptEvent == nullptr)
            interruptEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    installConsoleHandler();
}

bool InterruptPause::wait(std::chrono::nanoseconds wait) {
    HANDLE event = nullptr;
    {
        std::lock_guard lock(interruptLock);
        event = interruptEvent;
    }
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    if (event == nullptr) {
        ::Sleep(static_cast<DWORD>(millis));
        return false;
    }
    return ::WaitForSingleObject(event, static_cast<DWORD>(millis)) == WAIT_OBJECT_0;
}

UrlOpen OpenUrlOnDesktop(const std::string& url) {
    const std::wstring wide = ToWide(url);
    // Values above 32 mean success; the others are the old error codes.
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32)
        return UrlOpen::Opened;
    if (result == SE_ERR_NOASSOC || result == SE_ERR_ASSOCINCOMPLETE)
        return UrlOpen::NoOpener;
    return UrlOpen::Failed;
}

const char* UrlOpenerName() {
    return "the Windows shell";
}

int OpenPrivateFile(const std::string& path) {
    // The file gets the folder's access list: a user's own folders are his.
    return ::_wopen(ToWide(path).c_str(),
                    _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}

bool WriteAll(int fd, const void* bytes, std::size_t size) {
    const auto* at = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min<std::size_t>(size - done, 1u << 30);
        const int n = ::_write(fd, at + done, static_cast<unsigned>(chunk));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void CloseFile(int fd) {
    ::_close(fd);
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::_wputenv_s(ToWide(name).c_str(), ToWide(value).c_str());
}

void UnsetEnvironment(const std::string& name) {
    ::_wputenv_s(ToWide(name).c_str(), L""); // an empty value removes the variable
}

} // namespace korvane::platform

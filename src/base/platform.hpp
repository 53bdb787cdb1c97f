#pragma once

// What differs between the systems the programs run on (Linux and the other
// POSIX systems, Windows), each behind one small function with one body per
// system: platform_posix.cpp and platform_windows.cpp. Text is UTF-8 on both.

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace korvane::platform {

// Sets the console up for UTF-8 text in and out (Windows); nothing elsewhere.
// Called first thing in main().
void PrepareConsole();

// The program's arguments after its name, in UTF-8 (on Windows from the
// wide command line, whatever the code page).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The full path of the running program, or "<program>" when the system does
// not say.
std::string OwnProgramPath();

// This process's resident memory and its peak, in KiB; 0 where unknown.
struct MemoryFigures {
    long residentKib = 0;
    long peakKib = 0;
};
MemoryFigures ProcessMemory();

// The broken-down local time of `seconds`.
std::tm LocalTime(std::time_t seconds);

// Whether standard input (0), output (1) or error (2) is a terminal.
bool IsTerminal(int standardStream);

// Turns echo off on the terminal of standard input while a secret is typed,
// and restores it on every exit. Inactive when `active` is false or the input
// is no terminal.
class ConsoleEchoOff {
  public:
    explicit ConsoleEchoOff(bool active);
    ~ConsoleEchoOff();
    ConsoleEchoOff(const ConsoleEchoOff&) = delete;
    ConsoleEchoOff& operator=(const ConsoleEchoOff&) = delete;

  private:
    bool on_ = false;
};

// Puts back the echo that a ConsoleEchoOff took away, from another thread:
// an interrupt that ends the program at a secret prompt must not leave the
// terminal silent.
void RestoreConsoleEcho();

// Calls `onInterrupt` on a thread of its own for each Ctrl-C or request to
// terminate (SIGINT and SIGTERM; on Windows Ctrl-C, Ctrl-Break and closing
// the console). When it returns false, the program ends as the interrupt
// would have ended it. Call once, early in main(), before other threads start.
void WatchInterrupts(std::function<bool()> onInterrupt);

// Interrupts taken as a main loop's pause instead of ending the program.
// Make one early in main(), before other threads start.
class InterruptPause {
  public:
    InterruptPause();
    // True when an interrupt came within `wait`.
    bool wait(std::chrono::nanoseconds wait);
};

// How handing a URL to the desktop's opener went.
enum class UrlOpen { Opened, Failed, NoOpener };

// Opens `url` with the desktop's handler for it (xdg-open; ShellExecute on
// Windows), never through a shell, and waits for the handler to say how it
// went where it says.
UrlOpen OpenUrlOnDesktop(const std::string& url);
// What OpenUrlOnDesktop hands the URL to, for messages: "xdg-open".
const char* UrlOpenerName();

// A file descriptor of `path` created or emptied for writing, readable by
// the owner alone where the file system has modes (an existing regular file
// that others could read is narrowed); -1 with errno set on failure.
int OpenPrivateFile(const std::string& path);
// Writes all of `bytes`; false with errno set on failure.
bool WriteAll(int fd, const void* bytes, std::size_t size);
void CloseFile(int fd);

// Sets or removes a variable of the process's environment (tests).
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

} // namespace korvane::platform

#pragma once

// The command line front end, callable in process (tests) with its streams.
//
// Part of the command line: uses app, devices, config and firmware; docs/architecture.md shows
// which layer may use which.

#include "base/sync.hpp"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace korvane {
class Environment;
}

namespace korvane::cli {

// An interrupt (SIGINT, SIGTERM) that a long-running command ends cleanly on.
// While `claimed` is set, the program's signal handling requests `stop`
// instead of ending the process. A command that writes to several devices
// takes the interrupts itself instead, through a handler: the first asks it
// to stop gently, the second to abort; a third ends the process.
struct Interrupt {
    StopToken stop;
    std::atomic<bool> claimed{false};

    using Handler = std::function<void(int count)>; // count: 1 for the first interrupt
    void setHandler(Handler handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
        count_ = 0;
    }
    void clearHandler() { setHandler({}); }
    // Called for each interrupt (on the signal thread, or by a test); false
    // when no handler takes it.
    bool deliver() {
        std::lock_guard lock(mutex_);
        if (!handler_ || count_ >= kHandledInterrupts)
            return false;
        handler_(++count_);
        return true;
    }

  private:
    static constexpr int kHandledInterrupts = 2;
    std::mutex mutex_;
    Handler handler_;
    int count_ = 0;
};

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool interactive = false;       // a person at a terminal can answer prompts
    Interrupt* interrupt = nullptr; // null: nothing asks the command to end
    bool outputIsTerminal = false;  // plain lists get a header line for a person
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1; // the operation failed (no reply, refused...)
inline constexpr int kExitUsage = 2;   // wrong arguments; nothing was sent
// Nothing could be searched: no adapter, none could be opened, or an adapter
// named with --interface does not exist.
inline constexpr int kExitNoAdapter = 3;
// Interrupted (Ctrl-C or SIGTERM) before the work was done, as shells count it.
inline constexpr int kExitInterrupted = 130;

// args excludes the program name. Returns the process exit status. The
// environment (simulated LAN or real adapters) comes from the global options.
int Run(const std::vector<std::string>& args, Streams streams);

// The same on an environment the caller made (tests: a scripted segment and a
// shortened timing table); --simulate and --interface are then accepted and
// ignored, and --capture and --verbose are refused.
int RunIn(Environment& env, const std::vector<std::string>& args, Streams streams);

} // namespace korvane::cli

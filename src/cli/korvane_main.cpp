#include "cli/cli.hpp"
#include "cli/cli_operator.hpp"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <thread>

namespace {

// SIGINT and SIGTERM are taken by one thread of their own (they are blocked
// in every other thread, which all start after this). A command that has
// claimed the interrupt ends cleanly on it; any other ends as it always did.
void watchSignals(korvane::cli::Interrupt& interrupt, const sigset_t& signals) {
    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0)
            return;
        if (interrupt.deliver()) // a command that takes it in steps (stop, then abort)
            continue;
        if (interrupt.claimed.load()) {
            interrupt.claimed.store(false); // a second one ends the process
            interrupt.stop.requestStop();
            continue;
        }
        // Ctrl-C at a password prompt must not leave the terminal silent.
        korvane::cli::RestoreTerminalEcho();
        std::signal(signal, SIG_DFL);
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        std::raise(signal);
        return;
    }
}

} // namespace

int main(int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    static korvane::cli::Interrupt interrupt;
    std::thread(watchSignals, std::ref(interrupt), signals).detach();

    std::vector<std::string> args(argv + 1, argv + argc);
    korvane::cli::Streams streams{
        std::cin, std::cout, std::cerr, ::isatty(0) && ::isatty(2), &interrupt, ::isatty(1) != 0};
    return korvane::cli::Run(args, streams);
}

#include "base/platform.hpp"
#include "cli/cli.hpp"

#include <iostream>

int main(int argc, char** argv) {
    korvane::platform::PrepareConsole();
    // Interrupts are taken on a thread of their own. A command that has
    // claimed the interrupt ends cleanly on it; any other ends as it always did.
    static korvane::cli::Interrupt interrupt;
    korvane::platform::WatchInterrupts([] {
        if (interrupt.deliver()) // a command that takes it in steps (stop, then abort)
            return true;
        if (interrupt.claimed.load()) {
            interrupt.claimed.store(false); // a second one ends the process
            interrupt.stop.requestStop();
            return true;
        }
        // Ctrl-C at a password prompt must not leave the terminal silent.
        korvane::platform::RestoreConsoleEcho();
        return false;
    });

    using korvane::platform::IsTerminal;
    korvane::cli::Streams streams{
        std::cin, std::cout, std::cerr, IsTerminal(0) && IsTerminal(2), &interrupt, IsTerminal(1)};
    return korvane::cli::Run(korvane::platform::ProgramArguments(argc, argv), streams);
}

#include "relay/raw_access.hpp"

#include "link/adapter_link.hpp"
#include "relay/relay_driver.hpp"

#include <linux/if_ether.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace korvane {

bool CanOpenRawSocket() {
    // Protocol 0 receives nothing: the socket is only a question to the kernel.
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool RelayBuilt() {
    return true;
}

std::string RelayProgram() {
    if (const char* given = std::getenv("KORVANE_RELAY_PROGRAM"); given != nullptr && *given)
        return given;
    const std::filesystem::path folder = std::filesystem::path(ProgramPath()).parent_path();
    const auto installed = (folder / KORVANE_RELAY_FROM_BINDIR).lexically_normal();
    for (const auto& candidate :
         {installed, folder / "korvane-relay", folder.parent_path() / "korvane-relay"}) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec))
            return candidate.string();
    }
    return installed.string(); // named by the message that says it cannot be started
}

std::unique_ptr<PacketDriver> MakeRelayDriver(const std::string& program, Micros answerWait) {
    return std::make_unique<RelayDriver>(program, answerWait);
}

} // namespace korvane

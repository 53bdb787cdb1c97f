// korvane-relay: the one program of the package that holds cap_net_raw. It
// opens adapters for korvane and korvane-utility, which start it and talk to
// it over a socketpair on fd 3, and passes only this protocol's frames and
// the address probe's ARP frames (relay_server.hpp). It links no library
// that loads plugins, keeps nothing of its environment, gives up every
// capability but cap_net_raw, writes no file, and ends with its parent.

#include "link/pcap_driver.hpp"
#include "relay/relay_server.hpp"

#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kControlFd = 3;

// Everything but cap_net_raw goes, from every set; cap_net_raw stays only
// if the file gave it.
bool keepOnlyNetRaw() {
    cap_t current = cap_get_proc();
    cap_flag_value_t permitted = CAP_CLEAR;
    if (current != nullptr)
        cap_get_flag(current, CAP_NET_RAW, CAP_PERMITTED, &permitted);
    cap_free(current);
    cap_t wanted = cap_init();
    if (wanted == nullptr)
        return false;
    if (permitted == CAP_SET) {
        const cap_value_t netRaw[] = {CAP_NET_RAW};
        cap_set_flag(wanted, CAP_PERMITTED, 1, netRaw, CAP_SET);
        cap_set_flag(wanted, CAP_EFFECTIVE, 1, netRaw, CAP_SET);
    }
    const bool ok = cap_set_proc(wanted) == 0;
    cap_free(wanted);
    cap_reset_ambient();
    return ok;
}

void limit(int resource, rlim_t value) {
    const rlimit bound{value, value};
    ::setrlimit(resource, &bound);
}

int usage() {
    std::fputs("korvane-relay: started by korvane and korvane-utility, which speak to it on fd 3; "
               "it is not run by hand\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    ::clearenv();
    // The parent-death signal does not survive the exec of a program with
    // file capabilities, so the relay asks for it itself, then checks that
    // the parent it was told of did not end before that.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 3 || std::strcmp(argv[1], "--parent") != 0)
        return usage();
    char* end = nullptr;
    const long parent = std::strtol(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || parent <= 1)
        return usage();
    if (::getppid() != static_cast<pid_t>(parent))
        return 1;

    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !keepOnlyNetRaw()) {
        std::fprintf(stderr, "korvane-relay: cannot give up privileges: %s\n",
                     std::strerror(errno));
        return 1;
    }
    // No core file, no file written at all; a write to a redirected stderr
    // fails instead of killing the relay.
    limit(RLIMIT_CORE, 0);
    limit(RLIMIT_FSIZE, 0);
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Only what the client handed over on purpose stays open.
    ::syscall(SYS_close_range, kControlFd + 1, ~0U, 0);

    struct stat control {};
    if (::fstat(kControlFd, &control) != 0 || !S_ISSOCK(control.st_mode))
        return usage();

    korvane::PcapDriver driver;
    korvane::relay::RelayServer server(driver, kControlFd);
    return server.run();
}

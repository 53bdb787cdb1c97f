// A library of "a local user's own": a Qt generic plugin that, as soon as it
// is loaded (into korvane-utility by QT_PLUGIN_PATH and
// QT_QPA_GENERIC_PLUGINS, or into any program by LD_PRELOAD), tries to open
// a raw packet socket for every EtherType, and writes what happened to the
// file named by KORVANE_PROBE_REPORT. The package check runs it as an
// unprivileged user: the socket must be refused in every installed program.

#include <QGenericPlugin>

#include <fcntl.h>
#include <linux/if_ether.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <errno.h>
#include <string>

namespace {

__attribute__((constructor)) void probeRawSocket() {
    const char* report = std::getenv("KORVANE_PROBE_REPORT");
    if (report == nullptr || *report == '\0')
        return;
    const int fd = ::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
    // Named by the program it runs in: a preload also reaches the programs
    // that start korvane (timeout, env).
    const std::string line =
        std::string(program_invocation_short_name) +
        (fd >= 0 ? std::string(": raw socket OPEN\n")
                 : ": raw socket refused: " + std::string(std::strerror(errno)) + "\n");
    if (fd >= 0)
        ::close(fd);
    const int out = ::open(report, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0)
        return;
    [[maybe_unused]] const auto n = ::write(out, line.data(), line.size());
    ::close(out);
}

} // namespace

class RawProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "raw_probe.json")
  public:
    QObject* create(const QString&, const QString&) override { return nullptr; }
};

#include "raw_probe_plugin.moc"

#include "link/pcap_driver.hpp"

#include "link/adapter_link.hpp"

#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace korvane {

namespace {

std::string readSysfs(const std::string& name, const char* leaf) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return {};
    std::ifstream in("/sys/class/net/" + name + "/" + leaf);
    std::string value;
    std::getline(in, value);
    return value;
}

// Why an interface cannot carry frames now (empty when it can): down, or up
// without a link (no cable, no peer). Such an adapter is skipped with this
// reason rather than searched in vain, and an operation waiting for it to
// come back keeps trying.
std::string linkProblem(const std::string& name) {
    const std::string flags = readSysfs(name, "flags");
    if (!flags.empty() && (std::strtoul(flags.c_str(), nullptr, 0) & 0x1) == 0) // IFF_UP
        return "the adapter is down";
    if (readSysfs(name, "carrier") == "0")
        return "no link (no cable or peer)";
    return {};
}

// The MAC address of a named interface, from sysfs.
std::optional<MacAddress> interfaceMac(const std::string& name) {
    return MacAddress::parse(readSysfs(name, "address"));
}

// Whether the interface is an Ethernet one (ARPHRD_ETHER), from sysfs.
bool isEthernet(const std::string& name) {
    return readSysfs(name, "type") == "1";
}

static_assert(PcapDriver::kSnapLength == kMaxLinkFrame + 1);

class PcapPort : public PacketPort {
  public:
    PcapPort(pcap_t* handle, MacAddress mac, int wakeFd, std::vector<BpfInstruction> filter)
        : handle_(handle), mac_(mac), wakeFd_(wakeFd), filter_(std::move(filter)) {}
    ~PcapPort() override {
        stop();
        pcap_close(handle_);
        ::close(wakeFd_);
    }

    MacAddress mac() const override { return mac_; }

    bool send(std::span<const std::uint8_t> frame) override {
        // pcap_inject writes on the packet socket; concurrent writers are fine.
        if (pcap_inject(handle_, frame.data(), frame.size()) == static_cast<int>(frame.size()))
            return true;
        std::lock_guard lock(errorMutex_);
        sendError_ = pcap_geterr(handle_);
        return false;
    }

    std::string lastError() const override {
        std::lock_guard lock(errorMutex_);
        return sendError_;
    }

    void start(Receiver receiver, EndHandler ended) override {
        std::lock_guard lock(mutex_);
        if (thread_.joinable())
            return;
        receiver_ = std::move(receiver);
        ended_ = std::move(ended);
        running_.store(true);
        thread_ = std::thread([this] { run(); });
    }

    void stop() override {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable())
            return;
        running_.store(false);
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }

    bool setBatchEnd(std::function<void()> batchEnd) override {
        batchEnd_ = std::move(batchEnd);
        return true;
    }

    std::uint64_t droppedByBackend() const override {
        // libpcap adds the kernel's counts (which reset on reading) into the
        // handle, so two readers at once must not interleave.
        std::lock_guard lock(statsMutex_);
        pcap_stat stats{};
        if (pcap_stats(handle_, &stats) != 0)
            return 0;
        return stats.ps_drop;
    }

  private:
    static void onPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
        auto* self = reinterpret_cast<PcapPort*>(user);
        std::span<const std::uint8_t> frame(bytes, header->caplen);
        // The kernel runs the filter on the frame with its 802.1Q tag already
        // taken out, and libpcap puts the tag back before handing it over: a
        // tagged frame whose inner EtherType is ours passes the kernel filter
        // yet arrives here with 0x8100 at offset 12. Running the same program
        // on the bytes as delivered keeps the filter's promise.
        if (!self->filter_.empty()) {
            const std::uint32_t accepted = runBpf(self->filter_, frame);
            if (accepted == 0)
                return;
            frame = frame.first(std::min<std::size_t>(accepted, frame.size()));
        }
        self->receiver_(frame);
    }

    // Non-blocking reads driven by poll(): in immediate mode a blocking read
    // would never return while nothing arrives, and the eventfd lets stop()
    // end the wait at once.
    void run() {
        const std::string reason = receiveUntilEnd();
        // An end that stop() asked for is no news; any other is the adapter
        // going away under us (down, unplugged, deleted), and the owner must
        // hear of it, or it would wait on a socket that never delivers again.
        if (running_.load() && ended_)
            ended_(reason);
    }

    // Returns why receiving ended; empty when stop() ended it.
    std::string receiveUntilEnd() {
        pollfd fds[2] = {{pcap_get_selectable_fd(handle_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        while (running_.load()) {
            const int ready = ::poll(fds, 2, kPollWake);
            if (ready < 0 && errno != EINTR)
                return std::string("poll: ") + std::strerror(errno);
            if (!running_.load())
                return {};
            if (ready <= 0)
                continue;
            const bool failed = (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
            if ((fds[0].revents & POLLIN) || failed) {
                // On an error, libpcap's own read takes the socket's pending
                // error and words it ("The interface went down").
                while (running_.load()) {
                    const int n =
                        pcap_dispatch(handle_, -1, onPacket, reinterpret_cast<u_char*>(this));
                    if (n == PCAP_ERROR || n == PCAP_ERROR_IFACE_NOT_UP)
                        return pcap_geterr(handle_);
                    if (n <= 0)
                        break;
                }
                if (batchEnd_)
                    batchEnd_();
            }
            if (failed)
                return socketError(fds[0]);
        }
        return {};
    }

    // The error behind a poll() that reported one, when libpcap did not read it.
    static std::string socketError(const pollfd& fd) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0)
            return std::strerror(error);
        if (fd.revents & POLLNVAL)
            return "the capture socket was closed";
        if (fd.revents & POLLHUP)
            return "the adapter hung up";
        return "the adapter reported an error";
    }

    // The longest the receive thread sleeps in poll() without news; stop()
    // wakes it at once through the eventfd.
    static constexpr int kPollWake = 1000;

    pcap_t* handle_;
    MacAddress mac_;
    int wakeFd_;
    const std::vector<BpfInstruction> filter_;
    std::mutex mutex_;
    mutable std::mutex statsMutex_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    Receiver receiver_;
    EndHandler ended_;
    std::function<void()> batchEnd_;
    mutable std::mutex errorMutex_;
    std::string sendError_;
};

OpenFailure classify(int status) {
    switch (status) {
    case PCAP_ERROR_PERM_DENIED:
#ifdef PCAP_ERROR_PROMISC_PERM_DENIED
    case PCAP_ERROR_PROMISC_PERM_DENIED:
#endif
        return OpenFailure::PermissionDenied;
    case PCAP_ERROR_NO_SUCH_DEVICE:
        return OpenFailure::NoSuchAdapter;
    default:
        return OpenFailure::Other;
    }
}

} // namespace

std::string PcapDriver::permissionFix() const {
    return permissionFix_.empty() ? PacketDriver::permissionFix() : permissionFix_;
}

std::string PcapDriver::unavailableReason() const {
    return {}; // libpcap is linked in
}

std::vector<AdapterInfo> PcapDriver::listAdapters() {
    std::vector<AdapterInfo> adapters;
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* all = nullptr;
    if (pcap_findalldevs(&all, error) != 0)
        return adapters;
    for (pcap_if_t* dev = all; dev != nullptr; dev = dev->next) {
        if (dev->flags & PCAP_IF_LOOPBACK)
            continue;
        const std::string name = dev->name;
        // Only real Ethernet interfaces: this also leaves out "any", nflog,
        // nfqueue, dbus and bluetooth pseudo-devices, which have no sysfs type 1.
        if (!isEthernet(name))
            continue;
        const auto mac = interfaceMac(name);
        if (!mac)
            continue;
        AdapterInfo info;
        info.name = name;
        info.mac = *mac;
        if (dev->description != nullptr && dev->description[0] != '\0')
            info.description = dev->description;
        else
            info.description = name + " (" + mac->toString() + ")";
        adapters.push_back(std::move(info));
    }
    pcap_freealldevs(all);
    return adapters;
}

OpenResult PcapDriver::open(const std::string& name, const OpenOptions& options) {
    char error[PCAP_ERRBUF_SIZE] = {};
    const auto mac = interfaceMac(name);
    if (!mac)
        return {nullptr, OpenFailure::NoSuchAdapter, "no such Ethernet interface"};
    if (std::string problem = linkProblem(name); !problem.empty())
        return {nullptr, OpenFailure::NoLink, std::move(problem)};
    pcap_t* handle = pcap_create(name.c_str(), error);
    if (handle == nullptr)
        return {nullptr, OpenFailure::Other, error};

    auto fail = [&](int status) {
        std::string text = pcap_geterr(handle);
        if (text.empty())
            text = pcap_statustostr(status);
        pcap_close(handle);
        return OpenResult{nullptr, classify(status), text};
    };

    pcap_set_snaplen(handle, kSnapLength);
    pcap_set_promisc(handle, options.promiscuous ? 1 : 0);
    pcap_set_immediate_mode(handle, 1);
    pcap_set_buffer_size(handle, options.ringBytes != 0
                                     ? static_cast<int>(std::min<std::size_t>(options.ringBytes,
                                                                              kCaptureBufferBytes))
                                     : kCaptureBufferBytes);
    if (const int status = pcap_activate(handle); status < 0)
        return fail(status);
    if (pcap_datalink(handle) != DLT_EN10MB) {
        pcap_close(handle);
        return {nullptr, OpenFailure::Other, "not an Ethernet adapter"};
    }
    // Only what others send: our own frames are never replies.
    if (const int status = pcap_setdirection(handle, PCAP_D_IN); status < 0)
        return fail(status);
    if (!options.filter.empty()) {
        std::vector<bpf_insn> insns;
        insns.reserve(options.filter.size());
        for (const auto& in : options.filter)
            insns.push_back({in.code, in.jt, in.jf, in.k});
        bpf_program program{static_cast<u_int>(insns.size()), insns.data()};
        if (const int status = pcap_setfilter(handle, &program); status < 0)
            return fail(status);
    }
    if (pcap_setnonblock(handle, 1, error) < 0) {
        pcap_close(handle);
        return {nullptr, OpenFailure::Other, error};
    }
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        pcap_close(handle);
        return {nullptr, OpenFailure::Other, std::strerror(errno)};
    }
    return {
        std::make_unique<PcapPort>(handle, *mac, wakeFd, options.filter), OpenFailure::None, {}};
}

} // namespace korvane

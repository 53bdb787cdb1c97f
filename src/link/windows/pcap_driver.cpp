// The packet driver on Windows: adapters from the IP helper (the names and
// descriptions the user sees in Windows), frames through Npcap's wpcap.dll,
// loaded at run time.
//
// The same code runs on wine's wpcap.dll, which hands the calls to the
// host's libpcap but lacks immediate mode, the capture direction and
// pcap_inject, aborts in pcap_getevent and pcap_setmintocopy, delivers
// nothing through pcap_dispatch and, blocking, waits in pcap_next_ex until a
// frame comes whatever the read timeout. So frames are read with
// pcap_next_ex in non-blocking mode, between waits on Npcap's event (on
// wine: short sleeps), sent with pcap_sendpacket, and this port's own frames
// are dropped by their source.

#include "link/pcap_driver.hpp"

#include "base/windows_text.hpp"
#include "link/adapter_link.hpp"
#include "link/windows/wpcap.hpp"

#include <winsock2.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

namespace korvane {

namespace wpcap {

namespace {

template <typename F>
bool bind(HMODULE library, const char* name, F& function, std::string& missing) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
    if (function == nullptr)
        missing += (missing.empty() ? "" : ", ") + std::string(name);
    return function != nullptr;
}

template <typename F>
void bindOptional(HMODULE library, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

std::string systemError(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n > 0 ? platform::FromWide(std::wstring_view(text, n)) : std::string();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

// Wine's ntdll says who it is; its capture library has the gaps above.
bool runningOnWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

Api load() {
    Api api;
    std::wstring system(MAX_PATH, L'\0');
    const UINT n = ::GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size()));
    if (n == 0 || n >= system.size()) {
        api.loadError = "the system directory is unknown";
        return api;
    }
    system.resize(n);
    HMODULE library = nullptr;
    DWORD error = 0;
    for (const wchar_t* leaf : {L"\\Npcap\\wpcap.dll", L"\\wpcap.dll"}) {
        const std::wstring path = system + leaf;
        // Npcap's other library, Packet.dll, sits beside wpcap.dll: let the
        // folder of the library be searched for it.
        library = ::LoadLibraryExW(path.c_str(), nullptr,
                                   LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (library != nullptr)
            break;
        if (error == 0 || ::GetLastError() != ERROR_MOD_NOT_FOUND)
            error = ::GetLastError();
    }
    if (library == nullptr) {
        api.loadError = "wpcap.dll could not be loaded: " + systemError(error);
        return api;
    }
    std::string missing;
    bind(library, "pcap_findalldevs", api.findalldevs, missing);
    bind(library, "pcap_freealldevs", api.freealldevs, missing);
    bind(library, "pcap_create", api.create, missing);
    bind(library, "pcap_set_snaplen", api.set_snaplen, missing);
    bind(library, "pcap_set_promisc", api.set_promisc, missing);
    bind(library, "pcap_set_timeout", api.set_timeout, missing);
    bind(library, "pcap_set_buffer_size", api.set_buffer_size, missing);
    bind(library, "pcap_activate", api.activate, missing);
    bind(library, "pcap_datalink", api.datalink, missing);
    bind(library, "pcap_setfilter", api.setfilter, missing);
    bind(library, "pcap_next_ex", api.next_ex, missing);
    bind(library, "pcap_sendpacket", api.sendpacket, missing);
    bind(library, "pcap_geterr", api.geterr, missing);
    bind(library, "pcap_statustostr", api.statustostr, missing);
    bind(library, "pcap_stats", api.stats, missing);
    bind(library, "pcap_close", api.close, missing);
    bind(library, "pcap_setnonblock", api.setnonblock, missing);
    bindOptional(library, "pcap_set_immediate_mode", api.set_immediate_mode);
    bindOptional(library, "pcap_setdirection", api.setdirection);
    if (!runningOnWine())
        bindOptional(library, "pcap_getevent", api.getevent);
    if (!missing.empty()) {
        api.loadError = "wpcap.dll lacks " + missing;
        return api; // the library stays loaded: unloading buys nothing
    }
    api.loaded = true;
    return api;
}

} // namespace

const Api& Library() {
    static const Api api = load();
    return api;
}

} // namespace wpcap

namespace {

using wpcap::Library;

// One adapter as Windows and the capture library know it.
struct SystemAdapter {
    AdapterInfo info;
    std::string captureName; // \Device\NPF_{GUID}
    std::string linkProblem; // empty while it can carry frames
};

std::string linkProblem(IF_OPER_STATUS status) {
    switch (status) {
    case IfOperStatusUp:
        return {};
    case IfOperStatusLowerLayerDown:
    case IfOperStatusDormant:
        return "no link (no cable or peer)";
    default:
        return "the adapter is down";
    }
}

// The capture library's device names, for matching to Windows' adapters.
std::vector<std::string> captureDevices() {
    std::vector<std::string> names;
    const auto& api = Library();
    if (!api.loaded)
        return names;
    char error[wpcap::kErrorBufferSize] = {};
    wpcap::pcap_if* all = nullptr;
    if (api.findalldevs(&all, error) != 0)
        return names;
    for (auto* dev = all; dev != nullptr; dev = dev->next)
        if ((dev->flags & wpcap::kIfLoopback) == 0 && dev->name != nullptr)
            names.emplace_back(dev->name);
    api.freealldevs(all);
    return names;
}

// Ethernet (and Wi-Fi, which the capture library shows as Ethernet)
// adapters that the capture library can open, in Windows' order.
std::vector<SystemAdapter> systemAdapters() {
    std::vector<SystemAdapter> adapters;
    const std::vector<std::string> devices = captureDevices();
    if (devices.empty())
        return adapters;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        status = ::GetAdaptersAddresses(
            AF_UNSPEC,
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                GAA_FLAG_SKIP_UNICAST,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR)
        return adapters;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
         a = a->Next) {
        if (a->IfType != IF_TYPE_ETHERNET_CSMACD && a->IfType != IF_TYPE_IEEE80211)
            continue;
        if (a->PhysicalAddressLength != 6 || a->AdapterName == nullptr)
            continue;
        const std::string guid = a->AdapterName; // {GUID}
        const auto device = std::find_if(devices.begin(), devices.end(), [&](const std::string& d) {
            return d.size() >= guid.size() &&
                   d.compare(d.size() - guid.size(), guid.size(), guid) == 0;
        });
        if (device == devices.end())
            continue; // not one the capture library can open
        SystemAdapter adapter;
        adapter.captureName = *device;
        std::copy_n(a->PhysicalAddress, 6, adapter.info.mac.bytes.begin());
        adapter.info.name = a->FriendlyName != nullptr ? platform::FromWide(a->FriendlyName) : "";
        if (adapter.info.name.empty())
            adapter.info.name = guid;
        adapter.info.description =
            a->Description != nullptr ? platform::FromWide(a->Description) : std::string();
        if (adapter.info.description.empty())
            adapter.info.description = adapter.info.name + " (" + adapter.info.mac.toString() + ")";
        adapter.info.aliases = {guid, *device};
        adapter.linkProblem = linkProblem(a->OperStatus);
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

static_assert(PcapDriver::kSnapLength == kMaxLinkFrame + 1);

class WindowsPcapPort : public PacketPort {
  public:
    WindowsPcapPort(wpcap::pcap_t* handle, MacAddress mac, std::vector<BpfInstruction> filter,
                    HANDLE stopEvent)
        : handle_(handle), mac_(mac), filter_(std::move(filter)), stopEvent_(stopEvent) {
        sentSources_.insert(key(mac_.bytes.data()));
        if (Library().getevent != nullptr)
            framesWaiting_ = static_cast<HANDLE>(Library().getevent(handle_));
    }
    ~WindowsPcapPort() override {
        stop();
        Library().close(handle_);
        ::CloseHandle(stopEvent_);
    }

    MacAddress mac() const override { return mac_; }

    bool send(std::span<const std::uint8_t> frame) override {
        if (frame.size() >= 12) {
            std::lock_guard lock(sentMutex_);
            // The emulator sends from many device addresses; what it sent
            // comes back to this handle without a capture direction to
            // stop it. The bound only guards memory against a hostile run.
            if (sentSources_.size() < kMaxSentSources)
                sentSources_.insert(key(frame.data() + 6));
        }
        if (Library().sendpacket(handle_, frame.data(), static_cast<int>(frame.size())) == 0)
            return true;
        std::lock_guard lock(errorMutex_);
        sendError_ = Library().geterr(handle_);
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
        ::SetEvent(stopEvent_);
        thread_.join();
        ::ResetEvent(stopEvent_);
    }

    std::uint64_t droppedByBackend() const override {
        std::lock_guard lock(statsMutex_);
        wpcap::pcap_stat stats{};
        if (Library().stats(handle_, &stats) != 0)
            return 0;
        return stats.ps_drop;
    }

    // The capture library's read timeout: on wine, the host's kernel hands
    // over a block of frames after at most this long.
    static constexpr int kReadTimeoutMs = 1;

  private:
    static std::uint64_t key(const std::uint8_t* mac) {
        std::uint64_t k = 0;
        for (int i = 0; i < 6; ++i)
            k = (k << 8) | mac[i];
        return k;
    }

    bool ownFrame(std::span<const std::uint8_t> frame) {
        if (frame.size() < 12)
            return false;
        std::lock_guard lock(sentMutex_);
        return sentSources_.count(key(frame.data() + 6)) != 0;
    }

    void run() {
        const std::string reason = receiveUntilEnd();
        // An end that stop() asked for is no news; any other is the adapter
        // going away under us, and the owner must hear of it.
        if (running_.load() && ended_)
            ended_(reason);
    }

    std::string receiveUntilEnd() {
        const auto& api = Library();
        while (running_.load()) {
            wpcap::pcap_pkthdr* header = nullptr;
            const unsigned char* bytes = nullptr;
            const int n = api.next_ex(handle_, &header, &bytes);
            if (n == 0) { // nothing waits
                waitForFrames();
                continue;
            }
            if (n < 0) {
                const char* text = api.geterr(handle_);
                return text != nullptr && text[0] != '\0' ? text : "the capture ended";
            }
            std::span<const std::uint8_t> frame(bytes, header->caplen);
            if (ownFrame(frame))
                continue;
            // The kernel filter may pass what the user-side program does not
            // (a tagged frame); the same program over the bytes as delivered
            // keeps the filter's promise.
            if (!filter_.empty()) {
                const std::uint32_t accepted = runBpf(filter_, frame);
                if (accepted == 0)
                    continue;
                frame = frame.first(std::min<std::size_t>(accepted, frame.size()));
            }
            receiver_(frame);
        }
        return {};
    }

    // Until frames wait or stop() is called. Npcap sets its event when
    // frames wait; on wine, which has no such event, a short sleep stands in.
    void waitForFrames() {
        if (framesWaiting_ != nullptr) {
            const HANDLE events[2] = {stopEvent_, framesWaiting_};
            ::WaitForMultipleObjects(2, events, FALSE, kIdleWakeMs);
        } else {
            ::WaitForSingleObject(stopEvent_, kWineSleepMs);
        }
    }

    static constexpr std::size_t kMaxSentSources = 4096;
    static constexpr DWORD kIdleWakeMs = 1000;
    static constexpr DWORD kWineSleepMs = 1;

    wpcap::pcap_t* handle_;
    MacAddress mac_;
    const std::vector<BpfInstruction> filter_;
    HANDLE stopEvent_;
    HANDLE framesWaiting_ = nullptr; // owned by the capture library
    std::mutex mutex_;
    mutable std::mutex statsMutex_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    Receiver receiver_;
    EndHandler ended_;
    std::mutex sentMutex_;
    std::unordered_set<std::uint64_t> sentSources_;
    mutable std::mutex errorMutex_;
    std::string sendError_;
};

OpenFailure classify(int status) {
    switch (status) {
    case wpcap::kErrorPermissionDenied:
    case wpcap::kErrorPromiscPermissionDenied:
        return OpenFailure::PermissionDenied;
    case wpcap::kErrorNoSuchDevice:
        return OpenFailure::NoSuchAdapter;
    case wpcap::kErrorInterfaceNotUp:
        return OpenFailure::NoLink;
    default:
        return OpenFailure::Other;
    }
}

} // namespace

std::string PcapDriver::permissionFix() const {
    if (!permissionFix_.empty())
        return permissionFix_;
    return "Npcap was installed for administrators only: run the program as administrator, or "
           "install Npcap again without \"Restrict Npcap driver's access to Administrators "
           "only\"";
}

std::string PcapDriver::unavailableReason() const {
    const auto& api = Library();
    if (api.loaded)
        return {};
    return "Npcap is needed to reach real adapters and is not installed (" + api.loadError +
           "). Install it from https://npcap.com and run the command again; --simulate N "
           "works without it, on a simulated LAN of N devices.";
}

std::vector<AdapterInfo> PcapDriver::listAdapters() {
    std::vector<AdapterInfo> out;
    for (auto& adapter : systemAdapters())
        out.push_back(std::move(adapter.info));
    return out;
}

OpenResult PcapDriver::open(const std::string& name, const OpenOptions& options) {
    const auto& api = Library();
    if (!api.loaded)
        return {nullptr, OpenFailure::Other, api.loadError};
    std::optional<SystemAdapter> found;
    for (auto& adapter : systemAdapters())
        if (adapter.info.answersTo(name)) {
            found = std::move(adapter);
            break;
        }
    if (!found)
        return {nullptr, OpenFailure::NoSuchAdapter, "no such Ethernet adapter"};
    if (!found->linkProblem.empty())
        return {nullptr, OpenFailure::NoLink, found->linkProblem};

    char error[wpcap::kErrorBufferSize] = {};
    wpcap::pcap_t* handle = api.create(found->captureName.c_str(), error);
    if (handle == nullptr)
        return {nullptr, OpenFailure::Other, error};
    auto fail = [&](int status) {
        std::string text = api.geterr(handle);
        if (text.empty())
            text = api.statustostr(status);
        api.close(handle);
        return OpenResult{nullptr, classify(status), text};
    };
    api.set_snaplen(handle, kSnapLength);
    api.set_promisc(handle, options.promiscuous ? 1 : 0);
    api.set_timeout(handle, WindowsPcapPort::kReadTimeoutMs);
    if (api.set_immediate_mode != nullptr)
        api.set_immediate_mode(handle, 1);
    api.set_buffer_size(handle, options.ringBytes != 0
                                    ? static_cast<int>(std::min<std::size_t>(options.ringBytes,
                                                                             kCaptureBufferBytes))
                                    : kCaptureBufferBytes);
    if (const int status = api.activate(handle); status < 0)
        return fail(status);
    if (api.datalink(handle) != wpcap::kLinkTypeEthernet) {
        api.close(handle);
        return {nullptr, OpenFailure::Other, "not an Ethernet adapter"};
    }
    // Only what others send, where the library can say so; elsewhere the
    // port drops its own frames by their source.
    if (api.setdirection != nullptr)
        api.setdirection(handle, wpcap::kDirectionIn);
    if (!options.filter.empty()) {
        std::vector<wpcap::bpf_insn> insns;
        insns.reserve(options.filter.size());
        for (const auto& in : options.filter)
            insns.push_back({in.code, in.jt, in.jf, in.k});
        wpcap::bpf_program program{static_cast<unsigned int>(insns.size()), insns.data()};
        if (const int status = api.setfilter(handle, &program); status < 0)
            return fail(status);
    }
    if (api.setnonblock(handle, 1, error) < 0) {
        api.close(handle);
        return {nullptr, OpenFailure::Other, error};
    }
    HANDLE stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent == nullptr) {
        api.close(handle);
        return {nullptr, OpenFailure::Other, wpcap::systemError(::GetLastError())};
    }
    return {std::make_unique<WindowsPcapPort>(handle, found->info.mac, options.filter, stopEvent),
            OpenFailure::None,
            {}};
}

} // namespace korvane

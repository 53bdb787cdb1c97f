#pragma once

// The part of the packet-capture library's API that the Windows driver uses,
// declared here and bound at run time to Npcap's wpcap.dll (or the one wine
// brings), so that building needs no SDK and the programs start without it.
// The layouts are the library's documented ones for 64-bit Windows, where
// `long` has 32 bits.

#include <cstdint>
#include <string>

namespace korvane::wpcap {

struct pcap; // opaque handle
using pcap_t = pcap;

struct pcap_if {
    pcap_if* next;
    char* name;
    char* description;
    void* addresses;
    std::uint32_t flags;
};

struct pcap_pkthdr {
    std::int32_t tsSeconds; // struct timeval of Windows: two longs
    std::int32_t tsMicros;
    std::uint32_t caplen;
    std::uint32_t len;
};

struct bpf_insn {
    std::uint16_t code;
    std::uint8_t jt;
    std::uint8_t jf;
    std::uint32_t k;
};

struct bpf_program {
    unsigned int bf_len;
    bpf_insn* bf_insns;
};

// Npcap's pcap_stat has a fourth field on Windows; room for more is kept.
struct pcap_stat {
    unsigned int ps_recv;
    unsigned int ps_drop;
    unsigned int ps_ifdrop;
    unsigned int more[5];
};

inline constexpr int kErrorBufferSize = 256;
inline constexpr std::uint32_t kIfLoopback = 0x1;
inline constexpr int kLinkTypeEthernet = 1; // DLT_EN10MB
inline constexpr int kDirectionIn = 1;      // PCAP_D_IN
inline constexpr int kErrorNoSuchDevice = -5;
inline constexpr int kErrorPermissionDenied = -8;
inline constexpr int kErrorInterfaceNotUp = -9;
inline constexpr int kErrorPromiscPermissionDenied = -11;

// The functions, bound from the library; the optional ones may be null
// (wine's library lacks them), the others are always there when `loaded`.
struct Api {
    bool loaded = false;
    std::string loadError; // why the library could not be loaded or bound

    int (*findalldevs)(pcap_if**, char*) = nullptr;
    void (*freealldevs)(pcap_if*) = nullptr;
    pcap_t* (*create)(const char*, char*) = nullptr;
    int (*set_snaplen)(pcap_t*, int) = nullptr;
    int (*set_promisc)(pcap_t*, int) = nullptr;
    int (*set_timeout)(pcap_t*, int) = nullptr;
    int (*set_buffer_size)(pcap_t*, int) = nullptr;
    int (*activate)(pcap_t*) = nullptr;
    int (*datalink)(pcap_t*) = nullptr;
    int (*setfilter)(pcap_t*, bpf_program*) = nullptr;
    int (*next_ex)(pcap_t*, pcap_pkthdr**, const unsigned char**) = nullptr;
    int (*sendpacket)(pcap_t*, const unsigned char*, int) = nullptr;
    char* (*geterr)(pcap_t*) = nullptr;
    const char* (*statustostr)(int) = nullptr;
    int (*stats)(pcap_t*, pcap_stat*) = nullptr;
    void (*close)(pcap_t*) = nullptr;
    int (*setnonblock)(pcap_t*, int, char*) = nullptr;
    // Optional.
    int (*set_immediate_mode)(pcap_t*, int) = nullptr;
    int (*setdirection)(pcap_t*, int) = nullptr;
    // The event that Npcap sets when frames wait; null on wine, whose
    // library aborts in it.
    void* (*getevent)(pcap_t*) = nullptr;
};

// The library, loaded once: Npcap's folder of the system directory first,
// then the system directory itself (Npcap's WinPcap-compatible install, and
// wine). Never from the program's folder or the current one.
const Api& Library();

} // namespace korvane::wpcap

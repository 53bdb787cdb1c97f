#pragma once

// The packet driver over the packet-capture library: Ethernet adapters of
// this machine, raw frames in and out. One body per system: libpcap on Linux
// (pcap_driver.cpp), Npcap's wpcap.dll loaded at run time on Windows
// (windows/pcap_driver.cpp). Only these files know the library.

#include "link/packet_driver.hpp"

#include <string>

namespace korvane {

class PcapDriver : public PacketDriver {
  public:
    // The capture ring of an opened adapter when the opener asks for no
    // size; a burst of frames that the receive thread has not taken yet waits
    // here. Immediate mode makes libpcap use TPACKET_V2, whose slots have a
    // fixed size whatever the frame's length: the capture length plus about
    // 50 bytes, so with kSnapLength two slots share a 4 KiB page and 32 MiB
    // hold some 20000 frames in about 40 MiB. 8 MiB overflowed under a
    // 100000-frame burst of 60-byte frames whenever the receive thread lost
    // its core for a few milliseconds.
    static constexpr int kCaptureBufferBytes = 32 * 1024 * 1024;
    // One byte over the longest frame the link takes, so that a longer frame
    // still arrives as over-long. With 2048, on an adapter with segmentation
    // offload (veth, most hardware), each slot took a page of its own and
    // the ring cost twice its size.
    static constexpr int kSnapLength = 1601;

    // `permissionFix`: what the permission message advises instead of the
    // default (run as root, or setcap this program).
    explicit PcapDriver(std::string permissionFix = {})
        : permissionFix_(std::move(permissionFix)) {}

    std::vector<AdapterInfo> listAdapters() override;
    OpenResult open(const std::string& name, const OpenOptions& options) override;
    std::string permissionFix() const override;
    std::string unavailableReason() const override;

  private:
    std::string permissionFix_;
};

} // namespace korvane

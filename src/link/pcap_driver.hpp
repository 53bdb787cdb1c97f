#pragma once

// The packet driver over libpcap: Ethernet adapters of this machine, raw
// frames in and out. Only this file pair knows libpcap.

#include "link/packet_driver.hpp"

#include <optional>
#include <string>

namespace korvane {

class PcapDriver : public PacketDriver {
  public:
    // The capture ring of each opened adapter; a burst of frames that the
    // receive thread has not taken yet waits here. Immediate mode makes
    // libpcap use TPACKET_V2, whose slots are fixed at about the MTU (two per
    // 4 KiB page) whatever the frame's length: 32 MiB are some 16000 frames.
    // 8 MiB (4096 frames) overflowed under a 100000-frame burst of 60-byte
    // frames whenever the receive thread lost its core for a few milliseconds.
    static constexpr int kCaptureBufferBytes = 32 * 1024 * 1024;

    // `permissionFix`: what the permission message advises instead of the
    // default (run as root, or setcap this program).
    explicit PcapDriver(std::string permissionFix = {})
        : permissionFix_(std::move(permissionFix)) {}

    std::vector<AdapterInfo> listAdapters() override;
    OpenResult open(const std::string& name, const OpenOptions& options) override;
    std::string permissionFix() const override {
        return permissionFix_.empty() ? PacketDriver::permissionFix() : permissionFix_;
    }

    // The MAC address of a named interface, from sysfs.
    static std::optional<MacAddress> interfaceMac(const std::string& name);
    // Whether the interface is an Ethernet one (ARPHRD_ETHER), from sysfs.
    static bool isEthernet(const std::string& name);

  private:
    std::string permissionFix_;
};

} // namespace korvane

#pragma once

// The packet driver over libpcap: Ethernet adapters of this machine, raw
// frames in and out. Only this file pair knows libpcap.

#include "link/packet_driver.hpp"

#include <optional>
#include <string>

namespace korvane {

class PcapDriver : public PacketDriver {
  public:
    // The capture ring of each opened adapter; a burst of frames that nobody
    // has read yet waits here.
    static constexpr int kCaptureBufferBytes = 8 * 1024 * 1024;

    std::vector<AdapterInfo> listAdapters() override;
    OpenResult open(const std::string& name, const OpenOptions& options) override;

    // The MAC address of a named interface, from sysfs.
    static std::optional<MacAddress> interfaceMac(const std::string& name);
    // Whether the interface is an Ethernet one (ARPHRD_ETHER), from sysfs.
    static bool isEthernet(const std::string& name);
};

} // namespace korvane

#pragma once

// A tap on the frames of a driver's ports: what the ports send and deliver
// is shown to a FrameTap on the way, and otherwise passes unchanged. The
// session recording and the per-frame log are taps.

#include "link/packet_driver.hpp"

#include <memory>
#include <span>
#include <string>

namespace korvane {

class FrameTap {
  public:
    virtual ~FrameTap() = default;
    // A frame handed to the port, before it goes to the adapter, so that a
    // reply (seen by the receive thread) never comes before its request.
    // Ports may send from several threads at once.
    virtual void sent(const std::string& adapter, std::span<const std::uint8_t> frame) = 0;
    // A frame the port delivers, before its receiver gets it.
    virtual void received(const std::string& adapter, std::span<const std::uint8_t> frame) = 0;
    // The adapter refused a frame that sent() saw.
    virtual void sendFailed(const std::string& /*adapter*/, const std::string& /*error*/) {}
};

// Wraps an opened port of adapter `adapter`; null `port` or `tap` give the port back as it is.
std::unique_ptr<PacketPort> TapPort(std::unique_ptr<PacketPort> port, std::string adapter,
                                    std::shared_ptr<FrameTap> tap);

// A driver whose opened ports are tapped ports of the wrapped driver's.
class TappingDriver : public PacketDriver {
  public:
    TappingDriver(PacketDriver& inner, std::shared_ptr<FrameTap> tap);

    std::vector<AdapterInfo> listAdapters() override;
    OpenResult open(const std::string& name, const OpenOptions& options) override;
    std::string permissionFix() const override { return inner_.permissionFix(); }
    std::string unavailableReason() const override { return inner_.unavailableReason(); }

  private:
    PacketDriver& inner_;
    std::shared_ptr<FrameTap> tap_;
};

} // namespace korvane

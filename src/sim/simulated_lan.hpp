#pragma once

// A simulated LAN in process: one simulated segment with one adapter for the
// utility and a number of emulated devices on it. What `--simulate N` runs.

#include "base/mac_address.hpp"
#include "base/timing.hpp"
#include "link/simulated_segment.hpp"

#include <memory>
#include <string>

namespace korvane::sim {

class DeviceEmulator;

struct LanOptions {
    int devices = 8;
    std::string adapterName = "sim0";
    std::string adapterDescription = "Simulated LAN";
    MacAddress adapterMac{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x01}};
    MacAddress firstDeviceMac{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}}; // the others count up
    std::string password;                   // every device's password; empty: none
    Micros programmingDelay = Millis(2000); // end of a firmware transfer to its notice
    Micros minCommandGap{0};                // each device counts commands closer than this
};

class SimulatedLan {
  public:
    explicit SimulatedLan(const LanOptions& options = {});
    ~SimulatedLan();
    SimulatedLan(const SimulatedLan&) = delete;
    SimulatedLan& operator=(const SimulatedLan&) = delete;

    SimulatedSegment& segment() { return segment_; }
    const LanOptions& options() const { return options_; }
    // The emulated devices, already answering.
    DeviceEmulator* emulator() { return emulator_.get(); }

  private:
    LanOptions options_;
    SimulatedSegment segment_;
    std::unique_ptr<DeviceEmulator> emulator_;
};

} // namespace korvane::sim

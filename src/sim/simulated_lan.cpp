#include "sim/simulated_lan.hpp"

namespace korvane::sim {

class DeviceEmulator {};

SimulatedLan::SimulatedLan(const LanOptions& options) : options_(options) {
    segment_.addAdapter(options_.adapterName, options_.adapterDescription, options_.adapterMac);
}

SimulatedLan::~SimulatedLan() = default;

} // namespace korvane::sim

#include "sim/simulated_lan.hpp"

#include "sim/arp_responder.hpp"
#include "sim/device_emulator.hpp"

namespace korvane::sim {

namespace {
// The emulator's own station; nothing is addressed to it.
constexpr MacAddress kEmulatorStation{{0x02, 0x00, 0x00, 0x5E, 0x00, 0xFE}};
} // namespace

SimulatedLan::SimulatedLan(const LanOptions& options) : options_(options) {
    segment_.addAdapter(options_.adapterName, options_.adapterDescription, options_.adapterMac);
    OpenOptions station;
    station.promiscuous = true;
    const auto program = ProtocolAndArpFilterProgram();
    station.filter.assign(program.begin(), program.end());
    emulator_ = std::make_unique<DeviceEmulator>(segment_.attachStation(kEmulatorStation, station));
    for (int i = 0; i < options_.devices; ++i) {
        DeviceConfig config =
            DefaultDeviceConfig(i, MacPlus(options_.firstDeviceMac, static_cast<std::uint64_t>(i)));
        config.password = options_.password;
        config.programmingDelay = options_.programmingDelay;
        config.minCommandGap = options_.minCommandGap;
        emulator_->addDevice(std::move(config));
    }
    emulator_->start();
}

SimulatedLan::~SimulatedLan() {
    // The devices stop answering before the segment goes away.
    emulator_.reset();
}

} // namespace korvane::sim

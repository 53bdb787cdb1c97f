#pragma once

// What the command line and the desktop program run against: the real
// adapters (through libpcap, or through korvane-relay), or the simulated LAN of --simulate N, the
// one core Context over it, its timing, the adapters chosen with --interface and an optional
// recording of every frame.
//
// Part of the app layer, shared by the programs: uses sim, relay and what lies below them;
// docs/architecture.md shows which layer may use which.

#include "app/link_access.hpp"
#include "base/timing.hpp"
#include "protocol/context.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvane {
class CaptureFile;
class PacketDriver;
namespace sim {
class SimulatedLan;
}

// A simulated LAN holds as many devices as one discovery can list.
inline constexpr int kMaxSimulatedDevices = 256;

struct EnvironmentOptions {
    int simulate = -1;                    // number of simulated devices; -1: real adapters
    std::vector<std::string> interfaces;  // --interface NAME...: only these adapters
    LinkAccess access = LinkAccess::Auto; // --relay / --no-relay / KORVANE_RELAY
    Timing timing = Timing::defaults();
    std::shared_ptr<CaptureFile> capture; // --capture FILE: every frame on the adapters goes here
    // --verbose: one line (no line end) for every frame sent and received on
    // the adapters. Null: off. Called with whole lines, one call at a time,
    // from the receive thread and from sending threads.
    std::function<void(const std::string& line)> frameLog;
};

class Environment {
  public:
    explicit Environment(EnvironmentOptions options);
    // Runs on a driver the caller owns (tests: a segment with scripted stations).
    Environment(EnvironmentOptions options, PacketDriver& driver);
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    const EnvironmentOptions& options() const { return options_; }
    bool simulated() const { return options_.simulate >= 0; }
    // How the real adapters are reached (Direct on the simulated LAN).
    LinkAccess access() const { return access_; }
    Context& context() { return *context_; }
    sim::SimulatedLan* lan() { return lan_.get(); }
    // The names given with --interface that no adapter of this machine has,
    // and a sentence naming them and the adapters there are; empty when all exist.
    std::string unknownInterfaceError();
    // Reports lack of raw-frame rights once, to this sink.
    void setPermissionReporter(std::function<void(const std::string&)> reporter);

  private:
    void init(PacketDriver& driver);

    EnvironmentOptions options_;
    LinkAccess access_ = LinkAccess::Direct;
    std::unique_ptr<sim::SimulatedLan> lan_;
    std::unique_ptr<PacketDriver> driver_;
    std::unique_ptr<PacketDriver> recorder_;    // wraps the driver while recording
    std::unique_ptr<PacketDriver> frameLogger_; // wraps that while logging frames
    std::unique_ptr<Context> context_;
};

} // namespace korvane

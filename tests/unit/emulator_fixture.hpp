#pragma once

// The utility's side (a Context on the simulated segment's adapter) paired
// in process with emulated devices, on a shrunk timing table.

#include "protocol/context.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"

#include <chrono>
#include <memory>

namespace korvane::testing {

using namespace std::chrono_literals;

// The documented table shrunk a hundredfold, with reply windows wide enough
// that a busy machine never makes a prompt reply miss its try. A window is
// only an upper bound: a transaction returns as soon as its reply is there.
inline Timing TestTiming() {
    Timing t = Timing::defaults().scaled(0.01);
    t.queryWindow = 250ms;
    t.commandWindow = 250ms;
    t.discoveryWindow = 100ms;
    return t;
}

// Windows for tests that wait for replies that never come.
inline Timing SilentTiming() {
    Timing t = Timing::defaults().scaled(0.01);
    t.queryWindow = 20ms;
    t.commandWindow = 30ms;
    return t;
}

inline SteadyClock::time_point Deadline(Micros from_now = 5s) {
    return SteadyClock::now() + from_now;
}

struct TestLan {
    explicit TestLan(int devices, Timing timing = TestTiming(), sim::LanOptions options = {})
        : lan(withDevices(std::move(options), devices)),
          ctx(std::make_unique<Context>(lan.segment(), timing)) {
        ctx->link.setDiagnosticSink(nullptr);
        ctx->enumerateAdapters();
        ctx->link.open(lan.options().adapterName);
    }
    ~TestLan() { ctx->link.close(); }

    sim::EmulatedDevice& device(std::size_t i) { return lan.emulator()->device(i); }
    MacAddress mac(std::size_t i) { return device(i).mac(); }
    MacAddress own() const { return ctx->link.ownAddress(); }

    static sim::LanOptions withDevices(sim::LanOptions options, int devices) {
        options.devices = devices;
        return options;
    }

    sim::SimulatedLan lan;
    std::unique_ptr<Context> ctx;
};

} // namespace korvane::testing

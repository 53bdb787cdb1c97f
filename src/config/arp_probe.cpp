#include "config/arp_probe.hpp"

#include <atomic>

namespace korvane {

bool ProbeAddressInUse(Context& ctx, std::uint32_t address, StopToken* stop) {
    if (!ctx.link.isOpen())
        return false;
    OpenOptions options;
    options.filter = ArpReplyFilter(address);
    OpenResult opened = ctx.driver.open(ctx.link.adapterName(), options);
    if (!opened.port)
        return false;

    std::atomic<bool> answered{false};
    ArrivalSignal arrival;
    opened.port->start([&](std::span<const std::uint8_t> frame) {
        // The filter already chose; the check also covers backends that filter loosely.
        if (IsArpReplyFor(frame, address)) {
            answered.store(true);
            arrival.notify();
        }
    });

    const auto probe = BuildArpProbe(ctx.link.ownAddress(), address);
    const StopWakeScope wake(stop, arrival);
    for (int attempt = 0; attempt < ctx.timing.arpProbeTries && !answered.load(); ++attempt) {
        if (stop != nullptr && stop->stopRequested())
            break;
        const auto seen = arrival.generation();
        if (!opened.port->send(probe))
            continue;
        const auto end = SteadyClock::now() + ctx.timing.arpProbeWindow;
        arrival.waitUntil(seen, end);
    }
    // stop() returns only when the receiver will not run again: the locals it uses stay valid.
    opened.port->stop();
    return answered.load();
}

} // namespace korvane

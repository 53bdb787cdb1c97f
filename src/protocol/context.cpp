#include "protocol/context.hpp"

#include <algorithm>
#include <thread>

namespace korvane {

Context::Context(PacketDriver& driverRef, Timing timingTable)
    : driver(driverRef), timing(timingTable), link(driverRef),
      strays(std::max(timingTable.commandWindow, timingTable.queryWindow), kDefaultStrayLimit,
             &link.arrivals()) {}

int Context::enumerateAdapters(const std::vector<std::string>& only) {
    return EnumerateAdapters(driver, adapters, only);
}

bool Context::settle(StopToken* stop) {
    if (stop)
        return stop->sleepFor(timing.settleAfterOpen);
    std::this_thread::sleep_for(timing.settleAfterOpen);
    return true;
}

bool Context::openAdapter(int index, StopToken* stop) {
    if (index < 0 || index >= adapters.count())
        return false;
    link.open(adapters.entries[static_cast<std::size_t>(index)].name);
    currentAdapterIndex_.store(index);
    return settle(stop) && link.isOpen();
}

bool Context::useAdapterOf(int deviceAdapterIndex, StopToken* stop) {
    const int index = AdapterForDevice(deviceAdapterIndex);
    if (index == currentAdapterIndex_.load() && link.isOpen())
        return true;
    return openAdapter(index, stop);
}

} // namespace korvane

#include "protocol/context.hpp"

#include <algorithm>
#include <thread>

namespace korvane {

Context::Context(PacketDriver& driverRef, Timing timingTable)
    : driver(driverRef), timing(timingTable), link(driverRef),
      strays(std::max(timingTable.commandWindow, timingTable.queryWindow), kDefaultStrayLimit,
             &link.arrivals()) {}

int Context::enumerateAdapters(const std::vector<std::string>& only) {
    adapterFilter_ = only;
    return EnumerateAdapters(driver, adapters, only);
}

int Context::refreshAdapters() {
    AdapterTable fresh;
    EnumerateAdapters(driver, fresh, adapterFilter_);
    const auto same = [](const AdapterInfo& a, const AdapterInfo& b) {
        return a.name == b.name && a.mac == b.mac;
    };
    if (std::equal(fresh.entries.begin(), fresh.entries.end(), adapters.entries.begin(),
                   adapters.entries.end(), same))
        return adapters.count();
    adapters = std::move(fresh);
    // The open adapter keeps its link only while it is still there; its
    // number follows it to its new place in the table.
    int index = -1;
    for (int i = 0; i < adapters.count(); ++i)
        if (adapters.entries[static_cast<std::size_t>(i)].name == link.adapterName() &&
            adapters.entries[static_cast<std::size_t>(i)].mac == link.ownAddress())
            index = i;
    if (index < 0)
        link.close();
    currentAdapterIndex_.store(index);
    return adapters.count();
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

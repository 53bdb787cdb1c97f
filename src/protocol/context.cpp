#include "protocol/context.hpp"

#include <algorithm>
#include <thread>

namespace korvane {

Context::Context(PacketDriver& driverRef, Timing timingTable)
    : driver(driverRef), timing(timingTable), link(driverRef),
      strays(std::max(timingTable.commandWindow, timingTable.queryWindow), kDefaultStrayLimit,
             &link.arrivals()),
      adapters_(std::make_shared<const AdapterTable>()) {}

void WireCounters::add(const WireCounters& other) {
    const auto sum = [](std::atomic<std::uint64_t>& to, const std::atomic<std::uint64_t>& from) {
        to.fetch_add(from.load(std::memory_order_relaxed), std::memory_order_relaxed);
    };
    sum(staleReplies, other.staleReplies);
    sum(malformedDiscovery, other.malformedDiscovery);
    sum(misaddressedDiscovery, other.misaddressedDiscovery);
    sum(earlyDiscovery, other.earlyDiscovery);
    sum(duplicateDiscovery, other.duplicateDiscovery);
}

std::shared_ptr<const AdapterTable> Context::adapters() const {
    std::lock_guard lock(adaptersMutex_);
    return adapters_;
}

void Context::setAdapters(AdapterTable table) {
    auto fresh = std::make_shared<const AdapterTable>(std::move(table));
    std::lock_guard lock(adaptersMutex_);
    adapters_ = std::move(fresh);
}

std::unique_ptr<Context> Context::sibling() {
    auto other = std::make_unique<Context>(driver, timing);
    other->link.reportThrough(link);
    return other;
}

int Context::enumerateAdapters(const std::vector<std::string>& only) {
    AdapterTable table;
    const int count = EnumerateAdapters(driver, table, only);
    {
        std::lock_guard lock(adaptersMutex_);
        adapterFilter_ = only;
    }
    setAdapters(std::move(table));
    return count;
}

int Context::refreshAdapters() {
    std::vector<std::string> filter;
    {
        std::lock_guard lock(adaptersMutex_);
        filter = adapterFilter_;
    }
    AdapterTable fresh;
    EnumerateAdapters(driver, fresh, filter);
    const auto current = adapters();
    const auto same = [](const AdapterInfo& a, const AdapterInfo& b) {
        return a.name == b.name && a.mac == b.mac;
    };
    if (std::equal(fresh.entries.begin(), fresh.entries.end(), current->entries.begin(),
                   current->entries.end(), same) &&
        fresh.leftOut == current->leftOut)
        return current->count();
    // The open adapter keeps its link only while it is still there; its
    // number follows it to its new place in the table.
    const std::string openName = link.adapterName();
    const MacAddress openMac = link.ownAddress();
    int index = -1;
    for (int i = 0; i < fresh.count(); ++i)
        if (fresh.entries[static_cast<std::size_t>(i)].name == openName &&
            fresh.entries[static_cast<std::size_t>(i)].mac == openMac)
            index = i;
    const int count = fresh.count();
    setAdapters(std::move(fresh));
    if (index < 0)
        link.close();
    currentAdapterIndex_.store(index);
    return count;
}

bool Context::settle(StopToken* stop) {
    if (stop)
        return stop->sleepFor(timing.settleAfterOpen);
    std::this_thread::sleep_for(timing.settleAfterOpen);
    return true;
}

bool Context::openAdapter(int index, StopToken* stop) {
    const auto table = adapters();
    if (index < 0 || index >= table->count())
        return false;
    link.open(table->entries[static_cast<std::size_t>(index)].name);
    currentAdapterIndex_.store(index);
    return settle(stop) && link.isOpen();
}

bool Context::recoverLink(SteadyClock::time_point deadline, StopToken* stop) {
    for (;;) {
        const auto seen = link.arrivals().generation();
        if (stop != nullptr && stop->stopRequested())
            return false;
        if (!link.recoverable())
            return link.isOpen();
        if (link.recover(timing.reopenRetry))
            return true;
        const auto now = SteadyClock::now();
        if (now >= deadline)
            return false;
        link.arrivals().waitUntil(seen, std::min(deadline, now + timing.reopenRetry));
    }
}

bool Context::useAdapterOf(int deviceAdapterIndex, StopToken* stop) {
    const int index = AdapterForDevice(deviceAdapterIndex, adapterCount());
    if (index == currentAdapterIndex_.load() && (link.isOpen() || link.recoverable()))
        return true; // a link whose adapter went away is reopened by each try that waits on it
    return openAdapter(index, stop);
}

} // namespace korvane

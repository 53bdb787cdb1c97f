#pragma once

// What every operation on devices shares: the link and its adapters, the
// timing table and the transaction state. No globals: front ends and tests
// build as many contexts as they need.

#include "base/sync.hpp"
#include "base/timing.hpp"
#include "link/adapter_link.hpp"
#include "link/adapter_table.hpp"
#include "protocol/stray_queue.hpp"

#include <atomic>
#include <mutex>

namespace korvane {

class Context {
  public:
    explicit Context(PacketDriver& driver, Timing timing = Timing::defaults());
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    PacketDriver& driver;
    Timing timing;
    AdapterLink link;
    AdapterTable adapters;
    std::mutex sendLock; // held by CommandDevice around its send and the pause after it
    StrayReplyQueue strays;

    int currentAdapterIndex() const { return currentAdapterIndex_.load(); }

    // Enumerates the adapters into the table (optionally only the named ones).
    int enumerateAdapters(const std::vector<std::string>& only = {});

    // Makes the link use the adapter a device was found on (0..16, else 0):
    // reopens only when that differs from the current one, then waits the
    // settle time. False when the link could not be opened or a stop came.
    bool useAdapterOf(int deviceAdapterIndex, StopToken* stop = nullptr);
    // Opens adapter `index` of the table unconditionally (the search's loop).
    bool openAdapter(int index, StopToken* stop = nullptr);

  private:
    bool settle(StopToken* stop);
    std::atomic<int> currentAdapterIndex_{-1};
};

} // namespace korvane

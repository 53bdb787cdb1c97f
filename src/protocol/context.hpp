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
#include <memory>
#include <mutex>

namespace korvane {

// What the protocol layer dropped from the wire, for diagnostics and tests.
struct WireCounters {
    std::atomic<std::uint64_t> staleReplies{0};          // arrived before their transaction's send
    std::atomic<std::uint64_t> malformedDiscovery{0};    // 0x1002 without a usable identity
    std::atomic<std::uint64_t> misaddressedDiscovery{0}; // 0x1002 sent to another station
    std::atomic<std::uint64_t> earlyDiscovery{0};        // 0x1002 queued before the request
    std::atomic<std::uint64_t> duplicateDiscovery{0};    // a device's second answer

    // Adds another context's counts to these.
    void add(const WireCounters& other);
};

class Context {
  public:
    explicit Context(PacketDriver& driver, Timing timing = Timing::defaults());
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    PacketDriver& driver;
    Timing timing;
    AdapterLink link;
    std::mutex sendLock; // held by CommandDevice around its send and the pause after it
    StrayReplyQueue strays;
    WireCounters wire;

    int currentAdapterIndex() const { return currentAdapterIndex_.load(); }

    // The adapter table as it is now. The search thread enumerates again
    // while other threads read it: each reader holds a snapshot of its own,
    // which a new enumeration never changes.
    std::shared_ptr<const AdapterTable> adapters() const;
    int adapterCount() const { return adapters()->count(); }

    // A context beside this one, for one more adapter open at the same time
    // (a search's): the same driver and timing, a link and transaction state
    // of its own. Its link reports through this one's.
    std::unique_ptr<Context> sibling();

    // Enumerates the adapters into the table (optionally only the named ones,
    // a choice that later refreshes keep).
    int enumerateAdapters(const std::vector<std::string>& only = {});
    // Enumerates again, as each search does: adapters plugged in since are
    // added, removed ones dropped. The table is rewritten only when it
    // changed; the link is closed when its adapter is gone. Returns the count.
    int refreshAdapters();

    // Makes the link use the adapter a device was found on (adapter 0 when
    // the table has no such number):
    // reopens only when that differs from the current one, then waits the
    // settle time. False when the link could not be opened or a stop came.
    bool useAdapterOf(int deviceAdapterIndex, StopToken* stop = nullptr);
    // Opens adapter `index` of the table unconditionally (the search's loop).
    bool openAdapter(int index, StopToken* stop = nullptr);

    // The link's adapter went away under a waiting operation (down and up
    // again, replugged): opens it again every Timing::reopenRetry until
    // `deadline`, sleeping on the link in between (a stop wakes it). True
    // once the link is usable; false when the adapter is still gone at the
    // deadline, on a stop, or when the link was closed on purpose.
    bool recoverLink(SteadyClock::time_point deadline, StopToken* stop);

  private:
    bool settle(StopToken* stop);
    void setAdapters(AdapterTable table);

    std::atomic<int> currentAdapterIndex_{-1};
    mutable std::mutex adaptersMutex_; // guards the two below
    std::shared_ptr<const AdapterTable> adapters_;
    std::vector<std::string> adapterFilter_;
};

} // namespace korvane

#pragma once

// The search cycle: on a thread of its own it opens each adapter in turn,
// runs discovery, merges the devices into a new table (first adapter wins),
// asks each new device for its LAN address and sorts the rows by serial
// number. It never touches the list: it leaves its SearchResult for the
// list's owner, tells it so, and the owner applies the result on its own
// thread. A stop request cuts every wait of the search short.

#include "base/sync.hpp"
#include "devices/device_list.hpp"
#include "devices/device_table.hpp"
#include "protocol/context.hpp"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

namespace korvane {

// The search looks at the first 16 adapters of the table.
inline constexpr int kMaxSearchAdapters = 16;

// Why the link's last attempt to open an adapter failed, in words.
std::string AdapterOpenProblem(const Context& ctx);

// The LAN addresses of newly found devices are read for this many devices at
// a time. Each device still sees its own requests one after another, with
// the same pauses and windows; only different devices overlap.
inline constexpr int kConcurrentAddressReads = 16;

// ReadLanAddress for every target, up to kConcurrentAddressReads at once;
// addresses[i] gets targets[i]'s address (0 when it did not answer). False
// when a stop was requested, which ends every read at its next wait.
bool ReadLanAddresses(Context& ctx, std::span<const MacAddress> targets,
                      std::span<std::uint32_t> addresses, StopToken& stop);

// Steps 3 and 4 of a search, on the calling thread: every adapter, discovery,
// merge, slots, LAN addresses; the rows sorted. `previous` are the last
// search's records: discovery carries their remembered passwords over.
// nullopt when a stop was requested.
std::optional<SearchResult> RunSearchCycle(Context& ctx, std::span<const DeviceRecord> previous,
                                           StopToken& stop);

// What the search tells its front end. Each callback may be empty. They are
// called on the owner's thread, except resultReady, which the search thread
// calls: it must not block on the owner's thread (post it instead).
struct SearchNotifications {
    // The pane and status texts changed; the list should get the focus.
    std::function<void()> redraw;
    // Launch Device, Settings, Upgrade Firmware and Refresh: off while a search runs.
    std::function<void(bool enabled)> operationButtons;
    // A result waits: call ApplyPendingResult on the owner's thread.
    std::function<void()> resultReady;
};

// One search at a time over one list. The owner calls StartSearch (timer,
// Refresh, after a settings change) and ApplyPendingResult on its thread; it
// kills its repeat timer when StartSearch returns true and arms it with
// Timing::searchPeriod when ApplyPendingResult returns true.
class DeviceSearch {
  public:
    DeviceSearch(Context& ctx, DeviceList& list, SearchNotifications notifications = {});
    // Stops a running search and waits for its thread.
    ~DeviceSearch();
    DeviceSearch(const DeviceSearch&) = delete;
    DeviceSearch& operator=(const DeviceSearch&) = delete;

    // Starts a search thread; false (and nothing happens) while the list is busy.
    bool StartSearch();

    // Takes the waiting result, if any (owner's thread).
    std::optional<SearchResult> TakePendingResult();
    // Shows a result in the list, switches the buttons on and ends the busy
    // state. False, changing nothing more, once a stop was requested.
    bool Apply(const SearchResult& result);
    bool ApplyPendingResult();

    // Any thread: ends the running search at its next check point, cutting
    // its waits short. A stopped search leaves the busy state set and the
    // buttons off: it is what closing does.
    void RequestStop();
    bool stopRequested() const { return stop_.stopRequested(); }
    // True when no search thread is working (or it ended before the deadline).
    bool WaitEnded(SteadyClock::time_point deadline);
    void WaitEnded();
    bool running() const;

  private:
    void run(std::vector<DeviceRecord> previous);

    Context& ctx_;
    DeviceList& list_;
    SearchNotifications notifications_;
    StopToken stop_;

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool running_ = false;
    std::optional<SearchResult> pending_;
    std::thread thread_;
};

} // namespace korvane

#pragma once

// The search cycle: on a thread of its own it opens every adapter at once,
// each on a link of its own, runs discovery on all of them side by side,
// merges the devices into a new table in adapter order (first adapter wins),
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
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace korvane {

// Why the link's last attempt to open an adapter failed, in words.
std::string AdapterOpenProblem(const Context& ctx);

// The adapters of `notes` that were not searched, each with its reason:
// "eth2 (the adapter is down), eth3 (...)"; empty when every one was.
std::string NotSearchedText(std::span<const SearchResult::AdapterNote> notes);
// Why a search searched nothing: "no Ethernet adapter was found", or "no
// adapter could be searched: " and each adapter with its reason.
std::string NothingSearchedText(std::span<const SearchResult::AdapterNote> notes);

// The receive ring each adapter's link asks for during a search over
// `adapters` adapters: one alone keeps the driver's own (0); more share
// kSearchRingBudget equally, and none gets less than kMinSearchRing, which
// holds one discovery's 256 replies with room to spare (about 318 frames of
// the 1601-byte capture length). So 80 adapters cost some 50 MiB of rings,
// not 80 times 32 MiB.
inline constexpr std::size_t kSearchRingBudget = 32 * 1024 * 1024;
inline constexpr std::size_t kMinSearchRing = 512 * 1024;
std::size_t SearchRingBytes(int adapters);

// One adapter as a sweep saw it.
struct AdapterDiscovery {
    int index = 0;
    std::string name;
    bool searched = false;
    std::string problem;               // why it was not searched; empty when it was
    std::vector<DeviceRecord> devices; // in the order of their first replies
};

// Discovery on every adapter of the table at once. Each adapter is opened on
// a link of its own (the context's own link serves the adapter it is open
// on, else adapter 0; every other adapter gets a sibling context) and keeps
// its own settle time, request and window, exactly as one discovery alone:
// the segments are independent, so nothing on any one of them changes, and
// dozens of adapters take the time of one. An adapter that cannot be opened
// is skipped with its reason. The links stay open until the sweep goes, so
// that the devices can be asked more over them.
class AdapterSweep {
  public:
    // Registers the sweep's links with `stop`, which cuts every wait short.
    AdapterSweep(Context& ctx, StopToken& stop);
    // Closes the links the sweep opened (not the context's own).
    ~AdapterSweep();
    AdapterSweep(const AdapterSweep&) = delete;
    AdapterSweep& operator=(const AdapterSweep&) = delete;

    // Enumerates the adapters again and runs the discoveries. `previous` are
    // the last search's records: each adapter's discovery carries their
    // remembered passwords over. False when a stop was requested.
    bool discover(std::span<const DeviceRecord> previous);

    // One entry per adapter of the table, in table order.
    const std::vector<AdapterDiscovery>& adapters() const { return results_; }
    int searchedCount() const;
    // Each adapter's name and why it was not searched (empty when it was).
    std::vector<SearchResult::AdapterNote> notes() const;
    // The context whose link reaches adapter `index`'s devices during the sweep.
    Context& contextOf(int index);

  private:
    struct Lane;
    void releaseLanes();
    void discoverOn(std::size_t i, std::span<const DeviceRecord> previous, int adapterCount);

    Context& ctx_;
    StopToken& stop_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<AdapterDiscovery> results_;
    std::vector<std::string> leftOut_; // past the table's limit
};

// The LAN addresses of newly found devices are read for this many devices at
// a time, across all adapters. Each device still sees its own requests one
// after another, with the same pauses and windows; only different devices
// overlap.
inline constexpr int kConcurrentAddressReads = 16;

// One device whose LAN address is read, over the context that reaches it.
struct LanAddressRead {
    Context* ctx = nullptr;
    MacAddress target;
    std::uint32_t address = 0; // 0 when it did not answer
};

// ReadLanAddress for every entry, up to kConcurrentAddressReads at once.
// False when a stop was requested, which ends every read at its next wait.
bool ReadLanAddresses(std::span<LanAddressRead> reads, StopToken& stop);

// Steps 3 and 4 of a search, on the calling thread: discovery on every
// adapter at once (AdapterSweep), merge, slots, LAN addresses; the rows sorted. `previous` are the
// last search's records: discovery carries their remembered passwords over. nullopt when a stop was
// requested.
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
    // A result waits: call applyPendingResult on the owner's thread.
    std::function<void()> resultReady;
};

// One search at a time over one list. The owner calls startSearch (timer,
// Refresh, after a settings change) and applyPendingResult on its thread; it
// kills its repeat timer when startSearch returns true and arms it with
// Timing::searchPeriod when applyPendingResult returns true.
class DeviceSearch {
  public:
    DeviceSearch(Context& ctx, DeviceList& list, SearchNotifications notifications = {});
    // Stops a running search and waits for its thread.
    ~DeviceSearch();
    DeviceSearch(const DeviceSearch&) = delete;
    DeviceSearch& operator=(const DeviceSearch&) = delete;

    // Starts a search thread; false (and nothing happens) while the list is busy.
    bool startSearch();

    // Takes the waiting result, if any (owner's thread).
    std::optional<SearchResult> takePendingResult();
    // Shows a result in the list, switches the buttons on and ends the busy
    // state. False, changing nothing more, once a stop was requested.
    bool apply(const SearchResult& result);
    // Applies the waiting result; a search that ended with an unexpected
    // error ends the busy state too, the rows kept and the pane saying why.
    bool applyPendingResult();

    // Any thread: ends the running search at its next check point, cutting
    // its waits short. A stopped search leaves the busy state set and the
    // buttons off: it is what closing does.
    void requestStop();
    bool stopRequested() const { return stop_.stopRequested(); }
    // True when no search thread is working (or it ended before the deadline).
    bool waitEnded(SteadyClock::time_point deadline);
    void waitEnded();
    bool running() const;
    // Owner's thread: each adapter the last applied search looked at, and
    // why it could not search there (empty when it did).
    const std::vector<SearchResult::AdapterNote>& lastAdapterNotes() const { return lastNotes_; }

  private:
    void run(std::vector<DeviceRecord> previous);
    // Owner's thread: the buttons back, the list redrawn and no longer busy.
    void endBusy();

    Context& ctx_;
    DeviceList& list_;
    SearchNotifications notifications_;
    StopToken stop_;

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    bool running_ = false;
    std::optional<SearchResult> pending_;
    std::vector<SearchResult::AdapterNote> lastNotes_; // owner's thread
    std::string failure_;                              // why the last search ended without a result
    std::thread thread_;
};

} // namespace korvane

#include "devices/search.hpp"

#include "devices/lan_address.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/discovery.hpp"

#include <algorithm>
#include <atomic>
#include <system_error>

namespace korvane {

namespace {

// The discovery table an earlier record is handed back to.
int carryOverTable(const DeviceRecord& record) {
    const int index = record.adapterIndex();
    return index < 0 || index >= kMaxSearchAdapters ? 0 : index;
}

// Opens adapter i for the search, or keeps the one adapter open from search
// to search while its receive side lives. Notes why it could not.
bool openForSearch(Context& ctx, int i, int adapterCount, SearchResult& result, StopToken& stop) {
    const AdapterInfo& adapter = ctx.adapters.entries[static_cast<std::size_t>(i)];
    bool open = false;
    if (adapterCount == 1 && ctx.link.isOpen() && ctx.link.adapterName() == adapter.name)
        open = stop.sleepFor(ctx.timing.settleAfterOpen);
    else
        open = ctx.openAdapter(i, &stop); // includes the settle time
    std::string problem;
    if (!open && !stop.stopRequested())
        problem = AdapterOpenProblem(ctx);
    result.adapterNotes.push_back({adapter.name, problem});
    return open;
}

} // namespace

std::string AdapterOpenProblem(const Context& ctx) {
    if (ctx.link.receiveEnded())
        return ctx.link.receiveEndReason();
    if (ctx.link.lastOpenFailure() == OpenFailure::PermissionDenied)
        return "raw Ethernet access was refused (" + ctx.link.lastOpenError() + ")";
    return "it could not be opened (" + ctx.link.lastOpenError() + ")";
}

bool ReadLanAddresses(Context& ctx, std::span<const MacAddress> targets,
                      std::span<std::uint32_t> addresses, StopToken& stop) {
    const std::size_t count = std::min(targets.size(), addresses.size());
    std::atomic<std::size_t> next{0};
    // Each worker takes the next device and runs its whole exchange (password
    // check, then settings read) before it takes another, so one device never
    // has two requests out at once. Replies a worker reads for another
    // worker's device go to the stray-reply queue, which wakes that worker.
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            if (stop.stopRequested())
                return;
            addresses[i] = ReadLanAddress(ctx, targets[i], &stop);
        }
    };
    // The calling thread is one of the workers.
    const auto workers =
        std::min<std::size_t>(count, static_cast<std::size_t>(kConcurrentAddressReads));
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer workers only make the reads take longer
        }
    }
    work();
    for (std::thread& thread : threads)
        thread.join();
    return !stop.stopRequested();
}

std::optional<SearchResult> RunSearchCycle(Context& ctx, std::span<const DeviceRecord> previous,
                                           StopToken& stop) {
    SearchResult result;
    ctx.refreshAdapters(); // adapters come and go between searches
    const int adapterCount = std::min(ctx.adapters.count(), kMaxSearchAdapters);
    result.adaptersSearched = adapterCount;

    for (int i = 0; i < adapterCount; ++i) {
        if (stop.stopRequested())
            return std::nullopt;
        const bool open = openForSearch(ctx, i, adapterCount, result, stop);
        if (stop.stopRequested())
            return std::nullopt;
        if (!open)
            continue; // an adapter that cannot be opened yields no devices
        ++result.adaptersOpened;

        // Each adapter's table starts with the earlier records found on it,
        // so discovery hands every device its remembered password again.
        std::vector<DeviceRecord> discovered(kDiscoveryCapacity);
        std::size_t carried = 0;
        for (const DeviceRecord& earlier : previous)
            if (carryOverTable(earlier) == i && carried < discovered.size())
                discovered[carried++] = earlier;
        const int n = DiscoverDevices(ctx, discovered, i, &stop);
        if (stop.stopRequested())
            return std::nullopt;

        // Merge: a device already found on a lower adapter keeps that entry.
        const std::size_t before = result.table.records.size();
        for (int k = 0; k < n && !result.table.full(); ++k) {
            const DeviceRecord& record = discovered[static_cast<std::size_t>(k)];
            if (!result.table.contains(record.mac(), before))
                result.table.records.push_back(record);
        }
        const std::size_t appended = result.table.records.size();

        for (std::size_t v = before; v < appended; ++v) {
            if (stop.stopRequested())
                return std::nullopt;
            DeviceRecord& record = result.table.records[v];
            const std::string serial = SerialText(record.mac());
            record.setSerialText(serial);
            result.slots.push_back(MakeSlot(record));
            result.rows.push_back({serial, {}});
        }
        // The search's own targets: the list's CurrentDeviceAddress belongs
        // to the owner's thread and changes with every click.
        std::vector<MacAddress> targets;
        for (std::size_t v = before; v < appended; ++v)
            targets.push_back(result.table.records[v].mac());
        std::vector<std::uint32_t> addresses(targets.size(), 0);
        if (!ReadLanAddresses(ctx, targets, addresses, stop))
            return std::nullopt;
        for (std::size_t v = before; v < appended; ++v)
            result.rows[v].addressText = FormatIPv4(addresses[v - before]);
    }
    SortDisplayRows(result.rows);
    return result;
}

DeviceSearch::DeviceSearch(Context& ctx, DeviceList& list, SearchNotifications notifications)
    : ctx_(ctx), list_(list), notifications_(std::move(notifications)) {
    // Transactions and discovery sleep on the link's arrivals: a stop wakes them.
    stop_.wakeAlso(ctx_.link.arrivals());
}

DeviceSearch::~DeviceSearch() {
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

bool DeviceSearch::StartSearch() {
    if (list_.busy() || stop_.stopRequested())
        return false;
    {
        std::lock_guard lock(mutex_);
        if (running_)
            return false;
    }
    // The thread of the previous search has handed its result over; it is
    // at most returning.
    if (thread_.joinable())
        thread_.join();
    list_.setBusy(true);
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        pending_.reset();
    }
    list_.ShowSearchStarted();
    if (notifications_.redraw)
        notifications_.redraw();
    if (notifications_.operationButtons)
        notifications_.operationButtons(false);
    thread_ = std::thread(
        [this, previous = list_.table().records]() mutable { run(std::move(previous)); });
    return true;
}

void DeviceSearch::run(std::vector<DeviceRecord> previous) {
    auto result = RunSearchCycle(ctx_, previous, stop_);
    bool ready = false;
    {
        std::lock_guard lock(mutex_);
        if (result && !stop_.stopRequested()) {
            pending_ = std::move(result);
            ready = true;
        }
        running_ = false;
    }
    ended_.notify_all();
    if (ready && notifications_.resultReady)
        notifications_.resultReady();
}

std::optional<SearchResult> DeviceSearch::TakePendingResult() {
    std::lock_guard lock(mutex_);
    std::optional<SearchResult> result = std::move(pending_);
    pending_.reset();
    return result;
}

bool DeviceSearch::Apply(const SearchResult& result) {
    if (!list_.ApplySearchResult(result, &stop_))
        return false;
    if (notifications_.operationButtons)
        notifications_.operationButtons(true);
    if (notifications_.redraw)
        notifications_.redraw();
    list_.setBusy(false);
    return true;
}

bool DeviceSearch::ApplyPendingResult() {
    auto result = TakePendingResult();
    return result && Apply(*result);
}

void DeviceSearch::RequestStop() {
    stop_.requestStop();
}

bool DeviceSearch::WaitEnded(SteadyClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return ended_.wait_until(lock, deadline, [&] { return !running_; });
}

void DeviceSearch::WaitEnded() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [&] { return !running_; });
}

bool DeviceSearch::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

} // namespace korvane

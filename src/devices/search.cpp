#include "devices/search.hpp"

#include "devices/lan_address.hpp"
#include "protocol/config_blocks.hpp"
#include "protocol/discovery.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <utility>

namespace korvane {

namespace {

// The discovery table an earlier record is handed back to.
int carryOverTable(const DeviceRecord& record, int adapterCount) {
    const int index = record.adapterIndex();
    return index < 0 || index >= adapterCount ? 0 : index;
}

// Runs `body` on a thread of its own for each index, all at once; an index
// whose thread cannot be started runs on the calling thread after the others
// have started. Returns when every body has returned.
void RunAtOnce(std::size_t count, const std::function<void(std::size_t)>& body) {
    std::vector<std::thread> threads;
    threads.reserve(count);
    std::vector<std::size_t> leftOver;
    for (std::size_t i = 0; i < count; ++i) {
        try {
            threads.emplace_back(body, i);
        } catch (const std::system_error&) {
            leftOver.push_back(i); // fewer threads only make the sweep take longer
        }
    }
    for (const std::size_t i : leftOver)
        body(i);
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

std::string AdapterOpenProblem(const Context& ctx) {
    if (ctx.link.receiveEnded())
        return ctx.link.receiveEndReason();
    switch (ctx.link.lastOpenFailure()) {
    case OpenFailure::PermissionDenied:
        return "raw Ethernet access was refused (" + ctx.link.lastOpenError() + ")";
    case OpenFailure::NoLink:
        return ctx.link.lastOpenError();
    default:
        break;
    }
    return "it could not be opened (" + ctx.link.lastOpenError() + ")";
}

std::size_t SearchRingBytes(int adapters) {
    if (adapters <= 1)
        return 0;
    return std::max(kSearchRingBudget / static_cast<std::size_t>(adapters), kMinSearchRing);
}

std::string NotSearchedText(std::span<const SearchResult::AdapterNote> notes) {
    std::string text;
    for (const auto& note : notes)
        if (!note.problem.empty())
            text += (text.empty() ? "" : ", ") + note.name + " (" + note.problem + ")";
    return text;
}

std::string NothingSearchedText(std::span<const SearchResult::AdapterNote> notes) {
    if (notes.empty())
        return "no Ethernet adapter was found";
    std::string text = "no adapter could be searched";
    for (const auto& note : notes)
        text += "; " + note.name + ": " + (note.problem.empty() ? "not searched" : note.problem);
    return text;
}

// One adapter's link for the sweep: the context's own, or a sibling's.
struct AdapterSweep::Lane {
    Context* ctx = nullptr;
    std::unique_ptr<Context> sibling;
    bool keepsOpenLink = false; // the context's link is already open on this adapter
};

AdapterSweep::AdapterSweep(Context& ctx, StopToken& stop) : ctx_(ctx), stop_(stop) {}

AdapterSweep::~AdapterSweep() {
    releaseLanes();
}

void AdapterSweep::releaseLanes() {
    for (auto& lane : lanes_) {
        if (!lane->sibling)
            continue;
        stop_.forget(lane->sibling->link.arrivals());
        lane->sibling->link.close();
        ctx_.wire.add(lane->sibling->wire);
    }
    lanes_.clear();
}

int AdapterSweep::searchedCount() const {
    return static_cast<int>(std::count_if(results_.begin(), results_.end(),
                                          [](const AdapterDiscovery& a) { return a.searched; }));
}

std::vector<SearchResult::AdapterNote> AdapterSweep::notes() const {
    std::vector<SearchResult::AdapterNote> out;
    out.reserve(results_.size());
    for (const AdapterDiscovery& adapter : results_)
        out.push_back({adapter.name, adapter.problem});
    for (const std::string& name : leftOut_)
        out.push_back({name, "left out: a search takes at most " + std::to_string(kMaxAdapters) +
                                 " adapters (name it with --interface)"});
    return out;
}

Context& AdapterSweep::contextOf(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= lanes_.size())
        return ctx_;
    return *lanes_[static_cast<std::size_t>(index)]->ctx;
}

bool AdapterSweep::discover(std::span<const DeviceRecord> previous) {
    ctx_.refreshAdapters(); // adapters come and go between searches
    const auto table = ctx_.adapters();
    const int count = table->count();

    // The context's own link serves the adapter it is open on, so that one
    // adapter stays open from search to search; else it serves adapter 0.
    int own = 0;
    const int current = ctx_.currentAdapterIndex();
    const bool keep =
        current >= 0 && current < count && ctx_.link.isOpen() &&
        ctx_.link.adapterName() == table->entries[static_cast<std::size_t>(current)].name;
    if (keep)
        own = current;

    results_.assign(static_cast<std::size_t>(count), {});
    leftOut_ = table->leftOut;
    releaseLanes();
    for (int i = 0; i < count; ++i) {
        results_[static_cast<std::size_t>(i)].index = i;
        results_[static_cast<std::size_t>(i)].name =
            table->entries[static_cast<std::size_t>(i)].name;
        auto lane = std::make_unique<Lane>();
        if (i == own) {
            lane->ctx = &ctx_;
            lane->keepsOpenLink = keep;
        } else {
            lane->sibling = ctx_.sibling();
            lane->ctx = lane->sibling.get();
            stop_.wakeAlso(lane->sibling->link.arrivals());
        }
        lane->ctx->link.setRingBytes(SearchRingBytes(count));
        lanes_.push_back(std::move(lane));
    }

    RunAtOnce(lanes_.size(), [&](std::size_t i) {
        AdapterDiscovery& result = results_[i];
        // A thread body must not throw: what goes wrong is this adapter's problem.
        try {
            discoverOn(i, previous, count);
        } catch (const std::exception& e) {
            result.searched = false;
            result.devices.clear();
            result.problem = std::string("the search failed there (") + e.what() + ")";
        }
    });
    return !stop_.stopRequested();
}

void AdapterSweep::discoverOn(std::size_t i, std::span<const DeviceRecord> previous,
                              int adapterCount) {
    Lane& lane = *lanes_[i];
    AdapterDiscovery& result = results_[i];
    Context& ctx = *lane.ctx;
    const int index = static_cast<int>(i);
    bool open = false;
    if (lane.keepsOpenLink) {
        open = stop_.sleepFor(ctx.timing.settleAfterOpen);
    } else if (lane.sibling) {
        ctx.link.open(result.name);
        open = stop_.sleepFor(ctx.timing.settleAfterOpen) && ctx.link.isOpen();
    } else {
        open = ctx.openAdapter(index, &stop_); // includes the settle time
    }
    if (stop_.stopRequested())
        return;
    if (!open) {
        result.problem = AdapterOpenProblem(ctx);
        if (lane.sibling)
            ctx.link.close(); // its ring and thread are not kept for nothing
        return;
    }
    result.searched = true;

    // The adapter's table starts with the earlier records found on it, so
    // discovery hands every device its remembered password again.
    std::vector<DeviceRecord> discovered(kDiscoveryCapacity);
    std::size_t carried = 0;
    for (const DeviceRecord& earlier : previous)
        if (carryOverTable(earlier, adapterCount) == index && carried < discovered.size())
            discovered[carried++] = earlier;
    const int n = DiscoverDevices(ctx, discovered, index, &stop_);
    discovered.resize(static_cast<std::size_t>(std::max(n, 0)));
    result.devices = std::move(discovered);
    if (result.devices.empty() && lane.sibling)
        ctx.link.close(); // nothing more is asked on this adapter
}

bool ReadLanAddresses(std::span<LanAddressRead> reads, StopToken& stop) {
    std::atomic<std::size_t> next{0};
    // Each worker takes the next device and runs its whole exchange (password
    // check, then settings read) before it takes another, so one device never
    // has two requests out at once. Replies a worker reads for another
    // worker's device go to the stray-reply queue of that device's link,
    // which wakes that worker. A worker that throws ends there; the first
    // exception goes to the caller once every worker has ended.
    std::mutex failureMutex;
    std::exception_ptr failure;
    auto work = [&] {
        try {
            for (std::size_t i = next++; i < reads.size(); i = next++) {
                if (stop.stopRequested())
                    return;
                reads[i].address = ReadLanAddress(*reads[i].ctx, reads[i].target, &stop);
            }
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure)
                failure = std::current_exception();
        }
    };
    // The calling thread is one of the workers.
    const auto workers =
        std::min<std::size_t>(reads.size(), static_cast<std::size_t>(kConcurrentAddressReads));
    {
        std::vector<std::jthread> threads; // joined on the way out
        threads.reserve(workers);
        for (std::size_t w = 1; w < workers; ++w) {
            try {
                threads.emplace_back(work);
            } catch (const std::system_error&) {
                break; // fewer workers only make the reads take longer
            }
        }
        work();
    }
    if (failure)
        std::rethrow_exception(failure);
    return !stop.stopRequested();
}

std::optional<SearchResult> RunSearchCycle(Context& ctx, std::span<const DeviceRecord> previous,
                                           StopToken& stop) {
    AdapterSweep sweep(ctx, stop);
    if (!sweep.discover(previous))
        return std::nullopt;

    SearchResult result;
    result.adaptersSearched = static_cast<int>(sweep.adapters().size());
    result.adaptersOpened = sweep.searchedCount();
    std::vector<LanAddressRead> reads;
    result.adapterNotes = sweep.notes();
    for (const AdapterDiscovery& adapter : sweep.adapters()) {
        // Merge: a device already found on a lower adapter keeps that entry.
        const std::size_t before = result.table.records.size();
        for (const DeviceRecord& record : adapter.devices) {
            if (result.table.full())
                break;
            if (!result.table.contains(record.mac(), before))
                result.table.records.push_back(record);
        }
        for (std::size_t v = before; v < result.table.records.size(); ++v) {
            DeviceRecord& record = result.table.records[v];
            const std::string serial = SerialText(record.mac());
            record.setSerialText(serial);
            result.slots.push_back(MakeSlot(record));
            result.rows.push_back({serial, {}});
            // The search's own targets: the list's CurrentDeviceAddress
            // belongs to the owner's thread and changes with every click.
            reads.push_back({&sweep.contextOf(adapter.index), record.mac(), 0});
        }
    }
    if (stop.stopRequested() || !ReadLanAddresses(reads, stop))
        return std::nullopt;
    for (std::size_t v = 0; v < reads.size(); ++v)
        result.rows[v].addressText = FormatIPv4(reads[v].address);
    SortDisplayRows(result.rows);
    return result;
}

DeviceSearch::DeviceSearch(Context& ctx, DeviceList& list, SearchNotifications notifications)
    : ctx_(ctx), list_(list), notifications_(std::move(notifications)) {}

DeviceSearch::~DeviceSearch() {
    requestStop();
    if (thread_.joinable())
        thread_.join();
}

bool DeviceSearch::startSearch() {
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
        failure_.clear();
    }
    list_.showSearchStarted();
    if (notifications_.redraw)
        notifications_.redraw();
    if (notifications_.operationButtons)
        notifications_.operationButtons(false);
    thread_ = std::thread(
        [this, previous = list_.table().records]() mutable { run(std::move(previous)); });
    return true;
}

void DeviceSearch::run(std::vector<DeviceRecord> previous) {
    // The search's thread ends here whatever the cycle throws: the search
    // ends as failed, with the reason for the owner.
    std::optional<SearchResult> result;
    std::string failure;
    try {
        result = RunSearchCycle(ctx_, previous, stop_);
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown error";
    }
    bool ready = false;
    {
        std::lock_guard lock(mutex_);
        if (!stop_.stopRequested() && (result || !failure.empty())) {
            pending_ = std::move(result);
            failure_ = std::move(failure);
            ready = true;
        }
        running_ = false;
    }
    ended_.notify_all();
    if (ready && notifications_.resultReady)
        notifications_.resultReady();
}

std::optional<SearchResult> DeviceSearch::takePendingResult() {
    std::lock_guard lock(mutex_);
    std::optional<SearchResult> result = std::move(pending_);
    pending_.reset();
    return result;
}

bool DeviceSearch::apply(const SearchResult& result) {
    if (!list_.applySearchResult(result, &stop_))
        return false;
    lastNotes_ = result.adapterNotes;
    endBusy();
    return true;
}

void DeviceSearch::endBusy() {
    if (notifications_.operationButtons)
        notifications_.operationButtons(true);
    if (notifications_.redraw)
        notifications_.redraw();
    list_.setBusy(false);
}

bool DeviceSearch::applyPendingResult() {
    auto result = takePendingResult();
    if (result)
        return apply(*result);
    std::string failure;
    {
        std::lock_guard lock(mutex_);
        failure = std::exchange(failure_, {});
    }
    if (failure.empty() || stop_.stopRequested())
        return false;
    // Ended without a result: the list keeps its rows and takes commands again.
    list_.showSearchFailed(failure);
    endBusy();
    return true;
}

void DeviceSearch::requestStop() {
    stop_.requestStop();
}

bool DeviceSearch::waitEnded(SteadyClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return ended_.wait_until(lock, deadline, [&] { return !running_; });
}

void DeviceSearch::waitEnded() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [&] { return !running_; });
}

bool DeviceSearch::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

} // namespace korvane

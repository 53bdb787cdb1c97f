#pragma once

// When the main window searches: once firstSearchDelay after it opens, then
// every searchPeriod (a shorter searchPeriodAfterDialog after a settings or
// firmware dialog), and at once on Refresh. A timer that comes due while an
// operation talks to a device waits for the operation to end. The search
// itself is the core's DeviceSearch, on its own thread; its result comes
// back here through a queued signal and is applied on the GUI thread.

#include "base/timing.hpp"
#include "devices/search.hpp"

#include <QObject>

#include <functional>
#include <memory>

class QTimer;

namespace korvane::ui {

class OperationRunner;

class SearchScheduler : public QObject {
    Q_OBJECT

  public:
    // `notifications.resultReady` is the scheduler's own; the others are
    // passed to the search as given.
    SearchScheduler(Context& ctx, DeviceList& list, OperationRunner& runner,
                    SearchNotifications notifications, QObject* parent = nullptr);
    ~SearchScheduler() override;

    // Runs on the GUI thread just before each search starts (the adapter choice).
    void setBeforeSearch(std::function<void()> hook) { beforeSearch_ = std::move(hook); }

    // Arms the first search.
    void start();
    // A search now, unless one runs, an operation runs or the scheduler was shut down.
    bool searchNow();
    void stopRepeatSearch();
    void armRepeatSearch(Micros period);

    bool searchRunning() const { return search_->running(); }
    // Each adapter the last applied search looked at, and why it was not searched.
    const std::vector<SearchResult::AdapterNote>& lastAdapterNotes() const {
        return search_->lastAdapterNotes();
    }
    bool repeatSearchActive() const;
    int repeatSearchIntervalMs() const;

    // Closing: no timer fires again and the running search stops at its
    // next check point.
    void shutDown();
    bool waitEnded(SteadyClock::time_point deadline) { return search_->waitEnded(deadline); }

  Q_SIGNALS:
    // Search thread (queued to the scheduler).
    void resultReady();
    // GUI thread: a search has started; its result is on the screen.
    void searchStarted();
    void searchApplied();

  private:
    void onTimer();
    void onResultReady();

    Context& ctx_;
    OperationRunner& runner_;
    std::function<void()> beforeSearch_;
    QTimer* firstSearchTimer_;
    QTimer* repeatSearchTimer_;
    bool deferred_ = false;
    bool shutDown_ = false;
    // Last: its thread is stopped and joined before anything above goes.
    std::unique_ptr<DeviceSearch> search_;
};

} // namespace korvane::ui

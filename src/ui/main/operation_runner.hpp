#pragma once

// One operation at a time off the GUI thread. run() starts the work on a
// worker thread of its own, shows the wait cursor and marks the runner busy;
// when the work returns, the cursor goes, the busy state ends and the
// completion runs on the GUI thread. A stop request reaches the work
// through its StopToken (and, through GuiCaller, every blocking call the
// work makes onto the GUI thread), so closing never waits for a question
// that nobody will answer.

#include "base/sync.hpp"
#include "base/timing.hpp"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace korvane::ui {

class OperationRunner : public QObject {
    Q_OBJECT

  public:
    explicit OperationRunner(QObject* parent = nullptr);
    // Stops the work and waits for its thread.
    ~OperationRunner() override;

    // Starts `work` unless one runs or the runner was shut down; `done` runs
    // on the GUI thread afterwards (never after shutDown). False when refused.
    bool run(std::function<void(StopToken&)> work, std::function<void()> done = {});
    bool busy() const { return busy_; }
    // The token of the current (or next) operation; GuiCallers made for the
    // window's Operator wait on it.
    StopToken& stopToken() { return stop_; }

    // Refuses further work and asks the running one to stop.
    void shutDown();
    bool isShutDown() const { return shutDown_; }
    // Waits for the worker thread (GUI thread; after shutDown).
    void join();
    // Any thread: true once no work runs (or false at the deadline).
    bool waitEnded(SteadyClock::time_point deadline);

  Q_SIGNALS:
    // GUI thread: an operation ended and its completion has run.
    void ended();

  private:
    void onWorkReturned();

    StopToken stop_;
    bool busy_ = false; // GUI thread
    bool shutDown_ = false;
    bool cursorShown_ = false;
    std::function<void()> done_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable endedCv_;
    bool working_ = false; // guarded by mutex_
};

} // namespace korvane::ui

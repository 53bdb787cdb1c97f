#pragma once

// One operation at a time off the GUI thread. run() starts the work on a
// worker thread of its own, shows the wait cursor and marks the runner busy;
// when the work returns, the cursor goes, the busy state ends and the
// completion runs on the GUI thread. A stop request reaches the work
// through its StopToken: every wait on the link and (through GuiCaller)
// every blocking call onto the GUI thread ends on it, so closing never
// waits for a reply or a question that nobody will answer.
//
// The work's thread never outlives what it touches: whoever destroys
// something the work uses first waits for it (cancelAndWait, join), and
// the work itself catches what it throws: an exception ends the operation
// as a failure that failed() reports, never std::terminate.

#include "base/sync.hpp"
#include "base/timing.hpp"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <cstdint>
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
    // on the GUI thread afterwards (never after shutDown or cancelAndWait).
    // False when refused.
    bool run(std::function<void(StopToken&)> work, std::function<void()> done = {});
    bool busy() const { return busy_; }
    // The token of the current (or next) operation; GuiCallers made for the
    // window's Operator wait on it.
    StopToken& stopToken() { return stop_; }

    // Refuses further work and asks the running one to stop.
    void shutDown();
    bool isShutDown() const { return shutDown_; }
    // GUI thread: asks the running work to stop and waits for its thread;
    // its completion does not run, workEnded() is emitted. The runner takes
    // work again afterwards unless it was shut down.
    void cancelAndWait();
    // Waits for the worker thread (GUI thread; after shutDown).
    void join();
    // Any thread: true once no work runs (or false at the deadline).
    bool waitEnded(SteadyClock::time_point deadline);

  Q_SIGNALS:
    // GUI thread: an operation ended and its completion, if any, has run
    // (not after shutDown).
    void ended();
    // GUI thread: the work's thread has ended, however it ended (also after
    // a shutDown or cancelAndWait, when no completion runs).
    void workEnded();
    // GUI thread: the work ended with an exception (not after shutDown).
    void failed(const QString& what);

  private:
    void onWorkReturned(std::uint64_t generation);
    // The thread is joined: the runner is idle again.
    void settle();

    StopToken stop_;
    bool busy_ = false; // GUI thread
    bool shutDown_ = false;
    bool cursorShown_ = false;
    std::uint64_t generation_ = 0; // GUI thread: which run a queued return belongs to
    std::function<void()> done_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable endedCv_;
    bool working_ = false; // guarded by mutex_
    QString failure_;      // guarded by mutex_: what the last work threw
};

} // namespace korvane::ui

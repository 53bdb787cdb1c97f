#include "main/operation_runner.hpp"

#include <QApplication>

namespace korvane::ui {

OperationRunner::OperationRunner(QObject* parent) : QObject(parent) {}

OperationRunner::~OperationRunner() {
    // Blocking calls onto the GUI thread end on the stop request, so the
    // join cannot wait for us.
    stop_.requestStop();
    if (thread_.joinable())
        thread_.join();
    if (cursorShown_)
        QApplication::restoreOverrideCursor();
}

bool OperationRunner::run(std::function<void(StopToken&)> work, std::function<void()> done) {
    if (busy_ || shutDown_)
        return false;
    if (thread_.joinable())
        thread_.join();
    stop_.reset();
    busy_ = true;
    done_ = std::move(done);
    {
        std::lock_guard lock(mutex_);
        working_ = true;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorShown_ = true;
    thread_ = std::thread([this, work = std::move(work)] {
        work(stop_);
        {
            std::lock_guard lock(mutex_);
            working_ = false;
        }
        endedCv_.notify_all();
        QMetaObject::invokeMethod(
            this, [this] { onWorkReturned(); }, Qt::QueuedConnection);
    });
    return true;
}

void OperationRunner::onWorkReturned() {
    if (thread_.joinable())
        thread_.join();
    if (cursorShown_) {
        QApplication::restoreOverrideCursor();
        cursorShown_ = false;
    }
    busy_ = false;
    std::function<void()> done = std::move(done_);
    done_ = nullptr;
    if (shutDown_)
        return;
    if (done)
        done();
    Q_EMIT ended();
}

void OperationRunner::shutDown() {
    shutDown_ = true;
    stop_.requestStop();
}

void OperationRunner::join() {
    if (thread_.joinable())
        thread_.join();
}

bool OperationRunner::waitEnded(SteadyClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return endedCv_.wait_until(lock, deadline, [this] { return !working_; });
}

} // namespace korvane::ui

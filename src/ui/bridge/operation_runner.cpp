#include "bridge/operation_runner.hpp"

#include <QApplication>

#include <exception>

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
        failure_.clear();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursorShown_ = true;
    const std::uint64_t generation = ++generation_;
    thread_ = std::thread([this, generation, work = std::move(work)] {
        // The barrier: whatever the work throws ends the operation here.
        QString failure;
        try {
            work(stop_);
        } catch (const std::exception& e) {
            failure = QString::fromLocal8Bit(e.what());
        } catch (...) {
            failure = QStringLiteral("unknown error");
        }
        {
            std::lock_guard lock(mutex_);
            working_ = false;
            failure_ = failure;
        }
        endedCv_.notify_all();
        QMetaObject::invokeMethod(
            this, [this, generation] { onWorkReturned(generation); }, Qt::QueuedConnection);
    });
    return true;
}

void OperationRunner::onWorkReturned(std::uint64_t generation) {
    // A run that cancelAndWait has already settled.
    if (generation != generation_ || !busy_)
        return;
    settle();
    std::function<void()> done = std::move(done_);
    done_ = nullptr;
    QString failure;
    {
        std::lock_guard lock(mutex_);
        failure = failure_;
    }
    Q_EMIT workEnded();
    if (shutDown_)
        return;
    if (!failure.isEmpty())
        Q_EMIT failed(failure);
    if (done)
        done();
    Q_EMIT ended();
}

void OperationRunner::settle() {
    if (thread_.joinable())
        thread_.join();
    if (cursorShown_) {
        QApplication::restoreOverrideCursor();
        cursorShown_ = false;
    }
    busy_ = false;
}

void OperationRunner::cancelAndWait() {
    if (!busy_)
        return;
    stop_.requestStop();
    settle();
    done_ = nullptr;
    Q_EMIT workEnded();
    if (!shutDown_)
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

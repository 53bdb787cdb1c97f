#include "main/closing_sequence.hpp"

#include "bridge/operation_runner.hpp"
#include "main/closing_popup.hpp"
#include "main/search_scheduler.hpp"

#include <QWidget>
#include <QWindow>

namespace korvane::ui {

ClosingSequence::ClosingSequence(QWidget& window, SearchScheduler& search, OperationRunner& runner,
                                 Micros watcherWait)
    : window_(window), search_(search), runner_(runner), watcherWait_(watcherWait) {}

ClosingSequence::~ClosingSequence() {
    if (watcher_.joinable())
        watcher_.join();
}

bool ClosingSequence::closeRequested() {
    if (state_ == State::Closed)
        return true;
    if (state_ == State::Closing)
        return false;
    state_ = State::Closing;
    // The stops cut the search's and the operation's waits short.
    search_.shutDown();
    runner_.shutDown();
    greyCloseItem();
    popup_ = new ClosingPopup(&window_);
    popup_->showCentred();
    const SteadyClock::time_point deadline = SteadyClock::now() + watcherWait_;
    watcher_ = std::thread([this, deadline] {
        search_.waitEnded(deadline);
        runner_.waitEnded(deadline);
        QMetaObject::invokeMethod(
            this, [this] { finish(); }, Qt::QueuedConnection);
    });
    return false;
}

void ClosingSequence::greyCloseItem() {
    // Changed on the native window in place: QWidget::setWindowFlags would
    // recreate it in the middle of its own close event.
    const Qt::WindowFlags flags = window_.windowFlags() & ~Qt::WindowCloseButtonHint;
    window_.overrideWindowFlags(flags);
    if (QWindow* handle = window_.windowHandle())
        handle->setFlags(flags);
}

void ClosingSequence::finish() {
    if (watcher_.joinable())
        watcher_.join();
    delete popup_.data();
    state_ = State::Closed;
    window_.close();
    Q_EMIT finished();
}

} // namespace korvane::ui

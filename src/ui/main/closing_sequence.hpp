#pragma once

// How the main window closes: the first close request stops the search and
// the operation (their waits end at once), greys the window's close item,
// shows the "closing" popup and lets a watcher thread wait, at most
// closeWatcherWait, for both to end; then the popup goes, the window closes
// for real and finished() is emitted. Further requests meanwhile do nothing.

#include "base/timing.hpp"

#include <QObject>
#include <QPointer>

#include <thread>

class QWidget;

namespace korvane::ui {

class ClosingPopup;
class OperationRunner;
class SearchScheduler;

class ClosingSequence : public QObject {
    Q_OBJECT

  public:
    ClosingSequence(QWidget& window, SearchScheduler& search, OperationRunner& runner,
                    Micros watcherWait);
    // Waits for the watcher, which never waits longer than its deadline.
    ~ClosingSequence() override;

    // The window's close event: true when the window may close now (the
    // sequence has ended); otherwise the sequence starts or goes on.
    bool closeRequested();
    bool closing() const { return state_ != State::Open; }

  Q_SIGNALS:
    // GUI thread: the sequence has ended and the window is gone.
    void finished();

  private:
    enum class State { Open, Closing, Closed };

    void greyCloseItem();
    void finish();

    QWidget& window_;
    SearchScheduler& search_;
    OperationRunner& runner_;
    Micros watcherWait_;
    State state_ = State::Open;
    QPointer<ClosingPopup> popup_;
    std::thread watcher_;
};

} // namespace korvane::ui

#include "main/search_scheduler.hpp"

#include "bridge/operation_runner.hpp"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <limits>

namespace korvane::ui {

namespace {

int ToMs(Micros period) {
    const auto ms = std::chrono::duration_cast<Millis>(period).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, std::numeric_limits<int>::max()));
}

QTimer* PreciseTimer(const char* name, QObject* parent) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    // A coarse timer may fire up to 5 % early; these periods are promises.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

} // namespace

SearchScheduler::SearchScheduler(Context& ctx, DeviceList& list, OperationRunner& runner,
                                 SearchNotifications notifications, QObject* parent)
    : QObject(parent), ctx_(ctx), runner_(runner),
      firstSearchTimer_(PreciseTimer("firstSearchTimer", this)),
      repeatSearchTimer_(PreciseTimer("repeatSearchTimer", this)) {
    firstSearchTimer_->setSingleShot(true);
    connect(firstSearchTimer_, &QTimer::timeout, this, &SearchScheduler::onTimer);
    connect(repeatSearchTimer_, &QTimer::timeout, this, &SearchScheduler::onTimer);
    connect(this, &SearchScheduler::resultReady, this, &SearchScheduler::onResultReady,
            Qt::QueuedConnection);
    connect(&runner_, &OperationRunner::ended, this, [this] {
        if (deferred_ && !runner_.busy()) {
            deferred_ = false;
            searchNow();
        }
    });
    notifications.resultReady = [this] { Q_EMIT resultReady(); };
    search_ = std::make_unique<DeviceSearch>(ctx, list, std::move(notifications));
}

SearchScheduler::~SearchScheduler() {
    search_->requestStop();
    search_.reset();
}

void SearchScheduler::start() {
    firstSearchTimer_->start(ToMs(ctx_.timing.firstSearchDelay));
}

bool SearchScheduler::searchNow() {
    if (shutDown_ || runner_.busy() || search_->running())
        return false;
    if (beforeSearch_)
        beforeSearch_();
    if (!search_->startSearch())
        return false;
    stopRepeatSearch();
    Q_EMIT searchStarted();
    return true;
}

void SearchScheduler::onTimer() {
    if (runner_.busy()) {
        deferred_ = true;
        return;
    }
    searchNow();
}

void SearchScheduler::onResultReady() {
    if (shutDown_)
        return;
    if (search_->applyPendingResult()) {
        armRepeatSearch(ctx_.timing.searchPeriod);
        Q_EMIT searchApplied();
    }
}

void SearchScheduler::stopRepeatSearch() {
    repeatSearchTimer_->stop();
}

void SearchScheduler::armRepeatSearch(Micros period) {
    if (!shutDown_)
        repeatSearchTimer_->start(ToMs(period));
}

bool SearchScheduler::repeatSearchActive() const {
    return repeatSearchTimer_->isActive();
}

int SearchScheduler::repeatSearchIntervalMs() const {
    return repeatSearchTimer_->interval();
}

void SearchScheduler::shutDown() {
    shutDown_ = true;
    search_->requestStop();
    firstSearchTimer_->stop();
    repeatSearchTimer_->stop();
}

} // namespace korvane::ui

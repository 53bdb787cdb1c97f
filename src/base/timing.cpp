#include "base/timing.hpp"

namespace korvane {

namespace {
Micros scale(Micros value, double factor) {
    return Micros(static_cast<Micros::rep>(static_cast<double>(value.count()) * factor));
}
} // namespace

Timing Timing::scaled(double factor) const {
    Timing t = *this;
    for (Micros* field : {&t.settleAfterOpen,
                          &t.linkSendTimeout,
                          &t.linkCloseWait,
                          &t.relayAnswerWait,
                          &t.reopenRetry,
                          &t.queryWindow,
                          &t.commandWindow,
                          &t.querySendPause,
                          &t.commandSendPause,
                          &t.status4Pause,
                          &t.pollInterval,
                          &t.discoveryWindow,
                          &t.firstSearchDelay,
                          &t.searchPeriod,
                          &t.searchPeriodAfterDialog,
                          &t.searchAfterSettingsWrite,
                          &t.closeWatcherWait,
                          &t.betweenWebPages,
                          &t.factoryBusyWait,
                          &t.arpProbeWindow,
                          &t.firmwareBusyPause,
                          &t.noticeWait})
        *field = scale(*field, factor);
    return t;
}

} // namespace korvane

#pragma once

// Every wait of the utility under one name. Defaults are the values devices
// and operators rely on; tests use a scaled copy so nothing sleeps for real.
//
// Part of the base layer: uses nothing of ours; docs/architecture.md shows which
// layer may use which.

#include <chrono>

namespace korvane {

using Millis = std::chrono::milliseconds;
using Micros = std::chrono::microseconds;
using SteadyClock = std::chrono::steady_clock;

struct Timing {
    // Link
    Micros settleAfterOpen = Millis(300);  // after opening an adapter, before the first frame
    Micros linkSendTimeout = Millis(5000); // how long a send may take to complete
    Micros linkCloseWait = Millis(5000);   // Close waits this long for the receive thread
    Micros relayAnswerWait = Millis(5000); // the raw-frame relay's greeting and each answer
    // While an adapter is gone under a waiting operation (down, unplugged),
    // the operation tries to open it again this often until its window ends.
    Micros reopenRetry = Millis(100);

    // Transactions
    int tries = 5;
    Micros queryWindow = Millis(1200);
    Micros commandWindow = Millis(30000);
    Micros querySendPause = Millis(5);   // after a query's send, before its window starts
    Micros commandSendPause = Millis(4); // held under the send lock after a command's send
    Micros status4Pause = Millis(500);   // "done after a pause": the pause before reporting 2
    Micros pollInterval = Millis(10);    // used only where nothing can wake a waiter

    // Discovery and search
    Micros discoveryWindow = Millis(1200);
    Micros firstSearchDelay = Millis(300); // timer 1
    Micros searchPeriod = Millis(120000);  // timer 101
    Micros searchPeriodAfterDialog = Millis(20000);
    Micros searchAfterSettingsWrite = Millis(500);
    Micros closeWatcherWait = Millis(25000);

    // Web page
    Micros betweenWebPages = Millis(400);

    // Configuration
    Micros factoryBusyWait = Millis(6000);
    Micros arpProbeWindow = Millis(200); // per ARP probe try
    int arpProbeTries = 3;

    // Firmware
    Micros firmwareBusyPause = Millis(3000);
    Micros noticeWait = Millis(120000);

    static Timing defaults() { return {}; }

    // Every duration multiplied by `factor` (tries unchanged); tests pass a
    // small factor so windows keep their proportions but take little time.
    Timing scaled(double factor) const;
};

} // namespace korvane

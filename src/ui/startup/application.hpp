#pragma once

// The application: one copy per user, the start options, the device
// environment (real adapters or the simulated LAN) and the main window.
// It ends when the main window has gone.

namespace korvane::ui {

class Application {
  public:
    // What main() returns: 0 after the window closed (also for a second copy
    // that ended at once), 1 when it could not start, 2 for bad options.
    int run(int& argc, char** argv);
};

} // namespace korvane::ui

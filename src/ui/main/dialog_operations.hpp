#pragma once

// The operations the main window hands over: the Network Settings sheet,
// the Firmware Upgrade dialog and the factory commands. Each runs the
// core's flow for the selected device off the GUI thread (the window shows
// the wait cursor and takes no other command meanwhile) and returns when
// the flow has ended; the flow's dialogs and questions appear on the GUI
// thread while it waits for them.

#include "base/sync.hpp"
#include "main/operation_dialogs.hpp"

#include <functional>

namespace korvane::ui {

class DialogOperations : public OperationDialogs {
  public:
    void runNetworkSettings(MainWindow& window) override;
    void runFirmwareUpgrade(MainWindow& window, const std::vector<DeviceRecord>& units) override;
    void runIpSettings(MainWindow& window) override;
    void runSetPassword(MainWindow& window) override;
    void runSetSerialNumber(MainWindow& window) override;
    // Lists the adapters with "all adapters" first; the row confirmed
    // becomes the window's adapter choice.
    void runNetworkAdapter(MainWindow& window) override;
};

} // namespace korvane::ui

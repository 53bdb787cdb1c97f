#pragma once

// The operations the main window starts but does not carry out itself: the
// Network Settings sheet, the Firmware Upgrade dialog and the factory
// commands. Each runs its dialog modally over the window and returns when
// it is done. Before calling, the window has checked that no search and no
// other operation runs and that the selection suits the command; it kills
// the repeat search timer where the command needs that and, afterwards,
// gives the list the focus and arms the timer again.
//
// An implementation reaches the core through the window: context(),
// deviceList() (findSelectedDevice and the records), desktopOperator()
// (the password prompt, questions and messages), runOperation() for device
// traffic off the GUI thread, and startSearch() for the search that follows
// a settings write. The base class is the placeholder: every command does
// nothing.

#include "devices/device_table.hpp"

#include <vector>

namespace korvane::ui {

class MainWindow;

class OperationDialogs {
  public:
    virtual ~OperationDialogs() = default;

    // The Settings button, "&Settings..." and Enter: exactly one row selected.
    virtual void runNetworkSettings(MainWindow& /*window*/) {}
    // The Upgrade Firmware button and "Upgrade &Firmware...": the records of
    // the selected rows' devices in list order; the link already uses the
    // adapter of the last one.
    virtual void runFirmwareUpgrade(MainWindow& /*window*/,
                                    const std::vector<DeviceRecord>& /*units*/) {}
    // The factory buttons (shown with --factory only).
    virtual void runIpSettings(MainWindow& /*window*/) {}
    virtual void runSetPassword(MainWindow& /*window*/) {}
    virtual void runSetSerialNumber(MainWindow& /*window*/) {}
    // "&Network Adapter..." in the list's menu: the adapters the program
    // may search, as the Network Adapter dialog lists them; a confirmed
    // choice goes into the window's adapterChoice().
    virtual void runNetworkAdapter(MainWindow& /*window*/) {}
};

} // namespace korvane::ui

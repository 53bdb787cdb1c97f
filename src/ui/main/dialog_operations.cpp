#include "main/dialog_operations.hpp"

#include "bridge/desktop_operator.hpp"
#include "bridge/message_box.hpp"
#include "config/config_commands.hpp"
#include "dialogs/firmware_upgrade_dialog.hpp"
#include "dialogs/ip_address_page.hpp"
#include "dialogs/network_adapter_dialog.hpp"
#include "dialogs/network_settings_dialog.hpp"
#include "dialogs/password_page.hpp"
#include "dialogs/serial_number_dialog.hpp"
#include "main/main_window.hpp"

#include <atomic>
#include <memory>

namespace korvane::ui {

namespace {

// The record of the selected row's device, which also becomes the
// CurrentDeviceAddress; nothing when no row is selected or it has no device.
std::optional<DeviceRecord> SelectedDevice(MainWindow& window) {
    const int index = window.deviceList().selectCurrentDevice();
    if (index < 0)
        return std::nullopt;
    return window.deviceList().record(index);
}

// The core's editor for a page shown alone: the dialog of type Dialog,
// modal over the window, filled from and read back into the page's model.
template <class Dialog, class Model>
bool EditPageAlone(const GuiCaller& caller, MainWindow* window, Model& page) {
    return caller
        .call([window, &page] {
            NormalCursor pointer;
            Dialog dialog(window);
            dialog.setModel(page);
            if (dialog.exec() != QDialog::Accepted)
                return false;
            page = dialog.model();
            return true;
        })
        .value_or(false);
}

} // namespace

void DialogOperations::runNetworkSettings(MainWindow& window) {
    const auto device = SelectedDevice(window);
    if (!device)
        return;
    NetworkSettingsDialog sheet(&window);
    Context& ctx = window.context();
    std::atomic<bool> searchWanted{false};
    window.runOperationAndWait([&](StopToken& stop) {
        // Calls onto the GUI thread go through the sheet: it outlives them.
        const GuiCaller caller(&sheet, &stop);
        DesktopOperator op(&sheet, caller);
        op.setPasswordPrompt([sheet = &sheet](const std::string& label, const std::string& preset) {
            return sheet->askPassword(label, preset);
        });
        NetworkSettingsHooks hooks;
        hooks.edit = [&caller, sheet = &sheet](NetworkSettingsModel& model, SheetRefusal previous) {
            return caller.call([sheet, &model, previous] { return sheet->edit(model, previous); })
                .value_or(false);
        };
        hooks.sheetAccepted = [&caller, sheet = &sheet] {
            caller.call([sheet] {
                sheet->finish();
                return true;
            });
        };
        // The window searches only when no operation runs: after this one.
        hooks.startSearch = [&searchWanted] { searchWanted = true; };
        korvane::RunNetworkSettings(ctx, *device, op, hooks, &stop);
        caller.call([sheet = &sheet] {
            sheet->finish();
            return true;
        });
    });
    if (searchWanted)
        window.startSearch();
}

void DialogOperations::runIpSettings(MainWindow& window) {
    const auto device = SelectedDevice(window);
    if (!device)
        return;
    Context& ctx = window.context();
    window.runOperationAndWait([&](StopToken& stop) {
        const GuiCaller caller(&window, &stop);
        DesktopOperator op(&window, caller);
        const IpPageEditor edit = [&caller, w = &window](IpAddressPageModel& page,
                                                         const std::optional<std::string>&) {
            return EditPageAlone<IpSettingsDialog>(caller, w, page);
        };
        korvane::RunIpSettings(ctx, *device, op, edit, &stop);
    });
}

void DialogOperations::runSetPassword(MainWindow& window) {
    const auto device = SelectedDevice(window);
    if (!device)
        return;
    Context& ctx = window.context();
    window.runOperationAndWait([&](StopToken& stop) {
        const GuiCaller caller(&window, &stop);
        DesktopOperator op(&window, caller);
        const PasswordPageEditor edit = [&caller, w = &window](PasswordPageModel& page,
                                                               const std::optional<std::string>&) {
            return EditPageAlone<SetPasswordDialog>(caller, w, page);
        };
        korvane::RunSetPassword(ctx, *device, op, edit, &stop);
    });
}

void DialogOperations::runSetSerialNumber(MainWindow& window) {
    const auto device = SelectedDevice(window);
    if (!device)
        return;
    Context& ctx = window.context();
    window.runOperationAndWait([&](StopToken& stop) {
        const GuiCaller caller(&window, &stop);
        DesktopOperator op(&window, caller);
        const SerialNumberEditor edit = [&caller, w = &window](std::string_view preset) {
            return caller
                .call([w, text = std::string(preset)]() -> std::optional<std::string> {
                    NormalCursor pointer;
                    SerialNumberDialog dialog(w);
                    dialog.setText(QString::fromStdString(text));
                    if (dialog.exec() != QDialog::Accepted)
                        return std::nullopt;
                    return dialog.text().toStdString();
                })
                .value_or(std::nullopt);
        };
        korvane::RunSetSerialNumber(ctx, *device, op, edit, &stop);
    });
}

void DialogOperations::runNetworkAdapter(MainWindow& window) {
    // Every adapter the program may use, listed afresh.
    AdapterTable available;
    EnumerateAdapters(window.context().driver, available, window.options().interfaces);
    NetworkAdapterDialog dialog(available.entries, window.adapterChoice().chosen(), &window);
    if (dialog.exec() == QDialog::Accepted)
        window.adapterChoice().choose(dialog.chosenAdapter());
}

void DialogOperations::runFirmwareUpgrade(MainWindow& window,
                                          const std::vector<DeviceRecord>& units) {
    FirmwareUpgradeDialog dialog(window.context(), units, &window);
    DeviceList* list = &window.deviceList();
    dialog.setPasswordRemembered([list](const MacAddress& mac, const std::string& password) {
        list->setRememberedPassword(mac, password);
    });
    dialog.exec();
}

} // namespace korvane::ui

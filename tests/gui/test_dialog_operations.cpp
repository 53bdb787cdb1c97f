// The main window's operations on a simulated LAN: the Network Settings
// sheet run by the core's flow off the GUI thread (its OK tests and their
// messages, the sheet staying open on the same page, the conflict question,
// the password gate with its one Password Input dialog, the writes, the
// search and the repeat search timer after), the Firmware Upgrade dialog for the selected
// rows, the factory commands and the Network Adapter choice.

#include "bridge/password_prompt_dialog.hpp"
#include "config/settings_model.hpp"
#include "dialog_test_support.hpp"
#include "dialogs/advanced_page.hpp"
#include "dialogs/firmware_upgrade_dialog.hpp"
#include "dialogs/ip_address_page.hpp"
#include "dialogs/network_adapter_dialog.hpp"
#include "dialogs/network_settings_dialog.hpp"
#include "dialogs/password_page.hpp"
#include "dialogs/serial_number_dialog.hpp"
#include "main/dialog_operations.hpp"
#include "main/main_window.hpp"
#include "sim/arp_responder.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "widgets/device_list_view.hpp"
#include "widgets/ip_address_edit.hpp"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <utility>

using namespace korvane;
using namespace korvane::ui;
using korvane::testing::BoxAnswerer;
using korvane::testing::InFront;
using korvane::testing::Script;

namespace {

Timing GuiTiming() {
    Timing t = Timing::defaults().scaled(0.02);
    t.discoveryWindow = Millis(150);
    t.queryWindow = Millis(250);
    t.commandWindow = Millis(250);
    t.tries = 2;
    t.firstSearchDelay = Millis(10);
    t.searchPeriod = Millis(600000);
    t.searchPeriodAfterDialog = Millis(20000);
    return t;
}

// The sheet in front, waiting for the operator.
NetworkSettingsDialog* EditingSheet() {
    auto* sheet = qobject_cast<NetworkSettingsDialog*>(QApplication::activeModalWidget());
    return sheet != nullptr && sheet->isVisible() && sheet->isEditing() ? sheet : nullptr;
}

} // namespace

class TestDialogOperations : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void okTestsReportInTheirOrder_data();
    void okTestsReportInTheirOrder();
    void passwordGateKeepsItsTextAndTheSheetItsInput();
    void conflictQuestionYesAndNo();
    void enterAtTheConflictQuestionWritesNothing();
    void changedSettingsAreWrittenThenSearched();
    void firmwareUpgradeForTheSelectedRows();
    void ipSettingsAlone();
    void setSerialNumberWritesTheFactoryBlock();
    void serialNumberCollisionAsksNoFirst_data();
    void serialNumberCollisionAsksNoFirst();
    void adapterChoiceIsKeptAndSearched();

  private:
    void start(const std::function<void(sim::SimulatedLan&)>& configure = {});
    void selectRow(int row);

    std::unique_ptr<sim::SimulatedLan> lan_;
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<MainWindow> window_;
    QTemporaryDir settingsDir_;
};

void TestDialogOperations::initTestCase() {
    // The user's settings stay out of it.
    QVERIFY(settingsDir_.isValid());
    testing::IsolateSettings(settingsDir_.path());
}

void TestDialogOperations::init() {
    QSettings().clear();
}

void TestDialogOperations::cleanup() {
    window_.reset();
    if (ctx_)
        ctx_->link.close();
    ctx_.reset();
    lan_.reset();
}

void TestDialogOperations::start(const std::function<void(sim::SimulatedLan&)>& configure) {
    sim::LanOptions options;
    options.devices = 2;
    lan_ = std::make_unique<sim::SimulatedLan>(options);
    if (configure)
        configure(*lan_);
    ctx_ = std::make_unique<Context>(lan_->segment(), GuiTiming());
    ctx_->link.setDiagnosticSink(nullptr);
    ctx_->enumerateAdapters();
    MainWindowOptions windowOptions;
    windowOptions.factory = true;
    window_ = std::make_unique<MainWindow>(*ctx_, windowOptions);
    window_->setOperationDialogs(std::make_unique<DialogOperations>());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    auto* list = window_->findChild<DeviceListView*>("deviceList");
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 2, 10000);
    QTRY_VERIFY(!window_->deviceList().busy());
}

void TestDialogOperations::selectRow(int row) {
    auto* list = window_->findChild<DeviceListView*>("deviceList");
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(window_->deviceList().selectedCount(), 1);
}

void TestDialogOperations::okTestsReportInTheirOrder_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("message");
    QTest::newRow("HTTP port 0 and IP 0.0.0.0, IP Address page")
        << 0 << "HTTP port should be in between 1 to 65534";
    QTest::newRow("HTTP port 0 and IP 0.0.0.0, Advanced page")
        << 1 << "HTTP port should be in between 1 to 65534";
    QTest::newRow("passwords differ")
        << 2 << "New Password and Confirm Password are different. Please check again.";
    QTest::newRow("empty password")
        << 2 << "Password could not have space or left empty. \nPlease input a valid password.";
    QTest::newRow("Telnet port 70000") << 1 << "Telnet port should be in between 1 to 65534";
    QTest::newRow("SSH port 0") << 1 << "SSH port should be in between 1 to 65534";
    QTest::newRow("IP 0.0.0.0") << 0 << "Invalid Input IP Address 0.0.0.0";
    QTest::newRow("IP 0.1.2.3") << 0 << "Invalid IP Address";
    QTest::newRow("mask 255.255.255.255")
        << 0 << "Invalid Input Subnet Mask 0.0.0.0 or 255.255.255.255";
    QTest::newRow("gateway 255.255.255.255")
        << 0 << "Invalid Input Gateway Address 255.255.255.255";
    QTest::newRow("gateway 0.0.0.0") << 0 << "Invalid Gateway Address";
    QTest::newRow("HTTPS on HTTP's port")
        << 1 << "Port numbers should not be same: HTTP and HTTPS both use port 80";
    QTest::newRow("SSH on 161") << 1 << "Invalid port: 161";
    QTest::newRow("mask 255.255.0.255") << 0 << "Invalid Subnet Mask";
}

void TestDialogOperations::okTestsReportInTheirOrder() {
    QFETCH(int, page);
    QFETCH(QString, message);
    const QString row = QString::fromUtf8(QTest::currentDataTag());
    start();
    selectRow(0);

    // The input, put straight into the pages' controls (a page that is not
    // showing takes it as well), so no page-leave test runs first.
    auto enter = [row](NetworkSettingsDialog* sheet) {
        IpAddressPage* ip = sheet->ipAddressPage();
        AdvancedPage* adv = sheet->advancedPage();
        PasswordPage* password = sheet->passwordPage();
        auto* ipCtrl = ip->findChild<IpAddressEdit*>("ipAddressEdit");
        auto* mask = ip->findChild<IpAddressEdit*>("subnetMaskEdit");
        auto* gateway = ip->findChild<IpAddressEdit*>("gatewayEdit");
        if (row.startsWith("HTTP port 0")) {
            adv->portEdit(ServiceKind::Http)->setText("0");
            ipCtrl->setAddress(0);
        } else if (row == "passwords differ") {
            password->enableBox()->click();
            password->newPasswordEdit()->setText("one");
            password->confirmPasswordEdit()->setText("two");
        } else if (row == "empty password") {
            password->enableBox()->click();
        } else if (row.startsWith("Telnet")) {
            adv->portEdit(ServiceKind::Telnet)->setText("70000");
        } else if (row.startsWith("SSH port 0")) {
            adv->portEdit(ServiceKind::Ssh)->setText("0");
        } else if (row == "IP 0.0.0.0") {
            ipCtrl->setAddress(0);
        } else if (row.startsWith("IP 0.1")) {
            ipCtrl->setAddress(0x00010203);
        } else if (row.startsWith("mask 255.255.255.255")) {
            mask->setAddress(0xFFFFFFFF);
        } else if (row.startsWith("gateway 255")) {
            gateway->setAddress(0xFFFFFFFF);
        } else if (row.startsWith("gateway 0")) {
            gateway->setAddress(0);
        } else if (row.startsWith("HTTPS")) {
            adv->portEdit(ServiceKind::Https)->setText("80");
        } else if (row.startsWith("SSH on")) {
            adv->portEdit(ServiceKind::Ssh)->setText("161");
        } else if (row.startsWith("mask 255.255.0")) {
            mask->setAddress(0xFFFF00FF);
        }
    };

    BoxAnswerer boxes;
    int pageAfterRefusal = -1;
    bool openAfterRefusal = false;
    Script script;
    script.then([] { return EditingSheet() != nullptr; },
                [&] {
                    NetworkSettingsDialog* sheet = EditingSheet();
                    if (sheet == nullptr)
                        return;
                    sheet->tabs()->setCurrentIndex(page);
                    enter(sheet);
                    sheet->okButton()->click();
                });
    // Refused: the sheet waits again, on the same page, input kept.
    script.then([&] { return !boxes.texts.isEmpty() && EditingSheet() != nullptr; },
                [&] {
                    NetworkSettingsDialog* sheet = EditingSheet();
                    if (sheet == nullptr)
                        return;
                    pageAfterRefusal = sheet->currentPage();
                    openAfterRefusal = sheet->isVisible();
                    sheet->cancelButton()->click();
                });
    window_->actions().settings->trigger();

    QVERIFY(script.finished());
    QCOMPARE(boxes.texts, QStringList{message});
    QCOMPARE(boxes.icons.value(0), QMessageBox::Warning);
    QCOMPARE(boxes.buttons.value(0), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(openAfterRefusal);
    QCOMPARE(pageAfterRefusal, page);
    // Cancelled: nothing written.
    QCOMPARE(lan_->emulator()->device(0).stats().settingsWrites, 0u);
}

void TestDialogOperations::passwordGateKeepsItsTextAndTheSheetItsInput() {
    start([](sim::SimulatedLan& lan) { lan.emulator()->device(0).setPassword("pw"); });
    selectRow(0);
    BoxAnswerer boxes;
    QStringList presets;
    bool pageTicked = false;
    QString stars;
    quint32 gatewayAfterCancel = 0;
    Script script;
    script.then([] { return EditingSheet() != nullptr; },
                [&] {
                    NetworkSettingsDialog* sheet = EditingSheet();
                    if (sheet == nullptr)
                        return;
                    PasswordPage* password = sheet->passwordPage();
                    pageTicked = password->enableBox()->isChecked();
                    stars = password->newPasswordEdit()->text();
                    sheet->ipAddressPage()
                        ->findChild<IpAddressEdit*>("gatewayEdit")
                        ->setAddress(0xC0A801FE);
                    sheet->okButton()->click();
                });
    // A wrong password is refused; the sheet stays open.
    script.then([] { return InFront<PasswordPromptDialog>() != nullptr; },
                [&] {
                    auto* input = InFront<PasswordPromptDialog>();
                    if (input == nullptr)
                        return;
                    presets << input->password();
                    input->passwordEdit()->setText("wrong");
                    input->accept();
                });
    script.then([&] { return EditingSheet() != nullptr && boxes.texts.size() == 1; },
                [&] {
                    if (NetworkSettingsDialog* sheet = EditingSheet())
                        sheet->okButton()->click();
                });
    // The one dialog shows the text entered before; what is typed and then
    // cancelled is not kept, and the sheet keeps all its input.
    script.then([] { return InFront<PasswordPromptDialog>() != nullptr; },
                [&] {
                    auto* input = InFront<PasswordPromptDialog>();
                    if (input == nullptr)
                        return;
                    presets << input->password();
                    input->passwordEdit()->setText("other");
                    input->reject();
                });
    script.then([] { return EditingSheet() != nullptr; },
                [&] {
                    NetworkSettingsDialog* sheet = EditingSheet();
                    if (sheet == nullptr)
                        return;
                    gatewayAfterCancel = sheet->ipAddressPage()->model().gateway;
                    sheet->okButton()->click();
                });
    script.then([] { return InFront<PasswordPromptDialog>() != nullptr; },
                [&] {
                    auto* input = InFront<PasswordPromptDialog>();
                    if (input == nullptr)
                        return;
                    presets << input->password();
                    input->passwordEdit()->setText("pw");
                    input->accept();
                });
    window_->actions().settings->trigger();

    QVERIFY(script.finished());
    QVERIFY(pageTicked);
    QCOMPARE(stars, QString("********"));
    QCOMPARE(gatewayAfterCancel, 0xC0A801FEu);
    QCOMPARE(presets, QStringList({"", "wrong", "wrong"}));
    QCOMPARE(boxes.texts, QStringList{"Incorrect Password."});
    sim::EmulatedDevice& device = lan_->emulator()->device(0);
    QCOMPARE(device.settings().gateway(), 0xC0A801FEu);
    QCOMPARE(device.password(), std::string("pw"));
    QCOMPARE(device.stats().passwordWrites, 0u);
}

void TestDialogOperations::conflictQuestionYesAndNo() {
    start();
    // Another station answers to 192.168.1.77.
    sim::ArpResponder station(lan_->segment(), {{0x02, 0x00, 0x00, 0x00, 0x07, 0x07}},
                              {0xC0A8014D});
    selectRow(0);
    BoxAnswerer boxes;
    boxes.answers = {QMessageBox::No, QMessageBox::Yes};
    Script script;
    auto typeAddressAndOk = [] {
        NetworkSettingsDialog* sheet = EditingSheet();
        if (sheet == nullptr)
            return;
        sheet->ipAddressPage()->findChild<IpAddressEdit*>("ipAddressEdit")->setAddress(0xC0A8014D);
        sheet->okButton()->click();
    };
    script.then([] { return EditingSheet() != nullptr; }, typeAddressAndOk);
    // No keeps the sheet open; Yes goes on and writes.
    script.then([&] { return EditingSheet() != nullptr && boxes.texts.size() == 1; },
                [] {
                    if (NetworkSettingsDialog* sheet = EditingSheet())
                        sheet->okButton()->click();
                });
    window_->actions().settings->trigger();

    QVERIFY(script.finished());
    const QString question =
        "IP address: 192.168.1.77 already exists on the LAN. Are you sure you want to continue?";
    QCOMPARE(boxes.texts, QStringList({question, question}));
    QCOMPARE(boxes.icons.value(0), QMessageBox::Warning);
    QCOMPARE(boxes.buttons.value(0), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(lan_->emulator()->device(0).settings().ipAddress(), 0xC0A8014Du);
}

void TestDialogOperations::enterAtTheConflictQuestionWritesNothing() {
    start();
    selectRow(0);
    sim::EmulatedDevice& device = lan_->emulator()->device(0);
    const std::uint32_t before = device.settings().ipAddress();
    BoxAnswerer boxes;
    QString defaultLabel;
    boxes.inspect = [&](QMessageBox* box) {
        defaultLabel =
            box->defaultButton() != nullptr ? box->defaultButton()->text().remove('&') : QString();
        QTest::keyClick(box, Qt::Key_Return);
    };
    Script script;
    // The other device's address, 192.168.1.101.
    script.then([] { return EditingSheet() != nullptr; },
                [] {
                    NetworkSettingsDialog* sheet = EditingSheet();
                    if (sheet == nullptr)
                        return;
                    sheet->ipAddressPage()
                        ->findChild<IpAddressEdit*>("ipAddressEdit")
                        ->setAddress(0xC0A80165);
                    sheet->okButton()->click();
                });
    // Enter said No: the sheet is open again, and is left.
    script.then([&] { return EditingSheet() != nullptr && boxes.texts.size() == 1; },
                [] {
                    if (NetworkSettingsDialog* sheet = EditingSheet())
                        sheet->cancelButton()->click();
                });
    window_->actions().settings->trigger();

    QVERIFY(script.finished());
    QCOMPARE(boxes.texts, QStringList{"IP address: 192.168.1.101 already exists on the LAN. Are "
                                      "you sure you want to continue?"});
    QCOMPARE(defaultLabel, QString("No"));
    QCOMPARE(device.stats().settingsWrites, 0u);
    QCOMPARE(device.settings().ipAddress(), before);
}

void TestDialogOperations::changedSettingsAreWrittenThenSearched() {
    start();
    selectRow(0);
    Script script;
    Qt::CursorShape pointer = Qt::BlankCursor;
    script.then([] { return EditingSheet() != nullptr; },
                [&pointer] {
                    NetworkSettingsDialog* sheet = EditingSheet();
                    if (sheet == nullptr)
                        return;
                    // The window shows the wait cursor; the sheet the normal one.
                    const QCursor* shown = QApplication::overrideCursor();
                    pointer = shown != nullptr ? shown->shape() : Qt::ArrowCursor;
                    // To the Advanced page, where HTTPS moves to 8443.
                    QTabBar* bar = sheet->tabs()->tabBar();
                    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
                    sheet->advancedPage()->portEdit(ServiceKind::Https)->setText("8443");
                    QTest::keyClick(sheet, Qt::Key_Return);
                });
    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    // Enter in the main window is the Settings command.
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_Return);
    QVERIFY(script.finished());
    QCOMPARE(pointer, Qt::ArrowCursor);
    QVERIFY(!EditingSheet());
    QCOMPARE(lan_->emulator()->device(0).settings().port<settings_offset::kHttpsPort>(), 8443);
    // A new search follows the write, and the repeat search timer runs again with 20000 ms.
    QVERIFY(window_->deviceList().busy());
    QVERIFY(window_->searchTimerActive());
    QCOMPARE(window_->searchTimerIntervalMs(), 20000);
    QCOMPARE(window_->focusWidget(), window_->findChild<DeviceListView*>("deviceList"));
    QTRY_VERIFY(applied.count() >= 1);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestDialogOperations::firmwareUpgradeForTheSelectedRows() {
    start();
    selectRow(0);
    auto* list = window_->findChild<DeviceListView*>("deviceList");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualRect(list->model()->index(1, 0)).center());
    QCOMPARE(window_->deviceList().selectedCount(), 2);
    QStringList units;
    bool timerOffInside = false;
    Script script;
    script.then([] { return InFront<FirmwareUpgradeDialog>() != nullptr; },
                [&] {
                    auto* dialog = InFront<FirmwareUpgradeDialog>();
                    if (dialog == nullptr)
                        return;
                    timerOffInside = !window_->searchTimerActive();
                    for (int i = 0; i < dialog->statusList()->topLevelItemCount(); ++i)
                        units << dialog->statusList()->topLevelItem(i)->text(0);
                    dialog->cancelButton()->click();
                });
    window_->actions().upgradeFirmware->trigger();
    QTRY_VERIFY(script.finished());
    QVERIFY(timerOffInside);
    QCOMPARE(units, QStringList({"2801795073", "2801795074"}));
    QTRY_COMPARE(window_->searchTimerIntervalMs(), 20000);
    QVERIFY(window_->searchTimerActive());
}

void TestDialogOperations::ipSettingsAlone() {
    start();
    selectRow(0);
    Script script;
    script.then(
        [] { return InFront<IpSettingsDialog>() != nullptr; },
        [] {
            auto* dialog = InFront<IpSettingsDialog>();
            if (dialog == nullptr)
                return;
            dialog->page()->findChild<IpAddressEdit*>("gatewayEdit")->setAddress(0xC0A801FD);
            dialog->accept();
        });
    window_->actions().ipSettings->trigger();
    QVERIFY(script.finished());
    sim::EmulatedDevice& device = lan_->emulator()->device(0);
    QCOMPARE(device.settings().gateway(), 0xC0A801FDu);
    QCOMPARE(device.stats().lastSettingsWriteLength, std::size_t{68});
}

void TestDialogOperations::setSerialNumberWritesTheFactoryBlock() {
    start();
    selectRow(0); // 02-19-A7-00-00-01: in the range the command takes
    Script script;
    QString preset;
    script.then([] { return InFront<SerialNumberDialog>() != nullptr; },
                [&] {
                    auto* dialog = InFront<SerialNumberDialog>();
                    if (dialog == nullptr)
                        return;
                    preset = dialog->text();
                    dialog->edit()->setText("2801795090");
                    QTest::keyClick(dialog->edit(), Qt::Key_Return);
                });
    window_->actions().serialNumber->trigger();
    QVERIFY(script.finished());
    QCOMPARE(preset, QString("2801795072"));
    QCOMPARE(lan_->emulator()->device(0).stats().factoryWrites, 1u);
}

void TestDialogOperations::serialNumberCollisionAsksNoFirst_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("Enter: No") << false;
    QTest::newRow("Yes") << true;
}

void TestDialogOperations::serialNumberCollisionAsksNoFirst() {
    QFETCH(bool, yes);
    start();
    selectRow(0); // 02-19-A7-00-00-01; the other device is 02-19-A7-00-00-02
    Script script;
    script.then([] { return InFront<SerialNumberDialog>() != nullptr; },
                [] {
                    auto* dialog = InFront<SerialNumberDialog>();
                    if (dialog == nullptr)
                        return;
                    dialog->edit()->setText("2801795074");
                    QTest::keyClick(dialog->edit(), Qt::Key_Return);
                });
    BoxAnswerer boxes;
    QString defaultLabel;
    boxes.inspect = [&](QMessageBox* box) {
        if (!defaultLabel.isEmpty())
            return;
        defaultLabel = box->defaultButton()->text().remove('&');
        if (yes)
            box->button(QMessageBox::Yes)->click();
        else
            QTest::keyClick(box, Qt::Key_Return);
    };
    window_->actions().serialNumber->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!boxes.texts.isEmpty(), 10000);
    QVERIFY(script.finished());
    QCOMPARE(defaultLabel, QString("No"));
    QVERIFY(boxes.texts.first().startsWith("Device 2801795073 (02-19-A7-00-00-01): the serial "
                                           "number 2801795074 gives the MAC address "
                                           "02-19-A7-00-00-02."));
    QVERIFY(boxes.texts.first().contains("Another device on this segment"));
    QCOMPARE(boxes.icons.first(), QMessageBox::Warning);
    QTRY_COMPARE_WITH_TIMEOUT(lan_->emulator()->device(0).stats().factoryWrites, yes ? 1u : 0u,
                              10000);
}

void TestDialogOperations::adapterChoiceIsKeptAndSearched() {
    // A second adapter on the same segment; the adapters a search went over
    // show as the sources of its broadcast requests.
    const MacAddress spare{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x09}};
    auto sources = std::make_shared<std::pair<std::mutex, std::set<MacAddress>>>();
    start([spare, sources](sim::SimulatedLan& lan) {
        lan.segment().addAdapter("eth9", "Spare adapter", spare);
        lan.segment().setFrameHook([sources](std::span<const std::uint8_t> frame) {
            if (frame.size() >= 12 && std::all_of(frame.begin(), frame.begin() + 6,
                                                  [](std::uint8_t b) { return b == 0xFF; })) {
                MacAddress source;
                std::copy(frame.begin() + 6, frame.begin() + 12, source.bytes.begin());
                std::lock_guard lock(sources->first);
                sources->second.insert(source);
            }
            return true;
        });
    });
    const auto searchedFrom = [sources] {
        std::lock_guard lock(sources->first);
        return std::exchange(sources->second, {});
    };
    auto* status = window_->findChild<QLabel*>("adapterStatus");
    QVERIFY(status->text().isEmpty());
    QCOMPARE(searchedFrom().size(), 2u);

    // Choose the spare adapter: kept, searched at once, said on the window.
    const auto choose = [this](const QString& text) {
        Script script;
        script.then([] { return InFront<NetworkAdapterDialog>() != nullptr; },
                    [text] {
                        QTreeWidget* adapters = InFront<NetworkAdapterDialog>()->list();
                        const auto rows = adapters->findItems(text, Qt::MatchExactly);
                        QVERIFY(!rows.isEmpty());
                        adapters->setCurrentItem(rows.first());
                        InFront<NetworkAdapterDialog>()->okButton()->click();
                    });
        QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
        window_->actions().networkAdapter->trigger();
        QVERIFY(script.finished());
        QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
    };
    choose("Spare adapter");
    QCOMPARE(QSettings().value("search/adapter").toString(), QString("eth9"));
    QCOMPARE(searchedFrom(), std::set<MacAddress>{spare});
    QCOMPARE(status->text(), QString("Searching only Spare adapter (eth9)"));

    // A new window (a new start) keeps the choice.
    window_.reset();
    searchedFrom();
    window_ = std::make_unique<MainWindow>(*ctx_, MainWindowOptions{});
    window_->setOperationDialogs(std::make_unique<DialogOperations>());
    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    QTRY_COMPARE_WITH_TIMEOUT(applied.count(), 1, 10000);
    QCOMPARE(searchedFrom(), std::set<MacAddress>{spare});
    status = window_->findChild<QLabel*>("adapterStatus");
    QCOMPARE(status->text(), QString("Searching only Spare adapter (eth9)"));

    // Back to every adapter.
    choose("All network adapters");
    QVERIFY(!QSettings().contains("search/adapter"));
    QCOMPARE(searchedFrom().size(), 2u);
    QVERIFY(status->text().isEmpty());
}

QTEST_MAIN(TestDialogOperations)
#include "test_dialog_operations.moc"

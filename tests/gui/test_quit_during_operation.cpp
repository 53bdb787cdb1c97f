// Quitting while an operation waits for a device that never answers: the
// window's close and the application's exit both stop the operation's
// worker at once (its stop wakes the transaction's wait, long as the
// window is) and the window waits for it before anything the worker uses
// goes. Built under the address and thread sanitizers too: a worker left
// running into a destroyed dialog is a use after free there.

#include "dialog_test_support.hpp"
#include "dialogs/firmware_upgrade_dialog.hpp"
#include "main/dialog_operations.hpp"
#include "main/main_window.hpp"
#include "protocol/frame.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "widgets/device_list_view.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <memory>

using namespace korvane;
using namespace korvane::ui;
using korvane::testing::BoxAnswerer;
using korvane::testing::InFront;

namespace {

// Windows no test outlasts: only a stop ends a wait for a reply.
Timing EndlessTiming() {
    Timing t = Timing::defaults().scaled(0.02);
    t.discoveryWindow = Millis(150);
    t.queryWindow = Millis(600000);
    t.commandWindow = Millis(600000);
    t.tries = 1;
    t.firstSearchDelay = Millis(10);
    t.searchPeriod = Millis(600000);
    t.closeWatcherWait = Millis(60000);
    return t;
}

// What "at once" means here: far below any window above, far above a
// loaded machine's scheduling delays.
constexpr qint64 kPromptMs = 10000;

} // namespace

class TestQuitDuringOperation : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void quitWhileTheDeviceNeverAnswers_data();
    void quitWhileTheDeviceNeverAnswers();

  private:
    void start();

    std::unique_ptr<sim::SimulatedLan> lan_;
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<MainWindow> window_;
    QTemporaryDir dir_;
};

void TestQuitDuringOperation::initTestCase() {
    QVERIFY(dir_.isValid());
    testing::IsolateSettings(dir_.path());
}

void TestQuitDuringOperation::cleanup() {
    window_.reset();
    if (ctx_)
        ctx_->link.close();
    ctx_.reset();
    lan_.reset();
    // The application's exit leaves every later event loop ending at once;
    // a short run of the application's own loop clears that.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

void TestQuitDuringOperation::start() {
    sim::LanOptions options;
    options.devices = 1;
    lan_ = std::make_unique<sim::SimulatedLan>(options);
    ctx_ = std::make_unique<Context>(lan_->segment(), EndlessTiming());
    ctx_->link.setDiagnosticSink(nullptr);
    ctx_->enumerateAdapters();
    window_ = std::make_unique<MainWindow>(*ctx_, MainWindowOptions{});
    window_->setOperationDialogs(std::make_unique<DialogOperations>());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    auto* list = window_->findChild<DeviceListView*>("deviceList");
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 1, 10000);
    QTRY_VERIFY(!window_->deviceList().busy());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 0)).center());
    // Found; from now on it answers nothing.
    sim::DeviceFaults faults;
    faults.neverAnswer = true;
    lan_->emulator()->device(0).setFaults(faults);
}

void TestQuitDuringOperation::quitWhileTheDeviceNeverAnswers_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("exitApplication");
    QTest::newRow("Network Settings, window closed") << "settings" << false;
    QTest::newRow("Network Settings, application exits") << "settings" << true;
    QTest::newRow("Firmware Upgrade run, application exits") << "firmware" << true;
}

void TestQuitDuringOperation::quitWhileTheDeviceNeverAnswers() {
    QFETCH(QString, operation);
    QFETCH(bool, exitApplication);
    start();
    sim::EmulatedDevice& device = lan_->emulator()->device(0);
    const bool firmware = operation == "firmware";
    // The request the operation then waits on: the settings read, or the
    // firmware unit's password check.
    const std::uint16_t awaited = firmware ? code::kCheckPassword : code::kReadSettings;
    const std::uint64_t before = device.stats().requestCount(awaited);

    QSignalSpy finished(window_.get(), &MainWindow::finished);
    QElapsedTimer sinceQuit;
    QTimer quit;
    quit.setInterval(5);
    connect(&quit, &QTimer::timeout, this, [&] {
        if (device.stats().requestCount(awaited) == before)
            return;
        quit.stop();
        sinceQuit.start();
        if (exitApplication)
            QCoreApplication::exit(0);
        else
            window_->close();
    });
    quit.start();

    if (firmware) {
        const QString image = dir_.filePath("image.bin");
        {
            std::ofstream out(image.toStdString(), std::ios::binary | std::ios::trunc);
            const std::string bytes(4096, '\x5A');
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        // The short image is let through, so that the unit goes to its device.
        BoxAnswerer boxes;
        boxes.inspect = [](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                if (b->text() == "Continue")
                    b->click();
        };
        bool started = false;
        QTimer download;
        download.setInterval(5);
        connect(&download, &QTimer::timeout, this, [&] {
            auto* dialog = InFront<FirmwareUpgradeDialog>();
            if (dialog == nullptr || started)
                return;
            started = true;
            dialog->fileNameEdit()->setText(image);
            dialog->downloadButton()->click();
        });
        download.start();
        window_->actions().upgradeFirmware->trigger();
        // The dialog runs inside the window's event handling; the exit ends
        // its loop, and the dialog stops and waits for its run as it goes.
        QTRY_VERIFY_WITH_TIMEOUT(sinceQuit.isValid() && InFront<FirmwareUpgradeDialog>() == nullptr,
                                 kPromptMs + 5000);
        QVERIFY(started);
        QVERIFY(window_->findChildren<FirmwareUpgradeDialog*>().isEmpty());
    } else {
        // Returns only once the operation's worker has ended.
        window_->actions().settings->trigger();
        QVERIFY(sinceQuit.isValid());
        QVERIFY(!window_->operationRunning());
    }
    QVERIFY2(sinceQuit.elapsed() < kPromptMs, qPrintable(QString::number(sinceQuit.elapsed())));
    if (!exitApplication)
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kPromptMs);
    // Nothing was written to the device on the way out.
    QCOMPARE(device.stats().settingsWrites, 0u);
}

QTEST_MAIN(TestQuitDuringOperation)
#include "test_quit_during_operation.moc"

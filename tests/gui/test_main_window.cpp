// The main window driven on a simulated LAN with a shrunk timing table:
// layout, the first and the repeated search, selection texts, reselection
// after a refresh, the busy state, the context menu, the web page launch,
// the factory buttons, the permission message and the closing sequence.

#include "dialog_test_support.hpp"
#include "main/closing_popup.hpp"
#include "main/main_window.hpp"
#include "models/device_row_table_model.hpp"
#include "protocol/frame.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "skin/skin_palette.hpp"
#include "widgets/device_list_header.hpp"
#include "widgets/device_list_view.hpp"
#include "widgets/link_opener.hpp"
#include "widgets/skin_button.hpp"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

using namespace korvane;
using namespace korvane::ui;

namespace {

// Small enough to keep the suite quick, windows wide enough for a loaded
// machine. Only the tests that want it see a repeat search.
Timing GuiTiming() {
    Timing t = Timing::defaults().scaled(0.02);
    t.discoveryWindow = Millis(150);
    t.queryWindow = Millis(150);
    t.tries = 2;
    t.firstSearchDelay = Millis(20);
    t.searchPeriod = Millis(600000);
    t.searchPeriodAfterDialog = Millis(300000);
    t.closeWatcherWait = Millis(20000);
    return t;
}

constexpr std::uint32_t kFirstSerial = 2801795073; // 02-19-A7-00-00-01

MacAddress SerialMac(std::uint32_t serial) {
    return {{0x02, 0x19, static_cast<std::uint8_t>(serial >> 24),
             static_cast<std::uint8_t>(serial >> 16), static_cast<std::uint8_t>(serial >> 8),
             static_cast<std::uint8_t>(serial)}};
}

class RecordingOpener : public LinkOpener {
  public:
    LinkOpenResult openLink(const QString& address) override {
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        addresses << address;
        return result;
    }
    QStringList addresses;
    bool onGuiThread = true;
    LinkOpenResult result = LinkOpenResult::Opened;
};

class RecordingDialogs : public OperationDialogs {
  public:
    void runNetworkSettings(MainWindow& window) override {
        ++networkSettings;
        timerActiveInside = window.searchTimerActive();
    }
    void runFirmwareUpgrade(MainWindow&, const std::vector<DeviceRecord>& units) override {
        firmwareUnits.clear();
        for (const DeviceRecord& unit : units) {
            firmwareUnits << QString::fromStdString(SerialText(unit.mac()));
        }
        ++firmware;
    }
    void runIpSettings(MainWindow&) override { ++ipSettings; }
    void runSetPassword(MainWindow&) override { ++setPassword; }
    void runSetSerialNumber(MainWindow&) override { ++serialNumber; }
    void runNetworkAdapter(MainWindow& window) override {
        adapterTableDuringChoice = window.context().adapterCount();
        window.adapterChoice().choose(adapterToChoose);
    }

    int networkSettings = 0;
    bool timerActiveInside = true;
    int firmware = 0;
    QStringList firmwareUnits;
    int ipSettings = 0;
    int setPassword = 0;
    int serialNumber = 0;
    QString adapterToChoose;
    int adapterTableDuringChoice = -1;
};

struct MenuSeen {
    bool shown = false;
    QStringList enabled; // object names of the enabled items
    QStringList items;   // texts of all items, separators as "-"
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void layoutMatchesTheSkin();
    void backgroundDragsTheWindow();
    void firstSearchAfterDelayListsRowsBySerialNumber();
    void repeatSearchFollowsItsTimer();
    void clickAndSelectionChangesSetPaneAndStatus();
    void refreshReselectsTheClickedDeviceWhereverItMoved();
    void busyStateDuringSearch();
    void adapterChosenDuringASearchWaitsForTheNextOne();
    void adapterStatusSaysWhatIsReallySearched();
    void contextMenuGreying_data();
    void contextMenuGreying();
    void exportListSavesTheRowsAsCsv();
    void doubleClickOpensEachSelectedDevicesPage();
    void withoutABrowserTheAddressIsShown();
    void keyboardOpensTheContextMenu();
    void paintedControlsHaveAccessibleNames();
    void tabReachesEveryControlAndEnterPressesTheFocusedButton();
    void settingsAndFirmwareHooksRestartTimerShorter();
    void factoryButtonsFollowTheirRules();
    void aboutBoxThenTheListHasTheFocus();
    void missingRawAccessIsToldOnce();
    void closingDuringSearchWaitsForTheThreadOnly();
    void closingWithoutSearchEndsAtOnce();

  private:
    using Configure = std::function<void(sim::SimulatedLan&)>;
    void start(int devices, Timing timing = GuiTiming(), bool factory = false,
               const Configure& configure = {});
    void waitForFirstSearch();

    DeviceListView* list() const { return window_->findChild<DeviceListView*>("deviceList"); }
    QWidget* viewport() const { return list()->viewport(); }
    QPlainTextEdit* pane() const { return window_->findChild<QPlainTextEdit*>("informationPane"); }
    QLineEdit* status() const { return window_->findChild<QLineEdit*>("statusField"); }
    QAbstractButton* button(const char* name) const {
        return window_->findChild<QAbstractButton*>(name);
    }
    QString rowText(int row, int column = 0) const {
        return list()->model()->index(row, column).data().toString();
    }
    QPoint rowCentre(int row) const {
        return list()->visualRect(list()->model()->index(row, 0)).center();
    }
    void click(int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(viewport(), Qt::LeftButton, modifiers, rowCentre(row));
    }
    QPoint emptyArea() const { return QPoint(20, viewport()->height() - 3); }
    MenuSeen rightClick(QPoint at);
    QStringList selectedSerials() const;

    std::unique_ptr<sim::SimulatedLan> lan_;
    std::unique_ptr<Context> ctx_;
    RecordingOpener opener_;
    RecordingDialogs* dialogs_ = nullptr;
    std::unique_ptr<MainWindow> window_;
    qint64 firstSearchAfterMs_ = -1;
    QTemporaryDir settingsDir_;
};

void TestMainWindow::start(int devices, Timing timing, bool factory, const Configure& configure) {
    sim::LanOptions options;
    options.devices = devices;
    lan_ = std::make_unique<sim::SimulatedLan>(options);
    if (configure) {
        configure(*lan_);
    }
    ctx_ = std::make_unique<Context>(lan_->segment(), timing);
    ctx_->link.setDiagnosticSink(nullptr);
    ctx_->enumerateAdapters();
    opener_ = RecordingOpener();
    MainWindowOptions windowOptions;
    windowOptions.factory = factory;
    windowOptions.linkOpener = &opener_;
    firstSearchAfterMs_ = -1;
    QElapsedTimer sinceConstruction;
    sinceConstruction.start();
    window_ = std::make_unique<MainWindow>(*ctx_, windowOptions);
    connect(window_.get(), &MainWindow::searchStarted, this, [this, sinceConstruction] {
        if (firstSearchAfterMs_ < 0) {
            firstSearchAfterMs_ = sinceConstruction.elapsed();
        }
    });
    auto dialogs = std::make_unique<RecordingDialogs>();
    dialogs_ = dialogs.get();
    window_->setOperationDialogs(std::move(dialogs));
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void TestMainWindow::waitForFirstSearch() {
    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    QTRY_VERIFY(applied.count() >= 1 || window_->deviceList().rows().rowCount() > 0);
    QTRY_VERIFY(!window_->deviceList().busy());
}

void TestMainWindow::initTestCase() {
    // The remembered adapter is a setting: the user's own stay out of it.
    QVERIFY(settingsDir_.isValid());
    testing::IsolateSettings(settingsDir_.path());
}

void TestMainWindow::cleanup() {
    window_.reset();
    ctx_.reset();
    lan_.reset();
    dialogs_ = nullptr;
}

MenuSeen TestMainWindow::rightClick(QPoint at) {
    // The right button selects as a list does; the menu comes with the
    // context-menu event, which a real pointer sends after the press.
    QTest::mousePress(viewport(), Qt::RightButton, {}, at);
    QTest::mouseRelease(viewport(), Qt::RightButton, {}, at);
    MenuSeen seen;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        seen.shown = true;
        for (QAction* action : menu->actions()) {
            seen.items << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (!action->isSeparator() && action->isEnabled()) {
                seen.enabled << action->objectName();
            }
        }
        menu->close();
        poll.stop();
    });
    poll.start();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport()->mapToGlobal(at));
    QApplication::sendEvent(viewport(), &event);
    poll.stop();
    return seen;
}

QStringList TestMainWindow::selectedSerials() const {
    QStringList serials;
    for (const QModelIndex& index : list()->selectionModel()->selectedRows()) {
        serials << index.data().toString();
    }
    serials.sort();
    return serials;
}

// ---------------------------------------------------------------- layout

void TestMainWindow::layoutMatchesTheSkin() {
    start(2);
    QCOMPARE(window_->windowTitle(), QStringLiteral("Korvane Utility"));
    QCOMPARE(window_->size(), QSize(800, 600));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(!(window_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window_->windowFlags() & Qt::WindowCloseButtonHint);

    const struct {
        const char* name;
        int y;
    } buttons[] = {{"launchButton", 35},
                   {"settingsButton", 145},
                   {"firmwareButton", 255},
                   {"aboutButton", 365},
                   {"refreshButton", 475}};
    for (const auto& b : buttons) {
        QAbstractButton* widget = button(b.name);
        QVERIFY2(widget != nullptr, b.name);
        QCOMPARE(widget->geometry(), QRect(32, b.y, 158, 84));
        QVERIFY(widget->isVisible());
    }

    // Whole rows: the spare pixels of (186 - header) move the list down.
    DeviceListView* view = list();
    // The header's titles fit their columns in whatever font they got.
    const DeviceListHeader* header = view->listHeader();
    QVERIFY(header->sectionSize(0) >= header->titleWidth(" Serial Number "));
    QVERIFY(header->sectionSize(1) >= header->titleWidth("IP Address"));
    const int headerHeight = view->header()->height();
    const int row = view->effectiveRowHeight();
    const int spare = (186 - headerHeight) % row;
    QCOMPARE(view->geometry(), QRect(243, 214 + spare, 507, 188 - spare));
    // Whole rows between the header and the list's one-pixel outline.
    QCOMPARE((view->height() - 2 - headerHeight) % row, 0);
    // Rounded top corners, straight bottom edge.
    const QRegion mask = view->mask();
    QVERIFY(!mask.contains(QPoint(0, 0)));
    QVERIFY(!mask.contains(QPoint(view->width() - 1, 0)));
    QVERIFY(mask.contains(QPoint(0, view->height() - 1)));
    QVERIFY(mask.contains(QPoint(view->width() - 1, view->height() - 1)));
    QVERIFY(mask.contains(QPoint(view->width() / 2, 0)));

    QPlainTextEdit* text = pane();
    QCOMPARE(text->geometry(), QRect(249, 435, 300, 80));
    QVERIFY(text->font().bold());
    QCOMPARE(text->font(), skin::ProductFont(skin::kPaneFontHeight));
    QCOMPARE(text->palette().color(QPalette::Text), QColor(47, 47, 47));
    QVERIFY(text->isReadOnly());
    QVERIFY(!status()->isVisible());
    for (const char* name : {"ipSettingsButton", "setPasswordButton", "serialNumberButton"}) {
        QVERIFY2(!button(name)->isVisible(), name);
    }

    // The panel's black outline and its painted label.
    const QImage face = window_->grab().toImage();
    QCOMPARE(qGray(face.pixel(240, 300)), 0);
    QCOMPARE(qGray(face.pixel(749, 300)), 0);
    QCOMPARE(face.pixel(300, 537), QColor(Qt::black).rgb());
    bool labelInk = false;
    for (int x = 250; x < 400 && !labelInk; ++x) {
        for (int y = 414; y < 432 && !labelInk; ++y) {
            labelInk = qGray(face.pixel(x, y)) < 64;
        }
    }
    QVERIFY(labelInk);
}

void TestMainWindow::backgroundDragsTheWindow() {
    start(0);
    const QPoint before = window_->pos();
    // The rail below the buttons and the panel's label are background.
    for (const QPoint grip : {QPoint(12, 590), QPoint(300, 420)}) {
        const QPoint from = window_->pos();
        QTest::mousePress(window_.get(), Qt::LeftButton, {}, grip);
        QTest::mouseMove(window_.get(), grip + QPoint(40, 25));
        QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, grip + QPoint(40, 25));
        QTRY_COMPARE(window_->pos(), from + QPoint(40, 25));
    }
    QCOMPARE(window_->pos(), before + QPoint(80, 50));
}

// ---------------------------------------------------------------- search

void TestMainWindow::firstSearchAfterDelayListsRowsBySerialNumber() {
    Timing timing = GuiTiming();
    timing.firstSearchDelay = Millis(250);
    // Found in the opposite order of their serial numbers.
    start(0, timing, false, [](sim::SimulatedLan& lan) {
        for (std::uint32_t offset : {7u, 3u, 0u, 5u}) {
            lan.emulator()->addDevice(sim::DefaultDeviceConfig(static_cast<int>(offset),
                                                               SerialMac(kFirstSerial + offset)));
        }
    });
    QTRY_VERIFY(firstSearchAfterMs_ >= 0);
    QVERIFY2(firstSearchAfterMs_ >= 250, qPrintable(QString::number(firstSearchAfterMs_)));
    waitForFirstSearch();

    QCOMPARE(list()->model()->rowCount(), 4);
    const QStringList expected = {"2801795073", "2801795076", "2801795078", "2801795080"};
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(rowText(row), expected[row]);
    }
    QCOMPARE(rowText(0, 1), QStringLiteral("192.168.1.100"));
    QCOMPARE(rowText(3, 1), QStringLiteral("192.168.1.107"));
    // The first row is selected and shown.
    QCOMPARE(selectedSerials(), QStringList{"2801795073"});
    QCOMPARE(window_->statusText(), QStringLiteral("Select 1 of 4"));
    QVERIFY(window_->paneText().startsWith("Serial Number: 2801795073\r\n"));
    QVERIFY(window_->searchTimerActive());
    QCOMPARE(window_->searchTimerIntervalMs(), 600000);
}

void TestMainWindow::repeatSearchFollowsItsTimer() {
    Timing timing = GuiTiming();
    timing.searchPeriod = Millis(200);
    start(2, timing);
    QSignalSpy started(window_.get(), &MainWindow::searchStarted);
    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    QTRY_VERIFY(applied.count() >= 2);
    // Every search kills the timer while it runs and arms it when it ends.
    QVERIFY(started.count() >= 2);
    QCOMPARE(window_->searchTimerIntervalMs(), 200);
}

void TestMainWindow::clickAndSelectionChangesSetPaneAndStatus() {
    start(8);
    waitForFirstSearch();

    click(2);
    QCOMPARE(selectedSerials(), QStringList{"2801795075"});
    const QStringList lines = window_->paneText().split("\r\n");
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("Serial Number: 2801795075"));
    QCOMPARE(lines[1], QStringLiteral("Hardware Version: Q3.0"));
    QCOMPARE(lines[2], QStringLiteral("Firmware Version: 1.18.3M.4"));
    QCOMPARE(lines[3], QStringLiteral("LAN IP Address: ") + rowText(2, 1));
    QCOMPARE(pane()->toPlainText().split('\n'), lines);
    QCOMPARE(window_->statusText(), QStringLiteral("Select 1 of 8"));
    QCOMPARE(status()->text(), window_->statusText());

    click(5, Qt::ControlModifier);
    QCOMPARE(window_->statusText(), QStringLiteral("Select 2 of 8"));
    QVERIFY(window_->paneText().isEmpty());
    QVERIFY(pane()->toPlainText().isEmpty());

    click(5, Qt::ControlModifier);
    QCOMPARE(window_->statusText(), QStringLiteral("Select 1 of 8"));
    QVERIFY(window_->paneText().startsWith("Serial Number: 2801795075\r\n"));

    // The keyboard moves the selection like a click.
    click(2);
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Down);
    QCOMPARE(selectedSerials(), QStringList{"2801795076"});
    QVERIFY(window_->paneText().startsWith("Serial Number: 2801795076\r\n"));

    // The empty area clears the selection and selects nothing.
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, emptyArea());
    QVERIFY(selectedSerials().isEmpty());
    QCOMPARE(window_->statusText(), QStringLiteral("Select 0 of 8"));
    QVERIFY(window_->paneText().isEmpty());
}

void TestMainWindow::refreshReselectsTheClickedDeviceWhereverItMoved() {
    start(5);
    waitForFirstSearch();
    click(3);
    QCOMPARE(selectedSerials(), QStringList{"2801795076"});

    // A device with a lower serial number joins: the clicked one moves down.
    lan_->emulator()->addDevice(sim::DefaultDeviceConfig(9, SerialMac(kFirstSerial - 1)));
    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    QTest::keyClick(window_.get(), Qt::Key_F5);
    QTRY_COMPARE(applied.count(), 1);

    QCOMPARE(list()->model()->rowCount(), 6);
    QCOMPARE(rowText(0), QStringLiteral("2801795072"));
    QCOMPARE(rowText(4), QStringLiteral("2801795076"));
    QCOMPARE(selectedSerials(), QStringList{"2801795076"});
    QCOMPARE(list()->currentIndex().row(), 4);
    QVERIFY(window_->paneText().startsWith("Serial Number: 2801795076\r\n"));
    QCOMPARE(window_->statusText(), QStringLiteral("Select 1 of 6"));
}

// The search thread owns the adapter table while it runs: a choice made then
// shows on the status line at once and reaches the table with the next search.
void TestMainWindow::adapterChosenDuringASearchWaitsForTheNextOne() {
    Timing timing = GuiTiming();
    timing.queryWindow = Millis(400);
    start(2, timing, false, [](sim::SimulatedLan& lan) {
        lan.segment().addAdapter("sim1", "second",
                                 MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}});
        sim::DeviceFaults faults; // keeps the search waiting
        faults.silentCommands = {code::kCheckPassword};
        lan.emulator()->device(1).setFaults(faults);
    });
    QTRY_VERIFY(window_->deviceList().busy());
    QCOMPARE(ctx_->adapterCount(), 2);
    dialogs_->adapterToChoose = QStringLiteral("sim0");
    window_->actions().networkAdapter->trigger();
    QVERIFY(window_->deviceList().busy()); // the running search goes on
    QCOMPARE(ctx_->adapterCount(), 2);     // over the table it started with
    QVERIFY2(window_->adapterStatusText().contains(QStringLiteral("sim0")),
             qPrintable(window_->adapterStatusText()));
    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    QVERIFY(applied.wait(10000));
    window_->actions().refresh->trigger(); // the next search takes the choice
    QTRY_COMPARE(ctx_->adapterCount(), 1);
    QCOMPARE(ctx_->adapters()->entries[0].name, std::string("sim0"));
    window_->adapterChoice().choose({}); // the choice is remembered: not for the next test
}

// The adapter status line never says "searching" when nothing is searched:
// an --interface name or a remembered adapter that does not exist, and
// adapters a search had to skip, are named with their reasons.
void TestMainWindow::adapterStatusSaysWhatIsReallySearched() {
    struct Case {
        const char* what;
        std::vector<std::string> interfaces;
        QString remembered;
        std::vector<std::string> down;
        QString before; // before the first search ends
        QString after;
    };
    const Case cases[] = {
        {"unknown --interface, remembered adapter gone",
         {"nosuch"},
         "gone0",
         {},
         "Nothing is searched: Adapter gone0 not found, no adapter named nosuch",
         "Nothing is searched: Adapter gone0 not found, no adapter named nosuch"},
        {"unknown --interface",
         {"nosuch"},
         {},
         {},
         "Nothing is searched: no adapter named nosuch",
         "Nothing is searched: no adapter named nosuch"},
        {"remembered adapter gone",
         {},
         "gone0",
         {},
         "Adapter gone0 not found: searching all adapters",
         "Adapter gone0 not found: searching all adapters"},
        {"--interface that exists",
         {"sim0"},
         {},
         {},
         "Searching only Simulated LAN (sim0)",
         "Searching only Simulated LAN (sim0)"},
        {"one adapter of two down",
         {},
         {},
         {"sim1"},
         "",
         "Not searched: sim1 (the adapter is down)"},
        {"every adapter down",
         {},
         {},
         {"sim0", "sim1"},
         "",
         "Nothing was searched: sim0 (the adapter is down), sim1 (the adapter is down)"},
    };
    for (const Case& c : cases) {
        sim::LanOptions options;
        options.devices = 1;
        lan_ = std::make_unique<sim::SimulatedLan>(options);
        lan_->segment().addAdapter("sim1", "second",
                                   MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x02}});
        for (const std::string& name : c.down)
            lan_->segment().setAdapterDown(name, true);
        ctx_ = std::make_unique<Context>(lan_->segment(), GuiTiming());
        ctx_->link.setDiagnosticSink(nullptr);
        ctx_->enumerateAdapters(c.interfaces);
        AdapterChoice().choose(c.remembered);
        MainWindowOptions windowOptions;
        windowOptions.linkOpener = &opener_;
        windowOptions.interfaces = c.interfaces;
        window_ = std::make_unique<MainWindow>(*ctx_, windowOptions);
        window_->setOperationDialogs(std::make_unique<RecordingDialogs>());
        QCOMPARE(window_->adapterStatusText(), c.before);
        QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
        QVERIFY2(applied.wait(10000), c.what);
        QCOMPARE(window_->adapterStatusText(), c.after);
        window_.reset();
        AdapterChoice().choose({});
        ctx_.reset();
        lan_.reset();
    }
}

void TestMainWindow::busyStateDuringSearch() {
    // One device keeps the search waiting for its LAN address.
    Timing timing = GuiTiming();
    timing.queryWindow = Millis(400);
    start(3, timing, false, [](sim::SimulatedLan& lan) {
        sim::DeviceFaults faults;
        faults.silentCommands = {code::kCheckPassword};
        lan.emulator()->device(1).setFaults(faults);
    });
    QSignalSpy started(window_.get(), &MainWindow::searchStarted);
    QTRY_VERIFY(window_->deviceList().busy());
    QCOMPARE(window_->paneText(), QStringLiteral("Searching device..."));
    QCOMPARE(started.count(), 1);

    for (const char* name : {"launchButton", "settingsButton", "firmwareButton", "refreshButton"}) {
        QVERIFY2(!button(name)->isEnabled(), name);
    }
    QVERIFY(button("aboutButton")->isEnabled());
    // A disabled button looks it: its picture is dimmed against the rail.
    const auto lightness = [this](const char* name) {
        const QImage face = button(name)->grab().toImage();
        qint64 sum = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x)
                sum += qGray(face.pixel(x, y));
        return sum;
    };
    const qint64 disabledLaunch = lightness("launchButton");
    QCOMPARE(static_cast<SkinButton*>(button("launchButton"))->lastPicture(),
             SkinButton::Picture::Disabled);

    // Nothing that talks to devices starts meanwhile.
    QTest::keyClick(window_.get(), Qt::Key_F5);
    QCOMPARE(started.count(), 1);
    QTest::mouseDClick(viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    QVERIFY(!window_->operationRunning());
    QVERIFY(!rightClick(QPoint(20, 5)).shown);

    QTRY_VERIFY(!window_->deviceList().busy());
    QCOMPARE(started.count(), 1);
    for (const char* name :
         {"launchButton", "settingsButton", "firmwareButton", "refreshButton", "aboutButton"}) {
        QVERIFY2(button(name)->isEnabled(), name);
    }
    const qint64 enabledLaunch = lightness("launchButton");
    QVERIFY2(disabledLaunch * 10 < enabledLaunch * 8,
             qPrintable(QStringLiteral("%1 vs %2").arg(disabledLaunch).arg(enabledLaunch)));
    QCOMPARE(rowText(1, 1), QStringLiteral("0.0.0.0"));
    QVERIFY(opener_.addresses.isEmpty());
}

void TestMainWindow::contextMenuGreying_data() {
    QTest::addColumn<QList<int>>("selectRows");
    QTest::addColumn<QStringList>("enabled");
    const QStringList all = {"menuLaunchDevice", "menuSettings",   "menuUpgradeFirmware",
                             "menuRefresh",      "menuExportList", "menuNetworkAdapter",
                             "menuAbout"};
    QTest::newRow("none") << QList<int>{}
                          << QStringList{"menuRefresh", "menuExportList", "menuNetworkAdapter",
                                         "menuAbout"};
    QTest::newRow("one") << QList<int>{2} << all;
    QTest::newRow("two") << QList<int>{1, 3}
                         << QStringList{"menuLaunchDevice", "menuUpgradeFirmware", "menuRefresh",
                                        "menuExportList",   "menuNetworkAdapter",  "menuAbout"};
}

void TestMainWindow::contextMenuGreying() {
    QFETCH(QList<int>, selectRows);
    QFETCH(QStringList, enabled);
    start(5);
    waitForFirstSearch();

    // A single-selection right click first, which the menu remembers.
    const MenuSeen single = rightClick(rowCentre(4));
    QVERIFY(single.shown);
    QCOMPARE(single.items, (QStringList{"&Launch Device...", "&Settings...", "Upgrade &Firmware...",
                                        "-", "&Refresh List", "&Export List...",
                                        "&Network Adapter...", "-", "&About"}));
    // Every item has a mnemonic of its own.
    QSet<QChar> mnemonics;
    for (const QString& item : single.items) {
        if (item != QLatin1String("-")) {
            QVERIFY2(item.contains(QLatin1Char('&')), qPrintable(item));
            mnemonics.insert(item.at(item.indexOf(QLatin1Char('&')) + 1).toLower());
        }
    }
    QCOMPARE(mnemonics.size(), 7);
    QCOMPARE(window_->actions().refresh->shortcut(), QKeySequence(Qt::Key_F5));

    list()->clearSelection();
    for (int row : selectRows) {
        click(row, Qt::ControlModifier);
    }
    if (selectRows.isEmpty()) {
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, emptyArea());
        QVERIFY(window_->paneText().isEmpty());
    }
    const QPoint at = selectRows.isEmpty() ? emptyArea() : rowCentre(selectRows.front());
    const MenuSeen seen = rightClick(at);
    QVERIFY(seen.shown);
    QCOMPARE(seen.enabled, enabled);
    if (selectRows.isEmpty()) {
        // The row of the last single-selection menu is selected again, and
        // the pane and the status show it: the list and the pane agree.
        QCOMPARE(selectedSerials(), QStringList{"2801795077"});
        QVERIFY2(window_->paneText().startsWith("Serial Number: 2801795077"),
                 qPrintable(window_->paneText()));
        QCOMPARE(window_->statusText(), QString("Select 1 of 5"));
    }
}

void TestMainWindow::exportListSavesTheRowsAsCsv() {
    QCOMPARE(DefaultExportFileName(QDate(2026, 12, 11)),
             QStringLiteral("korvane-devices-2026-12-11.csv"));
    start(3);
    waitForFirstSearch();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("cabinet.csv"));
    QString proposed;
    korvane::testing::Script script;
    script.then([] { return korvane::testing::InFront<QFileDialog>() != nullptr; },
                [&] {
                    auto* dialog = korvane::testing::InFront<QFileDialog>();
                    QCOMPARE(dialog->objectName(), QStringLiteral("exportListDialog"));
                    proposed = dialog->selectedFiles().value(0);
                    dialog->selectFile(path);
                    static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept
                });
    window_->actions().exportList->trigger();
    QVERIFY(script.finished());
    QVERIFY2(proposed.endsWith(DefaultExportFileName(QDate::currentDate())), qPrintable(proposed));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 5); // the header, three rows, and nothing after the last line end
    QCOMPARE(lines[0], QByteArray("serial,mac,ip,hardware_version,firmware_version,adapter\r"));
    QVERIFY2(lines[1].startsWith("2801795073,02-19-A7-00-00-01,192.168.1.100,"),
             lines[1].constData());
    QVERIFY(lines[4].isEmpty());
    QCOMPARE(window_->focusWidget(),
             static_cast<QWidget*>(list())); // the keyboard is back on the list
}

// ---------------------------------------------------------------- web page

void TestMainWindow::doubleClickOpensEachSelectedDevicesPage() {
    Timing timing = GuiTiming();
    timing.betweenWebPages = Millis(300);
    start(4, timing);
    waitForFirstSearch();
    click(0);
    click(2, Qt::ControlModifier);

    QSignalSpy started(window_.get(), &MainWindow::searchStarted);
    QTest::mouseDClick(viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(2));
    QVERIFY(window_->operationRunning());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // Other commands are refused while the pages open.
    QTest::keyClick(window_.get(), Qt::Key_F5);
    QCOMPARE(started.count(), 0);

    QTRY_VERIFY(!window_->operationRunning());
    QCOMPARE(opener_.addresses,
             (QStringList{"http://192.168.1.100:80/", "http://192.168.1.102:80/"}));
    QVERIFY(opener_.onGuiThread);
    QVERIFY(QApplication::overrideCursor() == nullptr);

    // The Launch Device button does the same for the selection.
    click(3);
    button("launchButton")->click();
    QTRY_VERIFY(!window_->operationRunning());
    QCOMPARE(opener_.addresses.size(), 3);
    QCOMPARE(opener_.addresses.last(), QStringLiteral("http://192.168.1.103:80/"));
}

void TestMainWindow::withoutABrowserTheAddressIsShown() {
    start(2);
    waitForFirstSearch();
    opener_.result = LinkOpenResult::NoBrowser;
    click(1);
    QString text;
    Qt::TextInteractionFlags flags;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && box->objectName() == QLatin1String("noBrowserMessage")) {
            text = box->text();
            flags = box->textInteractionFlags();
            box->accept();
            poll.stop();
        }
    });
    poll.start();
    button("launchButton")->click();
    QTRY_VERIFY(!text.isEmpty());
    QVERIFY(text.contains("No web browser could be started"));
    QVERIFY(text.contains("http://192.168.1.101:80/"));
    // The address can be copied from the box.
    QVERIFY(flags & Qt::TextSelectableByMouse);
    QTRY_VERIFY(!window_->operationRunning());
}

void TestMainWindow::keyboardOpensTheContextMenu() {
    start(3);
    waitForFirstSearch();
    click(1);
    for (const QKeySequence& keys :
         {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        bool shown = false;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                shown = menu->actions().contains(window_->actions().settings);
                menu->close();
                poll.stop();
            }
        });
        poll.start();
        QTest::keySequence(window_.get(), keys);
        QTRY_VERIFY2(shown, qPrintable(keys.toString()));
    }
}

void TestMainWindow::paintedControlsHaveAccessibleNames() {
    start(2);
    waitForFirstSearch();
    const struct {
        QWidget* widget;
        QString name;
        QAccessible::Role role;
    } cases[] = {
        {button("launchButton"), "Launch Device", QAccessible::Button},
        {button("refreshButton"), "Refresh", QAccessible::Button},
        {list(), "Devices", QAccessible::Tree},
    };
    for (const auto& c : cases) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(c.widget);
        QVERIFY(face != nullptr);
        QCOMPARE(face->text(QAccessible::Name), c.name);
        QCOMPARE(face->role(), c.role);
    }
    // The painted header still gives its titles to whatever reads them.
    QCOMPARE(list()->model()->headerData(0, Qt::Horizontal).toString(), QString("Serial Number"));
    QCOMPARE(list()->model()->headerData(1, Qt::Horizontal).toString(), QString("IP Address"));
}

// ---------------------------------------------------------------- hooks

void TestMainWindow::tabReachesEveryControlAndEnterPressesTheFocusedButton() {
    start(3, GuiTiming(), /*factory=*/true);
    waitForFirstSearch();
    click(0);
    const QStringList names = korvane::testing::CheckTabChainAndNames(window_.get(), list());
    QVERIFY2(!names.contains(QString()) && !names.contains("<chain and tab stops differ>"),
             qPrintable(names.join(" | ")));
    // From the list to the pane, then down the buttons on the left.
    QCOMPARE(names.mid(0, 7), QStringList({"Devices", "Device Information:", "Launch Device",
                                           "Settings", "Upgrade Firmware", "About", "Refresh"}));

    // Enter on a focused button is that button, not the list's Settings.
    QSignalSpy started(window_.get(), &MainWindow::searchStarted);
    button("refreshButton")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button("refreshButton"), Qt::Key_Return);
    QTRY_COMPARE(started.count(), 1);
    QCOMPARE(dialogs_->networkSettings, 0);
    // A search that ends leaves the focus where the keyboard put it.
    QTRY_VERIFY(!window_->deviceList().busy());
    QCOMPARE(QApplication::focusWidget(), button("refreshButton"));
    // On the list, Enter is still Settings.
    list()->setFocus();
    QTest::keyClick(list(), Qt::Key_Return);
    QCOMPARE(dialogs_->networkSettings, 1);
}

void TestMainWindow::settingsAndFirmwareHooksRestartTimerShorter() {
    start(4);
    waitForFirstSearch();
    QCOMPARE(window_->searchTimerIntervalMs(), 600000);

    // Enter with one row: the sheet, the repeat search timer off while it runs, shorter after.
    click(1);
    QTest::keyClick(window_.get(), Qt::Key_Return);
    QCOMPARE(dialogs_->networkSettings, 1);
    QVERIFY(!dialogs_->timerActiveInside);
    QVERIFY(window_->searchTimerActive());
    QCOMPARE(window_->searchTimerIntervalMs(), 300000);

    // Two rows: Enter does nothing; Upgrade Firmware gets both, in list order.
    click(3, Qt::ControlModifier);
    QTest::keyClick(window_.get(), Qt::Key_Enter);
    QCOMPARE(dialogs_->networkSettings, 1);
    button("firmwareButton")->click();
    QTRY_COMPARE(dialogs_->firmware, 1);
    QCOMPARE(dialogs_->firmwareUnits, (QStringList{"2801795074", "2801795076"}));
    QCOMPARE(window_->searchTimerIntervalMs(), 300000);
}

void TestMainWindow::factoryButtonsFollowTheirRules() {
    // The last device lies outside the range the serial number may be written in.
    start(2, GuiTiming(), true, [](sim::SimulatedLan& lan) {
        lan.emulator()->addDevice(
            sim::DefaultDeviceConfig(5, MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x02, 0x00}}));
    });
    waitForFirstSearch();
    QAbstractButton* ip = button("ipSettingsButton");
    QAbstractButton* password = button("setPasswordButton");
    QAbstractButton* serial = button("serialNumberButton");
    QVERIFY(ip->isVisible() && password->isVisible() && serial->isVisible());
    QCOMPARE(ip->text(), QStringLiteral("&IP Settings..."));
    QCOMPARE(password->text(), QStringLiteral("Set &Password..."));
    QCOMPARE(serial->text(), QStringLiteral("Serial &Number..."));

    const struct {
        QList<int> rows;
        bool ip;
        bool serial;
    } cases[] = {
        {{0}, true, true},
        {{2}, true, false},
        {{0, 1}, false, false},
        {{}, false, false},
    };
    for (const auto& c : cases) {
        list()->clearSelection();
        for (int row : c.rows) {
            click(row, Qt::ControlModifier);
        }
        QCOMPARE(ip->isEnabled(), c.ip);
        QCOMPARE(password->isEnabled(), c.ip);
        QCOMPARE(serial->isEnabled(), c.serial);
    }

    click(0);
    ip->click();
    password->click();
    serial->click();
    QCOMPARE(dialogs_->ipSettings, 1);
    QCOMPARE(dialogs_->setPassword, 1);
    QCOMPARE(dialogs_->serialNumber, 1);
}

void TestMainWindow::aboutBoxThenTheListHasTheFocus() {
    start(1);
    waitForFirstSearch();
    QString caption;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            caption = about->windowTitle();
            about->accept();
            poll.stop();
        }
    });
    poll.start();
    pane()->setFocus(); // anything but the list
    button("aboutButton")->click();
    QCOMPARE(caption, QStringLiteral("About Korvane Utility"));
    QCOMPARE(window_->focusWidget(), static_cast<QWidget*>(list()));
}

void TestMainWindow::missingRawAccessIsToldOnce() {
    start(3, GuiTiming(), false, [](sim::SimulatedLan& lan) {
        lan.segment().addAdapter("eth9", "Refused adapter",
                                 MacAddress{{0x02, 0x00, 0x00, 0x5E, 0x00, 0x09}});
        lan.segment().denyAccess("eth9");
    });
    QCOMPARE(ctx_->adapterCount(), 2);
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = window_->findChild<QMessageBox*>("permissionMessage")) != nullptr);
    QVERIFY(box->text().contains("cap_net_raw"));
    QVERIFY(
        box->text().contains(QDir::toNativeSeparators(QCoreApplication::applicationFilePath())));
    QVERIFY(!box->text().contains("<program>"));
    waitForFirstSearch();
    // The adapter that opens still lists its devices.
    QCOMPARE(list()->model()->rowCount(), 3);
    box->close();
    QTRY_VERIFY(window_->findChild<QMessageBox*>("permissionMessage") == nullptr);

    QSignalSpy applied(window_.get(), &MainWindow::searchApplied);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_F5);
    QTRY_COMPARE(applied.count(), 1);
    QVERIFY(window_->findChild<QMessageBox*>("permissionMessage") == nullptr);
}

// ---------------------------------------------------------------- closing

void TestMainWindow::closingDuringSearchWaitsForTheThreadOnly() {
    // Without the stop cutting it short, the search would wait for one
    // device's LAN address for 50 s.
    Timing timing = GuiTiming();
    timing.queryWindow = Millis(10000);
    timing.tries = 5;
    start(3, timing, false, [](sim::SimulatedLan& lan) {
        sim::DeviceFaults faults;
        faults.silentCommands = {code::kCheckPassword};
        lan.emulator()->device(0).setFaults(faults);
    });
    QTRY_VERIFY(lan_->emulator()->device(0).stats().requestCount(code::kCheckPassword) >= 1);
    QVERIFY(window_->searchRunning());

    QSignalSpy finished(window_.get(), &MainWindow::finished);
    QElapsedTimer closing;
    closing.start();
    QVERIFY(!window_->close());
    auto* popup = window_->findChild<ClosingPopup*>("closingPopup");
    QVERIFY(popup != nullptr);
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->text()->text(), QStringLiteral("Korvane Utility is closing, please wait..."));
    QCOMPARE(popup->grab().toImage().pixel(4, 4), skin::palette::kClosingPopup);
    QVERIFY(!(window_->windowHandle()->flags() & Qt::WindowCloseButtonHint));
    QVERIFY(!window_->searchTimerActive());
    // A second request while closing changes nothing.
    QVERIFY(!window_->close());
    QCOMPARE(window_->findChildren<ClosingPopup*>().size(), 1);

    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(closing.elapsed() < 5000);
    QVERIFY(!window_->searchRunning());
    QVERIFY(!window_->isVisible());
    QVERIFY(window_->findChild<ClosingPopup*>() == nullptr);
    // No rows were inserted after the stop.
    QCOMPARE(list()->model()->rowCount(), 0);
}

void TestMainWindow::closingWithoutSearchEndsAtOnce() {
    Timing timing = GuiTiming();
    timing.firstSearchDelay = Millis(600000);
    start(2, timing);
    QSignalSpy finished(window_.get(), &MainWindow::finished);
    window_->close();
    QVERIFY(window_->findChild<ClosingPopup*>("closingPopup") != nullptr);
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!window_->isVisible());
    QVERIFY(window_->deviceList().rows().rowCount() == 0);
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"

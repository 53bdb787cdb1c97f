// The Firmware Upgrade dialog over a session on a simulated LAN with shrunk
// timing: its layout, Download following the file as it is typed, the busy
// state of a run (Cancel off, Enter and close refused, the wait cursor), the
// units' password prompt over the dialog, the questions of the units (one
// at a time, each naming its unit) and of a short image (Cancel first), a
// file too large refused, and the end of a run: the summary on the status
// line and the status list rebuilt in key order, a failed unit's row with
// its reason, a cancelled run as cancelled; the keyboard and the names a
// screen reader gives the controls.

#include "base/byte_cursor.hpp"
#include "bridge/password_prompt_dialog.hpp"
#include "dialog_test_support.hpp"
#include "dialogs/firmware_upgrade_dialog.hpp"
#include "firmware/upgrade.hpp"
#include "protocol/frame.hpp"
#include "sim/device_emulator.hpp"
#include "sim/simulated_lan.hpp"
#include "wire_fields.hpp"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWindow>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace korvane;
using namespace korvane::ui;
using korvane::testing::BoxAnswerer;
using korvane::testing::Script;

namespace {

Timing FirmwareTiming() {
    Timing t = Timing::defaults().scaled(0.01);
    t.discoveryWindow = Millis(150);
    t.queryWindow = Millis(250);
    t.commandWindow = Millis(250);
    t.noticeWait = Millis(5000);
    return t;
}

// An image: a pattern and, when it is long enough, a factory block whose sum
// is right and the boot identification of the emulated devices' flash (boot
// version 1.2, code 3).
std::vector<std::uint8_t> MakeImage(std::size_t length = 0x10000) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    if (length < 0xFFE8)
        return image; // too short for either: only the pattern
    auto block = std::span<std::uint8_t>(image).subspan(0xFF00, 28);
    std::fill(block.begin(), block.end(), std::uint8_t{0});
    const std::array<std::uint8_t, 6> placeholder{0x02, 0x19, 0xA7, 0xFF, 0xFF, 0xFF};
    std::copy(placeholder.begin(), placeholder.end(), block.begin() + 4);
    writeU32(block, 0, BlockChecksum(block));
    const std::array<std::uint8_t, 4> boot{'1', '2', 'x', '3'};
    std::copy(boot.begin(), boot.end(), image.begin() + 0xFFE4);
    return image;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name,
                  const std::vector<std::uint8_t>& bytes) {
    const QString path = dir.filePath(name);
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace

class TestFirmwareUpgradeDialog : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void layoutPutsTheUnitsUnderTheFile();
    void downloadFollowsTheTypedFile();
    void runOnTheSimulatedLan();
    void unitPasswordPromptShowsItsMac();
    void unitQuestionsWaitForTheOperator_data();
    void unitQuestionsWaitForTheOperator();
    void shortImageIsAskedOnceCancelFirst_data();
    void shortImageIsAskedOnceCancelFirst();
    void unitsFailingAtOnceAskOneAtATime();
    void pacingChoiceIsRememberedAndReachesTheSession();
    void keyboardAndScreenReader();
    void screenshot();

  private:
    void start(int devices, const std::function<void(sim::SimulatedLan&)>& configure = {});
    std::vector<DeviceRecord> records() const;

    std::unique_ptr<sim::SimulatedLan> lan_;
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<FirmwareUpgradeDialog> dialog_;
    QTemporaryDir dir_;
    QTemporaryDir settingsDir_;
};

void TestFirmwareUpgradeDialog::initTestCase() {
    // The user's settings stay out of it.
    QVERIFY(settingsDir_.isValid());
    testing::IsolateSettings(settingsDir_.path());
    QSettings().clear();
}

void TestFirmwareUpgradeDialog::cleanup() {
    dialog_.reset();
    if (ctx_)
        ctx_->link.close();
    ctx_.reset();
    lan_.reset();
}

void TestFirmwareUpgradeDialog::start(int devices,
                                      const std::function<void(sim::SimulatedLan&)>& configure) {
    sim::LanOptions options;
    options.devices = devices;
    options.programmingDelay = Millis(20);
    lan_ = std::make_unique<sim::SimulatedLan>(options);
    if (configure)
        configure(*lan_);
    ctx_ = std::make_unique<Context>(lan_->segment(), FirmwareTiming());
    ctx_->link.setDiagnosticSink(nullptr);
    ctx_->enumerateAdapters();
    ctx_->openAdapter(0);
    dialog_ = std::make_unique<FirmwareUpgradeDialog>(*ctx_, records());
}

std::vector<DeviceRecord> TestFirmwareUpgradeDialog::records() const {
    std::vector<DeviceRecord> units;
    for (std::size_t i = 0; i < lan_->emulator()->deviceCount(); ++i) {
        DeviceRecord record = lan_->emulator()->device(i).identity();
        record.setAdapterIndex(0);
        units.push_back(record);
    }
    // Listed in reverse, to see the end of a run sort the rows by key.
    std::reverse(units.begin(), units.end());
    return units;
}

void TestFirmwareUpgradeDialog::layoutPutsTheUnitsUnderTheFile() {
    start(2);
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.windowTitle(), QString("Firmware Upgrade"));

    // Laid out, not placed: the file name, progress, status line and units
    // share one column, top to bottom; the buttons sit below them at the
    // right, Download before Cancel; nothing overlaps, and the whole grows
    // with the window.
    auto frameOf = [&d](QWidget* w) { return QRect(w->mapTo(&d, QPoint(0, 0)), w->size()); };
    const QRect name = frameOf(d.findChild<QLineEdit*>("fileNameEdit"));
    const QRect progress = frameOf(d.progressBar());
    const QRect status = frameOf(d.statusLine());
    const QRect units = frameOf(d.statusList());
    const QRect download = frameOf(d.downloadButton());
    const QRect cancel = frameOf(d.cancelButton());
    for (const QRect& r : {progress, status, units})
        QCOMPARE(r.left(), name.left());
    QVERIFY(name.bottom() < progress.top());
    QVERIFY(progress.bottom() < status.top());
    QVERIFY(status.bottom() < units.top());
    QVERIFY(units.bottom() < download.top());
    QCOMPARE(download.top(), cancel.top());
    QVERIFY(download.right() < cancel.left());
    QVERIFY(cancel.right() <= d.width() && cancel.right() > d.width() - 40);
    const QSize before = units.size();
    d.resize(d.width() + 100, d.height() + 80);
    QTRY_COMPARE(d.statusList()->size(), before + QSize(100, 80));
    QCOMPARE(d.downloadButton()->text(), QString("&Download"));
    QCOMPARE(d.browseButton()->text(), QString("..."));

    // The warning: red and bold.
    QLabel* warning = d.warning();
    QVERIFY(warning->text().startsWith("Backup settings before updating the firmware"));
    QCOMPARE(warning->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(warning->font().bold());
    QCOMPARE(d.statusLine()->frameShape(), QFrame::Box);
    QCOMPARE(d.progressBar()->minimum(), 0);
    QCOMPARE(d.progressBar()->maximum(), 100);

    // Two columns, one third and two thirds; one row per unit, empty status.
    QTreeWidget* list = d.statusList();
    QCOMPARE(list->headerItem()->text(0), QString("Device"));
    QCOMPARE(list->headerItem()->text(1), QString("Download Status"));
    const int client = list->viewport()->width();
    QCOMPARE(list->columnWidth(0), client / 3);
    QCOMPARE(list->columnWidth(1), 2 * client / 3);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QString("2801795074")); // 02-19-A7-00-00-02
    QVERIFY(list->topLevelItem(0)->text(1).isEmpty());

    // Enter in the file box without a usable file keeps the dialog and the
    // typed path; elsewhere, while idle, Enter closes.
    d.fileNameEdit()->setFocus();
    QTest::keyClicks(d.fileNameEdit(), "/no/such/image.bin");
    QTest::keyClick(d.fileNameEdit(), Qt::Key_Return);
    QVERIFY(d.isVisible());
    QCOMPARE(d.fileNameEdit()->text(), QString("/no/such/image.bin"));
    d.statusList()->setFocus();
    QTest::keyClick(d.statusList(), Qt::Key_Return);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
}

void TestFirmwareUpgradeDialog::downloadFollowsTheTypedFile() {
    start(1);
    const QString image = WriteFile(dir_, "image.bin", MakeImage(2048));
    WriteFile(dir_, "empty.bin", {});
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(!d.downloadButton()->isEnabled());
    QVERIFY(d.cancelButton()->isEnabled());

    // Typed character by character: enabled exactly when the whole name is there.
    d.fileNameEdit()->setFocus();
    for (qsizetype i = 0; i < image.size(); ++i) {
        QTest::keyClick(d.fileNameEdit(), image.at(i).toLatin1());
        QCOMPARE(d.downloadButton()->isEnabled(), i + 1 == image.size());
    }
    d.fileNameEdit()->setText(dir_.filePath("empty.bin"));
    QVERIFY(!d.downloadButton()->isEnabled());
    d.fileNameEdit()->setText(dir_.filePath("missing.bin"));
    QVERIFY(!d.downloadButton()->isEnabled());
    // One block more than the block numbers count: refused, and said so.
    const QString huge = dir_.filePath("huge.bin");
    WriteFile(dir_, "huge.bin", {});
    std::filesystem::resize_file(huge.toStdString(), 64ull * 1024 * 1024 + 1);
    d.fileNameEdit()->setText(huge);
    QVERIFY(!d.downloadButton()->isEnabled());
    QVERIFY(d.statusLine()->text().startsWith("The image file is 67108865 bytes long"));
    d.fileNameEdit()->setText(dir_.filePath("missing.bin"));
    QVERIFY(d.statusLine()->text().isEmpty());
    // A file that appears later is seen by the idle pass.
    WriteFile(dir_, "missing.bin", MakeImage(100));
    QTRY_VERIFY(d.downloadButton()->isEnabled());

    // Enter in the file box is the Download button, not the dialog's close.
    QSignalSpy busy(&d, &FirmwareUpgradeDialog::busyChanged);
    BoxAnswerer boxes;
    d.fileNameEdit()->setFocus();
    QTest::keyClick(d.fileNameEdit(), Qt::Key_Return);
    QCOMPARE(busy.value(0).value(0).toBool(), true);
    QVERIFY(d.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!d.isBusy(), 10000);
    QVERIFY(d.isVisible());
    QCOMPARE(d.fileNameEdit()->text(), dir_.filePath("missing.bin"));
}

void TestFirmwareUpgradeDialog::runOnTheSimulatedLan() {
    start(3);
    const QString image = WriteFile(dir_, "image.bin", MakeImage());
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.fileNameEdit()->setText(image);
    QSignalSpy busy(&d, &FirmwareUpgradeDialog::busyChanged);
    BoxAnswerer boxes;

    // Slow the devices' replies so that the busy state can be looked at.
    for (std::size_t i = 0; i < 3; ++i) {
        sim::DeviceFaults faults = lan_->emulator()->device(i).faults();
        faults.flashDelayPerBlock = Millis(2);
        lan_->emulator()->device(i).setFaults(faults);
    }
    d.downloadButton()->click();
    QVERIFY(d.isBusy());
    QVERIFY(!d.downloadButton()->isEnabled());
    QVERIFY(!d.cancelButton()->isEnabled());
    QVERIFY(!(d.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(d.cursor().shape(), Qt::WaitCursor);
    QCOMPARE(d.fileNameEdit()->cursor().shape(), Qt::WaitCursor);
    QVERIFY(d.fileNameEdit()->isEnabled());
    QVERIFY(d.browseButton()->isEnabled());
    // Enter, Escape and the close box are refused, and the status line says why.
    const QString why = "The download is running: the dialog closes when it has ended.";
    QTest::keyClick(d.fileNameEdit(), Qt::Key_Escape);
    QVERIFY(d.isVisible());
    QCOMPARE(d.statusLine()->text(), why);
    d.statusLine()->clear();
    d.close();
    QVERIFY(d.isVisible());
    QCOMPARE(d.statusLine()->text(), why);
    QTest::keyClick(d.fileNameEdit(), Qt::Key_Return);
    QVERIFY(d.isVisible());
    if (QWindow* handle = d.windowHandle())
        QVERIFY(!(handle->flags() & Qt::WindowCloseButtonHint));
    QTRY_VERIFY_WITH_TIMEOUT(d.progressBar()->value() > 0, 10000);

    QTRY_VERIFY_WITH_TIMEOUT(!d.isBusy(), 30000);
    QCOMPARE(busy.count(), 2);
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(d.statusLine()->text(), QString("3 unit success, 0 unit fail. "));
    QCOMPARE(d.progressBar()->value(), 100);
    QTreeWidget* list = d.statusList();
    QCOMPARE(list->topLevelItemCount(), 3);
    QStringList keys;
    for (int i = 0; i < 3; ++i) {
        keys << list->topLevelItem(i)->text(0);
        QCOMPARE(list->topLevelItem(i)->text(1), QString("Download Successfully"));
    }
    QCOMPARE(keys, QStringList({"2801795073", "2801795074", "2801795075"}));
    for (std::size_t i = 0; i < 3; ++i)
        QVERIFY(lan_->emulator()->device(i).firmware().accepted);

    // Idle again: everything works, and Cancel closes.
    QVERIFY(d.downloadButton()->isEnabled());
    QVERIFY(d.cancelButton()->isEnabled());
    QVERIFY(d.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(d.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(d.fileNameEdit()->cursor().shape(), Qt::IBeamCursor);
    d.cancelButton()->click();
    QVERIFY(!d.isVisible());
}

void TestFirmwareUpgradeDialog::unitPasswordPromptShowsItsMac() {
    start(1, [](sim::SimulatedLan& lan) { lan.emulator()->device(0).setPassword("secret"); });
    const QString image = WriteFile(dir_, "image.bin", MakeImage());
    FirmwareUpgradeDialog& d = *dialog_;
    std::vector<std::pair<MacAddress, std::string>> remembered;
    d.setPasswordRemembered([&remembered](const MacAddress& mac, const std::string& password) {
        remembered.emplace_back(mac, password);
    });
    d.fileNameEdit()->setText(image);
    QString label;
    bool overTheDialog = false;
    Script script;
    script.then([] { return testing::InFront<PasswordPromptDialog>() != nullptr; },
                [&] {
                    auto* input = testing::InFront<PasswordPromptDialog>();
                    label = input->label();
                    overTheDialog = input->parentWidget() == &d;
                    input->passwordEdit()->setText("secret");
                    input->accept();
                });
    script.then([&] { return !d.isBusy() && d.statusLine()->text().contains("unit success"); },
                [&] { d.accept(); });
    QTimer::singleShot(0, &d, [&d] { d.downloadButton()->click(); });
    d.exec();

    QVERIFY(script.finished());
    QCOMPARE(label, QString("2801795073 MAC:02-19-A7-00-00-01"));
    QVERIFY(overTheDialog);
    QCOMPARE(d.statusLine()->text(), QString("1 unit success, 0 unit fail. "));
    QCOMPARE(remembered.size(), std::size_t{1});
    QCOMPARE(remembered[0].second, std::string("secret"));
}

void TestFirmwareUpgradeDialog::unitQuestionsWaitForTheOperator_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("row");
    const int yesNo = int(QMessageBox::Yes | QMessageBox::No);
    const int abortRetryIgnore = int(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
    const QString older = "Your File's Boot Version is older than Flash's Boot Version on this "
                          "device:\n2801795073 (02-19-A7-00-00-01)\nContinue?";
    const QString failed = "2801795073 (02-19-A7-00-00-01): Download Failed at block 3";
    QTest::newRow("older boot version, No")
        << "boot" << int(QMessageBox::No) << older << yesNo << int(QMessageBox::NoIcon)
        << "0 unit success, 1 unit fail. "
        << "Download Failed (older boot version declined)";
    QTest::newRow("older boot version, Yes")
        << "boot" << int(QMessageBox::Yes) << older << yesNo << int(QMessageBox::NoIcon)
        << "1 unit success, 0 unit fail. "
        << "Download Successfully";
    QTest::newRow("block refused, Retry")
        << "block" << int(QMessageBox::Retry) << failed << abortRetryIgnore
        << int(QMessageBox::Critical) << "1 unit success, 0 unit fail. "
        << "Download Successfully";
    QTest::newRow("block refused, Abort")
        << "block" << int(QMessageBox::Abort) << failed << abortRetryIgnore
        << int(QMessageBox::Critical) << "0 unit success, 1 unit fail. "
        << "Download Failed (block not accepted)";
}

void TestFirmwareUpgradeDialog::unitQuestionsWaitForTheOperator() {
    QFETCH(QString, fault);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(int, buttons);
    QFETCH(int, icon);
    QFETCH(QString, summary);
    QFETCH(QString, row);

    start(1, [&fault](sim::SimulatedLan& lan) {
        sim::EmulatedDevice& device = lan.emulator()->device(0);
        if (fault == "boot") {
            device.setFlashBootWord(0x01030003); // flash 1.3, image 1.2
            return;
        }
        sim::DeviceFaults faults = device.faults();
        faults.statusRules.push_back({code::kFirmwareBlock, std::uint16_t{3}, status::kNoReply, 1,
                                      sim::StatusRule::Effect::Skip});
        device.setFaults(faults);
    });
    const QString image = WriteFile(dir_, "image.bin", MakeImage());
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.fileNameEdit()->setText(image);
    BoxAnswerer boxes;
    boxes.answers = {static_cast<QMessageBox::StandardButton>(answer)};
    QString rowWhileAsked;
    boxes.inspect = [&](QMessageBox*) { rowWhileAsked = d.statusList()->topLevelItem(0)->text(1); };
    d.downloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!d.isBusy(), 30000);

    QCOMPARE(boxes.texts, QStringList{question});
    QCOMPARE(int(boxes.buttons.value(0)), buttons);
    QCOMPARE(int(boxes.icons.value(0)), icon);
    QCOMPARE(boxes.lastParent.data(), &d);
    if (fault == "block")
        QCOMPARE(rowWhileAsked, QString("Download Abort"));
    QCOMPARE(d.statusLine()->text(), summary);
    QCOMPARE(d.statusList()->topLevelItem(0)->text(1), row);
    // The reason is never cut off: the column is as wide as the text (the
    // list scrolls sideways), and the row's tip says it whole.
    QVERIFY(d.statusList()->columnWidth(1) >= d.statusList()->fontMetrics().horizontalAdvance(row));
    QCOMPARE(d.statusList()->topLevelItem(0)->toolTip(1), row);
}

void TestFirmwareUpgradeDialog::shortImageIsAskedOnceCancelFirst_data() {
    QTest::addColumn<bool>("goOn");
    QTest::newRow("Enter: Cancel") << false;
    QTest::newRow("Continue") << true;
}

void TestFirmwareUpgradeDialog::shortImageIsAskedOnceCancelFirst() {
    QFETCH(bool, goOn);
    start(2);
    const QString image = WriteFile(dir_, "short.bin", MakeImage(3000));
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.fileNameEdit()->setText(image);
    QVERIFY(d.downloadButton()->isEnabled());
    BoxAnswerer boxes;
    QStringList labels;
    QString defaultLabel;
    boxes.inspect = [&](QMessageBox* box) {
        if (!labels.isEmpty())
            return; // only the first box is the short-image question
        for (QAbstractButton* b : box->buttons())
            labels << b->text().remove('&');
        defaultLabel = box->defaultButton()->text().remove('&');
        if (!goOn) {
            QTest::keyClick(box, Qt::Key_Return);
            return;
        }
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Continue")
                b->click();
    };
    d.downloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!d.isBusy(), 30000);

    labels.sort();
    QCOMPARE(labels, QStringList({"Cancel", "Continue"}));
    QCOMPARE(defaultLabel, QString("Cancel"));
    QVERIFY(!boxes.texts.isEmpty());
    QVERIFY(boxes.texts.first().startsWith("The image file is 3000 bytes long"));
    QCOMPARE(boxes.icons.first(), QMessageBox::Warning);
    // Asked once for the run, before any unit started; Cancel sends nothing.
    QCOMPARE(boxes.texts.count(boxes.texts.first()), 1);
    for (std::size_t i = 0; i < 2; ++i)
        QCOMPARE(lan_->emulator()->device(i).stats().requestCount(code::kFirmwareBlock) > 0, goOn);
    // A cancelled run is shown as one, not as a failure of every unit.
    if (!goOn) {
        QCOMPARE(d.statusLine()->text(), QString("Download cancelled: nothing was sent."));
        for (int i = 0; i < d.statusList()->topLevelItemCount(); ++i)
            QCOMPARE(d.statusList()->topLevelItem(i)->text(1),
                     QString("Download Cancelled (nothing sent)"));
    }
}

void TestFirmwareUpgradeDialog::unitsFailingAtOnceAskOneAtATime() {
    start(3, [](sim::SimulatedLan& lan) {
        for (std::size_t i = 0; i < 3; ++i) {
            sim::EmulatedDevice& device = lan.emulator()->device(i);
            sim::DeviceFaults faults = device.faults();
            faults.statusRules.push_back({code::kFirmwareBlock, std::uint16_t{3}, status::kNoReply,
                                          1, sim::StatusRule::Effect::Skip});
            device.setFaults(faults);
        }
    });
    const QString image = WriteFile(dir_, "image.bin", MakeImage());
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.fileNameEdit()->setText(image);
    BoxAnswerer boxes;
    boxes.answers = {QMessageBox::Retry, QMessageBox::Retry, QMessageBox::Retry};
    int mostAtOnce = 0;
    boxes.inspect = [&](QMessageBox*) {
        QTest::qWait(50); // time for the other units to ask, were they not held back
        int showing = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible())
                ++showing;
        mostAtOnce = std::max(mostAtOnce, showing);
    };
    d.downloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!d.isBusy(), 30000);

    QCOMPARE(mostAtOnce, 1);
    QStringList texts = boxes.texts;
    texts.sort();
    QCOMPARE(texts, QStringList({"2801795073 (02-19-A7-00-00-01): Download Failed at block 3",
                                 "2801795074 (02-19-A7-00-00-02): Download Failed at block 3",
                                 "2801795075 (02-19-A7-00-00-03): Download Failed at block 3"}));
    QCOMPARE(d.statusLine()->text(), QString("3 unit success, 0 unit fail. "));
}

void TestFirmwareUpgradeDialog::pacingChoiceIsRememberedAndReachesTheSession() {
    start(1);
    QCheckBox* pacing = dialog_->pacingCheckBox();
    QCOMPARE(pacing->text(), QString("&Pace each unit separately (faster for many units)"));
    QVERIFY(!pacing->isChecked());
    QCOMPARE(dialog_->session().pacing(), CommandPacing::Shared);

    pacing->click();
    QCOMPARE(dialog_->session().pacing(), CommandPacing::PerDevice);
    // A new dialog (or a new start of the program) keeps the choice.
    dialog_ = std::make_unique<FirmwareUpgradeDialog>(*ctx_, records());
    QVERIFY(dialog_->pacingCheckBox()->isChecked());
    QCOMPARE(dialog_->session().pacing(), CommandPacing::PerDevice);

    dialog_->pacingCheckBox()->click();
    QCOMPARE(dialog_->session().pacing(), CommandPacing::Shared);
    dialog_ = std::make_unique<FirmwareUpgradeDialog>(*ctx_, records());
    QVERIFY(!dialog_->pacingCheckBox()->isChecked());
}

void TestFirmwareUpgradeDialog::keyboardAndScreenReader() {
    start(1);
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(testing::CheckMnemonics(&d), QStringList());
    // Tab goes round in the order of the controls on the screen.
    QCOMPARE(testing::CheckTabChainAndNames(&d, d.fileNameEdit()),
             QStringList({"File name:", "Browse", "Units",
                          "Pace each unit separately (faster for many units)", "Cancel"}));
    // What shows the run's state has a name too.
    QCOMPARE(testing::AccessibleName(d.progressBar()), QString("Download progress"));
    QCOMPARE(testing::AccessibleName(d.statusLine()), QString("Download status"));
}

// A picture after a run, for the documentation, when KORVANE_SCREENSHOT_DIR
// names a folder (run under Xvfb for real fonts): one unit fails, and its
// row says why.
void TestFirmwareUpgradeDialog::screenshot() {
    const QString folder = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("KORVANE_SCREENSHOT_DIR not set");
    start(4, [](sim::SimulatedLan& lan) {
        // Its flash has another boot code than the image: refused.
        lan.emulator()->device(2).setFlashBootWord(0x01020004);
    });
    // A short path reads better in the picture than the temporary folder's.
    QDir folderForPicture(QDir::temp().filePath("korvane"));
    QVERIFY(folderForPicture.mkpath("."));
    const QString image = folderForPicture.filePath("firmware-4.56.bin");
    {
        const auto bytes = MakeImage();
        std::ofstream out(image.toStdString(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    FirmwareUpgradeDialog& d = *dialog_;
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    d.fileNameEdit()->setText(image);
    d.downloadButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!d.isBusy(), 30000);
    QCOMPARE(d.statusLine()->text(), QString("3 unit success, 1 unit fail. "));
    QCOMPARE(d.statusList()->topLevelItem(2)->text(1),
             QString("Download Failed (boot incompatible)"));
    QCoreApplication::processEvents(); // let pending layout run before the picture
    d.fileNameEdit()->setCursorPosition(0);
    QVERIFY(d.grab().save(folder + "/firmware-upgrade.png"));
    folderForPicture.removeRecursively();
}

QTEST_MAIN(TestFirmwareUpgradeDialog)
#include "test_firmware_upgrade_dialog.moc"

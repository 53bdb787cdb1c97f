// The desktop Operator: questions asked from a worker thread appear on the
// GUI thread with their exact buttons, icon, default and caption over the
// window in front, with the normal pointer over a busy window; asked on
// the GUI thread they run at once; notifications are posted in order.

#include "dialog_test_support.hpp"
#include "dialogs/password_prompt_dialog.hpp"
#include "main/desktop_operator.hpp"
#include "main/gui_caller.hpp"

#include <QLineEdit>
#include <QPushButton>

#include <atomic>
#include <thread>

using namespace korvane;
using namespace korvane::ui;
using korvane::testing::BoxAnswerer;
using korvane::testing::Script;

class TestDesktopOperator : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void cleanup();
    void questionsFromAWorker();
    void passwordPromptWithItsLabel();
    void onTheGuiThreadItRunsAtOnce();
    void notificationsArriveInOrder();
    void questionWithButtonsOfItsOwn();

  private:
    // Runs `work` on a thread of its own while the GUI goes on.
    void onWorker(const std::function<void()>& work) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            work();
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        worker.join();
    }

    std::unique_ptr<QWidget> window_;
    StopToken stop_;
};

void TestDesktopOperator::init() {
    window_ = std::make_unique<QWidget>();
    window_->resize(300, 200);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void TestDesktopOperator::cleanup() {
    window_.reset();
}

void TestDesktopOperator::questionsFromAWorker() {
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    BoxAnswerer boxes;
    boxes.answers = {QMessageBox::No, QMessageBox::Retry, QMessageBox::Ok};
    QStringList captions;
    QList<Qt::CursorShape> pointers;
    boxes.inspect = [&](QMessageBox* box) {
        pointers << QApplication::overrideCursor()->shape();
        captions << box->windowTitle();
    };

    // The window shows the wait cursor while the command runs.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool yes = true;
    BlockFailureChoice choice = BlockFailureChoice::Abort;
    onWorker([&] {
        yes = op.askYesNo("IP address: 10.0.0.1 already exists on the LAN. Are you sure you want "
                          "to continue?",
                          MessageIcon::Warning);
        choice = op.askAbortRetryIgnore("Download Failed");
        op.showMessage("No respond!", MessageIcon::Warning);
    });
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QApplication::restoreOverrideCursor();

    QVERIFY(!yes);
    QCOMPARE(choice, BlockFailureChoice::Retry);
    QCOMPARE(boxes.texts, QStringList({"IP address: 10.0.0.1 already exists on the LAN. Are you "
                                       "sure you want to continue?",
                                       "Download Failed", "No respond!"}));
    QCOMPARE(boxes.buttons,
             QList<QMessageBox::StandardButtons>(
                 {QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Ok}));
    QCOMPARE(boxes.icons, QList<QMessageBox::Icon>(
                              {QMessageBox::Warning, QMessageBox::Critical, QMessageBox::Warning}));
    QCOMPARE(boxes.lastParent.data(), window_.get());
    QCOMPARE(pointers, QList<Qt::CursorShape>(3, Qt::ArrowCursor));
    QCOMPARE(captions, QStringList(3, "Korvane Utility"));
}

void TestDesktopOperator::passwordPromptWithItsLabel() {
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    QString label;
    QString preset;
    Script script;
    script.then([] { return testing::InFront<PasswordPromptDialog>() != nullptr; },
                [&] {
                    auto* input = testing::InFront<PasswordPromptDialog>();
                    label = input->label();
                    preset = input->password();
                    input->passwordEdit()->setText("typed");
                    input->accept();
                });
    script.then([] { return testing::InFront<PasswordPromptDialog>() != nullptr; },
                [] {
                    if (auto* input = testing::InFront<PasswordPromptDialog>())
                        input->reject();
                });
    std::optional<std::string> first;
    std::optional<std::string> second = "not asked";
    onWorker([&] {
        first = op.askPassword("MAC:02-19-A7-00-01-23", "remembered");
        second = op.askPassword("", "");
    });
    QCOMPARE(label, QString("MAC:02-19-A7-00-01-23"));
    QCOMPARE(preset, QString("remembered"));
    QCOMPARE(first, std::optional<std::string>("typed"));
    QCOMPARE(second, std::nullopt);
}

void TestDesktopOperator::onTheGuiThreadItRunsAtOnce() {
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    BoxAnswerer boxes;
    boxes.answers = {QMessageBox::Yes};
    QVERIFY(op.askYesNo("Continue?", MessageIcon::Question));
    QCOMPARE(boxes.icons.value(0), QMessageBox::Question);
}

void TestDesktopOperator::notificationsArriveInOrder() {
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    QStringList seen;
    op.setStatusLineSink([&seen](const QString& text) { seen << "line:" + text; });
    op.setUnitStatusSink(
        [&seen](const QString& key, const QString& text) { seen << key + ":" + text; });
    op.setProgressSink([&seen](int percent) { seen << QString::number(percent); });
    onWorker([&] {
        op.setWaitCursor(true);
        op.setStatusLine("Downloading...");
        op.setUnitStatus("2801795363", "Programming...");
        op.setProgress(40);
    });
    QTRY_COMPARE(seen.size(), 3);
    QCOMPARE(seen, QStringList({"line:Downloading...", "2801795363:Programming...", "40"}));
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    op.setWaitCursor(false);
    QTRY_VERIFY(QApplication::overrideCursor() == nullptr);
}

void TestDesktopOperator::questionWithButtonsOfItsOwn() {
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    ui::Question question;
    question.text = "The image is shorter than the device's flash. Continue?";
    question.icon = MessageIcon::Warning;
    question.buttons = {"Continue", "Cancel"};
    question.defaultButton = 1;
    question.escapeButton = 1;

    BoxAnswerer boxes;
    QStringList labels;
    QString defaultLabel;
    boxes.inspect = [&](QMessageBox* box) {
        for (QAbstractButton* b : box->buttons())
            labels << b->text();
        defaultLabel = box->defaultButton()->text();
        // The operator takes the other one.
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Continue")
                b->click();
    };
    int chosen = -1;
    onWorker([&] { chosen = op.askQuestion(question); });
    QCOMPARE(chosen, 0);
    labels.sort();
    QCOMPARE(labels, QStringList({"Cancel", "Continue"}));
    QCOMPARE(defaultLabel, QString("Cancel"));
    QCOMPARE(boxes.icons.value(0), QMessageBox::Warning);

    // Nobody left to answer: the escape button's answer.
    stop_.requestStop();
    onWorker([&] { chosen = op.askQuestion(question); });
    QCOMPARE(chosen, 1);
    stop_.reset();
}

QTEST_MAIN(TestDesktopOperator)
#include "test_desktop_operator.moc"

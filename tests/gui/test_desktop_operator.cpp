// The desktop Operator: questions asked from a worker thread appear on the
// GUI thread with their exact buttons, icon, default and caption over the
// window in front, with the normal pointer over a busy window; asked on
// the GUI thread they run at once; questions from several workers come one
// at a time; notifications are posted in order.

#include "bridge/desktop_operator.hpp"
#include "bridge/gui_caller.hpp"
#include "bridge/password_prompt_dialog.hpp"
#include "dialog_test_support.hpp"

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace korvane;
using namespace korvane::ui;
using korvane::testing::BoxAnswerer;
using korvane::testing::Script;

Q_DECLARE_METATYPE(korvane::QuestionButtons)
Q_DECLARE_METATYPE(korvane::Answer)

class TestDesktopOperator : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void cleanup();
    void questionsFromAWorker();
    void passwordPromptWithItsLabel();
    void onTheGuiThreadItRunsAtOnce();
    void notificationsArriveInOrder();
    void questionWithItsOwnButtons_data();
    void questionWithItsOwnButtons();
    void questionsFromWorkersAtOnceComeOneAtATime();

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

void TestDesktopOperator::questionWithItsOwnButtons_data() {
    QTest::addColumn<QuestionButtons>("buttons");
    QTest::addColumn<Answer>("defaultAnswer");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QString>("defaultLabel");
    QTest::addColumn<Answer>("enter");
    QTest::addColumn<Answer>("escape");
    QTest::newRow("Continue/Cancel")
        << QuestionButtons::ContinueCancel << Answer::Cancel << QStringList{"Cancel", "Continue"}
        << "Cancel" << Answer::Cancel << Answer::Cancel;
    QTest::newRow("Yes/No, No default")
        << QuestionButtons::YesNo << Answer::No << QStringList{"No", "Yes"} << "No" << Answer::No
        << Answer::No;
    QTest::newRow("Yes/No, Yes default")
        << QuestionButtons::YesNo << Answer::Yes << QStringList{"No", "Yes"} << "Yes" << Answer::Yes
        << Answer::No;
    QTest::newRow("Abort/Retry/Ignore")
        << QuestionButtons::AbortRetryIgnore << Answer::Retry
        << QStringList{"Abort", "Ignore", "Retry"} << "Retry" << Answer::Retry << Answer::Abort;
    // A default the buttons do not offer is not taken: the safe one is.
    QTest::newRow("Yes/No, foreign default")
        << QuestionButtons::YesNo << Answer::Continue << QStringList{"No", "Yes"} << "No"
        << Answer::No << Answer::No;
}

void TestDesktopOperator::questionWithItsOwnButtons() {
    QFETCH(QuestionButtons, buttons);
    QFETCH(Answer, defaultAnswer);
    QFETCH(QStringList, labels);
    QFETCH(QString, defaultLabel);
    QFETCH(Answer, enter);
    QFETCH(Answer, escape);
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    Question question;
    question.text = "Device 2801795073 (02-19-A7-00-00-01): go on?";
    question.icon = MessageIcon::Warning;
    question.buttons = buttons;
    question.defaultAnswer = defaultAnswer;

    // Enter takes the default, Escape the answer that does not go ahead.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        BoxAnswerer boxes;
        QStringList seen;
        QString seenDefault;
        boxes.inspect = [&](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                seen << b->text().remove('&');
            seenDefault = box->defaultButton()->text().remove('&');
            QTest::keyClick(box, key);
        };
        Answer answer = Answer::Ignore;
        onWorker([&] { answer = op.ask(question); });
        seen.sort();
        QCOMPARE(seen, labels);
        QCOMPARE(seenDefault, defaultLabel);
        QCOMPARE(boxes.texts, QStringList{QString::fromStdString(question.text)});
        QCOMPARE(boxes.icons.value(0), QMessageBox::Warning);
        QCOMPARE(answer, key == Qt::Key_Escape ? escape : enter);
    }

    // Nobody left to answer: the safe answer, and no box comes up later.
    BoxAnswerer late;
    stop_.requestStop();
    Answer answer = Answer::Ignore;
    onWorker([&] { answer = op.ask(question); });
    QCOMPARE(answer, escape);
    QCoreApplication::processEvents();
    QCOMPARE(late.texts.size(), 0);
    stop_.reset();
}

void TestDesktopOperator::questionsFromWorkersAtOnceComeOneAtATime() {
    const GuiCaller caller(window_.get(), &stop_);
    DesktopOperator op(window_.get(), caller);
    const std::vector<MacAddress> units{MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x01}},
                                        MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x02}},
                                        MacAddress{{0x02, 0x19, 0xA7, 0x00, 0x00, 0x03}}};
    BoxAnswerer boxes;
    int mostAtOnce = 0;
    boxes.inspect = [&](QMessageBox*) {
        // Give the other workers time to post theirs, were they not held back.
        QTest::qWait(50);
        int showing = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible())
                ++showing;
        mostAtOnce = std::max(mostAtOnce, showing);
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
    };
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    std::vector<Answer> answers(units.size(), Answer::Abort);
    for (std::size_t i = 0; i < units.size(); ++i)
        workers.emplace_back([&, i] {
            Question question;
            question.buttons = QuestionButtons::AbortRetryIgnore;
            question.defaultAnswer = Answer::Retry;
            question.devices = {units[i]};
            question.text = "Download Failed on " + DeviceName(units[i]);
            answers[i] = op.ask(question);
            ++done;
        });
    QTRY_COMPARE_WITH_TIMEOUT(done.load(), 3, 10000);
    for (std::thread& worker : workers)
        worker.join();

    QCOMPARE(mostAtOnce, 1);
    QStringList texts = boxes.texts;
    texts.sort();
    QCOMPARE(texts, QStringList({"Download Failed on 2801795073 (02-19-A7-00-00-01)",
                                 "Download Failed on 2801795074 (02-19-A7-00-00-02)",
                                 "Download Failed on 2801795075 (02-19-A7-00-00-03)"}));
    QCOMPARE(answers, std::vector<Answer>(3, Answer::Retry));
}

QTEST_MAIN(TestDesktopOperator)
#include "test_desktop_operator.moc"

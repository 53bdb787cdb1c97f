// Calls from worker threads onto the GUI thread: the answer comes from the
// GUI thread, a call on the GUI thread runs at once, and a stop request
// frees a worker that waits on a GUI thread which is not listening; the
// call it cut short never comes up afterwards.

#include "bridge/desktop_operator.hpp"
#include "bridge/gui_caller.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <future>
#include <thread>

using korvane::MessageIcon;
using korvane::StopToken;
using korvane::ui::DesktopOperator;
using korvane::ui::GuiCaller;

class TestGuiCaller : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void workerGetsTheAnswerFromTheGuiThread();
    void callOnTheGuiThreadRunsAtOnce();
    void stopFreesAWorkerTheGuiDoesNotServe();
    void operatorQuestionFromAWorker();
};

void TestGuiCaller::workerGetsTheAnswerFromTheGuiThread() {
    QObject context;
    GuiCaller caller(&context);
    std::promise<std::optional<bool>> onGui;
    std::future<std::optional<bool>> result = onGui.get_future();
    std::thread worker([&] {
        onGui.set_value(caller.call([] { return QThread::currentThread() == qApp->thread(); }));
    });
    QTRY_VERIFY(result.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    worker.join();
    QCOMPARE(result.get(), std::optional<bool>(true));
}

void TestGuiCaller::callOnTheGuiThreadRunsAtOnce() {
    QObject context;
    GuiCaller caller(&context);
    // A queued call to our own thread would never come back.
    QCOMPARE(caller.call([] { return 7; }), std::optional<int>(7));
}

void TestGuiCaller::stopFreesAWorkerTheGuiDoesNotServe() {
    QObject context;
    StopToken stop;
    GuiCaller caller(&context, &stop);
    std::promise<std::optional<int>> answer;
    std::atomic<int> ran{0};
    std::thread worker([&] { answer.set_value(caller.call([&ran] { return ++ran; })); });
    // The GUI thread blocks instead of serving the call, as a window joining
    // its worker would; the stop must be enough.
    stop.requestStop();
    std::future<std::optional<int>> result = answer.get_future();
    QCOMPARE(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QCOMPARE(result.get(), std::optional<int>());
    worker.join();
    // Nobody waits for it any more: it does not run (a box no one answers).
    QCoreApplication::processEvents();
    QCOMPARE(ran.load(), 0);
    // Once stopped, a call is not even posted.
    std::optional<int> late = 5;
    std::thread after([&] { late = caller.call([&ran] { return ++ran; }); });
    after.join();
    QCoreApplication::processEvents();
    QCOMPARE(late, std::optional<int>());
    QCOMPARE(ran.load(), 0);
}

void TestGuiCaller::operatorQuestionFromAWorker() {
    QWidget window;
    GuiCaller caller(&window);
    DesktopOperator op(&window, caller);
    QString asked;
    QTimer answer;
    answer.setInterval(5);
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text();
            box->button(QMessageBox::Yes)->click();
        }
    });
    answer.start();
    std::promise<bool> yes;
    std::future<bool> result = yes.get_future();
    std::thread worker([&] { yes.set_value(op.askYesNo("Continue?", MessageIcon::Question)); });
    QTRY_VERIFY(result.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    worker.join();
    QCOMPARE(result.get(), true);
    QCOMPARE(asked, QStringLiteral("Continue?"));
}

QTEST_MAIN(TestGuiCaller)
#include "test_gui_caller.moc"

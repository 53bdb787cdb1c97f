// The application around the main window: one copy per user (in process
// and with the real program started twice), and the start options.

#include "startup/single_instance.hpp"
#include "startup/start_options.hpp"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using korvane::ui::SingleInstance;
using korvane::ui::StartOptions;

namespace {

// The program started on its own: offscreen, with a runtime folder of the
// test's (where the single-instance lock lives), private to its owner.
QProcessEnvironment programEnvironment(const QTemporaryDir& runtime) {
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

// The display check and the lock's runtime folder (XDG_RUNTIME_DIR) belong
// to a Linux session; on Windows there is always a desktop.
#ifdef Q_OS_WIN
constexpr bool kLinuxSession = false;
#else
constexpr bool kLinuxSession = true;
#endif

} // namespace

class TestApp : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void secondLockInTheSameDirectoryFails();
    void secondCopyEndsAtOnceAndFirstRunsOn();
    void startOptions_data();
    void startOptions();
    void badStartOptions_data();
    void badStartOptions();
    void helpAndVersionWithoutADisplay_data();
    void helpAndVersionWithoutADisplay();
    void unknownInterfaceIsSaid();
};

void TestApp::secondLockInTheSameDirectoryFails() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto first = std::make_unique<SingleInstance>(dir.path());
    QCOMPARE(first->acquire(), SingleInstance::Result::Acquired);
    QVERIFY(first->lockFilePath().endsWith("RunOnlyOneTarnwick.lock"));
    SingleInstance second(dir.path());
    QCOMPARE(second.acquire(), SingleInstance::Result::OtherCopyRuns);
    // Once the first copy has ended, the next start gets the lock.
    first.reset();
    QCOMPARE(second.acquire(), SingleInstance::Result::Acquired);

    SingleInstance nowhere(dir.filePath("missing/deeper"));
    QCOMPARE(nowhere.acquire(), SingleInstance::Result::NoLockFile);
}

void TestApp::secondCopyEndsAtOnceAndFirstRunsOn() {
    if (!kLinuxSession)
        QSKIP("the lock's folder is set through XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QProcessEnvironment environment = programEnvironment(runtime);

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(KORVANE_UTILITY_PATH, {"--simulate", "1"});
    QVERIFY(first.waitForStarted());
    const QString lockFile = runtime.filePath("RunOnlyOneTarnwick.lock");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockFile), 10000);

    QProcess second;
    second.setProcessEnvironment(environment);
    QElapsedTimer elapsed;
    elapsed.start();
    second.start(KORVANE_UTILITY_PATH, {"--simulate", "1"});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardOutput().isEmpty());
    QVERIFY(elapsed.elapsed() < 5000);

    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(QFile::exists(lockFile));
    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

void TestApp::startOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("simulate");
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<bool>("factory");
    QTest::addColumn<double>("timeScale");
    QTest::addColumn<QString>("grab");
    QTest::newRow("nothing") << QStringList{} << -1 << QStringList{} << false << 1.0 << QString();
    QTest::newRow("demo") << QStringList{"--simulate", "8"} << 8 << QStringList{} << false << 1.0
                          << QString();
    QTest::newRow("adapters and factory")
        << QStringList{"--interface", "eth0", "--interface", "eth1", "--factory"} << -1
        << QStringList{"eth0", "eth1"} << true << 1.0 << QString();
    QTest::newRow("tests and pictures")
        << QStringList{"--simulate=0", "--time-scale", "0.05", "--grab", "shot.png"} << 0
        << QStringList{} << false << 0.05 << QString("shot.png");
}

void TestApp::startOptions() {
    QFETCH(QStringList, arguments);
    QCommandLineParser parser;
    korvane::ui::AddStartOptions(parser);
    QVERIFY(parser.parse(QStringList{"korvane-utility"} + arguments));
    QString error;
    const std::optional<StartOptions> options = korvane::ui::ReadStartOptions(parser, error);
    QVERIFY2(options.has_value(), qPrintable(error));
    QTEST(options->simulate, "simulate");
    QTEST(options->interfaces, "interfaces");
    QTEST(options->factory, "factory");
    QTEST(options->timeScale, "timeScale");
    QTEST(options->grabFile, "grab");
}

void TestApp::badStartOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("negative devices") << QStringList{"--simulate", "-1"} << "--simulate";
    QTest::newRow("too many devices") << QStringList{"--simulate", "257"} << "--simulate";
    QTest::newRow("not a number") << QStringList{"--simulate", "eight"} << "--simulate";
    QTest::newRow("zero time scale") << QStringList{"--time-scale", "0"} << "--time-scale";
    QTest::newRow("no time scale") << QStringList{"--time-scale", "fast"} << "--time-scale";
    QTest::newRow("blank adapter") << QStringList{"--interface", " "} << "--interface";
}

void TestApp::badStartOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QCommandLineParser parser;
    korvane::ui::AddStartOptions(parser);
    QVERIFY(parser.parse(QStringList{"korvane-utility"} + arguments));
    QString error;
    QVERIFY(!korvane::ui::ReadStartOptions(parser, error).has_value());
    QVERIFY2(error.startsWith(message), qPrintable(error));
}

void TestApp::helpAndVersionWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--simulate <N>";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "korvane-utility ";
    QTest::newRow("-V") << QStringList{"-V"} << 0 << "korvane-utility ";
    if (kLinuxSession)
        QTest::newRow("no display") << QStringList{"--simulate", "8"} << 1
                                    << "the desktop program needs a graphical session";
    QTest::newRow("bad value") << QStringList{"--simulate", "eight"} << 2
                               << "--simulate takes a number";
}

void TestApp::helpAndVersionWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    // No display of any kind: a GUI start would abort here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    QProcess utility;
    utility.setProcessEnvironment(environment);
    utility.start(KORVANE_UTILITY_PATH, arguments);
    QVERIFY(utility.waitForFinished(10000));
    QCOMPARE(utility.exitStatus(), QProcess::NormalExit);
    QCOMPARE(utility.exitCode(), exitCode);
    const QString printed =
        QString::fromLocal8Bit(utility.readAllStandardOutput() + utility.readAllStandardError());
    QVERIFY2(printed.contains(output), qPrintable(printed));
}

void TestApp::unknownInterfaceIsSaid() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const QProcessEnvironment environment = programEnvironment(runtime);
    QProcess utility;
    utility.setProcessEnvironment(environment);
    // With --grab the program says it on the console instead of in a box.
    utility.start(KORVANE_UTILITY_PATH, {"--simulate", "1", "--interface", "nope", "--time-scale",
                                         "0.05", "--grab", runtime.filePath("window.png")});
    QVERIFY(utility.waitForFinished(20000));
    QCOMPARE(utility.exitCode(), 0);
    const QString printed = QString::fromLocal8Bit(utility.readAllStandardError());
    QVERIFY2(printed.contains("no Ethernet adapter named 'nope'"), qPrintable(printed));
    QVERIFY2(printed.contains("sim0"), qPrintable(printed));
}

QTEST_GUILESS_MAIN(TestApp)
#include "test_app.moc"

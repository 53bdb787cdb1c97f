#include "startup/application.hpp"

#include "app/environment.hpp"
#include "base/platform.hpp"
#include "bridge/message_box.hpp"
#include "link/capture_recorder.hpp"
#include "main/dialog_operations.hpp"
#include "main/main_window.hpp"
#include "skin/skin_library.hpp"
#include "startup/single_instance.hpp"
#include "startup/start_options.hpp"
#include "ui_strings.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace korvane::ui {

namespace {

// Why Qt could not open a window here, when that is plain before it tries:
// a platform that draws on a display server (the default one, xcb or
// wayland) with no server named in the environment. Only where such servers
// are the rule; elsewhere (Windows) the window system is always there.
std::optional<std::string> MissingDisplay(int argc, char** argv) {
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            platform = QString::fromLocal8Bit(argv[i + 1]);
    const bool x11 = qEnvironmentVariableIsEmpty("DISPLAY") == false;
    const bool wayland = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") == false;
    if (platform.isEmpty() && !x11 && !wayland)
        return std::string("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    if (platform.startsWith(QStringLiteral("xcb")) && !x11)
        return std::string("no X display (DISPLAY is not set)");
    if (platform.startsWith(QStringLiteral("wayland")) && !wayland)
        return std::string("no Wayland display (WAYLAND_DISPLAY is not set)");
#else
    (void)argc;
    (void)argv;
#endif
    return std::nullopt;
}

// Prints the start-up figures for the benchmark: when the window first
// painted, and the memory once the first search's rows are listed.
class StartupReporter : public QObject {
  public:
    StartupReporter(MainWindow& window, SteadyClock::time_point started)
        : QObject(&window), window_(window), started_(started) {
        window.installEventFilter(this);
        connect(&window, &MainWindow::searchApplied, this, [this] { reportListed(); });
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint && !shown_) {
            shown_ = true;
            std::printf("window-shown-ms %.1f\n", sinceStart());
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    double sinceStart() const {
        return std::chrono::duration<double, std::milli>(SteadyClock::now() - started_).count();
    }
    void reportListed() {
        const platform::MemoryFigures memory = platform::ProcessMemory();
        std::printf("devices-listed %d after-ms %.1f rss-kib %ld peak-kib %ld\n",
                    window_.deviceList().rows().rowCount(), sinceStart(), memory.residentKib,
                    memory.peakKib);
        std::fflush(stdout);
        window_.close();
    }

    MainWindow& window_;
    SteadyClock::time_point started_;
    bool shown_ = false;
};

} // namespace

int Application::run(int& argc, char** argv) {
    const SteadyClock::time_point started = SteadyClock::now();
    // The options are read before the GUI starts, so --help, --version and
    // a bad option answer without a display.
    std::optional<StartOptions> options;
    {
        QCoreApplication reader(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("korvane-utility"));
        QCoreApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION_TEXT));
        QCommandLineParser parser;
        parser.setApplicationDescription(QString::fromUtf8(strings::kAppTitle));
        parser.addHelpOption();
        parser.addVersionOption();
        // -V as well, as the command line has it (-v is its --verbose).
        QCommandLineOption versionToo(QStringLiteral("V"));
        versionToo.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(versionToo);
        AddStartOptions(parser);
        parser.process(reader); // --help and --version print and end here
        if (parser.isSet(versionToo))
            parser.showVersion();
        QString error;
        options = ReadStartOptions(parser, error);
        if (!options) {
            std::fprintf(stderr, "korvane-utility: %s\n", qPrintable(error));
            return 2;
        }
    }

    // Without a display Qt would abort with its own platform message.
    if (const auto why = MissingDisplay(argc, argv)) {
        std::fprintf(
            stderr,
            "korvane-utility: %s: the desktop program needs a graphical session.\n"
            "To try it without one: QT_QPA_PLATFORM=offscreen korvane-utility --simulate N "
            "--grab FILE writes a picture of the window; the command line 'korvane' "
            "works everywhere (korvane --help).\n",
            why->c_str());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(strings::kAppTitle));
    QApplication::setOrganizationName(QString::fromUtf8(strings::kOrganisation));
    QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION_TEXT));
    QApplication::setWindowIcon(skin::AppIcon());

    // A second copy ends here, silently; the first one is not disturbed.
    SingleInstance instance;
    switch (instance.acquire()) {
    case SingleInstance::Result::Acquired:
        break;
    case SingleInstance::Result::OtherCopyRuns:
        return 0;
    case SingleInstance::Result::NoLockFile:
        std::fprintf(stderr, "korvane-utility: cannot create %s\n",
                     qPrintable(instance.lockFilePath()));
        return 1;
    }

    EnvironmentOptions global;
    global.simulate = options->simulate;
    for (const QString& name : options->interfaces) {
        global.interfaces.push_back(name.toStdString());
    }
    global.timing = Timing::defaults().scaled(options->timeScale);
    global.access = RequestedLinkAccess(options->relay, std::getenv(kRelayEnvironment));
    // Opened once this copy is the only one, so a second start cannot truncate
    // the first one's recording.
    if (!options->captureFile.isEmpty()) {
        std::string captureError;
        global.capture = CaptureFile::create(QFile::encodeName(options->captureFile).toStdString(),
                                             captureError);
        if (!global.capture) {
            std::fprintf(stderr, "korvane-utility: --capture: %s\n", captureError.c_str());
            return 2;
        }
        global.capture->setMessageSink([](const std::string& line) {
            std::fprintf(stderr, "korvane-utility: %s", line.c_str());
        });
    }
    Environment environment(global);
    // The link's diagnostics are console lines, as they always were.
    environment.context().link.setDiagnosticSink(
        [](const std::string& line) { std::fputs(line.c_str(), stderr); });

    MainWindowOptions windowOptions;
    windowOptions.factory = options->factory;
    windowOptions.interfaces = global.interfaces;
    MainWindow window(environment.context(), windowOptions);
    window.setOperationDialogs(std::make_unique<DialogOperations>());
    QObject::connect(&window, &MainWindow::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    int result = 0;
    if (!options->grabFile.isEmpty()) {
        const QString file = options->grabFile;
        QObject::connect(
            &window, &MainWindow::searchApplied, &window,
            [&window, &result, file] {
                // Once the rows are painted.
                QTimer::singleShot(0, &window, [&window, &result, file] {
                    if (!window.grab().save(file)) {
                        std::fprintf(stderr, "korvane-utility: cannot write %s\n",
                                     qPrintable(file));
                        result = 1;
                    }
                    window.close();
                });
            },
            Qt::SingleShotConnection);
    }
    if (options->reportStartup) {
        new StartupReporter(window, started);
    }

    window.show();
    // Named adapters that do not exist are said at once, not found out
    // later from an empty list.
    const std::string unknown = environment.unknownInterfaceError();
    if (!unknown.empty()) {
        QString text = QString::fromStdString(unknown);
        text[0] = text[0].toUpper();
        if (options->grabFile.isEmpty() && !options->reportStartup)
            QTimer::singleShot(0, &window,
                               [&window, text] { ShowMessageBox(&window, text + u'.'); });
        else
            std::fprintf(stderr, "korvane-utility: %s\n", unknown.c_str());
    }
    const int exitCode = QApplication::exec();
    return result != 0 ? result : exitCode;
}

} // namespace korvane::ui

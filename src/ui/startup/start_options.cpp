#include "startup/start_options.hpp"

#include "app/environment.hpp"

#include <QCommandLineParser>

namespace korvane::ui {

namespace {
const QString kSimulate = QStringLiteral("simulate");
const QString kInterface = QStringLiteral("interface");
const QString kFactory = QStringLiteral("factory");
const QString kTimeScale = QStringLiteral("time-scale");
const QString kGrab = QStringLiteral("grab");
const QString kReportStartup = QStringLiteral("report-startup");
const QString kCapture = QStringLiteral("capture");
const QString kRelay = QStringLiteral("relay");
const QString kNoRelay = QStringLiteral("no-relay");

constexpr double kMaxTimeScale = 100.0;
} // namespace

void AddStartOptions(QCommandLineParser& parser) {
    parser.addOption({kSimulate,
                      QStringLiteral("Work on a simulated LAN of <N> emulated devices (0 to %1).")
                          .arg(kMaxSimulatedDevices),
                      QStringLiteral("N")});
    parser.addOption({kInterface,
                      QStringLiteral("Search only adapter <name> (repeat for more adapters)."),
                      QStringLiteral("name")});
    parser.addOption({kFactory, QStringLiteral("Show the factory buttons (IP Settings, Set "
                                               "Password, Serial Number).")});
    parser.addOption(
        {kGrab,
         QStringLiteral("Save a picture of the window to <file> after the first search and quit."),
         QStringLiteral("file")});
    parser.addOption({kCapture,
                      QStringLiteral("Record every frame sent and received to <file> (pcap, at "
                                     "most 256 MiB), for Wireshark."),
                      QStringLiteral("file")});
    parser.addOption(
        {kRelay, QStringLiteral("Reach the adapters through korvane-relay, the program "
                                "that holds the raw-frame capability (the default "
                                "when this one may not open raw sockets itself; "
                                "also KORVANE_RELAY=1).")});
    parser.addOption({kNoRelay, QStringLiteral("Open the adapters with this program's own raw "
                                               "sockets (root, or a build given cap_net_raw; also "
                                               "KORVANE_RELAY=0).")});
    QCommandLineOption timeScale(kTimeScale,
                                 QStringLiteral("Multiply every wait and period by <factor>."),
                                 QStringLiteral("factor"));
    timeScale.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(timeScale);
    QCommandLineOption report(kReportStartup,
                              QStringLiteral("Print start-up time and memory after the first "
                                             "search, then quit."));
    report.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(report);
}

std::optional<StartOptions> ReadStartOptions(const QCommandLineParser& parser, QString& error) {
    StartOptions options;
    if (parser.isSet(kSimulate)) {
        bool ok = false;
        const int n = parser.value(kSimulate).toInt(&ok);
        if (!ok || n < 0 || n > kMaxSimulatedDevices) {
            error = QStringLiteral("--simulate takes a number of devices from 0 to %1")
                        .arg(kMaxSimulatedDevices);
            return std::nullopt;
        }
        options.simulate = n;
    }
    options.interfaces = parser.values(kInterface);
    for (const QString& name : options.interfaces) {
        if (name.trimmed().isEmpty()) {
            error = QStringLiteral("--interface takes an adapter name");
            return std::nullopt;
        }
    }
    options.factory = parser.isSet(kFactory);
    if (parser.isSet(kRelay) && parser.isSet(kNoRelay)) {
        error = QStringLiteral("--relay and --no-relay exclude each other");
        return std::nullopt;
    }
    if (parser.isSet(kRelay) || parser.isSet(kNoRelay))
        options.relay = parser.isSet(kRelay);
    if (parser.isSet(kTimeScale)) {
        bool ok = false;
        const double factor = parser.value(kTimeScale).toDouble(&ok);
        if (!ok || !(factor > 0.0) || factor > kMaxTimeScale) {
            error = QStringLiteral("--time-scale takes a factor above 0 and at most %1")
                        .arg(kMaxTimeScale);
            return std::nullopt;
        }
        options.timeScale = factor;
    }
    options.grabFile = parser.value(kGrab);
    if (parser.isSet(kGrab) && options.grabFile.isEmpty()) {
        error = QStringLiteral("--grab takes a file name");
        return std::nullopt;
    }
    options.reportStartup = parser.isSet(kReportStartup);
    options.captureFile = parser.value(kCapture);
    if (parser.isSet(kCapture) && options.captureFile.isEmpty()) {
        error = QStringLiteral("--capture takes a file name");
        return std::nullopt;
    }
    return options;
}

} // namespace korvane::ui

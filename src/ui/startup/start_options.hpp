#pragma once

// The desktop program's start options.

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

namespace korvane::ui {

struct StartOptions {
    int simulate = -1;      // --simulate N: a simulated LAN of N devices; -1: real adapters
    QStringList interfaces; // --interface NAME (repeatable): only these adapters
    bool factory = false;   // --factory: show the factory buttons
    double timeScale = 1.0; // --time-scale F (hidden): every wait multiplied by F
    QString grabFile;       // --grab FILE: picture of the window after the first search, then quit
    bool reportStartup = false; // --report-startup (hidden): print start-up figures, then quit
    QString captureFile;        // --capture FILE: record the session's frames (pcap)
    std::optional<bool> relay;  // --relay (true) / --no-relay (false): how adapters are reached
};

// Adds the options to `parser`.
void AddStartOptions(QCommandLineParser& parser);
// Reads them from a parser that has parsed the command line; nullopt with
// `error` set when a value is out of range.
std::optional<StartOptions> ReadStartOptions(const QCommandLineParser& parser, QString& error);

} // namespace korvane::ui

#include "widgets/link_opener.hpp"

#include <QDesktopServices>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QUrl>

namespace korvane::ui {

LinkOpenResult DesktopLinkOpener::openLink(const QString& address) {
    if (QDesktopServices::openUrl(QUrl::fromUserInput(address))) {
        return LinkOpenResult::Opened;
    }
    // The desktop only says no: it has nothing registered for the address.
    const std::optional<QString> browser = FallbackBrowser();
    if (!browser) {
        return LinkOpenResult::NoBrowser;
    }
    QStringList command = BuildBrowserCommand(*browser, address);
    if (command.isEmpty()) {
        return LinkOpenResult::NoBrowser;
    }
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command) ? LinkOpenResult::Opened
                                                     : LinkOpenResult::BrowserNotStarted;
}

QStringList BuildBrowserCommand(const QString& browser, const QString& address) {
    QString line = browser;
    qsizetype cut = line.indexOf(QStringLiteral("\"%s\""));
    if (cut < 0) {
        cut = line.indexOf(QStringLiteral("%s"));
    }
    if (cut >= 0) {
        line.truncate(cut);
    }
    QStringList command = QProcess::splitCommand(line);
    if (command.isEmpty()) {
        return {};
    }
    // The address stays one argument whatever it holds; no shell sees it.
    command.append(address);
    return command;
}

std::optional<QString> FallbackBrowser() {
    // $BROWSER is a colon-separated list of commands; the first one counts.
    const QString fromEnvironment =
        QProcessEnvironment::systemEnvironment().value(QStringLiteral("BROWSER"));
    const QString first = fromEnvironment.section(QLatin1Char(':'), 0, 0).trimmed();
    if (!first.isEmpty()) {
        return first;
    }
    for (const char* candidate : {"x-www-browser", "xdg-open"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(candidate));
        if (!path.isEmpty()) {
            return path;
        }
    }
    return std::nullopt;
}

QString LinkErrorText(LinkOpenResult result) {
    const QString text = QStringLiteral("Unable to open hyperlink:\n\n");
    switch (result) {
    case LinkOpenResult::Opened:
        break;
    case LinkOpenResult::NoBrowser:
        return text + QStringLiteral("No web browser is set up on this computer.");
    case LinkOpenResult::BrowserNotStarted:
        return text + QStringLiteral("The web browser could not be started.");
    }
    return {};
}

} // namespace korvane::ui

#include "widgets/link_opener.hpp"

#include <QDesktopServices>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QUrl>

namespace korvane::ui {

int DesktopLinkOpener::openLink(const QString& address) {
    if (QDesktopServices::openUrl(QUrl::fromUserInput(address))) {
        return link_result::kOpened;
    }
    // The desktop only says no; "nothing registered" is what that means.
    const int desktopResult = link_result::kNoAssociation;
    const std::optional<QString> browser = FallbackBrowser();
    if (!browser) {
        return desktopResult;
    }
    QStringList command = BuildBrowserCommand(*browser, address);
    if (command.isEmpty()) {
        return desktopResult;
    }
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command) ? link_result::kOpened
                                                     : link_result::kFileNotFound;
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

QString LinkErrorText(int result) {
    struct Entry {
        int result;
        const char* text;
    };
    static constexpr Entry kTexts[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE "
             "transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
    };
    QString text = QStringLiteral("Unable to open hyperlink:\n\n");
    for (const Entry& entry : kTexts) {
        if (entry.result == result) {
            return text + QString::fromLatin1(entry.text);
        }
    }
    return text + QStringLiteral("Unknown Error (%1) occurred.").arg(result);
}

} // namespace korvane::ui

#pragma once

// How a hyperlink gets opened. Results keep the shell's convention that the
// link control's error texts are keyed by: above 32 is success, 32 and
// below name what went wrong.

#include <QString>
#include <QStringList>

#include <optional>

namespace korvane::ui {

namespace link_result {
inline constexpr int kOpened = 33;        // anything above 32 means opened
inline constexpr int kFileNotFound = 2;   // the program could not be started
inline constexpr int kNoAssociation = 31; // nothing is registered to open it
} // namespace link_result

class LinkOpener {
  public:
    virtual ~LinkOpener() = default;
    // Opens `address`; a result above 32 means it was opened.
    virtual int openLink(const QString& address) = 0;
};

// The desktop's URL handler first; if it cannot open the address, the
// user's browser command ($BROWSER, else the system's x-www-browser or
// xdg-open) is started with the address.
class DesktopLinkOpener : public LinkOpener {
  public:
    int openLink(const QString& address) override;
};

// The command that opens `address` with the browser command `browser`: a
// "%s" placeholder (quoted or not) is where the address goes and ends the
// command; without one the address is appended. Empty when `browser` has no
// program in it.
QStringList BuildBrowserCommand(const QString& browser, const QString& address);

// The browser command to fall back on, if this system has one.
std::optional<QString> FallbackBrowser();

// The message shown when a link could not be opened with result `result`.
QString LinkErrorText(int result);

} // namespace korvane::ui

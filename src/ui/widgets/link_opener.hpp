#pragma once

// How a hyperlink gets opened, and what became of it.

#include <QString>
#include <QStringList>

#include <optional>

namespace korvane::ui {

enum class LinkOpenResult {
    Opened,
    NoBrowser,         // nothing on this system opens web addresses
    BrowserNotStarted, // a browser command was found, but it could not be started
};

class LinkOpener {
  public:
    virtual ~LinkOpener() = default;
    virtual LinkOpenResult openLink(const QString& address) = 0;
};

// The desktop's URL handler first; if it cannot open the address, the
// user's browser command ($BROWSER, else the system's x-www-browser or
// xdg-open) is started with the address.
class DesktopLinkOpener : public LinkOpener {
  public:
    LinkOpenResult openLink(const QString& address) override;
};

// The command that opens `address` with the browser command `browser`: a
// "%s" placeholder (quoted or not) is where the address goes and ends the
// command; without one the address is appended. Empty when `browser` has no
// program in it.
QStringList BuildBrowserCommand(const QString& browser, const QString& address);

// The browser command to fall back on, if this system has one.
std::optional<QString> FallbackBrowser();

// The message shown when a link could not be opened.
QString LinkErrorText(LinkOpenResult result);

} // namespace korvane::ui

#pragma once

// The desktop program's answers to the core: the Operator whose questions
// and message boxes appear over the main window, and the UrlOpener that
// opens device web pages through the desktop. Both may be called from a
// worker thread; they reach the GUI thread through GuiCaller.

#include "base/operator.hpp"
#include "devices/web_page.hpp"
#include "main/gui_caller.hpp"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace korvane::ui {

class LinkOpener;

class GuiOperator : public Operator {
  public:
    // The password prompt; until the password dialog is plugged in, a
    // plain masked input box.
    using PasswordPrompt = std::function<std::optional<std::string>(
        QWidget* parent, const std::string& label, const std::string& preset)>;

    GuiOperator(QWidget* window, const GuiCaller& caller);
    ~GuiOperator() override;

    void setPasswordPrompt(PasswordPrompt prompt) { prompt_ = std::move(prompt); }

    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override;
    bool askYesNo(const std::string& text, MessageIcon icon) override;
    BlockFailureChoice askAbortRetryIgnore(const std::string& text) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    // The wait cursor nests: every "on" is matched by an "off".
    void setWaitCursor(bool on) override;

    // Wait cursors still shown (GUI thread).
    int waitCursorDepth() const { return waitCursorDepth_; }

  private:
    QPointer<QWidget> window_;
    const GuiCaller& caller_;
    PasswordPrompt prompt_;
    int waitCursorDepth_ = 0; // GUI thread only
};

// Opens a device's web page with a LinkOpener (the desktop's URL handler and
// its fallbacks) on the GUI thread.
class GuiUrlOpener : public UrlOpener {
  public:
    GuiUrlOpener(LinkOpener& opener, const GuiCaller& caller) : opener_(opener), caller_(caller) {}
    bool OpenUrl(const std::string& url) override;

  private:
    LinkOpener& opener_;
    const GuiCaller& caller_;
};

} // namespace korvane::ui

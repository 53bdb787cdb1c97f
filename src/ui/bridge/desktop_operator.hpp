#pragma once

// The desktop program's Operator, for the main window and every dialog: a
// flow off the GUI thread asks its questions through it, and they appear on
// the GUI thread over the window in front (a dialog, else the owner), with
// the normal pointer even while the command shows the wait cursor.
// Questions are blocking calls (the flow waits for the answer; a stop
// request ends the wait with the safe answer), shown one at a time however
// many workers ask at once; status texts, progress and
// the wait cursor are posted and return at once. Also the UrlOpener that
// opens device web pages through the desktop.

#include "base/operator.hpp"
#include "bridge/gui_caller.hpp"
#include "bridge/message_box.hpp"
#include "devices/web_page.hpp"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace korvane::ui {

class LinkOpener;

class DesktopOperator : public Operator {
  public:
    // Runs on the GUI thread; nullopt for Cancel.
    using PasswordPrompt = std::function<std::optional<std::string>(const std::string& label,
                                                                    const std::string& preset)>;

    // `owner` is the window the boxes stand over when no dialog is in front;
    // `caller` reaches the GUI thread, with a context that outlives every
    // widget the prompt and the sinks touch.
    DesktopOperator(QWidget* owner, const GuiCaller& caller);
    // Gives back the wait cursors still shown (posted: it may go on a worker).
    ~DesktopOperator() override;
    DesktopOperator(const DesktopOperator&) = delete;
    DesktopOperator& operator=(const DesktopOperator&) = delete;

    // Default: a Password Input dialog of its own for each prompt.
    void setPasswordPrompt(PasswordPrompt prompt) { prompt_ = std::move(prompt); }
    // Where status texts and progress go (GUI thread); unset ones are dropped.
    void setStatusLineSink(std::function<void(const QString&)> sink) {
        statusLine_ = std::move(sink);
    }
    void setUnitStatusSink(std::function<void(const QString& key, const QString& text)> sink) {
        unitStatus_ = std::move(sink);
    }
    void setProgressSink(std::function<void(int)> sink) { progress_ = std::move(sink); }

    std::optional<std::string> askPassword(const std::string& label,
                                           const std::string& preset) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    void setWaitCursor(bool on) override;
    void setStatusLine(const std::string& text) override;
    void setUnitStatus(const std::string& unitKey, const std::string& text) override;
    void setProgress(int percent) override;

    // The core's question as a modal box with exactly its buttons and its
    // default; Escape, the close box, or nobody left to answer give No,
    // Cancel or Abort.
    Answer ask(const Question& question) override;

  private:
    // Questions asked from several workers at once come one at a time: a
    // worker holds this while its box is up. The GUI thread never takes it
    // (it would wait for a box that only it can answer).
    std::unique_lock<std::mutex> takeTurn();

    QPointer<QWidget> owner_;
    const GuiCaller& caller_;
    PasswordPrompt prompt_;
    std::function<void(const QString&)> statusLine_;
    std::function<void(const QString&, const QString&)> unitStatus_;
    std::function<void(int)> progress_;
    std::shared_ptr<int> waitCursors_; // shown and not yet taken back; GUI thread only
    std::mutex turn_;
};

// Opens a device's web page with a LinkOpener (the desktop's URL handler and
// its fallbacks) on the GUI thread.
class GuiUrlOpener : public UrlOpener {
  public:
    GuiUrlOpener(LinkOpener& opener, const GuiCaller& caller) : opener_(opener), caller_(caller) {}
    bool openUrl(const std::string& url) override;

  private:
    LinkOpener& opener_;
    const GuiCaller& caller_;
};

} // namespace korvane::ui

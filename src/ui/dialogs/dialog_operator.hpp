#pragma once

// The Operator of a command that runs a dialog: a flow off the GUI thread
// asks its questions through it, and they appear on the GUI thread over the
// window in front (the sheet, the Firmware Upgrade dialog, the main
// window), with the normal pointer even while the command shows the wait
// cursor. Questions are blocking calls (the flow waits for the answer);
// status texts, progress and the wait cursor are posted and return at once.

#include "base/operator.hpp"
#include "main/gui_caller.hpp"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace korvane::ui {

class DialogOperator : public Operator {
  public:
    // Runs on the GUI thread; nullopt for Cancel.
    using PasswordPrompt = std::function<std::optional<std::string>(const std::string& label,
                                                                    const std::string& preset)>;

    // `owner` is the window the boxes stand over when no dialog is in front;
    // `caller` reaches the GUI thread, with a context that outlives every
    // widget the prompt and the sinks touch. Used on the flow's thread.
    DialogOperator(QWidget* owner, const GuiCaller& caller);

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
    bool askYesNo(const std::string& text, MessageIcon icon) override;
    BlockFailureChoice askAbortRetryIgnore(const std::string& text) override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    void setWaitCursor(bool on) override;
    void setStatusLine(const std::string& text) override;
    void setUnitStatus(const std::string& unitKey, const std::string& text) override;
    void setProgress(int percent) override;

  private:
    QPointer<QWidget> owner_;
    const GuiCaller& caller_;
    PasswordPrompt prompt_;
    std::function<void(const QString&)> statusLine_;
    std::function<void(const QString&, const QString&)> unitStatus_;
    std::function<void(int)> progress_;
    std::shared_ptr<int> waitCursors_; // shown and not yet taken back; GUI thread only
};

} // namespace korvane::ui

#include "dialogs/dialog_operator.hpp"

#include "dialogs/message_box.hpp"
#include "dialogs/password_prompt_dialog.hpp"

#include <QApplication>

namespace korvane::ui {

// What runs on the GUI thread captures copies only: a call that a stop cut
// short may still run there after this operator has gone.

DialogOperator::DialogOperator(QWidget* owner, const GuiCaller& caller)
    : owner_(owner), caller_(caller), waitCursors_(std::make_shared<int>(0)) {}

std::optional<std::string> DialogOperator::askPassword(const std::string& label,
                                                       const std::string& preset) {
    const auto answer = caller_.call([owner = owner_, prompt = prompt_, label, preset] {
        NormalCursor pointer;
        if (prompt)
            return prompt(label, preset);
        PasswordPromptDialog input(BoxParent(owner));
        const auto typed = input.ask(QString::fromStdString(label), QString::fromStdString(preset));
        return typed ? std::optional<std::string>(typed->toStdString()) : std::nullopt;
    });
    return answer ? *answer : std::nullopt;
}

bool DialogOperator::askYesNo(const std::string& text, MessageIcon icon) {
    return caller_
        .call([owner = owner_, text, icon] {
            NormalCursor pointer;
            return AskYesNoBox(owner, text, icon);
        })
        .value_or(false);
}

BlockFailureChoice DialogOperator::askAbortRetryIgnore(const std::string& text) {
    // Nobody left to answer: give up rather than go on unattended.
    return caller_
        .call([owner = owner_, text] {
            NormalCursor pointer;
            return AskAbortRetryIgnoreBox(owner, text);
        })
        .value_or(BlockFailureChoice::Abort);
}

void DialogOperator::showMessage(const std::string& text, MessageIcon icon) {
    caller_.call([owner = owner_, text, icon] {
        NormalCursor pointer;
        ShowMessageBox(owner, text, icon);
        return true;
    });
}

void DialogOperator::setWaitCursor(bool on) {
    caller_.post([count = waitCursors_, on] {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++*count;
        } else if (*count > 0) {
            QApplication::restoreOverrideCursor();
            --*count;
        }
    });
}

void DialogOperator::setStatusLine(const std::string& text) {
    if (statusLine_)
        caller_.post([sink = statusLine_, text] { sink(QString::fromStdString(text)); });
}

void DialogOperator::setUnitStatus(const std::string& unitKey, const std::string& text) {
    if (unitStatus_)
        caller_.post([sink = unitStatus_, unitKey, text] {
            sink(QString::fromStdString(unitKey), QString::fromStdString(text));
        });
}

void DialogOperator::setProgress(int percent) {
    if (progress_)
        caller_.post([sink = progress_, percent] { sink(percent); });
}

} // namespace korvane::ui

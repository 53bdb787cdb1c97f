#include "bridge/desktop_operator.hpp"

#include "bridge/password_prompt_dialog.hpp"
#include "widgets/link_opener.hpp"

#include <QApplication>
#include <QThread>

namespace korvane::ui {

// What runs on the GUI thread captures copies only: a call that a stop cut
// short may still run there after this operator has gone.

DesktopOperator::DesktopOperator(QWidget* owner, const GuiCaller& caller)
    : owner_(owner), caller_(caller), waitCursors_(std::make_shared<int>(0)) {}

DesktopOperator::~DesktopOperator() {
    caller_.post([count = waitCursors_] {
        for (; *count > 0; --*count)
            QApplication::restoreOverrideCursor();
    });
}

std::optional<std::string> DesktopOperator::askPassword(const std::string& label,
                                                        const std::string& preset) {
    const auto turn = takeTurn();
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

void DesktopOperator::showMessage(const std::string& text, MessageIcon icon) {
    const auto turn = takeTurn();
    caller_.call([owner = owner_, text, icon] {
        NormalCursor pointer;
        ShowMessageBox(owner, text, icon);
        return true;
    });
}

Answer DesktopOperator::ask(const Question& question) {
    const auto turn = takeTurn();
    return caller_
        .call([owner = owner_, question] {
            NormalCursor pointer;
            return AskQuestionBox(owner, question);
        })
        .value_or(SafeAnswer(question.buttons));
}

std::unique_lock<std::mutex> DesktopOperator::takeTurn() {
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        return {};
    return std::unique_lock(turn_);
}

void DesktopOperator::setWaitCursor(bool on) {
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

void DesktopOperator::setStatusLine(const std::string& text) {
    if (statusLine_)
        caller_.post([sink = statusLine_, text] { sink(QString::fromStdString(text)); });
}

void DesktopOperator::setUnitStatus(const std::string& unitKey, const std::string& text) {
    if (unitStatus_)
        caller_.post([sink = unitStatus_, unitKey, text] {
            sink(QString::fromStdString(unitKey), QString::fromStdString(text));
        });
}

void DesktopOperator::setProgress(int percent) {
    if (progress_)
        caller_.post([sink = progress_, percent] { sink(percent); });
}

bool GuiUrlOpener::openUrl(const std::string& url) {
    LinkOpener* opener = &opener_;
    const auto result =
        caller_.call([opener, url] { return opener->openLink(QString::fromStdString(url)); });
    return result && *result == LinkOpenResult::Opened;
}

} // namespace korvane::ui

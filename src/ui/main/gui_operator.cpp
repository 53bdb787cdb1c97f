#include "main/gui_operator.hpp"

#include "dialogs/message_box.hpp"
#include "ui_strings.hpp"
#include "widgets/link_opener.hpp"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace korvane::ui {

namespace {

QString Caption() {
    return QString::fromUtf8(strings::kAppTitle);
}

std::optional<std::string> DefaultPasswordPrompt(QWidget* parent, const std::string& label,
                                                 const std::string& preset) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, Caption(), QString::fromStdString(label), QLineEdit::Password,
                              QString::fromStdString(preset), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return text.toStdString();
}

} // namespace

GuiOperator::GuiOperator(QWidget* window, const GuiCaller& caller)
    : window_(window), caller_(caller), prompt_(DefaultPasswordPrompt) {}

GuiOperator::~GuiOperator() {
    while (waitCursorDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --waitCursorDepth_;
    }
}

std::optional<std::string> GuiOperator::askPassword(const std::string& label,
                                                    const std::string& preset) {
    auto answer = caller_.call([this, label, preset] { return prompt_(window_, label, preset); });
    return answer ? *answer : std::nullopt;
}

bool GuiOperator::askYesNo(const std::string& text, MessageIcon icon) {
    const auto answer = caller_.call([this, text, icon] {
        QMessageBox box(BoxIcon(icon), Caption(), QString::fromStdString(text),
                        QMessageBox::Yes | QMessageBox::No, window_);
        return box.exec() == QMessageBox::Yes;
    });
    return answer.value_or(false);
}

BlockFailureChoice GuiOperator::askAbortRetryIgnore(const std::string& text) {
    const auto answer = caller_.call([this, text] {
        QMessageBox box(QMessageBox::Warning, Caption(), QString::fromStdString(text),
                        QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, window_);
        switch (box.exec()) {
        case QMessageBox::Retry:
            return BlockFailureChoice::Retry;
        case QMessageBox::Ignore:
            return BlockFailureChoice::Ignore;
        default:
            return BlockFailureChoice::Abort;
        }
    });
    // Nobody left to ask: stop rather than carry on unattended.
    return answer.value_or(BlockFailureChoice::Abort);
}

void GuiOperator::showMessage(const std::string& text, MessageIcon icon) {
    caller_.call([this, text, icon] {
        QMessageBox box(BoxIcon(icon), Caption(), QString::fromStdString(text), QMessageBox::Ok,
                        window_);
        box.exec();
        return true;
    });
}

void GuiOperator::setWaitCursor(bool on) {
    caller_.post([this, on] {
        if (on) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++waitCursorDepth_;
        } else if (waitCursorDepth_ > 0) {
            QApplication::restoreOverrideCursor();
            --waitCursorDepth_;
        }
    });
}

bool GuiUrlOpener::OpenUrl(const std::string& url) {
    LinkOpener* opener = &opener_;
    const auto result =
        caller_.call([opener, url] { return opener->openLink(QString::fromStdString(url)); });
    return result && *result >= link_result::kOpened;
}

} // namespace korvane::ui

#include "bridge/message_box.hpp"

#include "ui_strings.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QPushButton>
#include <QSpacerItem>

#include <utility>
#include <vector>

namespace korvane::ui {

namespace {

QString caption() {
    return QString::fromUtf8(strings::kAppTitle);
}

int run(QWidget* parent, QMessageBox::Icon icon, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, caption(), text, buttons, BoxParent(parent));
    box.setObjectName(QStringLiteral("messageBox"));
    box.setDefaultButton(defaultButton);
    FitBoxToCaption(box);
    return box.exec();
}

} // namespace

// Room the title bar takes beside the caption: the window's icon and its
// buttons, in line heights of the caption's font.
constexpr int kTitleBarExtraLines = 6;

void FitBoxToCaption(QMessageBox& box) {
    // The title bar's font is the window manager's; the application font
    // with some margin is a fair stand-in for it.
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    const int wanted =
        metrics.horizontalAdvance(box.windowTitle()) + kTitleBarExtraLines * metrics.height();
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

namespace {

std::vector<Answer> AnswersOf(QuestionButtons buttons) {
    switch (buttons) {
    case QuestionButtons::ContinueCancel:
        return {Answer::Continue, Answer::Cancel};
    case QuestionButtons::AbortRetryIgnore:
        return {Answer::Abort, Answer::Retry, Answer::Ignore};
    case QuestionButtons::YesNo:
        break;
    }
    return {Answer::Yes, Answer::No};
}

// Qt's own button for an answer; Continue has none and gets one of its own.
QMessageBox::StandardButton StandardButtonOf(Answer answer) {
    switch (answer) {
    case Answer::Yes:
        return QMessageBox::Yes;
    case Answer::No:
        return QMessageBox::No;
    case Answer::Cancel:
        return QMessageBox::Cancel;
    case Answer::Abort:
        return QMessageBox::Abort;
    case Answer::Retry:
        return QMessageBox::Retry;
    case Answer::Ignore:
        return QMessageBox::Ignore;
    case Answer::Continue:
        break;
    }
    return QMessageBox::NoButton;
}

} // namespace

Answer SafeAnswer(QuestionButtons buttons) {
    switch (buttons) {
    case QuestionButtons::ContinueCancel:
        return Answer::Cancel;
    case QuestionButtons::AbortRetryIgnore:
        return Answer::Abort;
    case QuestionButtons::YesNo:
        break;
    }
    return Answer::No;
}

Answer AskQuestionBox(QWidget* parent, const Question& question) {
    QMessageBox box(BoxIcon(question.icon), caption(), QString::fromStdString(question.text),
                    QMessageBox::NoButton, BoxParent(parent));
    box.setObjectName(QStringLiteral("messageBox"));
    const Answer safe = SafeAnswer(question.buttons);
    std::vector<std::pair<QAbstractButton*, Answer>> buttons;
    for (const Answer answer : AnswersOf(question.buttons)) {
        const QMessageBox::StandardButton standard = StandardButtonOf(answer);
        QPushButton* button =
            standard != QMessageBox::NoButton
                ? box.addButton(standard)
                : box.addButton(QStringLiteral("Continue"), QMessageBox::AcceptRole);
        buttons.emplace_back(button, answer);
        if (answer == safe)
            box.setEscapeButton(button);
    }
    // A default the buttons do not offer falls back to the safe one.
    const auto find = [&buttons](Answer answer) -> QPushButton* {
        for (const auto& [button, offered] : buttons)
            if (offered == answer)
                return qobject_cast<QPushButton*>(button);
        return nullptr;
    };
    QPushButton* preferred = find(question.defaultAnswer);
    box.setDefaultButton(preferred != nullptr ? preferred : find(safe));
    FitBoxToCaption(box);
    box.exec();
    for (const auto& [button, answer] : buttons)
        if (box.clickedButton() == button)
            return answer;
    return safe;
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QWidget* BoxParent(QWidget* fallback) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr ? modal : fallback;
}

NormalCursor::NormalCursor() {
    if (QApplication::overrideCursor() != nullptr) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        pushed_ = true;
    }
}

NormalCursor::~NormalCursor() {
    if (pushed_)
        QApplication::restoreOverrideCursor();
}

void ShowMessageBox(QWidget* parent, const QString& text, MessageIcon icon) {
    run(parent, BoxIcon(icon), text, QMessageBox::Ok, QMessageBox::Ok);
}

void ShowMessageBox(QWidget* parent, const std::string& text, MessageIcon icon) {
    ShowMessageBox(parent, QString::fromStdString(text), icon);
}

} // namespace korvane::ui

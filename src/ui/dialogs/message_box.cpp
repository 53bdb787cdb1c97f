#include "dialogs/message_box.hpp"

#include "ui_strings.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QPushButton>
#include <QSpacerItem>

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

int AskQuestionBox(QWidget* parent, const Question& question) {
    QMessageBox box(BoxIcon(question.icon), caption(), QString::fromStdString(question.text),
                    QMessageBox::NoButton, BoxParent(parent));
    box.setObjectName(QStringLiteral("messageBox"));
    std::vector<QPushButton*> buttons;
    for (const std::string& text : question.buttons)
        buttons.push_back(box.addButton(QString::fromStdString(text), QMessageBox::ActionRole));
    const auto at = [&buttons](int index) -> QPushButton* {
        return index >= 0 && index < static_cast<int>(buttons.size())
                   ? buttons[static_cast<std::size_t>(index)]
                   : nullptr;
    };
    if (QPushButton* button = at(question.defaultButton))
        box.setDefaultButton(button);
    if (QPushButton* button = at(question.escapeButton))
        box.setEscapeButton(button);
    FitBoxToCaption(box);
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return static_cast<int>(i);
    return question.escapeButton;
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

bool AskYesNoBox(QWidget* parent, const std::string& text, MessageIcon icon) {
    return run(parent, BoxIcon(icon), QString::fromStdString(text),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

BlockFailureChoice AskAbortRetryIgnoreBox(QWidget* parent, const std::string& text) {
    switch (run(parent, QMessageBox::Critical, QString::fromStdString(text),
                QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore,
                QMessageBox::Abort)) {
    case QMessageBox::Retry:
        return BlockFailureChoice::Retry;
    case QMessageBox::Ignore:
        return BlockFailureChoice::Ignore;
    default:
        return BlockFailureChoice::Abort;
    }
}

} // namespace korvane::ui

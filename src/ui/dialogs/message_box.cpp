#include "dialogs/message_box.hpp"

#include "ui_strings.hpp"

#include <QApplication>

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
    return box.exec();
}

} // namespace

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

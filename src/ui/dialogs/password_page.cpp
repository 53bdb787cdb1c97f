#include "dialogs/password_page.hpp"

#include "bridge/message_box.hpp"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace korvane::ui {

PasswordPage::PasswordPage(QWidget* parent) : SettingsPage(parent) {
    setObjectName(QStringLiteral("passwordPage"));
    setWindowTitle(QStringLiteral("Password"));

    auto* group = new QGroupBox(QStringLiteral("Korvane Utility Password"), this);
    group->setObjectName(QStringLiteral("passwordGroup"));
    enable_ = new QCheckBox(QStringLiteral("En&able password setting"), group);
    enable_->setObjectName(QStringLiteral("passwordEnableCheck"));
    newLabel_ = new QLabel(QStringLiteral("&New password:"), group);
    newLabel_->setObjectName(QStringLiteral("newPasswordLabel"));
    newPassword_ = new QLineEdit(group);
    newPassword_->setObjectName(QStringLiteral("newPasswordEdit"));
    confirmLabel_ = new QLabel(QStringLiteral("&Confirm password:"), group);
    confirmLabel_->setObjectName(QStringLiteral("confirmPasswordLabel"));
    confirmPassword_ = new QLineEdit(group);
    confirmPassword_->setObjectName(QStringLiteral("confirmPasswordEdit"));
    for (QLineEdit* edit : {newPassword_, confirmPassword_}) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setMaxLength(kMaxLength);
        connect(edit, &QLineEdit::textChanged, this, &PasswordPage::store);
    }
    newLabel_->setBuddy(newPassword_);
    confirmLabel_->setBuddy(confirmPassword_);

    auto* grid = new QGridLayout(group);
    grid->addWidget(enable_, 0, 0, 1, 2);
    grid->addWidget(newLabel_, 1, 0);
    grid->addWidget(newPassword_, 1, 1);
    grid->addWidget(confirmLabel_, 2, 0);
    grid->addWidget(confirmPassword_, 2, 1);
    auto* column = new QVBoxLayout(this);
    column->addWidget(group);
    column->addStretch(1);

    connect(enable_, &QCheckBox::clicked, this, &PasswordPage::enableClicked);
    setModel(model_);
}

void PasswordPage::setModel(const PasswordPageModel& model) {
    model_ = model;
    loading_ = true;
    enable_->setChecked(model_.enabled);
    newPassword_->setText(QString::fromStdString(model_.newPassword));
    confirmPassword_->setText(QString::fromStdString(model_.confirmPassword));
    loading_ = false;
    // Unticked, the edits are off; the labels stay as they are.
    newPassword_->setEnabled(model_.enabled);
    confirmPassword_->setEnabled(model_.enabled);
    newLabel_->setEnabled(true);
    confirmLabel_->setEnabled(true);
}

void PasswordPage::enableClicked(bool on) {
    model_.enabled = on;
    setEditsEnabled(on);
    store();
}

void PasswordPage::setEditsEnabled(bool on) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{newLabel_, newPassword_, confirmLabel_, confirmPassword_})
        w->setEnabled(on);
}

void PasswordPage::store() {
    if (loading_)
        return;
    model_.enabled = enable_->isChecked();
    model_.newPassword = newPassword_->text().toStdString();
    model_.confirmPassword = confirmPassword_->text().toStdString();
}

bool PasswordPage::validatePage() {
    if (const auto failure = PasswordPageTest(model_)) {
        ShowMessageBox(this, failure->message);
        return false;
    }
    return true;
}

SetPasswordDialog::SetPasswordDialog(QWidget* parent)
    : SinglePageDialog(new PasswordPage, QStringLiteral("setPasswordDialog"), parent),
      page_(findChild<PasswordPage*>()) {}

} // namespace korvane::ui

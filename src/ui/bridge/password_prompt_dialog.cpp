#include "bridge/password_prompt_dialog.hpp"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace korvane::ui {

namespace {
constexpr int kEditWidthChars = 24;
}

PasswordPromptDialog::PasswordPromptDialog(QWidget* parent)
    : QDialog(parent), edit_(new QLineEdit(this)), label_(new QLabel(this)) {
    setObjectName(QStringLiteral("passwordInputDialog"));
    setWindowTitle(QStringLiteral("Password Input"));

    label_->setObjectName(QStringLiteral("passwordLabel"));
    auto* prompt = new QLabel(QStringLiteral("Korvane Utility &Password:"), this);
    prompt->setObjectName(QStringLiteral("passwordPrompt"));
    prompt->setBuddy(edit_);
    edit_->setObjectName(QStringLiteral("passwordEdit"));
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * kEditWidthChars);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label_, 0, 0);
    grid->addWidget(prompt, 1, 0);
    grid->addWidget(edit_, 2, 0);
    grid->addWidget(buttons, 0, 1, 4, 1, Qt::AlignTop);
    grid->setRowStretch(3, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void PasswordPromptDialog::setPassword(const QString& password) {
    edit_->setText(password);
}

QString PasswordPromptDialog::password() const {
    return edit_->text();
}

void PasswordPromptDialog::setLabel(const QString& label) {
    label_->setText(label);
    label_->setVisible(!label.isEmpty());
}

QString PasswordPromptDialog::label() const {
    return label_->text();
}

std::optional<QString> PasswordPromptDialog::ask(const QString& label, const QString& preset) {
    setLabel(label);
    setPassword(preset);
    edit_->selectAll();
    edit_->setFocus();
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return password();
}

} // namespace korvane::ui

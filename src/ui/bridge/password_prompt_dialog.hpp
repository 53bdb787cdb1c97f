#pragma once

// "Password Input": the device password, typed masked, with an optional
// label above it (the unit's "MAC:..." in the firmware download). One
// dialog may serve several prompts of a run and keeps what was typed.

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;

namespace korvane::ui {

class PasswordPromptDialog : public QDialog {
    Q_OBJECT

  public:
    explicit PasswordPromptDialog(QWidget* parent = nullptr);

    void setPassword(const QString& password);
    QString password() const;
    void setLabel(const QString& label);
    QString label() const;

    QLineEdit* passwordEdit() const { return edit_; }

    // Shows the dialog modally with `label` and `preset`; the text typed, or
    // nothing for Cancel.
    std::optional<QString> ask(const QString& label, const QString& preset);

  private:
    QLineEdit* edit_;
    QLabel* label_;
};

} // namespace korvane::ui

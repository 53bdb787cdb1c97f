#pragma once

// The Password page: "En&able password setting" with the new and the
// confirm password. Its rules run when it is left and at the sheet's OK.
// Shown alone (SetPasswordDialog) it is the Set Password dialog.

#include "config/settings_model.hpp"
#include "dialogs/settings_page.hpp"
#include "dialogs/single_page_dialog.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace korvane::ui {

class PasswordPage : public SettingsPage {
    Q_OBJECT

  public:
    // The page's edits take at most this many characters.
    static constexpr int kMaxLength = 30;

    explicit PasswordPage(QWidget* parent = nullptr);

    void setModel(const PasswordPageModel& model);
    const PasswordPageModel& model() const { return model_; }

    QCheckBox* enableBox() const { return enable_; }
    QLineEdit* newPasswordEdit() const { return newPassword_; }
    QLineEdit* confirmPasswordEdit() const { return confirmPassword_; }

    bool validatePage() override;

  private:
    void enableClicked(bool on);
    void store();
    void setEditsEnabled(bool on);

    PasswordPageModel model_;
    QCheckBox* enable_;
    QLabel* newLabel_;
    QLineEdit* newPassword_;
    QLabel* confirmLabel_;
    QLineEdit* confirmPassword_;
    bool loading_ = false;
};

// The page alone as a modal dialog (the factory's Set Password). Its OK
// applies the page's rules and stays open on a refusal.
class SetPasswordDialog : public SinglePageDialog {
    Q_OBJECT

  public:
    explicit SetPasswordDialog(QWidget* parent = nullptr);

    PasswordPage* page() const { return page_; }
    void setModel(const PasswordPageModel& model) { page_->setModel(model); }
    const PasswordPageModel& model() const { return page_->model(); }

  private:
    PasswordPage* page_;
};

} // namespace korvane::ui

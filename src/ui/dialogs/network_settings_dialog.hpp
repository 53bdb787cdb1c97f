#pragma once

// "Network Settings": the IP Address, Advanced and Password pages in one
// sheet with OK and Cancel. The sheet is the editor of the Network Settings
// command: the command (off the GUI thread) shows it through edit(), which
// returns at OK or Cancel; the command then tests the input, asks about an
// address conflict and passes the password gate, and either calls edit()
// again (the sheet stayed open, on the same page, with all input kept) or
// finish(). Between the two the sheet takes no input and shows the wait
// cursor. Leaving a page for another tab runs that page's tests.

#include "base/operator.hpp"
#include "config/config_commands.hpp"

#include <QDialog>

#include <array>
#include <optional>
#include <string>

class QEventLoop;
class QPushButton;
class QTabWidget;

namespace korvane::ui {

class AdvancedPage;
class IpAddressPage;
class PasswordPage;
class PasswordPromptDialog;
class SettingsPage;

class NetworkSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    enum Page : int { kIpAddressPage = 0, kAdvancedPage = 1, kPasswordPage = 2 };

    explicit NetworkSettingsDialog(QWidget* parent = nullptr);
    ~NetworkSettingsDialog() override;

    IpAddressPage* ipAddressPage() const { return ipPage_; }
    AdvancedPage* advancedPage() const { return advancedPage_; }
    PasswordPage* passwordPage() const { return passwordPage_; }
    // The Password Input dialog of the password gate, one for the whole run.
    PasswordPromptDialog* passwordInput() const { return passwordInput_; }
    QTabWidget* tabs() const { return tabs_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    int currentPage() const;

    // Fills the pages from the model.
    void setModel(const NetworkSettingsModel& model);
    // The pages' members into the model (what was read stays).
    void storePages(NetworkSettingsModel& model) const;

    // The command's sheet editor: on the first call fills the pages and
    // shows the sheet, then waits for OK (true, with the pages stored in
    // `model`) or Cancel (false). GUI thread only.
    bool edit(NetworkSettingsModel& model, SheetRefusal previous);
    // The command accepted the OK: the sheet closes.
    void finish();
    // The gate's password prompt, through the sheet's one Password Input dialog.
    std::optional<std::string> askPassword(const std::string& label, const std::string& preset);

    // Waiting in edit() for OK or Cancel.
    bool isEditing() const { return loop_ != nullptr; }
    // Between an OK and the command's verdict.
    bool isProcessing() const { return processing_; }

    void accept() override;
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    SettingsPage* page(int index) const;
    void tabChanged(int index);
    void setProcessing(bool on);

    IpAddressPage* ipPage_;
    AdvancedPage* advancedPage_;
    PasswordPage* passwordPage_;
    PasswordPromptDialog* passwordInput_;
    QTabWidget* tabs_;
    QPushButton* ok_;
    QPushButton* cancel_;

    QEventLoop* loop_ = nullptr;
    NetworkSettingsModel* editing_ = nullptr;
    bool processing_ = false;
    bool switching_ = false;
    int activePage_ = kIpAddressPage;
};

} // namespace korvane::ui

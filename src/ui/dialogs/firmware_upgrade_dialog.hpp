#pragma once

// "Firmware Upgrade": the image file, the red warning, the mean progress of
// all units, the status line and the status list, Download and Cancel. The
// dialog is the face of one FirmwareUpgrade session: Download starts a run
// on the session's own thread, and the units reach the dialog through its
// Operator -- questions and password prompts as blocking calls onto the GUI
// thread, status texts and progress as queued ones. While a run is busy the
// dialog shows the wait cursor and cannot be closed or started again; a try
// to close it says why on the status line.

#include "base/operator.hpp"
#include "bridge/desktop_operator.hpp"
#include "bridge/gui_caller.hpp"
#include "devices/device_table.hpp"
#include "firmware/upgrade.hpp"

#include <QDialog>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QCheckBox;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace korvane::ui {

class FirmwareUpgradeDialog : public QDialog {
    Q_OBJECT

  public:
    // The devices of the selected rows, in list order; `ctx` outlives the dialog.
    FirmwareUpgradeDialog(Context& ctx, std::vector<DeviceRecord> units, QWidget* parent = nullptr);
    ~FirmwareUpgradeDialog() override;

    // Told of a password a unit's device accepted, so that the next run
    // (in this dialog or a later one) passes the gate without a prompt.
    // Called on a unit's thread.
    void setPasswordRemembered(std::function<void(const MacAddress&, const std::string&)> remember);

    bool isBusy() const { return busy_; }
    FirmwareUpgrade& session() { return *session_; }

    QLineEdit* fileNameEdit() const { return fileName_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLine() const { return statusLine_; }
    QTreeWidget* statusList() const { return statusList_; }
    QLabel* warning() const { return warning_; }
    QCheckBox* pacingCheckBox() const { return pacing_; }

    // The Download button: starts a run unless one is busy or the file is unusable.
    void download();
    // The "..." button.
    void browse();
    // Download and Cancel follow the busy state and the file as last looked
    // at; a file too large to send says why on the status line.
    void updateButtons();

    void accept() override;
    void reject() override;

  Q_SIGNALS:
    // GUI thread: a run began (true) or ended (false; the list is rebuilt).
    void busyChanged(bool busy);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    void fitColumns();
    void fitStatusColumn();
    void addStatusRow(const QString& key, const QString& text);
    void setBusy(bool busy);
    void setUnitRow(const QString& key, const QString& text);
    void rebuildStatusList();
    void setCloseEnabled(bool enabled);
    // Looks at the named file again (its name changed, or the file system
    // says it did) and follows it with the buttons.
    void recheckImage();
    void refuseClose();
    void setWaitCursor(bool on);
    std::string imagePath() const;

    Context& ctx_;
    std::vector<DeviceRecord> records_; // the units; the session points into it
    StopToken promptStop_;              // ends prompts that nobody will answer
    GuiCaller caller_;
    DesktopOperator operator_;
    std::function<void(const MacAddress&, const std::string&)> remember_;
    std::unique_ptr<FirmwareUpgrade> session_;

    mutable std::mutex pathMutex_; // the File name box as the units read it
    std::string path_;
    bool busy_ = false;
    bool refusalShown_ = false; // the status line says why the file is refused
    ImageFileCheck imageCheck_;
    QFileSystemWatcher* watcher_ = nullptr;
    QString watched_; // the file, or the folder it is to appear in
    std::vector<std::pair<QWidget*, QCursor>> ownCursors_;

    QLineEdit* fileName_ = nullptr;
    QPushButton* browse_ = nullptr;
    QLabel* warning_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QTreeWidget* statusList_ = nullptr;
    QCheckBox* pacing_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

} // namespace korvane::ui

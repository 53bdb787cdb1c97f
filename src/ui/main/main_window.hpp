#pragma once

// The main window: a fixed 800 x 600 skinned face with the five operation
// buttons on the left, the device list, the device information pane and
// the hidden status field on the right, over the core's DeviceList and
// DeviceSearch.
//
// Threads: everything here runs on the GUI thread. The search thread, the
// operation worker and the closing watcher reach the window only through
// queued calls (searchResultReady and friends); questions a worker needs
// answered go through guiOperator(), a blocking queued call that a stop
// request cuts short.

#include "devices/device_list.hpp"
#include "devices/search.hpp"
#include "main/gui_caller.hpp"
#include "main/gui_operator.hpp"
#include "main/operation_dialogs.hpp"
#include "protocol/context.hpp"
#include "skin/skin_library.hpp"

#include <QPointer>
#include <QWidget>

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace korvane::ui {

class ClosingPopup;
class DeviceListView;
class SkinButton;
class DeviceListBinding;
class LinkOpener;

struct MainWindowOptions {
    // Show the factory buttons (IP Settings, Set Password, Serial Number).
    bool factory = false;
    // How web pages are opened; null: the desktop's handler and its fallbacks.
    LinkOpener* linkOpener = nullptr;
};

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    // The command ids of the window's controls and menu items.
    enum Command : int {
        kCmdAbout = 10,
        kCmdNetworkAdapter = 165,
        kCmdUpgradeFirmware = 1003,
        kCmdIpSettings = 1005,
        kCmdSetPassword = 1006,
        kCmdSerialNumber = 1008,
        kCmdRefresh = 1036,
        kCmdLaunchDevice = 1037,
        kCmdSettings = 1092,
    };

    // `ctx` has its adapters enumerated and outlives the window. Timer 1
    // starts here: the first search runs Timing::firstSearchDelay later.
    explicit MainWindow(Context& ctx, MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    Context& context() { return ctx_; }
    DeviceList& deviceList() { return list_; }
    Operator& guiOperator() { return operator_; }
    void setOperationDialogs(std::unique_ptr<OperationDialogs> dialogs);

    // Every command of the buttons, the menu and the accelerators.
    void OnCommand(int command);
    void OnLaunchDevice();
    void OnSettings();
    void OnUpgradeFirmware();
    void OnAbout();
    void OnRefresh();
    void OnIpSettings();
    void OnSetPassword();
    void OnSetSerialNumber();
    void OnNetworkAdapter();

    // A search, unless one runs, an operation runs or the window closes.
    bool StartSearch();
    // Timer 101, the repeat search.
    void KillSearchTimer();
    void ArmSearchTimer(Micros period);
    bool searchRunning() const { return search_->running(); }
    bool searchTimerActive() const;
    int searchTimerIntervalMs() const;

    // Runs `work` on a worker thread while the window shows the wait cursor
    // and refuses every command; `done` then runs on the GUI thread (not
    // when the window is closing). False when refused.
    bool RunOperation(std::function<void(StopToken&)> work, std::function<void()> done = {});
    bool operationRunning() const { return operationRunning_; }
    bool closing() const { return state_ != State::Open; }

    void FocusList();

    // The raw texts of the information pane and the status field.
    QString paneText() const;
    QString statusText() const;

  Q_SIGNALS:
    // Any thread (queued to the window).
    void searchResultReady();
    void permissionRefused(const QString& text);
    // GUI thread: a search has started; its result is on the screen.
    void searchStarted();
    void searchApplied();
    // GUI thread: the closing sequence has ended and the window is gone.
    void finished();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    enum class State { Open, Closing, Closed };

    void buildControls();
    void layoutList();
    bool acceptsCommands() const;
    void setOperationButtonsEnabled(bool enabled);
    void showTexts();
    void updateFactoryButtons();
    void onSearchTimer();
    void onSearchResultReady();
    void onListDoubleClick();
    void onListRightClick(const QPoint& globalPos);
    void showPermissionMessage(const QString& text);
    void onOperationEnded();
    bool waitOperationEnded(SteadyClock::time_point deadline);
    void greyCloseItem();
    void finishClosing();

    Context& ctx_;
    MainWindowOptions options_;
    DeviceList list_;

    // One operation at a time off the GUI thread.
    StopToken operationStop_;
    GuiCaller caller_;
    GuiOperator operator_;
    std::unique_ptr<LinkOpener> desktopOpener_;
    std::unique_ptr<GuiUrlOpener> urlOpener_;
    bool operationRunning_ = false;
    bool waitCursorShown_ = false;
    bool searchDeferred_ = false;
    std::function<void()> operationDone_;
    std::mutex operationMutex_;
    std::condition_variable operationEndedCv_;
    bool operationActive_ = false; // guarded by operationMutex_
    std::thread operationThread_;

    std::unique_ptr<OperationDialogs> dialogs_;
    skin::SkinPicture background_;

    std::array<SkinButton*, 5> buttons_{};
    DeviceListView* listView_ = nullptr;
    DeviceListBinding* binding_ = nullptr;
    QPlainTextEdit* pane_ = nullptr;
    QLineEdit* status_ = nullptr;
    std::array<QPushButton*, 3> factoryButtons_{};
    QTimer* firstSearchTimer_ = nullptr;
    QTimer* searchTimer_ = nullptr;

    State state_ = State::Open;
    QPointer<ClosingPopup> popup_;
    std::thread watcher_;
    bool permissionShown_ = false;

    bool dragging_ = false;
    QPoint dragOffset_;

    // Last: its thread is stopped and joined before anything above goes.
    std::unique_ptr<DeviceSearch> search_;
};

} // namespace korvane::ui

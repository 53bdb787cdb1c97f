#pragma once

// The main window: a fixed 800 x 600 skinned face with the five operation
// buttons on the left, the device list, the device information pane and
// the hidden status field on the right, over the core's DeviceList. The
// window builds its controls and binds them to its commands (QActions
// shared by the buttons, the list's menu and the keys); the searches run
// through the SearchScheduler, device traffic through the OperationRunner,
// and closing through the ClosingSequence.
//
// Threads: everything here runs on the GUI thread. The search thread and
// the operation's worker reach the window only through queued calls;
// questions a worker needs answered go through desktopOperator(), a
// blocking queued call that a stop request cuts short.

#include "bridge/desktop_operator.hpp"
#include "bridge/gui_caller.hpp"
#include "devices/device_list.hpp"
#include "main/adapter_choice.hpp"
#include "main/operation_dialogs.hpp"
#include "protocol/context.hpp"
#include "skin/skin_library.hpp"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QDate;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace korvane::ui {

class ClosingSequence;
class DeviceListBinding;
class DeviceListView;
class LinkOpener;
class OperationRunner;
class SearchScheduler;
class SkinButton;

struct MainWindowOptions {
    // Show the factory buttons (IP Settings, Set Password, Serial Number).
    bool factory = false;
    // How web pages are opened; null: the desktop's handler and its fallbacks.
    LinkOpener* linkOpener = nullptr;
    // The start's --interface names: the adapters the program works with.
    std::vector<std::string> interfaces;
};

// The window's commands, shared by its buttons, the list's menu and the keys.
// The name "Export List..." proposes: korvane-devices-2026-12-11.csv.
QString DefaultExportFileName(const QDate& date);

struct MainWindowActions {
    QAction* launchDevice = nullptr;
    QAction* settings = nullptr; // also Enter
    QAction* upgradeFirmware = nullptr;
    QAction* about = nullptr;
    QAction* refresh = nullptr; // also F5
    QAction* networkAdapter = nullptr;
    QAction* exportList = nullptr; // the list as a CSV file
    QAction* ipSettings = nullptr;
    QAction* setPassword = nullptr;
    QAction* serialNumber = nullptr;
    QAction* contextMenu = nullptr; // Shift+F10 and the Menu key
};

class MainWindow : public QWidget {
    Q_OBJECT

  public:
    // `ctx` has its adapters enumerated and outlives the window. The first
    // search runs Timing::firstSearchDelay after construction.
    explicit MainWindow(Context& ctx, MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    Context& context() { return ctx_; }
    DeviceList& deviceList() { return list_; }
    DesktopOperator& desktopOperator() { return operator_; }
    const MainWindowActions& actions() const { return actions_; }
    AdapterChoice& adapterChoice() { return adapterChoice_; }
    const MainWindowOptions& options() const { return options_; }
    void setOperationDialogs(std::unique_ptr<OperationDialogs> dialogs);

    // A search, unless one runs, an operation runs or the window closes.
    bool startSearch();
    void stopRepeatSearch();
    void armRepeatSearch(Micros period);
    bool searchRunning() const;
    bool searchTimerActive() const;
    int searchTimerIntervalMs() const;

    // Runs `work` on a worker thread while the window shows the wait cursor
    // and refuses every command; `done` then runs on the GUI thread (not
    // when the window is closing). False when refused.
    bool runOperation(std::function<void(StopToken&)> work, std::function<void()> done = {});
    // Runs `work` as runOperation does and waits, the GUI going on, until
    // its thread has ended, also when the window closes meanwhile: when it
    // returns, nothing the work was given is in use any more, so the work
    // may use what lives on the caller's stack. A wait that the
    // application's exit cuts short cancels the work and waits for it.
    // False when the window refused to start it.
    bool runOperationAndWait(std::function<void(StopToken&)> work);
    bool operationRunning() const;
    bool closing() const;

    void focusList();

    // The raw texts of the information pane and the status field.
    QString paneText() const;
    QString statusText() const;
    // The status line under the banner: which adapter the searches use.
    QString adapterStatusText() const;

  Q_SIGNALS:
    void permissionRefused(const QString& text); // any thread (queued to the window)
    // GUI thread: a search has started; its result is on the screen.
    void searchStarted();
    void searchApplied();
    // GUI thread: the closing sequence has ended and the window is gone.
    void finished();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildActions();
    void buildControls();
    void bindButton(QAbstractButton* button, QAction* action);
    void layoutList();
    bool acceptsCommands() const;
    void setOperationButtonsEnabled(bool enabled);
    void showTexts();
    void updateFactoryActions();
    // Makes the context's adapter table follow the choice (no search running).
    void applyAdapterChoice();
    // Only the status line.
    void showAdapterChoice();
    void showAdapterStatus(const QString& text);
    void showPermissionMessage(const QString& text);
    void showUnopenedPages(const QStringList& urls);

    void launchDevice();
    void openNetworkSettings();
    void upgradeFirmware();
    void showAbout();
    void refresh();
    void openIpSettings();
    void openSetPassword();
    void openSerialNumber();
    void chooseNetworkAdapter();
    void exportList();
    void showContextMenu(const QPoint& globalPos);
    void showContextMenuFromKeyboard();
    void onListDoubleClick();

    Context& ctx_;
    MainWindowOptions options_;
    DeviceList list_;

    // Declared before the caller and the operator, which wait on its stop token.
    std::unique_ptr<OperationRunner> runner_;
    GuiCaller caller_;
    DesktopOperator operator_;
    std::unique_ptr<LinkOpener> desktopOpener_;
    std::unique_ptr<GuiUrlOpener> urlOpener_;
    std::unique_ptr<OperationDialogs> dialogs_;
    AdapterChoice adapterChoice_;
    QString choiceStatus_; // the status line the adapter choice gives before a search
    skin::SkinPicture background_;
    bool permissionShown_ = false;

    MainWindowActions actions_;
    std::array<SkinButton*, 5> buttons_{};
    std::array<SkinButton*, 3> factoryButtons_{};
    DeviceListView* listView_ = nullptr;
    DeviceListBinding* binding_ = nullptr;
    QPlainTextEdit* pane_ = nullptr;
    // Where the focus was before buttons went grey, and where Qt moved it.
    QPointer<QWidget> focusReturn_;
    QPointer<QWidget> focusMovedTo_;
    QLineEdit* status_ = nullptr;
    QLabel* adapterStatus_ = nullptr;

    // Last: stopped and gone before anything above.
    std::unique_ptr<SearchScheduler> search_;
    std::unique_ptr<ClosingSequence> closing_;
};

} // namespace korvane::ui

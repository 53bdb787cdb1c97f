#include "main/main_window.hpp"

#include "config/config_commands.hpp"
#include "dialogs/about_dialog.hpp"
#include "main/closing_popup.hpp"
#include "main/device_list_binding.hpp"
#include "skin/main_layout.hpp"
#include "skin/skin_palette.hpp"
#include "ui_strings.hpp"
#include "widgets/link_opener.hpp"
#include "widgets/device_list_view.hpp"
#include "widgets/list_outline.hpp"
#include "widgets/skin_button.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

namespace korvane::ui {

namespace {

struct ButtonEntry {
    int command;
    int resting;
    int pressed;
    int hover;
    const char* name;
};

// Launch Device, Settings, Upgrade Firmware, About, Refresh, top to bottom;
// the resting picture doubles as the disabled one.
constexpr std::array<ButtonEntry, 5> kButtons = {{
    {MainWindow::kCmdLaunchDevice, skin::kLaunchResting, skin::kLaunchPressed, skin::kLaunchHover,
     "launchButton"},
    {MainWindow::kCmdSettings, skin::kSettingsResting, skin::kSettingsPressed,
     skin::kSettingsHover, "settingsButton"},
    {MainWindow::kCmdUpgradeFirmware, skin::kFirmwareResting, skin::kFirmwarePressed,
     skin::kFirmwareHover, "firmwareButton"},
    {MainWindow::kCmdAbout, skin::kAboutResting, skin::kAboutPressed, skin::kAboutHover,
     "aboutButton"},
    {MainWindow::kCmdRefresh, skin::kRefreshResting, skin::kRefreshPressed, skin::kRefreshHover,
     "refreshButton"},
}};

struct FactoryEntry {
    int command;
    const char* text;
    const char* name;
};

constexpr std::array<FactoryEntry, 3> kFactoryButtons = {{
    {MainWindow::kCmdIpSettings, "&IP Settings...", "ipSettingsButton"},
    {MainWindow::kCmdSetPassword, "Set &Password...", "setPasswordButton"},
    {MainWindow::kCmdSerialNumber, "Serial &Number...", "serialNumberButton"},
}};

// The factory buttons sit in a row under the device panel.
constexpr QPoint kFactoryRowAt{240, 552};
constexpr QSize kFactoryButtonSize{160, 30};
constexpr int kFactoryButtonGap = 15;

struct MenuEntry {
    int command; // 0: separator
    const char* text;
    const char* name;
};

constexpr std::array<MenuEntry, 8> kContextMenu = {{
    {MainWindow::kCmdLaunchDevice, "&Launch Device...", "menuLaunchDevice"},
    {MainWindow::kCmdSettings, "&Settings...", "menuSettings"},
    {MainWindow::kCmdUpgradeFirmware, "Upgrade &Firmware...", "menuUpgradeFirmware"},
    {0, nullptr, nullptr},
    {MainWindow::kCmdRefresh, "&Refresh List\tF5", "menuRefresh"},
    {MainWindow::kCmdNetworkAdapter, "Network &Adapter...", "menuNetworkAdapter"},
    {0, nullptr, nullptr},
    {MainWindow::kCmdAbout, "&About", "menuAbout"},
}};

int ToMs(Micros period) {
    const auto ms = std::chrono::duration_cast<Millis>(period).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, std::numeric_limits<int>::max()));
}

QString FromStd(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MainWindow::MainWindow(Context& ctx, MainWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ctx_(ctx), options_(options), caller_(this, &operationStop_), operator_(this, caller_),
      dialogs_(std::make_unique<OperationDialogs>()),
      background_(skin::LoadBitmap(skin::kBackground)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QString::fromUtf8(strings::kAppTitle));
    setWindowIcon(skin::AppIcon());
    setFixedSize(skin::kClientSize);
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    LinkOpener* opener = options_.linkOpener;
    if (opener == nullptr) {
        desktopOpener_ = std::make_unique<DesktopLinkOpener>();
        opener = desktopOpener_.get();
    }
    urlOpener_ = std::make_unique<GuiUrlOpener>(*opener, caller_);

    buildControls();

    // Worker threads reach the window through these queued connections only.
    connect(this, &MainWindow::searchResultReady, this, &MainWindow::onSearchResultReady,
            Qt::QueuedConnection);
    connect(this, &MainWindow::permissionRefused, this, &MainWindow::showPermissionMessage,
            Qt::QueuedConnection);
    ctx_.link.setPermissionReporter(
        [this](const std::string& text) { Q_EMIT permissionRefused(FromStd(text)); });

    list_.setTextsChanged([this] { showTexts(); });
    SearchNotifications notifications;
    notifications.redraw = [this] {
        showTexts();
        FocusList();
    };
    notifications.operationButtons = [this](bool enabled) { setOperationButtonsEnabled(enabled); };
    notifications.resultReady = [this] { Q_EMIT searchResultReady(); };
    search_ = std::make_unique<DeviceSearch>(ctx_, list_, std::move(notifications));

    firstSearchTimer_ = new QTimer(this);
    firstSearchTimer_->setObjectName(QStringLiteral("firstSearchTimer"));
    firstSearchTimer_->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; these periods are promises.
    firstSearchTimer_->setTimerType(Qt::PreciseTimer);
    connect(firstSearchTimer_, &QTimer::timeout, this, &MainWindow::onSearchTimer);
    searchTimer_ = new QTimer(this);
    searchTimer_->setObjectName(QStringLiteral("searchTimer"));
    searchTimer_->setTimerType(Qt::PreciseTimer);
    connect(searchTimer_, &QTimer::timeout, this, &MainWindow::onSearchTimer);
    firstSearchTimer_->start(ToMs(ctx_.timing.firstSearchDelay));
}

MainWindow::~MainWindow() {
    // Normally the closing sequence has stopped everything; a window
    // destroyed without it stops its threads here. Blocking calls onto this
    // window end on the stop request, so the joins cannot wait for us.
    search_->RequestStop();
    operationStop_.requestStop();
    if (operationThread_.joinable()) {
        operationThread_.join();
    }
    if (watcher_.joinable()) {
        watcher_.join();
    }
    search_.reset();
    // The list's model listens to list_, which goes before the child widgets do.
    listView_->setModel(nullptr);
    delete binding_;
    ctx_.link.setPermissionReporter(
        [](const std::string& text) { std::fputs(text.c_str(), stderr); });
    if (waitCursorShown_) {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::buildControls() {
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        const ButtonEntry& entry = kButtons[i];
        auto* button = new SkinButton(this);
        button->setObjectName(QString::fromLatin1(entry.name));
        button->setStateBitmaps(entry.resting, entry.pressed, entry.hover, entry.resting, 0, 0);
        button->setGeometry(
            QRect(QPoint(skin::kButtonX, skin::kButtonY[i]), skin::kButtonDesignSize));
        button->setFocusPolicy(Qt::NoFocus);
        const int command = entry.command;
        connect(button, &QAbstractButton::clicked, this, [this, command] { OnCommand(command); });
        buttons_[i] = button;
    }

    listView_ = new DeviceListView(this);
    listView_->setObjectName(QStringLiteral("deviceList"));
    listView_->setFrameShape(QFrame::NoFrame);
    binding_ = new DeviceListBinding(listView_, list_, this);
    listView_->insertColumn(kSerialColumn, QStringLiteral(" Serial Number "),
                            DeviceListView::kFormatLeft, 122);
    listView_->insertColumn(kAddressColumn, QStringLiteral("IP Address"), DeviceListView::kFormatLeft,
                            385 - style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    listView_->setHeaderHeightFactor(skin::kListHeaderHeightFactor);
    listView_->setShowSelectionAlways(true);
    layoutList();
    new ListOutline(listView_);
    connect(binding_, &DeviceListBinding::selectionHandled, this,
            &MainWindow::updateFactoryButtons);
    connect(binding_, &DeviceListBinding::doubleClicked, this, &MainWindow::onListDoubleClick);
    connect(binding_, &DeviceListBinding::contextMenuRequested, this,
            &MainWindow::onListRightClick);

    pane_ = new QPlainTextEdit(this);
    pane_->setObjectName(QStringLiteral("informationPane"));
    pane_->setReadOnly(true);
    pane_->setFocusPolicy(Qt::NoFocus);
    pane_->setFrameShape(QFrame::NoFrame);
    pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane_->setLineWrapMode(QPlainTextEdit::NoWrap);
    pane_->setFont(skin::ProductFont(skin::kPaneFontHeight));
    // Transparent: the panel painted by the window shows through.
    pane_->viewport()->setAutoFillBackground(false);
    QPalette colours = pane_->palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Text, QColor(skin::palette::kPaneText));
    pane_->setPalette(colours);
    pane_->document()->setDocumentMargin(0);
    pane_->setGeometry(QRect(skin::kPaneAt, skin::kPaneSize));

    status_ = new QLineEdit(this);
    status_->setObjectName(QStringLiteral("statusField"));
    status_->setReadOnly(true);
    status_->setAlignment(Qt::AlignRight);
    status_->hide(); // kept for its texts; nothing shows it

    for (std::size_t i = 0; i < kFactoryButtons.size(); ++i) {
        const FactoryEntry& entry = kFactoryButtons[i];
        auto* button = new QPushButton(QString::fromLatin1(entry.text), this);
        button->setObjectName(QString::fromLatin1(entry.name));
        button->setGeometry(QRect(
            kFactoryRowAt +
                QPoint(static_cast<int>(i) * (kFactoryButtonSize.width() + kFactoryButtonGap), 0),
            kFactoryButtonSize));
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(false);
        button->setVisible(options_.factory);
        const int command = entry.command;
        connect(button, &QPushButton::clicked, this, [this, command] { OnCommand(command); });
        factoryButtons_[i] = button;
    }

    // Accelerators: F5 searches, Enter opens the Network Settings sheet.
    auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(refresh, &QShortcut::activated, this, [this] { OnCommand(kCmdRefresh); });
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* settings = new QShortcut(QKeySequence(key), this);
        connect(settings, &QShortcut::activated, this, [this] { OnCommand(kCmdSettings); });
    }
}

void MainWindow::layoutList() {
    // Whole rows only: the spare pixels below the last row move the list
    // down and shorten it; the region rounds its top corners.
    const QRect fitted = skin::FitListToRows(listView_->listHeader()->sizeHint().height(),
                                             listView_->effectiveRowHeight());
    listView_->setGeometry(fitted);
    listView_->setMask(skin::ListRegion(fitted.size()));
}

void MainWindow::setOperationDialogs(std::unique_ptr<OperationDialogs> dialogs) {
    dialogs_ = dialogs ? std::move(dialogs) : std::make_unique<OperationDialogs>();
}

QString MainWindow::paneText() const {
    return FromStd(list_.paneText());
}

QString MainWindow::statusText() const {
    return FromStd(list_.statusText());
}

void MainWindow::showTexts() {
    // The pane shows lines; the core's text separates them with CR LF.
    QString pane = paneText();
    pane.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (pane_->toPlainText() != pane) {
        pane_->setPlainText(pane);
    }
    status_->setText(statusText());
}

void MainWindow::FocusList() {
    listView_->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::acceptsCommands() const {
    return state_ == State::Open && !operationRunning_;
}

void MainWindow::setOperationButtonsEnabled(bool enabled) {
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        if (kButtons[i].command != kCmdAbout) {
            buttons_[i]->setEnabled(enabled);
        }
    }
}

void MainWindow::updateFactoryButtons() {
    const int selected = list_.rows().selectedCount();
    // Looking at the selected device for the serial-number rule makes it the
    // CurrentDeviceAddress.
    MacAddress device;
    if (list_.SelectCurrentDevice() >= 0) {
        device = list_.currentDeviceAddress();
    }
    factoryButtons_[0]->setEnabled(
        FactoryCommandEnabled(FactoryCommand::IpSettings, selected, device));
    factoryButtons_[1]->setEnabled(
        FactoryCommandEnabled(FactoryCommand::SetPassword, selected, device));
    factoryButtons_[2]->setEnabled(
        FactoryCommandEnabled(FactoryCommand::SerialNumber, selected, device));
}

// ---------------------------------------------------------------- commands

void MainWindow::OnCommand(int command) {
    switch (command) {
    case kCmdLaunchDevice:
        OnLaunchDevice();
        break;
    case kCmdSettings:
        OnSettings();
        break;
    case kCmdUpgradeFirmware:
        OnUpgradeFirmware();
        break;
    case kCmdAbout:
        OnAbout();
        break;
    case kCmdRefresh:
        OnRefresh();
        break;
    case kCmdIpSettings:
        OnIpSettings();
        break;
    case kCmdSetPassword:
        OnSetPassword();
        break;
    case kCmdSerialNumber:
        OnSetSerialNumber();
        break;
    case kCmdNetworkAdapter:
        OnNetworkAdapter();
        break;
    default:
        break;
    }
}

void MainWindow::OnLaunchDevice() {
    if (!acceptsCommands() || list_.busy()) {
        return;
    }
    std::vector<LaunchTarget> targets = SelectedLaunchTargets(list_);
    if (targets.empty()) {
        return;
    }
    RunOperation([this, targets = std::move(targets)](StopToken& stop) {
        LaunchDevices(ctx_, targets, *urlOpener_, &operator_, &stop);
    });
}

void MainWindow::OnSettings() {
    if (!acceptsCommands() || list_.busy() || list_.rows().selectedCount() != 1) {
        return;
    }
    KillSearchTimer();
    dialogs_->RunNetworkSettings(*this);
    FocusList();
    ArmSearchTimer(ctx_.timing.searchPeriodAfterDialog);
}

void MainWindow::OnUpgradeFirmware() {
    if (!acceptsCommands() || list_.busy() || list_.rows().selectedCount() == 0) {
        return;
    }
    KillSearchTimer();
    std::vector<DeviceRecord> units;
    const int selected = list_.rows().selectedCount();
    for (int k = 0; k < selected; ++k) {
        if (const auto record = list_.record(list_.SelectNthCurrentDevice(k))) {
            units.push_back(*record);
        }
    }
    // Only the devices found make the unit list: a row without one adds no unit.
    auto reopen = [this, units](StopToken& stop) {
        for (const DeviceRecord& unit : units) {
            ctx_.useAdapterOf(unit.adapterIndex(), &stop);
        }
    };
    auto run = [this, units] {
        dialogs_->RunFirmwareUpgrade(*this, units);
        FocusList();
        ArmSearchTimer(ctx_.timing.searchPeriodAfterDialog);
    };
    if (!RunOperation(std::move(reopen), std::move(run))) {
        ArmSearchTimer(ctx_.timing.searchPeriodAfterDialog);
    }
}

void MainWindow::OnAbout() {
    // Allowed during a search, not while an operation waits for its devices.
    if (!acceptsCommands()) {
        return;
    }
    AboutDialog about(this);
    about.exec();
    FocusList();
}

void MainWindow::OnRefresh() {
    if (!acceptsCommands()) {
        return;
    }
    StartSearch();
}

void MainWindow::OnIpSettings() {
    if (!acceptsCommands() || list_.busy() || !factoryButtons_[0]->isEnabled()) {
        return;
    }
    dialogs_->RunIpSettings(*this);
    FocusList();
}

void MainWindow::OnSetPassword() {
    if (!acceptsCommands() || list_.busy() || !factoryButtons_[1]->isEnabled()) {
        return;
    }
    dialogs_->RunSetPassword(*this);
    FocusList();
}

void MainWindow::OnSetSerialNumber() {
    updateFactoryButtons();
    if (!acceptsCommands() || list_.busy() || !factoryButtons_[2]->isEnabled()) {
        return;
    }
    dialogs_->RunSetSerialNumber(*this);
    FocusList();
}

void MainWindow::OnNetworkAdapter() {
    if (!acceptsCommands()) {
        return;
    }
    dialogs_->RunNetworkAdapter(*this);
    FocusList();
}

// ---------------------------------------------------------------- list

void MainWindow::onListDoubleClick() {
    if (list_.busy()) {
        return;
    }
    OnLaunchDevice();
    FocusList();
}

void MainWindow::onListRightClick(const QPoint& globalPos) {
    if (!acceptsCommands()) {
        return;
    }
    const ContextMenuState state = list_.OnListRightClick();
    updateFactoryButtons();
    if (!state.show) {
        return;
    }
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("deviceMenu"));
    for (const MenuEntry& entry : kContextMenu) {
        if (entry.command == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromLatin1(entry.text));
        action->setObjectName(QString::fromLatin1(entry.name));
        action->setData(entry.command);
        switch (entry.command) {
        case kCmdLaunchDevice:
            action->setEnabled(state.launchEnabled);
            break;
        case kCmdSettings:
            action->setEnabled(state.settingsEnabled);
            break;
        case kCmdUpgradeFirmware:
            action->setEnabled(state.firmwareEnabled);
            break;
        default:
            break;
        }
    }
    if (QAction* chosen = menu.exec(globalPos)) {
        OnCommand(chosen->data().toInt());
    }
}

// ---------------------------------------------------------------- search

bool MainWindow::StartSearch() {
    if (state_ != State::Open || operationRunning_) {
        return false;
    }
    if (!search_->StartSearch()) {
        return false;
    }
    KillSearchTimer();
    Q_EMIT searchStarted();
    return true;
}

void MainWindow::onSearchTimer() {
    // A timer that comes due while an operation talks to a device waits for it.
    if (operationRunning_) {
        searchDeferred_ = true;
        return;
    }
    StartSearch();
}

void MainWindow::onSearchResultReady() {
    if (state_ != State::Open) {
        return;
    }
    if (search_->ApplyPendingResult()) {
        ArmSearchTimer(ctx_.timing.searchPeriod);
        updateFactoryButtons();
        Q_EMIT searchApplied();
    }
}

void MainWindow::KillSearchTimer() {
    searchTimer_->stop();
}

void MainWindow::ArmSearchTimer(Micros period) {
    if (state_ != State::Open) {
        return;
    }
    searchTimer_->start(ToMs(period));
}

bool MainWindow::searchTimerActive() const {
    return searchTimer_->isActive();
}

int MainWindow::searchTimerIntervalMs() const {
    return searchTimer_->interval();
}

void MainWindow::showPermissionMessage(const QString& text) {
    if (permissionShown_ || state_ != State::Open) {
        return;
    }
    permissionShown_ = true;
    QString message = text.trimmed();
    message.replace(QStringLiteral("<program>"), QCoreApplication::applicationFilePath());
    // Window-modal but not blocking: the searches go on behind it.
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(strings::kAppTitle),
                                message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("permissionMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---------------------------------------------------------------- operations

bool MainWindow::RunOperation(std::function<void(StopToken&)> work, std::function<void()> done) {
    if (!acceptsCommands()) {
        return false;
    }
    if (operationThread_.joinable()) {
        operationThread_.join();
    }
    operationStop_.reset();
    operationRunning_ = true;
    operationDone_ = std::move(done);
    {
        std::lock_guard lock(operationMutex_);
        operationActive_ = true;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursorShown_ = true;
    operationThread_ = std::thread([this, work = std::move(work)] {
        work(operationStop_);
        {
            std::lock_guard lock(operationMutex_);
            operationActive_ = false;
        }
        operationEndedCv_.notify_all();
        QMetaObject::invokeMethod(
            this, [this] { onOperationEnded(); }, Qt::QueuedConnection);
    });
    return true;
}

void MainWindow::onOperationEnded() {
    if (operationThread_.joinable()) {
        operationThread_.join();
    }
    if (waitCursorShown_) {
        QApplication::restoreOverrideCursor();
        waitCursorShown_ = false;
    }
    operationRunning_ = false;
    std::function<void()> done = std::move(operationDone_);
    operationDone_ = nullptr;
    if (state_ != State::Open) {
        return;
    }
    if (done) {
        done();
    }
    if (searchDeferred_ && !operationRunning_) {
        searchDeferred_ = false;
        StartSearch();
    }
}

bool MainWindow::waitOperationEnded(SteadyClock::time_point deadline) {
    std::unique_lock lock(operationMutex_);
    return operationEndedCv_.wait_until(lock, deadline, [this] { return !operationActive_; });
}

// ---------------------------------------------------------------- closing

void MainWindow::closeEvent(QCloseEvent* event) {
    if (state_ == State::Closed) {
        event->accept();
        return;
    }
    event->ignore();
    if (state_ == State::Closing) {
        return;
    }
    state_ = State::Closing;
    // The stop cuts the search's and the operation's waits short.
    search_->RequestStop();
    operationStop_.requestStop();
    greyCloseItem();
    popup_ = new ClosingPopup(this);
    popup_->showCentred();
    const SteadyClock::time_point deadline = SteadyClock::now() + ctx_.timing.closeWatcherWait;
    watcher_ = std::thread([this, deadline] {
        search_->WaitEnded(deadline);
        waitOperationEnded(deadline);
        QMetaObject::invokeMethod(
            this, [this] { finishClosing(); }, Qt::QueuedConnection);
    });
    firstSearchTimer_->stop();
    KillSearchTimer();
}

void MainWindow::greyCloseItem() {
    // Changed on the native window in place: QWidget::setWindowFlags would
    // recreate it in the middle of its own close event.
    const Qt::WindowFlags flags = windowFlags() & ~Qt::WindowCloseButtonHint;
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) {
        window->setFlags(flags);
    }
}

void MainWindow::finishClosing() {
    if (watcher_.joinable()) {
        watcher_.join();
    }
    delete popup_.data();
    state_ = State::Closed;
    close();
    Q_EMIT finished();
}

// ---------------------------------------------------------------- face

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::PaintMainBackground(painter, rect(), background_);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    // The background is the caption: any point of it drags the window.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (QWindow* window = windowHandle(); window != nullptr && window->startSystemMove()) {
        return;
    }
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - pos();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
    QWidget::mouseReleaseEvent(event);
}

} // namespace korvane::ui

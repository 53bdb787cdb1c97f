#include "main/main_window.hpp"

#include "bridge/message_box.hpp"
#include "bridge/operation_runner.hpp"
#include "config/config_commands.hpp"
#include "devices/device_export.hpp"
#include "dialogs/about_dialog.hpp"
#include "main/closing_sequence.hpp"
#include "main/device_list_binding.hpp"
#include "main/search_scheduler.hpp"
#include "skin/main_layout.hpp"
#include "skin/skin_palette.hpp"
#include "ui_strings.hpp"
#include "widgets/background_drag.hpp"
#include "widgets/device_list_view.hpp"
#include "widgets/link_opener.hpp"
#include "widgets/list_outline.hpp"
#include "widgets/skin_button.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>

#include <cstdio>

namespace korvane::ui {

namespace {

struct ButtonArt {
    skin::Artwork artwork;
    const char* name;
    const char* accessibleName;
    const char* description;
};

// Launch Device, Settings, Upgrade Firmware, About, Refresh, top to bottom;
// the resting picture, dimmed, doubles as the disabled one.
constexpr std::array<ButtonArt, 5> kButtons = {{
    {skin::Artwork::Launch, "launchButton", "Launch Device",
     "Open the web page of each selected device"},
    {skin::Artwork::Settings, "settingsButton", "Settings",
     "Change the network settings of the selected device"},
    {skin::Artwork::Firmware, "firmwareButton", "Upgrade Firmware",
     "Send a firmware image to the selected devices"},
    {skin::Artwork::About, "aboutButton", "About", "The program's version"},
    {skin::Artwork::Refresh, "refreshButton", "Refresh", "Search the network for devices again"},
}};

// Where a skinned button draws its focus frame, inside its edge.
constexpr qint16 kButtonFocusInset = 3;

constexpr std::array<const char*, 3> kFactoryButtonNames = {"ipSettingsButton", "setPasswordButton",
                                                            "serialNumberButton"};

// The factory buttons sit in a row under the device panel.
constexpr QPoint kFactoryRowAt{240, 552};
constexpr QSize kFactoryButtonSize{160, 30};
constexpr int kFactoryButtonGap = 15;

// The adapter status line, right-aligned between the banner and the panel.
constexpr QRect kAdapterStatusRect{240, 176, 510, 20};

// The serial number column at its design width, or wider when the header's
// font needs it; the address column takes the rest of the list.
constexpr int kSerialColumnWidth = 122;
constexpr int kListColumnsWidth = 385 + kSerialColumnWidth;

QString FromStd(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MainWindow::MainWindow(Context& ctx, MainWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ctx_(ctx), options_(std::move(options)), runner_(std::make_unique<OperationRunner>()),
      caller_(this, &runner_->stopToken()), operator_(this, caller_),
      dialogs_(std::make_unique<OperationDialogs>()),
      background_(skin::LoadPicture(skin::Artwork::Background)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QString::fromUtf8(strings::kAppTitle));
    setWindowIcon(skin::AppIcon());
    setFixedSize(skin::kClientSize);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    new BackgroundDrag(this);

    LinkOpener* opener = options_.linkOpener;
    if (opener == nullptr) {
        desktopOpener_ = std::make_unique<DesktopLinkOpener>();
        opener = desktopOpener_.get();
    }
    urlOpener_ = std::make_unique<GuiUrlOpener>(*opener, caller_);

    buildActions();
    buildControls();

    // The link reports missing rights from whatever thread it runs on.
    connect(this, &MainWindow::permissionRefused, this, &MainWindow::showPermissionMessage,
            Qt::QueuedConnection);
    ctx_.link.setPermissionReporter(
        [this](const std::string& text) { Q_EMIT permissionRefused(FromStd(text)); });

    list_.setTextsChanged([this] { showTexts(); });
    SearchNotifications notifications;
    notifications.redraw = [this] {
        showTexts();
        // The list takes the focus after a search, unless the keyboard has
        // put it on another control meanwhile (a periodic search must not
        // pull a reader off the button or the pane it is on).
        QWidget* focus = focusWidget();
        if (focus == nullptr || focus == listView_ || !focus->isVisible())
            focusList();
    };
    notifications.operationButtons = [this](bool enabled) { setOperationButtonsEnabled(enabled); };
    search_ = std::make_unique<SearchScheduler>(ctx_, list_, *runner_, std::move(notifications));
    search_->setBeforeSearch([this] { applyAdapterChoice(); });
    connect(search_.get(), &SearchScheduler::searchStarted, this, &MainWindow::searchStarted);
    connect(runner_.get(), &OperationRunner::failed, this, [this](const QString& what) {
        ShowMessageBox(this,
                       QStringLiteral("The operation ended with an unexpected error: %1").arg(what),
                       MessageIcon::Error);
    });
    connect(search_.get(), &SearchScheduler::searchApplied, this, [this] {
        // What the search really covered: adapters it had to skip, or none.
        showAdapterStatus(AdapterChoice::searchedText(choiceStatus_, search_->lastAdapterNotes()));
        updateFactoryActions();
        Q_EMIT searchApplied();
    });
    closing_ =
        std::make_unique<ClosingSequence>(*this, *search_, *runner_, ctx_.timing.closeWatcherWait);
    connect(closing_.get(), &ClosingSequence::finished, this, &MainWindow::finished);

    applyAdapterChoice();
    search_->start();
}

MainWindow::~MainWindow() {
    // Normally the closing sequence has stopped everything; a window
    // destroyed without it stops its threads here. Blocking calls onto this
    // window end on the stop request, so the joins cannot wait for us.
    search_->shutDown();
    runner_->shutDown();
    closing_.reset();
    search_.reset();
    runner_->join();
    // The list's model listens to list_, which goes before the child widgets do.
    listView_->setModel(nullptr);
    delete binding_;
    ctx_.link.setPermissionReporter(
        [](const std::string& text) { std::fputs(text.c_str(), stderr); });
}

// ---------------------------------------------------------------- controls

void MainWindow::buildActions() {
    const auto make = [this](const char* text, const char* name, void (MainWindow::*slot)()) {
        auto* action = new QAction(QString::fromUtf8(text), this);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
        addAction(action); // its keys work anywhere in the window
        return action;
    };
    actions_.launchDevice =
        make("&Launch Device...", "menuLaunchDevice", &MainWindow::launchDevice);
    actions_.settings = make("&Settings...", "menuSettings", &MainWindow::openNetworkSettings);
    actions_.settings->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    // Enter is the list's default command, not something the menu offers.
    actions_.settings->setShortcutVisibleInContextMenu(false);
    actions_.upgradeFirmware =
        make("Upgrade &Firmware...", "menuUpgradeFirmware", &MainWindow::upgradeFirmware);
    actions_.refresh = make("&Refresh List", "menuRefresh", &MainWindow::refresh);
    actions_.refresh->setShortcut(QKeySequence(Qt::Key_F5));
    actions_.refresh->setShortcutVisibleInContextMenu(true);
    actions_.networkAdapter =
        make("&Network Adapter...", "menuNetworkAdapter", &MainWindow::chooseNetworkAdapter);
    actions_.exportList = make("&Export List...", "menuExportList", &MainWindow::exportList);
    actions_.about = make("&About", "menuAbout", &MainWindow::showAbout);
    actions_.ipSettings = make("&IP Settings...", "actionIpSettings", &MainWindow::openIpSettings);
    actions_.setPassword =
        make("Set &Password...", "actionSetPassword", &MainWindow::openSetPassword);
    actions_.serialNumber =
        make("Serial &Number...", "actionSerialNumber", &MainWindow::openSerialNumber);
    for (QAction* factory : {actions_.ipSettings, actions_.setPassword, actions_.serialNumber})
        factory->setEnabled(false);
    actions_.contextMenu =
        make("Context Menu", "actionContextMenu", &MainWindow::showContextMenuFromKeyboard);
    actions_.contextMenu->setShortcuts(
        {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)});
}

void MainWindow::bindButton(QAbstractButton* button, QAction* action) {
    connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
    const auto follow = [button, action] { button->setEnabled(action->isEnabled()); };
    connect(action, &QAction::changed, button, follow);
    follow();
}

void MainWindow::buildControls() {
    const std::array<QAction*, 5> buttonActions = {actions_.launchDevice, actions_.settings,
                                                   actions_.upgradeFirmware, actions_.about,
                                                   actions_.refresh};
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        const ButtonArt& art = kButtons[i];
        auto* button = new SkinButton(this);
        button->setObjectName(QString::fromLatin1(art.name));
        button->setAccessibleName(QString::fromUtf8(art.accessibleName));
        button->setAccessibleDescription(QString::fromUtf8(art.description));
        button->setToolTip(QString::fromUtf8(art.accessibleName));
        button->setStatePictures(skin::LoadPicture(art.artwork, skin::ButtonFace::Resting),
                                 skin::LoadPicture(art.artwork, skin::ButtonFace::Pressed),
                                 skin::LoadPicture(art.artwork, skin::ButtonFace::Hover), {}, 0,
                                 kButtonFocusInset);
        button->setGeometry(
            QRect(QPoint(skin::kButtonX, skin::kButtonY[i]), skin::kButtonDesignSize));
        // Reached with Tab, not by a click: a click leaves the focus on the list.
        button->setFocusPolicy(Qt::TabFocus);
        bindButton(button, buttonActions[i]);
        buttons_[i] = button;
    }

    listView_ = new DeviceListView(this);
    listView_->setObjectName(QStringLiteral("deviceList"));
    listView_->setAccessibleName(QStringLiteral("Devices"));
    listView_->setAccessibleDescription(
        QStringLiteral("The devices found on the network, by serial number and IP address"));
    listView_->setFrameShape(QFrame::NoFrame);
    binding_ = new DeviceListBinding(listView_, list_, this);
    // The header's titles in the font it paints them with, never cut.
    const int serialWidth = std::max(
        kSerialColumnWidth, listView_->listHeader()->titleWidth(QStringLiteral(" Serial Number ")));
    listView_->addColumn(kSerialColumn, QStringLiteral(" Serial Number "), Qt::AlignLeft,
                         serialWidth);
    listView_->addColumn(kAddressColumn, QStringLiteral("IP Address"), Qt::AlignLeft,
                         kListColumnsWidth - serialWidth -
                             style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    listView_->setHeaderHeightFactor(skin::kListHeaderHeightFactor);
    listView_->setShowSelectionAlways(true);
    layoutList();
    new ListOutline(listView_);
    connect(binding_, &DeviceListBinding::selectionHandled, this,
            &MainWindow::updateFactoryActions);
    connect(binding_, &DeviceListBinding::doubleClicked, this, &MainWindow::onListDoubleClick);
    connect(binding_, &DeviceListBinding::contextMenuRequested, this, &MainWindow::showContextMenu);

    pane_ = new QPlainTextEdit(this);
    pane_->setObjectName(QStringLiteral("informationPane"));
    pane_->setAccessibleName(QString::fromUtf8(strings::kDeviceInformation));
    pane_->setAccessibleDescription(QStringLiteral("The selected device's information"));
    pane_->setReadOnly(true);
    // Reached with Tab so that a screen reader reads it; a click leaves the
    // focus on the list.
    pane_->setFocusPolicy(Qt::TabFocus);
    pane_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    pane_->setFrameShape(QFrame::NoFrame);
    pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane_->setFont(skin::ProductFont(skin::kPaneFontHeight));
    pane_->setLineWrapMode(QPlainTextEdit::NoWrap);
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

    adapterStatus_ = new QLabel(this);
    adapterStatus_->setObjectName(QStringLiteral("adapterStatus"));
    adapterStatus_->setAccessibleName(QStringLiteral("Adapters searched"));
    adapterStatus_->setGeometry(kAdapterStatusRect);
    adapterStatus_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette statusColours = adapterStatus_->palette();
    statusColours.setColor(QPalette::WindowText, QColor(skin::palette::kBannerText));
    adapterStatus_->setPalette(statusColours);

    const std::array<QAction*, 3> factoryActions = {actions_.ipSettings, actions_.setPassword,
                                                    actions_.serialNumber};
    const std::array<skin::SkinPicture, 3> faces = {
        skin::PlainButtonPicture(skin::ButtonFace::Resting),
        skin::PlainButtonPicture(skin::ButtonFace::Pressed),
        skin::PlainButtonPicture(skin::ButtonFace::Hover)};
    for (std::size_t i = 0; i < factoryActions.size(); ++i) {
        auto* button = new SkinButton(this);
        button->setObjectName(QString::fromLatin1(kFactoryButtonNames[i]));
        button->setText(factoryActions[i]->text());
        button->setAccessibleName(factoryActions[i]->text().remove(QLatin1Char('&')));
        button->setStatePictures(faces[0], faces[1], faces[2], {}, 0, kButtonFocusInset);
        button->setCaptionColor(QColor(skin::palette::kButtonCaption));
        QFont caption = button->font();
        caption.setBold(true);
        button->setFont(caption);
        button->setGeometry(QRect(
            kFactoryRowAt +
                QPoint(static_cast<int>(i) * (kFactoryButtonSize.width() + kFactoryButtonGap), 0),
            kFactoryButtonSize));
        button->setFocusPolicy(Qt::TabFocus);
        bindButton(button, factoryActions[i]);
        button->setVisible(options_.factory);
        factoryButtons_[i] = button;
    }

    // Tab goes from the list to the information pane, down the buttons on
    // the left, along the factory row (when shown) and back to the list.
    QWidget* previous = listView_;
    const auto chain = [&previous](QWidget* next) {
        setTabOrder(previous, next);
        previous = next;
    };
    chain(pane_);
    for (SkinButton* button : buttons_)
        chain(button);
    for (SkinButton* button : factoryButtons_)
        chain(button);
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

QString MainWindow::adapterStatusText() const {
    return adapterStatus_->text();
}

void MainWindow::showTexts() {
    // The pane shows lines; the core's text separates them with CR LF.
    QString pane = paneText();
    pane.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (pane_->toPlainText() != pane)
        pane_->setPlainText(pane);
    status_->setText(statusText());
}

void MainWindow::focusList() {
    listView_->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::acceptsCommands() const {
    return !closing_->closing() && !runner_->busy();
}

void MainWindow::setOperationButtonsEnabled(bool enabled) {
    QWidget* before = focusWidget();
    for (QAction* action :
         {actions_.launchDevice, actions_.settings, actions_.upgradeFirmware, actions_.refresh})
        action->setEnabled(enabled);
    // A button that goes grey hands the focus on to the next control; it
    // takes it back when it is enabled again, unless the keyboard moved on.
    if (!enabled) {
        if (before != nullptr && focusWidget() != before) {
            focusReturn_ = before;
            focusMovedTo_ = focusWidget();
        }
        return;
    }
    QWidget* back = focusReturn_.data();
    QWidget* movedTo = focusMovedTo_.data();
    focusReturn_ = nullptr;
    focusMovedTo_ = nullptr;
    if (back != nullptr && movedTo != nullptr && focusWidget() == movedTo && back->isEnabled() &&
        back->isVisible())
        back->setFocus(Qt::OtherFocusReason);
}

void MainWindow::updateFactoryActions() {
    const int selected = list_.selectedCount();
    // Looking at the selected device for the serial-number rule makes it the
    // CurrentDeviceAddress.
    MacAddress device;
    if (list_.selectCurrentDevice() >= 0)
        device = list_.currentDeviceAddress();
    actions_.ipSettings->setEnabled(
        FactoryCommandEnabled(FactoryCommand::IpSettings, selected, device));
    actions_.setPassword->setEnabled(
        FactoryCommandEnabled(FactoryCommand::SetPassword, selected, device));
    actions_.serialNumber->setEnabled(
        FactoryCommandEnabled(FactoryCommand::SerialNumber, selected, device));
}

void MainWindow::showAdapterChoice() {
    AdapterTable available;
    EnumerateAdapters(ctx_.driver, available, options_.interfaces);
    choiceStatus_ = adapterChoice_.statusText(available, options_.interfaces);
    showAdapterStatus(choiceStatus_);
}

void MainWindow::showAdapterStatus(const QString& text) {
    adapterStatus_->setText(text);
    adapterStatus_->setToolTip(text); // the line may be cut; the tip shows it whole
}

void MainWindow::applyAdapterChoice() {
    // Listed afresh, so an adapter chosen since the last search is found.
    AdapterTable available;
    EnumerateAdapters(ctx_.driver, available, options_.interfaces);
    const std::vector<std::string> filter =
        adapterChoice_.searchFilter(available, options_.interfaces);
    AdapterTable wanted;
    EnumerateAdapters(ctx_.driver, wanted, filter);
    const auto names = [](const AdapterTable& table) {
        std::vector<std::string> result;
        for (const AdapterInfo& adapter : table.entries)
            result.push_back(adapter.name);
        return result;
    };
    if (names(wanted) != names(*ctx_.adapters())) {
        ctx_.enumerateAdapters(filter);
        // The adapter numbers have changed: the next search opens afresh.
        ctx_.link.close();
    }
    choiceStatus_ = adapterChoice_.statusText(available, options_.interfaces);
    showAdapterStatus(choiceStatus_);
}

// ---------------------------------------------------------------- commands

void MainWindow::launchDevice() {
    if (!acceptsCommands() || list_.busy())
        return;
    std::vector<LaunchTarget> targets = SelectedLaunchTargets(list_);
    if (targets.empty())
        return;
    auto reports = std::make_shared<std::vector<LaunchReport>>();
    runOperation(
        [this, targets = std::move(targets), reports](StopToken& stop) {
            *reports = LaunchDevices(ctx_, targets, *urlOpener_, &operator_, &stop);
        },
        [this, reports] {
            QStringList unopened;
            for (const LaunchReport& report : *reports)
                if (report.outcome == LaunchOutcome::OpenFailed)
                    unopened << FromStd(report.url);
            if (!unopened.isEmpty())
                showUnopenedPages(unopened);
        });
}

void MainWindow::showUnopenedPages(const QStringList& urls) {
    const QString text =
        QStringLiteral("No web browser could be started to open the device's web page.\n\n"
                       "Open %1 in a web browser:\n\n%2")
            .arg(urls.size() == 1 ? QStringLiteral("this address")
                                  : QStringLiteral("these addresses"),
                 urls.join(u'\n'));
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(strings::kAppTitle), text,
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("noBrowserMessage"));
    // The addresses can be selected and copied from the box.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FitBoxToCaption(box);
    box.exec();
    focusList();
}

void MainWindow::openNetworkSettings() {
    if (!acceptsCommands() || list_.busy() || list_.selectedCount() != 1)
        return;
    stopRepeatSearch();
    dialogs_->runNetworkSettings(*this);
    focusList();
    armRepeatSearch(ctx_.timing.searchPeriodAfterDialog);
}

void MainWindow::upgradeFirmware() {
    if (!acceptsCommands() || list_.busy() || list_.selectedCount() == 0)
        return;
    stopRepeatSearch();
    std::vector<DeviceRecord> units;
    const int selected = list_.selectedCount();
    for (int k = 0; k < selected; ++k) {
        if (const auto record = list_.record(list_.selectNthCurrentDevice(k)))
            units.push_back(*record);
    }
    // Only the devices found make the unit list: a row without one adds no unit.
    auto reopen = [this, units](StopToken& stop) {
        for (const DeviceRecord& unit : units)
            ctx_.useAdapterOf(unit.adapterIndex(), &stop);
    };
    auto run = [this, units] {
        dialogs_->runFirmwareUpgrade(*this, units);
        focusList();
        armRepeatSearch(ctx_.timing.searchPeriodAfterDialog);
    };
    if (!runOperation(std::move(reopen), std::move(run)))
        armRepeatSearch(ctx_.timing.searchPeriodAfterDialog);
}

void MainWindow::showAbout() {
    // Allowed during a search, not while an operation waits for its devices.
    if (!acceptsCommands())
        return;
    AboutDialog about(this);
    about.exec();
    focusList();
}

void MainWindow::refresh() {
    if (acceptsCommands())
        startSearch();
}

QString DefaultExportFileName(const QDate& date) {
    return QStringLiteral("korvane-devices-%1.csv").arg(date.toString(Qt::ISODate));
}

// The rows as `korvane search --csv` writes them. The file is written whole
// or not at all: a failed write leaves an earlier file of that name as it was.
void MainWindow::exportList() {
    if (!acceptsCommands() || list_.busy())
        return;
    QFileDialog dialog(this, QStringLiteral("Export List"));
    dialog.setObjectName(QStringLiteral("exportListDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(DefaultExportFileName(QDate::currentDate()));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString path = dialog.selectedFiles().first();
        const std::string csv = DeviceListCsv(ListedDevices(list_, *ctx_.adapters()));
        QSaveFile file(path);
        const bool saved = file.open(QIODevice::WriteOnly) &&
                           file.write(csv.data(), static_cast<qint64>(csv.size())) ==
                               static_cast<qint64>(csv.size()) &&
                           file.commit();
        if (!saved)
            ShowMessageBox(this, QStringLiteral("The list could not be saved as %1: %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    focusList();
}

void MainWindow::openIpSettings() {
    if (!acceptsCommands() || list_.busy() || !actions_.ipSettings->isEnabled())
        return;
    dialogs_->runIpSettings(*this);
    focusList();
}

void MainWindow::openSetPassword() {
    if (!acceptsCommands() || list_.busy() || !actions_.setPassword->isEnabled())
        return;
    dialogs_->runSetPassword(*this);
    focusList();
}

void MainWindow::openSerialNumber() {
    updateFactoryActions();
    if (!acceptsCommands() || list_.busy() || !actions_.serialNumber->isEnabled())
        return;
    dialogs_->runSetSerialNumber(*this);
    focusList();
}

void MainWindow::chooseNetworkAdapter() {
    if (!acceptsCommands())
        return;
    const QString before = adapterChoice_.chosen();
    dialogs_->runNetworkAdapter(*this);
    focusList();
    // A new choice shows at once: the list is searched again over it. While
    // a search or an operation runs, the adapter table is theirs: the choice
    // is applied before the next search, and only the status line says it now.
    if (adapterChoice_.chosen() != before && !startSearch())
        showAdapterChoice();
}

// ---------------------------------------------------------------- list

void MainWindow::onListDoubleClick() {
    if (list_.busy())
        return;
    launchDevice();
    focusList();
}

void MainWindow::showContextMenuFromKeyboard() {
    // At the focused row, else at the list's top left corner.
    const QModelIndex current = listView_->currentIndex();
    const QPoint at = current.isValid() ? listView_->visualRect(current).center() : QPoint(4, 4);
    showContextMenu(listView_->viewport()->mapToGlobal(at));
}

void MainWindow::showContextMenu(const QPoint& globalPos) {
    if (!acceptsCommands())
        return;
    const ContextMenuState state = list_.contextMenu();
    updateFactoryActions();
    if (!state.show)
        return;
    // The menu shares the window's actions; the three that need a selection
    // follow it while the menu is open.
    const struct {
        QAction* action;
        bool enabled;
    } selectionDependent[] = {{actions_.launchDevice, state.launchEnabled},
                              {actions_.settings, state.settingsEnabled},
                              {actions_.upgradeFirmware, state.firmwareEnabled}};
    for (const auto& entry : selectionDependent)
        entry.action->setEnabled(entry.enabled);
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("deviceMenu"));
    menu.addActions({actions_.launchDevice, actions_.settings, actions_.upgradeFirmware});
    menu.addSeparator();
    menu.addActions({actions_.refresh, actions_.exportList, actions_.networkAdapter});
    menu.addSeparator();
    menu.addAction(actions_.about);
    QAction* chosen = menu.exec(globalPos);
    for (const auto& entry : selectionDependent)
        entry.action->setEnabled(!list_.busy());
    Q_UNUSED(chosen); // the chosen action has run through its trigger
}

// ---------------------------------------------------------------- search

bool MainWindow::startSearch() {
    return !closing_->closing() && search_->searchNow();
}

void MainWindow::stopRepeatSearch() {
    search_->stopRepeatSearch();
}

void MainWindow::armRepeatSearch(Micros period) {
    search_->armRepeatSearch(period);
}

bool MainWindow::searchRunning() const {
    return search_->searchRunning();
}

bool MainWindow::searchTimerActive() const {
    return search_->repeatSearchActive();
}

int MainWindow::searchTimerIntervalMs() const {
    return search_->repeatSearchIntervalMs();
}

void MainWindow::showPermissionMessage(const QString& text) {
    if (permissionShown_ || closing_->closing())
        return;
    permissionShown_ = true;
    QString message = text.trimmed();
    message.replace(QStringLiteral("<program>"), QCoreApplication::applicationFilePath());
    // Window-modal but not blocking: the searches go on behind it.
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(strings::kAppTitle),
                                message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("permissionMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    FitBoxToCaption(*box);
    box->open();
}

// ---------------------------------------------------------------- operations

bool MainWindow::runOperation(std::function<void(StopToken&)> work, std::function<void()> done) {
    if (!acceptsCommands())
        return false;
    return runner_->run(std::move(work), std::move(done));
}

bool MainWindow::runOperationAndWait(std::function<void(StopToken&)> work) {
    QEventLoop loop;
    bool ended = false;
    const QMetaObject::Connection quit =
        connect(runner_.get(), &OperationRunner::workEnded, &loop, [&ended, &loop] {
            ended = true;
            loop.quit();
        });
    const bool started = runOperation(std::move(work));
    if (started && !ended)
        loop.exec();
    disconnect(quit);
    // The loop also ends when the application quits, with the work still
    // going: it stops and is waited for before the caller's objects go.
    if (started && !ended)
        runner_->cancelAndWait();
    return started;
}

bool MainWindow::operationRunning() const {
    return runner_->busy();
}

bool MainWindow::closing() const {
    return closing_->closing();
}

// ---------------------------------------------------------------- face

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closing_->closeRequested())
        event->accept();
    else
        event->ignore();
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::PaintMainBackground(painter, rect(), background_);
}

} // namespace korvane::ui

#include "dialogs/firmware_upgrade_dialog.hpp"

#include "firmware/firmware_image.hpp"
#include "skin/skin_library.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace korvane::ui {

namespace {

// The status list shows this many unit rows before it scrolls, and is at
// least this wide; the dialog grows with it.
constexpr int kStatusListRows = 8;
constexpr int kStatusListMinWidth = 400;

constexpr int kWarningFontHeight = 15;
constexpr QRgb kWarningColour = 0xFF0000;

const char kWarningText[] = "Backup settings before updating the firmware as the update will "
                            "overwrite all settings to factory default.";
const char kPacingText[] = "&Pace each unit separately (faster for many units)";
// What the status line says when the dialog is asked to close during a run.
const char kBusyCloseText[] = "The download is running: the dialog closes when it has ended.";
// Where the pacing choice is kept between runs of the program.
const char kPacingKey[] = "firmware/pacePerUnit";
const char kFileFilter[] = "*.bin (*.bin);;All Files (*.*) (*)";

} // namespace

FirmwareUpgradeDialog::FirmwareUpgradeDialog(Context& ctx, std::vector<DeviceRecord> units,
                                             QWidget* parent)
    : QDialog(parent), ctx_(ctx), records_(std::move(units)), caller_(this, &promptStop_),
      operator_(this, caller_) {
    setObjectName(QStringLiteral("firmwareUpgradeDialog"));
    setWindowTitle(QStringLiteral("Firmware Upgrade"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    buildControls();
    // The units' status texts and progress arrive posted, in their order.
    operator_.setStatusLineSink([this](const QString& text) { statusLine_->setText(text); });
    operator_.setUnitStatusSink(
        [this](const QString& key, const QString& text) { setUnitRow(key, text); });
    operator_.setProgressSink([this](int percent) { progress_->setValue(percent); });

    std::vector<DeviceIdentity*> unitPointers;
    for (DeviceRecord& record : records_)
        unitPointers.push_back(&record);
    FirmwarePasswordGate gate = [this](DeviceIdentity& record, StopToken* stop) {
        auto password = CheckUnitPassword(ctx_, operator_, record, stop);
        if (password && remember_)
            remember_(record.mac(), *password);
        return password;
    };
    session_ = std::make_unique<FirmwareUpgrade>(ctx_, operator_, std::move(unitPointers), gate);
    // The session follows the check box, and the choice is kept for the next start.
    session_->setPacing(pacing_->isChecked() ? CommandPacing::PerDevice : CommandPacing::Shared);
    connect(pacing_, &QCheckBox::toggled, this, [this](bool perUnit) {
        session_->setPacing(perUnit ? CommandPacing::PerDevice : CommandPacing::Shared);
        QSettings settings;
        if (perUnit)
            settings.setValue(QString::fromUtf8(kPacingKey), true);
        else
            settings.remove(QString::fromUtf8(kPacingKey));
    });
    session_->setBusyReceiver([this](bool busy) { caller_.post([this, busy] { setBusy(busy); }); });
    rebuildStatusList();

    // The file is looked at when its name changes and when the file system
    // says that it (or the folder it is to appear in) changed, never on a
    // timer: a stalled network mount then costs one look, not a frozen
    // window every few hundred milliseconds.
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &FirmwareUpgradeDialog::recheckImage);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this,
            &FirmwareUpgradeDialog::recheckImage);
    recheckImage();
}

FirmwareUpgradeDialog::~FirmwareUpgradeDialog() {
    // A run still going (the program is closing) gives up: its prompts end
    // unanswered and the session waits for its units.
    promptStop_.requestStop();
    session_.reset();
    setWaitCursor(false);
}

void FirmwareUpgradeDialog::setPasswordRemembered(
    std::function<void(const MacAddress&, const std::string&)> remember) {
    remember_ = std::move(remember);
}

void FirmwareUpgradeDialog::buildControls() {
    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("frame"));

    auto* label = new QLabel(QStringLiteral("&File name:"), this);
    label->setObjectName(QStringLiteral("fileNameLabel"));
    fileName_ = new QLineEdit(this);
    fileName_->setObjectName(QStringLiteral("fileNameEdit"));
    label->setBuddy(fileName_);
    browse_ = new QPushButton(QStringLiteral("..."), this);
    browse_->setObjectName(QStringLiteral("browseButton"));
    browse_->setAccessibleName(QStringLiteral("Browse"));
    browse_->setAccessibleDescription(QStringLiteral("Choose the firmware image file"));
    browse_->setToolTip(QStringLiteral("Choose the firmware image file"));

    warning_ = new QLabel(QString::fromUtf8(kWarningText), this);
    warning_->setObjectName(QStringLiteral("warningText"));
    warning_->setWordWrap(true);
    warning_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    warning_->setFont(skin::ProductFont(kWarningFontHeight, true));
    QPalette red = warning_->palette();
    red.setColor(QPalette::WindowText, QColor(kWarningColour));
    warning_->setPalette(red);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setAccessibleName(QStringLiteral("Download progress"));
    progress_->setAccessibleDescription(QStringLiteral("The mean progress of all units"));

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setFrameStyle(QFrame::Box | QFrame::Plain);
    statusLine_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    statusLine_->setAccessibleName(QStringLiteral("Download status"));

    statusList_ = new QTreeWidget(this);
    statusList_->setObjectName(QStringLiteral("statusList"));
    statusList_->setColumnCount(2);
    statusList_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Download Status")});
    statusList_->setRootIsDecorated(false);
    statusList_->setSelectionMode(QAbstractItemView::SingleSelection);
    statusList_->header()->setStretchLastSection(false);
    statusList_->setAccessibleName(QStringLiteral("Units"));
    statusList_->setAccessibleDescription(
        QStringLiteral("Each device of the upgrade and the state of its download"));
    fitColumns();

    // Off by default: all units together keep the one pause between
    // commands. On, each unit keeps its own, and many units go faster.
    pacing_ = new QCheckBox(QString::fromUtf8(kPacingText), this);
    pacing_->setObjectName(QStringLiteral("pacingCheckBox"));
    pacing_->setChecked(QSettings().value(QString::fromUtf8(kPacingKey), false).toBool());

    download_ = new QPushButton(QStringLiteral("&Download"), this);
    download_->setObjectName(QStringLiteral("downloadButton"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    // Enter is handled by the dialog itself (keyPressEvent), not by a
    // default button.
    download_->setAutoDefault(false);
    cancel_->setAutoDefault(false);

    // The file row on top; the progress, the status line and the units
    // line up under the file name; the buttons sit at the bottom right.
    const int rowHeight = statusList_->fontMetrics().height() + 4;
    statusList_->setMinimumSize(kStatusListMinWidth, statusList_->header()->sizeHint().height() +
                                                         kStatusListRows * rowHeight +
                                                         2 * statusList_->frameWidth());
    browse_->setMaximumWidth(2 * browse_->sizeHint().height());
    auto* grid = new QGridLayout(frame);
    grid->addWidget(label, 0, 0);
    grid->addWidget(fileName_, 0, 1);
    grid->addWidget(browse_, 0, 2);
    grid->addWidget(warning_, 1, 0, 1, 3);
    grid->addWidget(progress_, 2, 1);
    grid->addWidget(statusLine_, 3, 1);
    grid->addWidget(statusList_, 4, 1);
    grid->addWidget(pacing_, 5, 0, 1, 3);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(download_);
    buttons->addWidget(cancel_);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(frame, 1);
    outer->addLayout(buttons);

    // The order the Tab key follows: as the template lists its controls.
    setTabOrder(fileName_, browse_);
    setTabOrder(browse_, statusList_);
    setTabOrder(statusList_, pacing_);
    setTabOrder(pacing_, download_);
    setTabOrder(download_, cancel_);

    connect(fileName_, &QLineEdit::textChanged, this, [this](const QString& text) {
        {
            std::lock_guard lock(pathMutex_);
            path_ = text.toStdString();
        }
        recheckImage();
    });
    connect(browse_, &QPushButton::clicked, this, &FirmwareUpgradeDialog::browse);
    connect(download_, &QPushButton::clicked, this, &FirmwareUpgradeDialog::download);
    connect(cancel_, &QPushButton::clicked, this, &FirmwareUpgradeDialog::reject);
}

void FirmwareUpgradeDialog::fitColumns() {
    // One third and two thirds of the list's client width, as integer parts.
    const int client = statusList_->viewport()->width();
    statusList_->setColumnWidth(0, client / 3);
    statusList_->setColumnWidth(1, 2 * client / 3);
}

void FirmwareUpgradeDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitColumns();
}

void FirmwareUpgradeDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    fitColumns();
}

std::string FirmwareUpgradeDialog::imagePath() const {
    std::lock_guard lock(pathMutex_);
    return path_;
}

void FirmwareUpgradeDialog::recheckImage() {
    const QString path = fileName_->text();
    imageCheck_ = CheckImageFile(path.toStdString());
    // Watch the file once it is there, and the folder it is to appear in
    // until then (a download into it, a copy finishing).
    QString wanted;
    if (!path.isEmpty()) {
        const QFileInfo file(path);
        wanted = file.exists() ? file.absoluteFilePath() : file.absolutePath();
        if (!QFileInfo(wanted).exists())
            wanted.clear();
    }
    if (wanted != watched_) {
        if (!watched_.isEmpty())
            watcher_->removePath(watched_);
        watched_ = wanted;
        if (!watched_.isEmpty() && !watcher_->addPath(watched_))
            watched_.clear();
    }
    updateButtons();
}

void FirmwareUpgradeDialog::updateButtons() {
    const ImageFileCheck& check = imageCheck_;
    const bool usable =
        check.verdict == ImageFileVerdict::Usable || check.verdict == ImageFileVerdict::Short;
    download_->setEnabled(!busy_ && usable);
    cancel_->setEnabled(!busy_);
    pacing_->setEnabled(!busy_); // a run keeps the pacing it started with
    if (busy_)
        return;
    // A file too large for the block numbers says so where the run's
    // summary goes; a missing or half-typed name needs no words.
    if (check.verdict == ImageFileVerdict::TooLarge) {
        QString why = QString::fromStdString(ImageRefusalText(check));
        why[0] = why[0].toUpper();
        if (statusLine_->text() != why)
            statusLine_->setText(why);
        refusalShown_ = true;
    } else if (refusalShown_) {
        statusLine_->clear();
        refusalShown_ = false;
    }
}

void FirmwareUpgradeDialog::browse() {
    QFileDialog browser(this);
    browser.setObjectName(QStringLiteral("browseDialog"));
    browser.setFileMode(QFileDialog::ExistingFile);
    browser.setAcceptMode(QFileDialog::AcceptOpen);
    browser.setNameFilter(QString::fromUtf8(kFileFilter));
    browser.setDefaultSuffix(QStringLiteral("bin"));
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return;
    fileName_->setText(browser.selectedFiles().first());
}

void FirmwareUpgradeDialog::download() {
    if (busy_ || !IsUsableImageFile(imagePath()))
        return;
    if (!session_->start([this] { return imagePath(); }))
        return;
    setBusy(true);
}

void FirmwareUpgradeDialog::setBusy(bool busy) {
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        updateButtons();
    else
        recheckImage(); // the file may have changed during the run
    setCloseEnabled(!busy);
    setWaitCursor(busy);
    if (!busy)
        rebuildStatusList();
    Q_EMIT busyChanged(busy);
}

void FirmwareUpgradeDialog::setUnitRow(const QString& key, const QString& text) {
    for (int i = 0; i < statusList_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = statusList_->topLevelItem(i);
        if (row->text(0).compare(key, Qt::CaseInsensitive) == 0) {
            row->setText(1, text);
            row->setToolTip(1, text);
            fitStatusColumn();
            return;
        }
    }
    addStatusRow(key, text);
}

void FirmwareUpgradeDialog::addStatusRow(const QString& key, const QString& text) {
    auto* row = new QTreeWidgetItem({key, text});
    row->setToolTip(1, text);
    statusList_->addTopLevelItem(row);
    fitStatusColumn();
}

void FirmwareUpgradeDialog::fitStatusColumn() {
    // A failure's reason can be longer than the column: the column widens
    // and the list scrolls sideways, rather than cut the reason off.
    const int least =
        std::max(statusList_->columnWidth(1), 2 * statusList_->viewport()->width() / 3);
    statusList_->resizeColumnToContents(1);
    if (statusList_->columnWidth(1) < least)
        statusList_->setColumnWidth(1, least);
}

void FirmwareUpgradeDialog::rebuildStatusList() {
    statusList_->clear();
    for (const StatusRow& row : session_->statusRows())
        addStatusRow(QString::fromStdString(row.key), QString::fromStdString(row.text));
}

void FirmwareUpgradeDialog::setCloseEnabled(bool enabled) {
    // Changed in place: setWindowFlags would hide and recreate the window.
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowCloseButtonHint, enabled);
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle())
        window->setFlags(flags);
}

void FirmwareUpgradeDialog::setWaitCursor(bool on) {
    // Over the whole dialog, its edit and list included, but not over the
    // prompts and boxes a unit brings up meanwhile.
    if (on) {
        ownCursors_.clear();
        for (QWidget* w : findChildren<QWidget*>())
            if (w->testAttribute(Qt::WA_SetCursor))
                ownCursors_.emplace_back(w, w->cursor());
        setCursor(Qt::WaitCursor);
        for (auto& [w, cursor] : ownCursors_)
            w->setCursor(Qt::WaitCursor);
        return;
    }
    unsetCursor();
    for (auto& [w, cursor] : ownCursors_)
        w->setCursor(cursor);
    ownCursors_.clear();
}

void FirmwareUpgradeDialog::refuseClose() {
    statusLine_->setText(QString::fromUtf8(kBusyCloseText));
}

void FirmwareUpgradeDialog::accept() {
    if (busy_)
        refuseClose();
    else
        QDialog::accept();
}

void FirmwareUpgradeDialog::reject() {
    if (busy_)
        refuseClose();
    else
        QDialog::reject();
}

void FirmwareUpgradeDialog::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore();
        refuseClose();
        return;
    }
    QDialog::closeEvent(event);
}

void FirmwareUpgradeDialog::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // In the file box Enter means "this file": it downloads when it can
        // and otherwise leaves the typed path where it is.
        if (fileName_->hasFocus()) {
            if (download_->isEnabled())
                download();
            return;
        }
        // Elsewhere it is the dialog's OK (it has no OK button): it closes,
        // except while busy.
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace korvane::ui

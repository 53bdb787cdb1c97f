#include "dialogs/network_settings_dialog.hpp"

#include "bridge/message_box.hpp"
#include "bridge/password_prompt_dialog.hpp"
#include "dialogs/advanced_page.hpp"
#include "dialogs/ip_address_page.hpp"
#include "dialogs/password_page.hpp"
#include "skin/skin_library.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace korvane::ui {

namespace {
enum EditResult : int { kCancelled = 0, kOk = 1 };
}

NetworkSettingsDialog::NetworkSettingsDialog(QWidget* parent)
    : QDialog(parent), ipPage_(new IpAddressPage), advancedPage_(new AdvancedPage),
      passwordPage_(new PasswordPage), passwordInput_(new PasswordPromptDialog(this)),
      tabs_(new QTabWidget(this)), ok_(new QPushButton(QStringLiteral("OK"))),
      cancel_(new QPushButton(QStringLiteral("Cancel"))) {
    setObjectName(QStringLiteral("networkSettingsDialog"));
    setWindowTitle(QStringLiteral("Network Settings"));
    setWindowIcon(skin::AppIcon());

    tabs_->setObjectName(QStringLiteral("sheetTabs"));
    for (SettingsPage* p :
         {static_cast<SettingsPage*>(ipPage_), static_cast<SettingsPage*>(advancedPage_),
          static_cast<SettingsPage*>(passwordPage_)})
        tabs_->addTab(p, p->windowTitle());
    tabs_->setCurrentIndex(kIpAddressPage);
    connect(tabs_, &QTabWidget::currentChanged, this, &NetworkSettingsDialog::tabChanged);

    // OK and Cancel join the sheet after the pages, so that Tab goes from the
    // page's fields to them, not from the tabs to them.
    ok_->setParent(this);
    cancel_->setParent(this);
    // OK and Cancel at the right, OK first; no Apply and no Help.
    ok_->setObjectName(QStringLiteral("okButton"));
    ok_->setDefault(true);
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    connect(ok_, &QPushButton::clicked, this, &NetworkSettingsDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &NetworkSettingsDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* column = new QVBoxLayout(this);
    column->addWidget(tabs_);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

NetworkSettingsDialog::~NetworkSettingsDialog() {
    setProcessing(false);
    if (loop_ != nullptr)
        loop_->exit(kCancelled);
}

int NetworkSettingsDialog::currentPage() const {
    return tabs_->currentIndex();
}

SettingsPage* NetworkSettingsDialog::page(int index) const {
    return qobject_cast<SettingsPage*>(tabs_->widget(index));
}

void NetworkSettingsDialog::setModel(const NetworkSettingsModel& model) {
    ipPage_->setModel(model.ipPage);
    advancedPage_->setModel(model.advancedPage);
    passwordPage_->setModel(model.passwordPage);
}

void NetworkSettingsDialog::storePages(NetworkSettingsModel& model) const {
    model.ipPage = ipPage_->model();
    model.advancedPage = advancedPage_->model();
    model.passwordPage = passwordPage_->model();
}

bool NetworkSettingsDialog::edit(NetworkSettingsModel& model, SheetRefusal previous) {
    if (previous == SheetRefusal::None) {
        setModel(model);
        switching_ = true;
        tabs_->setCurrentIndex(kIpAddressPage);
        switching_ = false;
        activePage_ = kIpAddressPage;
    }
    if (!isVisible()) {
        setWindowModality(Qt::ApplicationModal);
        show();
        raise();
        activateWindow();
    }
    setProcessing(false);
    NormalCursor pointer; // the command shows the wait cursor meanwhile
    QEventLoop loop;
    loop_ = &loop;
    editing_ = &model;
    const int result = loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    editing_ = nullptr;
    return result == kOk;
}

void NetworkSettingsDialog::finish() {
    setProcessing(false);
    if (isVisible())
        done(QDialog::Accepted);
    // A command that ended while the sheet still waited (it was stopped)
    // takes nothing more from it.
    if (loop_ != nullptr)
        loop_->exit(kCancelled);
}

std::optional<std::string> NetworkSettingsDialog::askPassword(const std::string& label,
                                                              const std::string& preset) {
    // A prompt stands over a sheet that waits for it, so let the input through.
    const bool wasProcessing = processing_;
    setProcessing(false);
    NormalCursor pointer;
    const auto typed =
        passwordInput_->ask(QString::fromStdString(label), QString::fromStdString(preset));
    setProcessing(wasProcessing);
    if (!typed)
        return std::nullopt;
    return typed->toStdString();
}

void NetworkSettingsDialog::accept() {
    if (processing_)
        return;
    if (loop_ == nullptr) {
        QDialog::accept();
        return;
    }
    storePages(*editing_);
    setProcessing(true);
    loop_->exit(kOk);
}

void NetworkSettingsDialog::reject() {
    if (processing_)
        return;
    QDialog::reject();
    if (loop_ != nullptr)
        loop_->exit(kCancelled);
}

void NetworkSettingsDialog::closeEvent(QCloseEvent* event) {
    if (processing_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void NetworkSettingsDialog::tabChanged(int index) {
    if (switching_ || index == activePage_)
        return;
    // The page being left stays in front while it tests its input; it is
    // put back before any painting, so a refusal shows no flicker.
    switching_ = true;
    tabs_->setCurrentIndex(activePage_);
    switching_ = false;
    if (processing_ || !page(activePage_)->validatePage())
        return;
    switching_ = true;
    tabs_->setCurrentIndex(index);
    switching_ = false;
    activePage_ = index;
}

void NetworkSettingsDialog::setProcessing(bool on) {
    if (on == processing_)
        return;
    processing_ = on;
    if (on) {
        qApp->installEventFilter(this);
        setCursor(Qt::WaitCursor);
    } else {
        qApp->removeEventFilter(this);
        unsetCursor();
    }
}

bool NetworkSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (!processing_)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel: {
        // The sheet waits for its command's verdict: its own controls take nothing.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this)
            return true;
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace korvane::ui

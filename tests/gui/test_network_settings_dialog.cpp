// The Network Settings pages and sheet on their own: tabs and buttons, the
// enabling rules of each page, what the controls put into the members, the
// IP address control's keys, and the tests that run when a page is left.

#include "config/settings_model.hpp"
#include "dialog_test_support.hpp"
#include "dialogs/advanced_page.hpp"
#include "dialogs/ip_address_page.hpp"
#include "dialogs/network_settings_dialog.hpp"
#include "dialogs/password_page.hpp"
#include "widgets/ip_address_edit.hpp"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>

using namespace korvane;
using korvane::testing::BoxAnswerer;
using korvane::ui::AdvancedPage;
using korvane::ui::IpAddressEdit;
using korvane::ui::IpAddressPage;
using korvane::ui::IpSettingsDialog;
using korvane::ui::NetworkSettingsDialog;
using korvane::ui::PasswordPage;

namespace {

constexpr std::uint32_t kIp = 0xC0A80164;      // 192.168.1.100
constexpr std::uint32_t kMask = 0xFFFFFF00;    // 255.255.255.0
constexpr std::uint32_t kGateway = 0xC0A80101; // 192.168.1.1

SettingsBlock Block(std::uint16_t version, AddressMode mode) {
    SettingsBlock b;
    b.setRawVersion(version);
    b.setAddressMode(mode);
    b.setIpAddress(kIp);
    b.setSubnetMask(kMask);
    b.setGateway(kGateway);
    b.setPort<settings_offset::kHttpPort>(80);
    b.setPort<settings_offset::kTelnetPort>(23);
    b.setPort<settings_offset::kHttpsPort>(443);
    b.setPort<settings_offset::kSshPort>(22);
    return b;
}

NetworkSettingsModel Model(std::uint16_t version = 40, AddressMode mode = AddressMode::Static,
                           bool modelK = true, std::uint16_t readStatus = 2) {
    return FillNetworkSettings(Block(version, mode), readStatus, modelK);
}

template <class T>
T* Find(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(QString::fromUtf8(name));
    if (w == nullptr)
        qFatal("no widget %s", name);
    return w;
}

// Types as a person does: each key goes to the widget that has the focus then.
void Type(IpAddressEdit* ctrl, const QString& text) {
    ctrl->window()->activateWindow();
    ctrl->field(0)->setFocus();
    ctrl->field(0)->selectAll();
    for (const QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

} // namespace

class TestNetworkSettingsDialog : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void sheetTabsAndButtons();
    void tabGoesThroughThePageBeforeOkAndCancel();
    void keyboardAndScreenReader_data();
    void keyboardAndScreenReader();
    void ipControlKeys();
    void bootpRadioEnabling_data();
    void bootpRadioEnabling();
    void addressControlsByMode_data();
    void addressControlsByMode();
    void typedAddressesSurviveDhcp();
    void emptyMaskProposesTheUsualOne();
    void ipSettingsDialogOk_data();
    void ipSettingsDialogOk();
    void advancedPageEnabling_data();
    void advancedPageEnabling();
    void clearedPortEditRestoresDefault();
    void tickingABoxWithABadPortRestoresDefault();
    void passwordPageFilling();
    void leavingAPageRunsItsTests_data();
    void leavingAPageRunsItsTests();
    void screenshots();
};

void TestNetworkSettingsDialog::sheetTabsAndButtons() {
    NetworkSettingsDialog sheet;
    sheet.setModel(Model());
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));

    QCOMPARE(sheet.windowTitle(), QString("Network Settings"));
    QTabWidget* tabs = sheet.tabs();
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QString("IP Address"));
    QCOMPARE(tabs->tabText(1), QString("Advanced"));
    QCOMPARE(tabs->tabText(2), QString("Password"));
    QCOMPARE(tabs->currentIndex(), int(NetworkSettingsDialog::kIpAddressPage));

    // Only OK and Cancel, at the right, OK first.
    QStringList buttons;
    for (QPushButton* b : sheet.findChildren<QPushButton*>())
        if (b->window() == &sheet && b->isVisible())
            buttons.append(b->text());
    buttons.sort();
    QCOMPARE(buttons, QStringList({"Cancel", "OK"}));
    const QRect ok = sheet.okButton()->geometry();
    const QRect cancel = sheet.cancelButton()->geometry();
    QVERIFY(ok.right() < cancel.left());
    QVERIFY(sheet.width() - cancel.right() < 30);
    QVERIFY(sheet.okButton()->isDefault());

    // Cancel closes the sheet.
    sheet.cancelButton()->click();
    QVERIFY(!sheet.isVisible());
}

void TestNetworkSettingsDialog::tabGoesThroughThePageBeforeOkAndCancel() {
    NetworkSettingsDialog sheet;
    sheet.setModel(Model());
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    sheet.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&sheet));
    auto* page = sheet.ipAddressPage();
    Find<QWidget>(page, "staticRadio")->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // An address edit's first field stands for the edit.
        if (auto* edit = qobject_cast<IpAddressEdit*>(focus->parentWidget()))
            focus = edit;
        order << focus->objectName();
    }
    QCOMPARE(order, QStringList({"ipAddressEdit", "subnetMaskEdit", "gatewayEdit", "okButton",
                                 "cancelButton"}));
    // And each painted address edit tells a screen reader what it is.
    QAccessibleInterface* face =
        QAccessible::queryAccessibleInterface(Find<IpAddressEdit>(page, "subnetMaskEdit"));
    QCOMPARE(face->text(QAccessible::Name), QString("Subnet Mask"));
    QCOMPARE(face->role(), QAccessible::Grouping);
}

void TestNetworkSettingsDialog::keyboardAndScreenReader_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("page");
    QTest::newRow("sheet, IP Address") << "sheet" << int(NetworkSettingsDialog::kIpAddressPage);
    QTest::newRow("sheet, Advanced") << "sheet" << int(NetworkSettingsDialog::kAdvancedPage);
    QTest::newRow("sheet, Password") << "sheet" << int(NetworkSettingsDialog::kPasswordPage);
    QTest::newRow("IP Settings alone") << "ip" << 0;
    QTest::newRow("Set Password alone") << "password" << 0;
}

// Every mnemonic puts the focus into its own field (Alt+I, Alt+S and Alt+G
// into the address edits), no two share a letter, and Tab reaches every
// control, each with a name a screen reader can say.
void TestNetworkSettingsDialog::keyboardAndScreenReader() {
    QFETCH(QString, window);
    QFETCH(int, page);
    std::unique_ptr<QDialog> dialog;
    QWidget* start = nullptr;
    if (window == "sheet") {
        auto sheet = std::make_unique<NetworkSettingsDialog>();
        sheet->setModel(Model());
        sheet->tabs()->setCurrentIndex(page);
        start = sheet->tabs()->tabBar();
        dialog = std::move(sheet);
    } else if (window == "ip") {
        auto alone = std::make_unique<IpSettingsDialog>();
        alone->setModel(Model().ipPage);
        start = alone->page()->findChild<QWidget*>("staticRadio");
        dialog = std::move(alone);
    } else {
        auto alone = std::make_unique<korvane::ui::SetPasswordDialog>();
        start = alone->findChild<QCheckBox*>();
        dialog = std::move(alone);
    }
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(start != nullptr);

    const QStringList names = testing::CheckTabChainAndNames(dialog.get(), start);
    QVERIFY2(!names.contains(QString()) && !names.contains("<chain and tab stops differ>"),
             qPrintable(names.join(" | ")));
    QCOMPARE(testing::CheckMnemonics(dialog.get()), QStringList());
}

void TestNetworkSettingsDialog::ipControlKeys() {
    IpAddressEdit ctrl;
    ctrl.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ctrl));
    QVERIFY(ctrl.isBlank());
    QCOMPARE(ctrl.address(), 0u);

    // Three digits move on; a dot closes a shorter field.
    Type(&ctrl, "192168.1.20");
    QCOMPARE(ctrl.text(), QString("192.168.1.20"));
    QCOMPARE(ctrl.address(), 0xC0A80114u);
    QVERIFY(ctrl.field(3)->hasFocus());

    // Backspace at a field's start goes back into the one before.
    ctrl.field(3)->setCursorPosition(0);
    QTest::keyClick(ctrl.field(3), Qt::Key_Backspace);
    QVERIFY(ctrl.field(2)->hasFocus());
    QCOMPARE(ctrl.field(2)->cursorPosition(), 1);
    // The arrows cross the edges of the fields.
    QTest::keyClick(ctrl.field(2), Qt::Key_Right);
    QVERIFY(ctrl.field(3)->hasFocus());
    QTest::keyClick(ctrl.field(3), Qt::Key_Left);
    QVERIFY(ctrl.field(2)->hasFocus());

    // An octet never goes above 255; letters never get in.
    ctrl.clear();
    Type(&ctrl, "300");
    QCOMPARE(ctrl.field(0)->text(), QString("255"));
    ctrl.clear();
    Type(&ctrl, "1a2");
    QCOMPARE(ctrl.field(0)->text(), QString("12"));

    ctrl.setAddress(0x0A000001);
    QCOMPARE(ctrl.text(), QString("10.0.0.1"));
    QVERIFY(!ctrl.isBlank());
}

void TestNetworkSettingsDialog::bootpRadioEnabling_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("modelK");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("K, version 31") << 31 << true << true;
    QTest::newRow("K, version 40") << 40 << true << true;
    QTest::newRow("K, version 30") << 30 << true << false;
    QTest::newRow("other model, version 40") << 40 << false << false;
}

void TestNetworkSettingsDialog::bootpRadioEnabling() {
    QFETCH(int, version);
    QFETCH(bool, modelK);
    QFETCH(bool, enabled);
    IpAddressPage page;
    page.setModel(Model(static_cast<std::uint16_t>(version), AddressMode::Static, modelK).ipPage);
    QCOMPARE(Find<QRadioButton>(&page, "bootpRadio")->isEnabled(), enabled);
    QVERIFY(Find<QRadioButton>(&page, "dhcpRadio")->isEnabled());
    QVERIFY(Find<QRadioButton>(&page, "staticRadio")->isChecked());
    QCOMPARE(page.radioIndex(), int(IpAddressPage::kRadioStatic));
}

void TestNetworkSettingsDialog::addressControlsByMode_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("maskLabelEnabled");
    QTest::newRow("static") << 40 << int(AddressMode::Static) << "staticRadio" << true
                            << "255.255.255.0" << true;
    QTest::newRow("DHCP, version 31")
        << 31 << int(AddressMode::Dhcp) << "dhcpRadio" << false << "255.255.255.0" << true;
    QTest::newRow("DHCP, version 30: no mask shown")
        << 30 << int(AddressMode::Dhcp) << "dhcpRadio" << false << "0.0.0.0" << false;
    QTest::newRow("BOOTP") << 40 << int(AddressMode::Bootp) << "bootpRadio" << false
                           << "255.255.255.0" << true;
}

void TestNetworkSettingsDialog::addressControlsByMode() {
    QFETCH(int, version);
    QFETCH(int, mode);
    QFETCH(QString, radio);
    QFETCH(bool, editable);
    QFETCH(QString, mask);
    QFETCH(bool, maskLabelEnabled);

    IpAddressPage page;
    const NetworkSettingsModel model =
        Model(static_cast<std::uint16_t>(version), static_cast<AddressMode>(mode));
    page.setModel(model.ipPage);
    QVERIFY(page.findChild<QRadioButton*>(radio)->isChecked());
    auto* ip = Find<IpAddressEdit>(&page, "ipAddressEdit");
    auto* maskCtrl = Find<IpAddressEdit>(&page, "subnetMaskEdit");
    QCOMPARE(ip->isEnabled(), editable);
    QCOMPARE(maskCtrl->isEnabled(), editable);
    QCOMPARE(Find<IpAddressEdit>(&page, "gatewayEdit")->isEnabled(), editable);
    QCOMPARE(maskCtrl->text(), mask);
    QCOMPARE(Find<QLabel>(&page, "subnetMaskLabel")->isEnabled(), maskLabelEnabled);
    // The members keep what was read, shown or not.
    QCOMPARE(page.model().subnetMask, kMask);
    QCOMPARE(page.model().firstAddress, ip->address());
}

void TestNetworkSettingsDialog::typedAddressesSurviveDhcp() {
    IpAddressPage page;
    page.setModel(Model(40).ipPage);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* ip = Find<IpAddressEdit>(&page, "ipAddressEdit");
    auto* gateway = Find<IpAddressEdit>(&page, "gatewayEdit");
    Type(ip, "10.1.2.3");
    Type(gateway, "10.1.2.254");
    QCOMPARE(page.model().ipAddress, 0x0A010203u);
    QCOMPARE(page.model().gateway, 0x0A0102FEu);

    QTest::mouseClick(Find<QRadioButton>(&page, "dhcpRadio"), Qt::LeftButton);
    QCOMPARE(page.model().mode, AddressMode::Dhcp);
    QVERIFY(!ip->isEnabled());
    QVERIFY(!Find<QLabel>(&page, "ipAddressLabel")->isEnabled());
    QCOMPARE(ip->text(), QString("10.1.2.3"));

    QTest::mouseClick(Find<QRadioButton>(&page, "staticRadio"), Qt::LeftButton);
    QCOMPARE(page.model().mode, AddressMode::Static);
    QVERIFY(ip->isEnabled());
    QCOMPARE(ip->text(), QString("10.1.2.3"));
    QCOMPARE(gateway->text(), QString("10.1.2.254"));
    QVERIFY(Find<QRadioButton>(&page, "staticRadio")->hasFocus());
}

void TestNetworkSettingsDialog::emptyMaskProposesTheUsualOne() {
    IpAddressPageModel members = Model(40).ipPage;
    members.subnetMask = 0;
    IpAddressPage page;
    page.setModel(members);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto* mask = Find<IpAddressEdit>(&page, "subnetMaskEdit");
    QCOMPARE(mask->text(), QString("0.0.0.0"));
    mask->setFocus();
    QCOMPARE(mask->text(), QString("255.255.255.0"));
    QCOMPARE(page.model().subnetMask, kMask);

    // A mask that holds something stays as it is.
    mask->setAddress(0xFFFF0000);
    Find<IpAddressEdit>(&page, "gatewayEdit")->setFocus();
    mask->setFocus();
    QCOMPARE(mask->text(), QString("255.255.0.0"));
}

void TestNetworkSettingsDialog::ipSettingsDialogOk_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<quint32>("ip");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<quint32>("gateway");
    QTest::addColumn<QString>("message");
    QTest::addColumn<quint32>("keptMask");
    QTest::addColumn<quint32>("keptGateway");
    const int kStatic = int(AddressMode::Static);
    const int kDhcp = int(AddressMode::Dhcp);
    QTest::newRow("static, IP 0.0.0.0")
        << kStatic << 0u << kMask << kGateway << "Invalid Input IP Address 0.0.0.0" << 0u << 0u;
    QTest::newRow("static, mask 255.255.255.255")
        << kStatic << kIp << 0xFFFFFFFFu << kGateway
        << "Invalid Input Subnet Mask 0.0.0.0 or 255.255.255.255" << 0u << 0u;
    QTest::newRow("static, gateway 255.255.255.255")
        << kStatic << kIp << kMask << 0xFFFFFFFFu << "Invalid Input Gateway Address 255.255.255.255"
        << 0u << 0u;
    QTest::newRow("static, accepted")
        << kStatic << kIp << kMask << kGateway << "" << kMask << kGateway;
    QTest::newRow("DHCP takes the all-ones mask and gateway as usual values")
        << kDhcp << kIp << 0xFFFFFFFFu << 0xFFFFFFFFu << "" << kMask << 0u;
}

void TestNetworkSettingsDialog::ipSettingsDialogOk() {
    QFETCH(int, mode);
    QFETCH(quint32, ip);
    QFETCH(quint32, mask);
    QFETCH(quint32, gateway);
    QFETCH(QString, message);
    QFETCH(quint32, keptMask);
    QFETCH(quint32, keptGateway);

    SettingsBlock block = Block(0, static_cast<AddressMode>(mode));
    block.setIpAddress(ip);
    block.setSubnetMask(mask);
    block.setGateway(gateway);
    IpSettingsDialog dialog;
    dialog.setModel(FillIpSettingsPage(block));
    QCOMPARE(dialog.windowTitle(), QString("IP Address"));
    QVERIFY(!Find<QRadioButton>(dialog.page(), "bootpRadio")->isEnabled());

    BoxAnswerer boxes;
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.accept(); });
    // A refusal leaves the dialog open: the second timer cancels it.
    QTimer::singleShot(100, &dialog, [&dialog] {
        if (dialog.isVisible())
            dialog.reject();
    });
    const int result = dialog.exec();
    if (message.isEmpty()) {
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(dialog.model().subnetMask, keptMask);
        QCOMPARE(dialog.model().gateway, keptGateway);
    } else {
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(boxes.texts, QStringList{message});
    }
}

void TestNetworkSettingsDialog::advancedPageEnabling_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("httpsField");
    QTest::addColumn<int>("telnetField");
    QTest::addColumn<bool>("httpBoxEnabled");
    QTest::addColumn<bool>("httpsBoxEnabled");
    QTest::addColumn<bool>("httpsTicked");
    QTest::addColumn<QString>("httpsPort");
    QTest::addColumn<bool>("telnetTicked");
    QTest::addColumn<QString>("telnetPort");
    QTest::newRow("version 40, all on")
        << 40 << 443 << 23 << true << true << true << "443" << true << "23";
    QTest::newRow("HTTPS reads 0: no such service")
        << 40 << 0 << 23 << true << false << false << "443" << true << "23";
    QTest::newRow("HTTPS off") << 40 << 0xFFFF << 23 << true << true << false << "443" << true
                               << "23";
    QTest::newRow("Telnet port 0: off on its default")
        << 40 << 443 << 0 << true << true << true << "443" << false << "23";
    QTest::newRow("version 31: no HTTP or Telnet fields")
        << 31 << 8443 << 23 << false << true << true << "8443" << false << "23";
}

void TestNetworkSettingsDialog::advancedPageEnabling() {
    QFETCH(int, version);
    QFETCH(int, httpsField);
    QFETCH(int, telnetField);
    QFETCH(bool, httpBoxEnabled);
    QFETCH(bool, httpsBoxEnabled);
    QFETCH(bool, httpsTicked);
    QFETCH(QString, httpsPort);
    QFETCH(bool, telnetTicked);
    QFETCH(QString, telnetPort);

    SettingsBlock block = Block(static_cast<std::uint16_t>(version), AddressMode::Static);
    block.setPort<settings_offset::kHttpsPort>(static_cast<std::uint16_t>(httpsField));
    block.setPort<settings_offset::kTelnetPort>(static_cast<std::uint16_t>(telnetField));
    AdvancedPage page;
    page.setModel(FillNetworkSettings(block, 2, true).advancedPage);

    QCOMPARE(page.checkBox(ServiceKind::Http)->isEnabled(), httpBoxEnabled);
    QCOMPARE(page.checkBox(ServiceKind::Telnet)->isEnabled(), httpBoxEnabled);
    QCOMPARE(page.checkBox(ServiceKind::Https)->isEnabled(), httpsBoxEnabled);
    QCOMPARE(page.checkBox(ServiceKind::Https)->isChecked(), httpsTicked);
    QCOMPARE(page.portEdit(ServiceKind::Https)->isEnabled(), httpsTicked);
    QCOMPARE(page.portLabel(ServiceKind::Https)->isEnabled(), httpsTicked);
    QCOMPARE(page.portEdit(ServiceKind::Https)->text(), httpsPort);
    QCOMPARE(page.checkBox(ServiceKind::Telnet)->isChecked(), telnetTicked);
    QCOMPARE(page.portEdit(ServiceKind::Telnet)->isEnabled(), telnetTicked);
    QCOMPARE(page.portEdit(ServiceKind::Telnet)->text(), telnetPort);
}

void TestNetworkSettingsDialog::clearedPortEditRestoresDefault() {
    AdvancedPage page;
    page.setModel(Model(40).advancedPage);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QLineEdit* edit = page.portEdit(ServiceKind::Ssh);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "2222");
    QCOMPARE(page.model().ssh.port, 2222);
    // Letters do not get in.
    QTest::keyClicks(edit, "x");
    QCOMPARE(edit->text(), QString("2222"));

    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QString("22"));
    QCOMPARE(page.model().ssh.port, 22);

    QLineEdit* http = page.portEdit(ServiceKind::Http);
    http->setFocus();
    http->selectAll();
    QTest::keyClick(http, Qt::Key_Delete);
    QCOMPARE(http->text(), QString("80"));
}

void TestNetworkSettingsDialog::tickingABoxWithABadPortRestoresDefault() {
    SettingsBlock block = Block(40, AddressMode::Static);
    block.setPort<settings_offset::kHttpPort>(0xFFFF); // off
    AdvancedPage page;
    page.setModel(FillNetworkSettings(block, 2, true).advancedPage);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCheckBox* box = page.checkBox(ServiceKind::Http);
    QVERIFY(!box->isChecked());
    QVERIFY(!page.portEdit(ServiceKind::Http)->isEnabled());

    // A port out of range typed while the box was on, then off and on again.
    box->click();
    QVERIFY(page.portEdit(ServiceKind::Http)->isEnabled());
    page.portEdit(ServiceKind::Http)->setText("70000");
    box->click();
    QVERIFY(!page.model().http.enabled);
    QCOMPARE(page.portEdit(ServiceKind::Http)->text(), QString("70000"));
    box->click();
    QVERIFY(page.model().http.enabled);
    QCOMPARE(page.portEdit(ServiceKind::Http)->text(), QString("80"));
    QCOMPARE(page.model().http.port, 80);
}

void TestNetworkSettingsDialog::passwordPageFilling() {
    // A device with a password: ticked, "********" in both fields.
    PasswordPage page;
    page.setModel(Model(40, AddressMode::Static, true, 1).passwordPage);
    QVERIFY(page.enableBox()->isChecked());
    QCOMPARE(page.newPasswordEdit()->text(), QString("********"));
    QCOMPARE(page.confirmPasswordEdit()->text(), QString("********"));
    QCOMPARE(page.newPasswordEdit()->echoMode(), QLineEdit::Password);
    QCOMPARE(page.newPasswordEdit()->maxLength(), 30);
    QVERIFY(page.newPasswordEdit()->isEnabled());

    // None: unticked and empty, edits off, labels on.
    PasswordPage none;
    none.setModel(Model().passwordPage);
    QVERIFY(!none.enableBox()->isChecked());
    QVERIFY(none.newPasswordEdit()->text().isEmpty());
    QVERIFY(!none.newPasswordEdit()->isEnabled());
    QVERIFY(!none.confirmPasswordEdit()->isEnabled());
    QVERIFY(Find<QLabel>(&none, "newPasswordLabel")->isEnabled());

    none.enableBox()->click();
    QVERIFY(none.model().enabled);
    QVERIFY(none.newPasswordEdit()->isEnabled());
    none.newPasswordEdit()->setText("secret");
    QCOMPARE(none.model().newPassword, std::string("secret"));
    none.enableBox()->click();
    QVERIFY(!none.model().enabled);
    QVERIFY(!Find<QLabel>(&none, "newPasswordLabel")->isEnabled());
}

void TestNetworkSettingsDialog::leavingAPageRunsItsTests_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("message");
    QTest::newRow("IP address with first octet 0") << 0 << "Invalid IP Address";
    QTest::newRow("gateway 0.0.0.0") << 0 << "Invalid Gateway Address";
    QTest::newRow("mask not contiguous") << 0 << "Invalid Subnet Mask";
    QTest::newRow("HTTP off on 80, HTTPS on 80")
        << 1 << "Port numbers should not be same: HTTP and HTTPS both use port 80";
    QTest::newRow("SSH on 3478") << 1 << "Invalid port: 3478";
    QTest::newRow("HTTP on 21, Telnet on 503") << 1 << "Invalid port: 503";
    QTest::newRow("HTTP port 0") << 1 << "Please enter an integer between 1 and 65534.";
    QTest::newRow("passwords differ")
        << 2 << "New Password and Confirm Password are different. Please check again.";
    QTest::newRow("password with a blank")
        << 2 << "Password could not have space or left empty. \nPlease input a valid password.";
    QTest::newRow("all good") << 0 << "";
}

void TestNetworkSettingsDialog::leavingAPageRunsItsTests() {
    QFETCH(int, page);
    QFETCH(QString, message);
    const QString row = QString::fromUtf8(QTest::currentDataTag());

    NetworkSettingsModel model = Model();
    if (row.startsWith("IP address"))
        model.ipPage.ipAddress = 0x00A80164;
    else if (row.startsWith("gateway"))
        model.ipPage.gateway = 0;
    else if (row.startsWith("mask"))
        model.ipPage.subnetMask = 0xFFFFFFFD;
    NetworkSettingsDialog sheet;
    sheet.setModel(model);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    sheet.tabs()->setCurrentIndex(page);
    QCOMPARE(sheet.currentPage(), page);

    AdvancedPage* advanced = sheet.advancedPage();
    PasswordPage* password = sheet.passwordPage();
    if (row.startsWith("HTTP off")) {
        advanced->checkBox(ServiceKind::Http)->click();
        advanced->portEdit(ServiceKind::Https)->setText("80");
    } else if (row.startsWith("SSH")) {
        advanced->portEdit(ServiceKind::Ssh)->setText("3478");
    } else if (row.startsWith("HTTP on 21")) {
        advanced->portEdit(ServiceKind::Http)->setText("21");
        advanced->portEdit(ServiceKind::Telnet)->setText("503");
    } else if (row.startsWith("HTTP port 0")) {
        advanced->portEdit(ServiceKind::Http)->setText("0");
    } else if (row.startsWith("passwords")) {
        password->enableBox()->click();
        password->newPasswordEdit()->setText("one");
        password->confirmPasswordEdit()->setText("two");
    } else if (row.startsWith("password with")) {
        password->enableBox()->click();
        password->newPasswordEdit()->setText("a b");
        password->confirmPasswordEdit()->setText("a b");
    }

    BoxAnswerer boxes;
    const int target = (page + 1) % 3;
    QTest::mouseClick(sheet.tabs()->tabBar(), Qt::LeftButton, {},
                      sheet.tabs()->tabBar()->tabRect(target).center());
    if (message.isEmpty()) {
        QCOMPARE(sheet.currentPage(), target);
        QVERIFY(boxes.texts.isEmpty());
    } else {
        QTRY_COMPARE(boxes.texts, QStringList{message});
        QCOMPARE(sheet.currentPage(), page);
        QCOMPARE(sheet.tabs()->tabBar()->currentIndex(), page);
    }
}

// Pictures of the three pages for the documentation, taken when
// KORVANE_SCREENSHOT_DIR names a folder (run under Xvfb for real fonts).
void TestNetworkSettingsDialog::screenshots() {
    const QString folder = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("KORVANE_SCREENSHOT_DIR not set");
    NetworkSettingsDialog sheet;
    sheet.setModel(Model(40, AddressMode::Static, true, 1));
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    const char* names[] = {"network-settings-ip-address.png", "network-settings-advanced.png",
                           "network-settings-password.png"};
    for (int page = 0; page < 3; ++page) {
        sheet.tabs()->setCurrentIndex(page);
        QCOMPARE(sheet.currentPage(), page);
        QCoreApplication::processEvents(); // let pending layout run before the picture
        QVERIFY(sheet.grab().save(folder + "/" + names[page]));
    }
}

QTEST_MAIN(TestNetworkSettingsDialog)
#include "test_network_settings_dialog.moc"

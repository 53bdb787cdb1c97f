#include "dialogs/ip_address_page.hpp"

#include "bridge/message_box.hpp"
#include "widgets/ip_address_edit.hpp"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace korvane::ui {

namespace {
constexpr std::uint32_t kUsualSubnetMask = 0xFFFFFF00; // 255.255.255.0

QLabel* label(const char* text, const char* name, QWidget* parent) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(QString::fromUtf8(name));
    return l;
}
} // namespace

IpAddressPage::IpAddressPage(QWidget* parent) : SettingsPage(parent) {
    setObjectName(QStringLiteral("ipAddressPage"));
    setWindowTitle(QStringLiteral("IP Address"));

    auto* modeGroup = new QGroupBox(QStringLiteral("Address Configuration"), this);
    modeGroup->setObjectName(QStringLiteral("addressConfigurationGroup"));
    dhcp_ = new QRadioButton(QStringLiteral("Obtain IP address by &DHCP"), modeGroup);
    dhcp_->setObjectName(QStringLiteral("dhcpRadio"));
    bootp_ = new QRadioButton(QStringLiteral("Obtain IP address by &BOOTP"), modeGroup);
    bootp_->setObjectName(QStringLiteral("bootpRadio"));
    static_ = new QRadioButton(QStringLiteral("Use following S&tatic IP address"), modeGroup);
    static_->setObjectName(QStringLiteral("staticRadio"));
    auto* modes = new QVBoxLayout(modeGroup);
    modes->addWidget(dhcp_);
    modes->addWidget(bootp_);
    modes->addWidget(static_);

    addressGroup_ = new QGroupBox(QStringLiteral("IP Address"), this);
    addressGroup_->setObjectName(QStringLiteral("ipAddressGroup"));
    ipLabel_ = label("&IP Address:", "ipAddressLabel", addressGroup_);
    maskLabel_ = label("&Subnet Mask:", "subnetMaskLabel", addressGroup_);
    gatewayLabel_ = label("&Gateway:", "gatewayLabel", addressGroup_);
    ip_ = new IpAddressEdit(addressGroup_);
    ip_->setObjectName(QStringLiteral("ipAddressEdit"));
    mask_ = new IpAddressEdit(addressGroup_);
    mask_->setObjectName(QStringLiteral("subnetMaskEdit"));
    gateway_ = new IpAddressEdit(addressGroup_);
    gateway_->setObjectName(QStringLiteral("gatewayEdit"));
    ip_->setAccessibleLabel(QStringLiteral("IP Address"));
    mask_->setAccessibleLabel(QStringLiteral("Subnet Mask"));
    gateway_->setAccessibleLabel(QStringLiteral("Gateway"));
    ipLabel_->setBuddy(ip_);
    maskLabel_->setBuddy(mask_);
    gatewayLabel_->setBuddy(gateway_);
    auto* grid = new QGridLayout(addressGroup_);
    grid->setColumnStretch(2, 1);
    grid->addWidget(ipLabel_, 0, 0);
    grid->addWidget(ip_, 0, 1);
    grid->addWidget(maskLabel_, 1, 0);
    grid->addWidget(mask_, 1, 1);
    grid->addWidget(gatewayLabel_, 2, 0);
    grid->addWidget(gateway_, 2, 1);

    auto* column = new QVBoxLayout(this);
    column->addWidget(modeGroup);
    column->addWidget(addressGroup_);
    column->addStretch(1);

    connect(dhcp_, &QRadioButton::clicked, this, &IpAddressPage::dhcpClicked);
    connect(bootp_, &QRadioButton::clicked, this, &IpAddressPage::bootpClicked);
    connect(static_, &QRadioButton::clicked, this, &IpAddressPage::staticClicked);
    connect(ip_, &IpAddressEdit::addressChanged, this,
            [this] { controlChanged(ip_, model_.ipAddress); });
    connect(mask_, &IpAddressEdit::addressChanged, this,
            [this] { controlChanged(mask_, model_.subnetMask); });
    connect(gateway_, &IpAddressEdit::addressChanged, this,
            [this] { controlChanged(gateway_, model_.gateway); });
    // An empty mask proposes the usual one as soon as the operator goes to it.
    connect(mask_, &IpAddressEdit::focusEntered, this, [this] {
        if (mask_->address() == 0)
            mask_->setAddress(kUsualSubnetMask);
    });
}

void IpAddressPage::setModel(const IpAddressPageModel& model) {
    model_ = model;
    initialise();
}

void IpAddressPage::initialise() {
    initialising_ = true;
    setAddressPartEnabled(true);
    bootp_->setEnabled(model_.bootpAvailable());
    switch (model_.mode) {
    case AddressMode::Bootp:
        showAddresses(true);
        ip_->setEnabled(false);
        mask_->setEnabled(false);
        gateway_->setEnabled(false);
        radioIndex_ = kRadioBootp;
        bootp_->setChecked(true);
        break;
    case AddressMode::Dhcp:
        // An older device reports no mask or gateway while it uses DHCP.
        showAddresses(model_.showsMaskAndGateway());
        if (!model_.showsMaskAndGateway()) {
            mask_->clear();
            gateway_->clear();
            maskLabel_->setEnabled(false);
            gatewayLabel_->setEnabled(false);
        }
        ip_->setEnabled(false);
        mask_->setEnabled(false);
        gateway_->setEnabled(false);
        radioIndex_ = kRadioDhcp;
        dhcp_->setChecked(true);
        break;
    case AddressMode::Static:
        showAddresses(true);
        radioIndex_ = kRadioStatic;
        static_->setChecked(true);
        break;
    }
    model_.firstAddress = ip_->address();
    initialising_ = false;
}

void IpAddressPage::dhcpClicked() {
    model_.mode = AddressMode::Dhcp;
    radioIndex_ = kRadioDhcp;
    dhcp_->setFocus();
    showAddresses(model_.showsMaskAndGateway());
    setAddressPartEnabled(false);
}

void IpAddressPage::bootpClicked() {
    model_.mode = AddressMode::Bootp;
    radioIndex_ = kRadioBootp;
    bootp_->setFocus();
    showAddresses(true);
    setAddressPartEnabled(false);
}

void IpAddressPage::staticClicked() {
    model_.mode = AddressMode::Static;
    radioIndex_ = kRadioStatic;
    setAddressPartEnabled(true);
    static_->setFocus();
    showAddresses(true);
}

void IpAddressPage::setAddressPartEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{addressGroup_, ipLabel_, maskLabel_,
                                                      gatewayLabel_, ip_, mask_, gateway_})
        w->setEnabled(enabled);
}

void IpAddressPage::showAddresses(bool maskAndGateway) {
    // The members go into the controls; a control's change reads back the same value.
    const IpAddressPageModel members = model_;
    ip_->setAddress(members.ipAddress);
    if (maskAndGateway) {
        mask_->setAddress(members.subnetMask);
        gateway_->setAddress(members.gateway);
    }
}

void IpAddressPage::controlChanged(IpAddressEdit* control, std::uint32_t& member) {
    if (!initialising_)
        member = control->address();
}

bool IpAddressPage::validatePage() {
    if (const auto failure = IpAddressPageTest(model_)) {
        ShowMessageBox(this, failure->message);
        return false;
    }
    if (model_.mode == AddressMode::Static) {
        model_.ipAddress = ip_->address();
        model_.subnetMask = mask_->address();
        model_.gateway = gateway_->address();
    }
    return true;
}

IpSettingsDialog::IpSettingsDialog(QWidget* parent)
    : SinglePageDialog(new IpAddressPage, QStringLiteral("ipSettingsDialog"), parent),
      page_(findChild<IpAddressPage*>()) {}

bool IpSettingsDialog::acceptPage() {
    IpAddressPageModel members = page_->model();
    if (const auto failure = IpSettingsPageOk(members)) {
        ShowMessageBox(this, failure->message);
        return false;
    }
    accepted_ = members;
    return true;
}

} // namespace korvane::ui

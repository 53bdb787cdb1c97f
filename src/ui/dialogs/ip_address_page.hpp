#pragma once

// The IP Address page: DHCP, BOOTP or a static address with subnet mask and
// gateway. The page keeps its model's members up to date as the operator
// edits, enables its controls by the mode, the device's settings version
// and model letter, and runs the address tests when it is left. Shown alone
// (CIpSettingsDlg) it is the IP Settings dialog.

#include "config/settings_model.hpp"
#include "dialogs/property_page.hpp"

#include <QDialog>

class QGroupBox;
class QLabel;
class QRadioButton;

namespace korvane::ui {

class CIpAddressCtrl;

class CIpAddressPage : public CPropertyPage {
    Q_OBJECT

  public:
    enum Radio : int { kRadioDhcp = 0, kRadioBootp = 1, kRadioStatic = 2 };

    explicit CIpAddressPage(QWidget* parent = nullptr);

    // Puts the members in and initialises the controls from them.
    void setModel(const IpAddressPageModel& model);
    const IpAddressPageModel& model() const { return model_; }
    // -1 until the page was initialised.
    int radioIndex() const { return radioIndex_; }

    bool OnKillActive() override;

  private:
    void initialise();
    void dhcpClicked();
    void bootpClicked();
    void staticClicked();
    void setAddressPartEnabled(bool enabled);
    void showAddresses(bool maskAndGateway);
    void controlChanged(CIpAddressCtrl* control, std::uint32_t& member);

    IpAddressPageModel model_;
    int radioIndex_ = -1;
    bool initialising_ = false;

    QRadioButton* dhcp_;
    QRadioButton* bootp_;
    QRadioButton* static_;
    QGroupBox* addressGroup_;
    QLabel* ipLabel_;
    QLabel* maskLabel_;
    QLabel* gatewayLabel_;
    CIpAddressCtrl* ip_;
    CIpAddressCtrl* mask_;
    CIpAddressCtrl* gateway_;
};

// The page alone as a modal dialog (the factory's IP Settings). Its OK runs
// the page's own rules for that use and stays open on a refusal.
class CIpSettingsDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CIpSettingsDlg(QWidget* parent = nullptr);

    CIpAddressPage* page() const { return page_; }
    void setModel(const IpAddressPageModel& model) { page_->setModel(model); }
    // The members as OK left them.
    const IpAddressPageModel& model() const { return accepted_; }

    void accept() override;

  private:
    CIpAddressPage* page_;
    IpAddressPageModel accepted_;
};

} // namespace korvane::ui

#pragma once

// The IP Address page: DHCP, BOOTP or a static address with subnet mask and
// gateway. The page keeps its model's members up to date as the operator
// edits, enables its controls by the mode, the device's settings version
// and model letter, and runs the address tests when it is left. Shown alone
// (IpSettingsDialog) it is the IP Settings dialog.

#include "config/settings_model.hpp"
#include "dialogs/settings_page.hpp"
#include "dialogs/single_page_dialog.hpp"

class QGroupBox;
class QLabel;
class QRadioButton;

namespace korvane::ui {

class IpAddressEdit;

class IpAddressPage : public SettingsPage {
    Q_OBJECT

  public:
    enum Radio : int { kRadioDhcp = 0, kRadioBootp = 1, kRadioStatic = 2 };

    explicit IpAddressPage(QWidget* parent = nullptr);

    // Puts the members in and initialises the controls from them.
    void setModel(const IpAddressPageModel& model);
    const IpAddressPageModel& model() const { return model_; }
    // -1 until the page was initialised.
    int radioIndex() const { return radioIndex_; }

    bool validatePage() override;

  private:
    void initialise();
    void dhcpClicked();
    void bootpClicked();
    void staticClicked();
    void setAddressPartEnabled(bool enabled);
    void showAddresses(bool maskAndGateway);
    void controlChanged(IpAddressEdit* control, std::uint32_t& member);

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
    IpAddressEdit* ip_;
    IpAddressEdit* mask_;
    IpAddressEdit* gateway_;
};

// The page alone as a modal dialog (the factory's IP Settings). Its OK runs
// the page's own rules for that use and stays open on a refusal.
class IpSettingsDialog : public SinglePageDialog {
    Q_OBJECT

  public:
    explicit IpSettingsDialog(QWidget* parent = nullptr);

    IpAddressPage* page() const { return page_; }
    void setModel(const IpAddressPageModel& model) { page_->setModel(model); }
    // The members as OK left them.
    const IpAddressPageModel& model() const { return accepted_; }

  protected:
    bool acceptPage() override;

  private:
    IpAddressPage* page_;
    IpAddressPageModel accepted_;
};

} // namespace korvane::ui

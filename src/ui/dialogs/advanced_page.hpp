#pragma once

// The Advanced page: the HTTP, HTTPS, Telnet and SSH services, each with a
// check box, a label and a digits-only port edit. The page keeps its
// model's members up to date, enables the controls by the device's settings
// version and the services it has, and tests the ports when it is left.

#include "config/settings_model.hpp"
#include "dialogs/settings_page.hpp"

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace korvane::ui {

class AdvancedPage : public SettingsPage {
    Q_OBJECT

  public:
    explicit AdvancedPage(QWidget* parent = nullptr);

    // Puts the members in and initialises the controls from them.
    void setModel(const AdvancedPageModel& model);
    const AdvancedPageModel& model() const { return model_; }

    QCheckBox* checkBox(ServiceKind kind) const { return row(kind).check; }
    QLineEdit* portEdit(ServiceKind kind) const { return row(kind).edit; }
    QLabel* portLabel(ServiceKind kind) const { return row(kind).label; }

    bool validatePage() override;

  private:
    struct Row {
        QCheckBox* check = nullptr;
        QLabel* label = nullptr;
        QLineEdit* edit = nullptr;
    };
    const Row& row(ServiceKind kind) const { return rows_[static_cast<std::size_t>(kind)]; }

    void initialise();
    void boxClicked(ServiceKind kind, bool on);
    void editChanged(ServiceKind kind);
    void setPortText(ServiceKind kind, int port);

    AdvancedPageModel model_;
    std::array<Row, 4> rows_{}; // by ServiceKind
    bool settingText_ = false;
};

} // namespace korvane::ui

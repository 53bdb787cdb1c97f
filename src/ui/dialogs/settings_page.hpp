#pragma once

// A page of a property sheet. A page tests its input when the operator
// leaves it for another tab; a refusal keeps it showing.

#include <QWidget>

namespace korvane::ui {

class SettingsPage : public QWidget {
    Q_OBJECT

  public:
    using QWidget::QWidget;
    ~SettingsPage() override;

    // Leaving the page: false keeps it active (the page has said why).
    virtual bool validatePage() { return true; }
};

} // namespace korvane::ui

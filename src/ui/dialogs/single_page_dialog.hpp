#pragma once

// A settings page shown alone as a modal dialog with OK and Cancel (the
// factory's IP Settings and Set Password). OK runs the dialog's check and
// keeps the dialog open, with all input, on a refusal.

#include "dialogs/settings_page.hpp"

#include <QDialog>

namespace korvane::ui {

class SinglePageDialog : public QDialog {
    Q_OBJECT

  public:
    // Takes `page` as its child; the caption is the page's title.
    SinglePageDialog(SettingsPage* page, const QString& objectName, QWidget* parent = nullptr);

    void accept() override;

  protected:
    // OK's check: by default the page's own, as when it is left in the sheet.
    virtual bool acceptPage();

  private:
    SettingsPage* page_;
};

} // namespace korvane::ui

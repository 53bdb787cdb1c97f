#pragma once

// The About box: icon, name and version, a notice line and the maker's
// web link.

#include <QDialog>

namespace korvane::ui {

class CLinkLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    CLinkLabel* link() const { return link_; }

  private:
    CLinkLabel* link_;
};

} // namespace korvane::ui

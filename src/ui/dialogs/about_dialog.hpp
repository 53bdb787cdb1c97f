#pragma once

// The About box: icon, name and version, a notice line and the maker's
// web link.

#include <QDialog>

namespace korvane::ui {

class LinkLabel;

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent = nullptr);

    LinkLabel* link() const { return link_; }

  private:
    LinkLabel* link_;
};

} // namespace korvane::ui

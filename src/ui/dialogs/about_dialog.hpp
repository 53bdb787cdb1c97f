#pragma once

// The About box: icon, name and version, a notice line and, when the build
// names one, the maker's web link.

#include <QDialog>

namespace korvane::ui {

class LinkLabel;

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    // With the maker's address the build configured.
    explicit AboutDialog(QWidget* parent = nullptr);
    // With `makerAddress`; empty: no link is shown.
    AboutDialog(const QString& makerAddress, QWidget* parent);

    LinkLabel* link() const { return link_; }

  private:
    LinkLabel* link_;
};

} // namespace korvane::ui

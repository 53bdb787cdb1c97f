#pragma once

// "Network Adapter": which adapters the searches go over. The first row is
// "All network adapters" (the default); then the machine's adapters by
// description, one row each in enumeration order. The row of the current
// choice starts selected; OK (or a double click) confirms the selected row.

#include "link/packet_driver.hpp"

#include <QDialog>

#include <vector>

class QPushButton;
class QTreeWidget;

namespace korvane::ui {

class NetworkAdapterDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr char kAllAdaptersText[] = "All network adapters";

    // `chosen` is the name of the adapter chosen so far; empty: all of them.
    explicit NetworkAdapterDialog(const std::vector<AdapterInfo>& adapters,
                                  const QString& chosen = {}, QWidget* parent = nullptr);

    // The confirmed row's adapter name, empty for all adapters; until a row
    // is confirmed, the choice the dialog started with.
    QString chosenAdapter() const { return chosen_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void updateOk();

    QTreeWidget* list_;
    QPushButton* ok_;
    QString chosen_;
};

} // namespace korvane::ui

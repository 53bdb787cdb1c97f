#pragma once

// "Network Adapter": the machine's adapters by description, one row each in
// enumeration order. OK (or a double click) confirms the selected row.

#include <QDialog>

#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace korvane::ui {

class NetworkAdapterDialog : public QDialog {
    Q_OBJECT

  public:
    explicit NetworkAdapterDialog(const std::vector<std::string>& descriptions,
                                QWidget* parent = nullptr);

    // The confirmed row; 0 until a row was confirmed.
    int selectedAdapter() const { return selected_; }
    QTreeWidget* list() const { return list_; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void updateOk();

    QTreeWidget* list_;
    QPushButton* ok_;
    int selected_ = 0;
};

} // namespace korvane::ui

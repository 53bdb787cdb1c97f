#pragma once

// The small caption-less popup shown over the main window while it closes
// and waits for a running search to stop.

#include <QDialog>

class QLabel;

namespace korvane::ui {

class ClosingPopup : public QDialog {
    Q_OBJECT

  public:
    explicit ClosingPopup(QWidget* parent);

    QLabel* text() const { return text_; }
    // Shows the popup centred over its parent.
    void showCentred();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* text_;
};

} // namespace korvane::ui

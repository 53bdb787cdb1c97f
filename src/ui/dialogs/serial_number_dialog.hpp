#pragma once

// "Set Serial Number": one edit for the serial number and no buttons: Enter
// confirms, Escape or the close box cancels.

#include <QDialog>

class QLineEdit;

namespace korvane::ui {

class SerialNumberDialog : public QDialog {
    Q_OBJECT

  public:
    explicit SerialNumberDialog(QWidget* parent = nullptr);

    void setText(const QString& text);
    // The text as confirmed (at most 18 characters).
    QString text() const;
    QLineEdit* edit() const { return edit_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QLineEdit* edit_;
};

} // namespace korvane::ui

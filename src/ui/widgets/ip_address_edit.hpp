#pragma once

// An IPv4 address entry in four octet fields, as desktop address controls
// work: digits only, at most three to a field and never above 255, the next
// field after the third digit or a '.', arrows and Backspace crossing into
// the neighbouring field at a field's edge. A blank field reads as 0, so a
// blank control reads as 0.0.0.0.

#include <QFrame>

#include <array>
#include <cstdint>

class QLineEdit;

namespace korvane::ui {

class IpAddressEdit : public QFrame {
    Q_OBJECT

  public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // First octet in the most significant byte.
    std::uint32_t address() const;
    void setAddress(std::uint32_t address);
    // Every field blank.
    void clear();
    bool isBlank() const;
    // "a.b.c.d", blank fields as 0.
    QString text() const;
    // The control's name for a screen reader, and its fields' ("IP Address,
    // octet 1 of 4").
    void setAccessibleLabel(const QString& name);

    QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  Q_SIGNALS:
    // A field's text changed, by typing or by setAddress/clear (once for those).
    void addressChanged();
    // The focus came into the control from outside it.
    void focusEntered();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int indexOf(const QObject* object) const;
    void fieldEdited(int index);
    void moveTo(int index, bool selectAll, bool atEnd);

    std::array<QLineEdit*, 4> fields_{};
    bool settingText_ = false;
};

} // namespace korvane::ui

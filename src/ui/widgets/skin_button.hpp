#pragma once

// A push button drawn entirely from pictures: resting, pressed, hover and
// disabled. It follows the pointer itself (the hover picture while the
// pointer is over it, the pressed picture only while a press stays on it),
// always shows the pointing hand, and paints nothing but its picture, so
// the picture sits straight on the skinned window behind it. With the
// keyboard focus it shows a focus frame, and Space or Enter presses it
// (Enter before any window shortcut on that key).

#include "skin/skin_library.hpp"

#include <QAbstractButton>
#include <QColor>
#include <QPointer>

namespace korvane::ui {

class SkinButton : public QAbstractButton {
    Q_OBJECT

  public:
    // Which picture the last paint used; for tests and diagnostics.
    enum class Picture { None, Resting, Pressed, Hover, Disabled, ButtonFace };

    explicit SkinButton(QWidget* parent = nullptr);
    ~SkinButton() override;

    // The pictures of the button's states. A null disabled picture lets the
    // resting picture, dimmed, serve as the disabled one; a negative focus
    // inset is stored as 0. Does not repaint.
    void setStatePictures(const skin::SkinPicture& resting, const skin::SkinPicture& pressed,
                          const skin::SkinPicture& hover, const skin::SkinPicture& disabled,
                          qint16 border, qint16 focusInset);

    // The caption (text()) centred in `color`, its mnemonic underlined;
    // without this the caption is drawn as the classic buttons placed it.
    void setCaptionColor(const QColor& color);

    bool isHovering() const { return hovering_; }
    bool isButtonDown() const { return buttonDown_; }
    Picture lastPicture() const { return lastPicture_; }
    qint16 focusInset() const { return focusInset_; }

    QSize sizeHint() const override;

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void drawCaption(QPainter& painter, const QPoint& at, const QColor& color) const;
    void updateCursorShield();

    skin::SkinPicture resting_;
    skin::SkinPicture pressed_;
    skin::SkinPicture hover_;
    skin::SkinPicture disabled_;
    qint16 border_ = 0;
    qint16 focusInset_ = 0;
    QColor textColor_;
    bool centredCaption_ = false;
    bool dimRestingWhenDisabled_ = false;
    bool hovering_ = false;
    bool buttonDown_ = false;
    Picture lastPicture_ = Picture::None;
    // Qt shows the cursor of the nearest enabled ancestor over a disabled
    // widget; this transparent sibling keeps the hand over a disabled button.
    QPointer<QWidget> cursorShield_;
};

} // namespace korvane::ui

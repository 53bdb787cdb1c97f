#pragma once

// Stand-ins that show the skin and the custom controls before the device
// core drives them: the main window's face with sample rows, and a sheet
// of every button picture.

#include "skin/skin_library.hpp"

#include <QWidget>

class QStandardItemModel;

namespace korvane::ui {

class CListCtrlCl;
class CSkinButton;

class SkinPreview : public QWidget {
    Q_OBJECT

  public:
    explicit SkinPreview(QWidget* parent = nullptr);

    CListCtrlCl* list() const { return list_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    skin::SkinPicture background_;
    CListCtrlCl* list_;
    QStandardItemModel* rows_;
};

// Every button in its resting, hover, pressed and disabled picture, on the
// rail's colours.
class ButtonSheet : public QWidget {
    Q_OBJECT

  public:
    explicit ButtonSheet(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace korvane::ui

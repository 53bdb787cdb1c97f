#pragma once

// Dialog units: dialog templates give positions in units of a quarter of
// the dialog font's average character width and an eighth of its height,
// so a dialog keeps its proportions whatever font it is shown in.

#include <QFont>
#include <QRect>
#include <QSize>

namespace korvane::ui {

struct DluRect {
    int x;
    int y;
    int width;
    int height;
};

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }
    int toPixelsX(int dlu) const;
    int toPixelsY(int dlu) const;
    QRect toPixels(const DluRect& r) const;
    QSize toPixels(const QSize& dlu) const;

  private:
    int baseX_;
    int baseY_;
};

} // namespace korvane::ui

#pragma once

// The skin's pictures: our own vector artwork (SVG in the resources, colours
// from skin_palette.hpp) handed out as SkinPicture objects that render
// themselves at whatever size and device pixel ratio they are drawn at, so
// a 158 x 84 button is as sharp on a 2x screen as on a 1x one.

#include <QByteArray>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QSize>

#include <memory>
#include <vector>

class QPainter;

namespace korvane::ui::skin {

// The numbers the main window knows its pictures by.
enum BitmapId : int {
    kNoBitmap = 0,
    kBackground = 176,
    kRefreshHover = 184,
    kRefreshResting = 185,
    kLaunchResting = 188,
    kLaunchHover = 189,
    kAboutResting = 190,
    kAboutHover = 191,
    kSettingsResting = 192,
    kSettingsHover = 193,
    kFirmwareResting = 194,
    kFirmwareHover = 195,
    kAboutPressed = 205,
    kSettingsPressed = 206,
    kFirmwarePressed = 207,
    kLaunchPressed = 208,
    kRefreshPressed = 209,
};

inline constexpr QSize kBackgroundDesignSize{801, 601};
inline constexpr QSize kButtonDesignSize{158, 84};

// A picture that is always drawn whole, stretched onto its target
// rectangle. Copies share the artwork and its last rendering.
class SkinPicture {
  public:
    SkinPicture() = default;
    static SkinPicture fromSvg(const QByteArray& svg);
    static SkinPicture fromImage(const QImage& image);

    bool isNull() const { return !data_; }
    QSize designSize() const;

    // Renders at the painter's device pixel ratio, so no bitmap is scaled
    // up after the fact; an image picture is scaled smoothly.
    void draw(QPainter& painter, const QRect& target) const;
    // The picture at `logicalSize` for a device of ratio `dpr`.
    QImage render(const QSize& logicalSize, qreal dpr) const;

  private:
    struct Data;
    std::shared_ptr<Data> data_;
};

// The picture for a main-window bitmap number; a null picture for 0 or an
// unknown number.
SkinPicture LoadBitmap(int id);
// The face of a button that draws its own caption (the factory buttons),
// in the operation buttons' colours.
enum class PlainButtonState { Resting, Pressed, Hover };
SkinPicture PlainButtonPicture(PlainButtonState state);
// The SVG text behind a bitmap number after the palette and the button's
// caption were filled in; empty for 0 or an unknown number.
QByteArray ArtworkSource(int id);
// The SVG text of the application icon.
QByteArray IconSource();
// The SVG text of a plain button's face.
QByteArray PlainButtonSource(PlainButtonState state);
// Every SVG text the skin renders: the bitmaps, the plain button's faces and
// the icon. A build without Qt SVG (Windows) gets them drawn ahead of time,
// by korvane-skin-render, as PNG files named by PrerenderedName().
std::vector<QByteArray> AllSkinSources();
QString PrerenderedName(const QByteArray& svg);
// How many pixels per design pixel a picture is drawn ahead of time with.
inline constexpr int kPrerenderScale = 2;

// The application icon at the usual sizes.
QIcon AppIcon();
// The icon at `logicalSize` for a device of ratio `dpr`.
QPixmap AppIconPixmap(int logicalSize, qreal dpr);

// Font sizes of the product's look, given as cell heights (ascent plus
// descent, in pixels) the way the original design states them.
inline constexpr int kRowFontHeight = 15;
inline constexpr int kPaneFontHeight = 15;
inline constexpr int kLabelFontHeight = 17;
inline constexpr int kHeaderTitleFontHeight = 18;

// Arial (Liberation Sans where Arial is not installed, it has Arial's
// metrics) with the largest pixel size whose cell fits `cellHeight`. Qt's
// pixel size is the em size, which is smaller than the cell.
QFont ProductFont(int cellHeight, bool bold = true);

} // namespace korvane::ui::skin

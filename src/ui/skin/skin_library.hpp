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

// The skin's artwork: the window's background and the five operation
// buttons, each button in three faces.
enum class Artwork { Background, Launch, Settings, Firmware, About, Refresh };
inline constexpr Artwork kButtonArtwork[] = {Artwork::Launch, Artwork::Settings, Artwork::Firmware,
                                             Artwork::About, Artwork::Refresh};
enum class ButtonFace { Resting, Pressed, Hover };
inline constexpr ButtonFace kButtonFaces[] = {ButtonFace::Resting, ButtonFace::Pressed,
                                              ButtonFace::Hover};

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

// A picture of the artwork; `face` picks a button's face (the background
// has one).
SkinPicture LoadPicture(Artwork artwork, ButtonFace face = ButtonFace::Resting);
// The face of a button that draws its own caption (the factory buttons),
// in the operation buttons' colours.
SkinPicture PlainButtonPicture(ButtonFace face);
// The SVG text behind a picture after the palette and the button's caption
// were filled in.
QByteArray ArtworkSource(Artwork artwork, ButtonFace face = ButtonFace::Resting);
// The SVG text of the application icon.
QByteArray IconSource();
// The SVG text of a plain button's face.
QByteArray PlainButtonSource(ButtonFace face);
// Every SVG text the skin renders: the artwork, the plain button's faces and
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

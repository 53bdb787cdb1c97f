#pragma once

// Every colour the utility paints with, named by what it is for. The SVG
// artwork refers to these through {{token}} placeholders (kSvgPalette) so a
// shade changes here and nowhere else. Colours the device list, the link and
// the information pane use are fixed by the product's look and kept as they
// are; the skin's own shades were chosen to sit around them.

#include <QRgb>

#include <array>
#include <string_view>

namespace korvane::ui::skin {

namespace palette {

// Window background and the left rail that carries the five buttons.
inline constexpr QRgb kWindowTop = qRgb(0xF5, 0xF8, 0xFC);
inline constexpr QRgb kWindowBottom = qRgb(0xD9, 0xE2, 0xEC);
inline constexpr QRgb kRailTop = qRgb(0x1A, 0x3A, 0x5C);
inline constexpr QRgb kRailBottom = qRgb(0x0B, 0x1D, 0x31);
inline constexpr QRgb kRailEdge = qRgb(0x3A, 0x78, 0xAD);
inline constexpr QRgb kRailText = qRgb(0x86, 0xA2, 0xBE);
inline constexpr QRgb kShadow = qRgb(0x06, 0x14, 0x24);

// Banner above the device panel.
inline constexpr QRgb kBrandInk = qRgb(0x13, 0x2F, 0x4D);
inline constexpr QRgb kBrandAccent = qRgb(0x1A, 0x8C, 0xD0);
inline constexpr QRgb kBannerText = qRgb(0x56, 0x68, 0x7C);
inline constexpr QRgb kMotifLine = qRgb(0xA9, 0xBE, 0xD3);
inline constexpr QRgb kMotifNode = qRgb(0x7F, 0xB4, 0xDE);

// Application icon tile.
inline constexpr QRgb kIconTileTop = qRgb(0x2B, 0x86, 0xC8);
inline constexpr QRgb kIconTileBottom = qRgb(0x12, 0x35, 0x5C);
inline constexpr QRgb kIconNode = qRgb(0x8A, 0xDB, 0xFA);
inline constexpr QRgb kIconLink = qRgb(0xFF, 0xFF, 0xFF);

// Operation buttons, one set of shades per picture.
inline constexpr QRgb kButtonRestingTop = qRgb(0x2A, 0x59, 0x87);
inline constexpr QRgb kButtonRestingBottom = qRgb(0x1C, 0x40, 0x66);
inline constexpr QRgb kButtonHoverTop = qRgb(0x34, 0x72, 0xAC);
inline constexpr QRgb kButtonHoverBottom = qRgb(0x23, 0x54, 0x88);
inline constexpr QRgb kButtonPressedTop = qRgb(0x11, 0x2C, 0x48);
inline constexpr QRgb kButtonPressedBottom = qRgb(0x1A, 0x3E, 0x63);
inline constexpr QRgb kButtonBorder = qRgb(0x08, 0x17, 0x28);
inline constexpr QRgb kButtonRing = qRgb(0x62, 0xCB, 0xF6);
inline constexpr QRgb kButtonCaption = qRgb(0xFF, 0xFF, 0xFF);
inline constexpr QRgb kButtonGlyph = qRgb(0x86, 0xD6, 0xF8);
inline constexpr QRgb kButtonGlyphHover = qRgb(0xFF, 0xFF, 0xFF);
inline constexpr QRgb kButtonBadge = qRgb(0xFF, 0xFF, 0xFF);

// Device panel the main window draws over the background.
inline constexpr QRgb kPanelFill = qRgb(0xFF, 0xFF, 0xFF);
inline constexpr QRgb kPanelOutline = qRgb(0x00, 0x00, 0x00);
inline constexpr QRgb kPanelLabel = qRgb(0x00, 0x00, 0x00);
inline constexpr QRgb kPaneText = qRgb(47, 47, 47);

// Device list and its header.
inline constexpr QRgb kListText = qRgb(47, 47, 47);
inline constexpr QRgb kListSelection = qRgb(165, 165, 165);
inline constexpr QRgb kListBackground = qRgb(255, 255, 255);
inline constexpr QRgb kHeaderBackground = qRgb(255, 255, 255);
inline constexpr QRgb kHeaderBandStart = qRgb(255, 255, 255);
inline constexpr QRgb kHeaderTitle = qRgb(0, 0, 0);

// Hyperlink label.
inline constexpr QRgb kLink = qRgb(0, 0, 238);
inline constexpr QRgb kLinkVisited = qRgb(85, 26, 139);
inline constexpr QRgb kLinkHover = qRgb(255, 0, 0);

// Popup shown while the window closes.
inline constexpr QRgb kClosingPopup = qRgb(169, 189, 213);

} // namespace palette

struct PaletteToken {
    std::string_view name;
    QRgb rgb;
};

// The names the artwork uses, written {{name}} inside the SVG files.
inline constexpr std::array kSvgPalette = {
    PaletteToken{"window-top", palette::kWindowTop},
    PaletteToken{"window-bottom", palette::kWindowBottom},
    PaletteToken{"rail-top", palette::kRailTop},
    PaletteToken{"rail-bottom", palette::kRailBottom},
    PaletteToken{"rail-edge", palette::kRailEdge},
    PaletteToken{"rail-text", palette::kRailText},
    PaletteToken{"shadow", palette::kShadow},
    PaletteToken{"brand-ink", palette::kBrandInk},
    PaletteToken{"brand-accent", palette::kBrandAccent},
    PaletteToken{"banner-text", palette::kBannerText},
    PaletteToken{"motif-line", palette::kMotifLine},
    PaletteToken{"motif-node", palette::kMotifNode},
    PaletteToken{"icon-tile-top", palette::kIconTileTop},
    PaletteToken{"icon-tile-bottom", palette::kIconTileBottom},
    PaletteToken{"icon-node", palette::kIconNode},
    PaletteToken{"icon-link", palette::kIconLink},
    PaletteToken{"button-border", palette::kButtonBorder},
    PaletteToken{"button-ring", palette::kButtonRing},
    PaletteToken{"button-caption", palette::kButtonCaption},
    PaletteToken{"button-badge", palette::kButtonBadge},
    PaletteToken{"panel-fill", palette::kPanelFill},
};

} // namespace korvane::ui::skin

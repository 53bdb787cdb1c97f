#pragma once

// Where things sit in the skinned main window, and the painting that goes
// under its controls: the background stretched over the client area, the
// white device panel with its black rounded outline and the panel's label.

#include "skin/skin_library.hpp"

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>

#include <array>

class QPainter;

namespace korvane::ui::skin {

inline constexpr QSize kClientSize{800, 600};

inline constexpr int kButtonX = 32;
// Launch Device, Settings, Upgrade Firmware, About, Refresh.
inline constexpr std::array<int, 5> kButtonY = {35, 145, 255, 365, 475};

// The device panel, drawn as a rounded rectangle with 10 x 10 corners.
inline constexpr QRect kPanelRect{QPoint(240, 200), QPoint(749, 537)};
inline constexpr QSize kPanelCorner{10, 10};
inline constexpr QPoint kPanelLabelAt{250, 414};

inline constexpr QPoint kPaneAt{249, 435};
inline constexpr QSize kPaneSize{300, 80};

// The device list before it is fitted to whole rows.
inline constexpr QRect kListRect{243, 216, 507, 186};
inline constexpr float kListHeaderHeightFactor = 1.5f;

// The list's place once it shows whole rows only: with header height
// `headerHeight` and row height `rowHeight`, the spare pixels below the
// last whole row move the list down and shorten it.
QRect FitListToRows(int headerHeight, int rowHeight);

// The list's outline: rounded top corners (20 x 20 ellipses), the bottom
// edge cut straight by reaching 28 pixels below the list.
QRegion ListRegion(const QSize& listSize);

// Background, panel and label, scaled from the 800 x 600 layout to `client`.
void PaintMainBackground(QPainter& painter, const QRect& client, const SkinPicture& background);

} // namespace korvane::ui::skin

#pragma once

// What a SkinPicture holds, shared by its two ways of being made from SVG
// text: drawn live with Qt SVG (skin_picture_svg.cpp), or drawn ahead of
// time into a PNG (skin_picture_prerendered.cpp, for builds without Qt SVG).

#include "skin/skin_library.hpp"

#include <QImage>
#include <QPainter>
#include <QRectF>

#include <functional>

namespace korvane::ui::skin {

struct SkinPicture::Data {
    QSize designSize;
    // Draws the vector artwork into a rectangle; empty for a bitmap.
    std::function<void(QPainter&, const QRectF&)> drawVector;
    QImage image;
    QImage cache; // last rendering, reused while size and ratio stay
};

} // namespace korvane::ui::skin

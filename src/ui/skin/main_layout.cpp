#include "skin/main_layout.hpp"

#include "skin/skin_palette.hpp"
#include "ui_strings.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

namespace korvane::ui::skin {

QRect FitListToRows(int headerHeight, int rowHeight) {
    if (rowHeight <= 0) {
        return kListRect;
    }
    const int spare = ((kListRect.height() - headerHeight) % rowHeight + rowHeight) % rowHeight;
    return {kListRect.left(), kListRect.top() - 2 + spare, kListRect.width(),
            kListRect.height() + 2 - spare};
}

QRegion ListRegion(const QSize& listSize) {
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0, 0, listSize.width(), listSize.height() + 28), 10, 10);
    return QRegion(outline.toFillPolygon().toPolygon());
}

void PaintMainBackground(QPainter& painter, const QRect& client, const SkinPicture& background) {
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    background.draw(painter, client);

    painter.setRenderHint(QPainter::Antialiasing);
    QPen outline(QColor(palette::kPanelOutline));
    outline.setWidth(1);
    painter.setPen(outline);
    painter.setBrush(QColor(palette::kPanelFill));
    // Half-pixel offset puts the one-pixel outline on whole pixels.
    painter.drawRoundedRect(QRectF(kPanelRect).adjusted(0.5, 0.5, -0.5, -0.5),
                            kPanelCorner.width() / 2.0, kPanelCorner.height() / 2.0);

    painter.setFont(ProductFont(kLabelFontHeight));
    painter.setPen(QColor(palette::kPanelLabel));
    painter.drawText(QRect(kPanelLabelAt, QSize(300, 40)), Qt::AlignLeft | Qt::AlignTop,
                     QString::fromUtf8(strings::kDeviceInformation));
    painter.restore();
}

} // namespace korvane::ui::skin

// Skin pictures for builds without Qt SVG: each SVG text the skin makes was
// drawn ahead of time by korvane-skin-render (from the same code, so the
// same text) into a PNG named after its hash, kPrerenderScale pixels per
// design pixel, with the design size in the PNG's "design-size" text.

#include "skin/skin_picture_data.hpp"

#include <QFile>
#include <QStringList>

// The pictures are resources of this static library (skin_png.qrc).
static void InitPrerenderedResources() {
    Q_INIT_RESOURCE(skin_png);
}

namespace korvane::ui::skin {

SkinPicture SkinPicture::fromSvg(const QByteArray& svg) {
    static const bool initialised = (InitPrerenderedResources(), true);
    Q_UNUSED(initialised);
    const QString path = QStringLiteral(":/skin-png/") + PrerenderedName(svg);
    QImage image(path);
    if (image.isNull()) {
        qWarning("skin: no picture drawn ahead of time for %s", qPrintable(path));
        return {};
    }
    const QStringList design = image.text(QStringLiteral("design-size")).split(QLatin1Char('x'));
    SkinPicture picture = fromImage(image);
    if (design.size() == 2) {
        picture.data_->designSize = QSize(design[0].toInt(), design[1].toInt());
    } else {
        picture.data_->designSize = image.size() / kPrerenderScale;
    }
    return picture;
}

} // namespace korvane::ui::skin

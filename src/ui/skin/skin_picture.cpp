#include "skin/skin_picture_data.hpp"

#include <cmath>

namespace korvane::ui::skin {

SkinPicture SkinPicture::fromImage(const QImage& image) {
    if (image.isNull()) {
        return {};
    }
    SkinPicture picture;
    picture.data_ = std::make_shared<Data>();
    picture.data_->image = image;
    picture.data_->designSize = image.size();
    return picture;
}

QSize SkinPicture::designSize() const {
    return data_ ? data_->designSize : QSize();
}

QImage SkinPicture::render(const QSize& logicalSize, qreal dpr) const {
    if (!data_ || logicalSize.isEmpty()) {
        return {};
    }
    const QSize pixels(static_cast<int>(std::ceil(logicalSize.width() * dpr)),
                       static_cast<int>(std::ceil(logicalSize.height() * dpr)));
    QImage& cache = data_->cache;
    if (cache.size() == pixels && qFuzzyCompare(cache.devicePixelRatio(), dpr)) {
        return cache;
    }
    QImage out(pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    {
        QPainter painter(&out);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (data_->drawVector) {
            data_->drawVector(painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
        } else {
            painter.drawImage(QRect(QPoint(0, 0), pixels), data_->image);
        }
    }
    out.setDevicePixelRatio(dpr);
    cache = out;
    return out;
}

void SkinPicture::draw(QPainter& painter, const QRect& target) const {
    if (!data_ || target.isEmpty()) {
        return;
    }
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.drawImage(target.topLeft(), render(target.size(), dpr));
}

} // namespace korvane::ui::skin

// Skin pictures drawn live from their SVG text with Qt SVG.

#include "skin/skin_picture_data.hpp"

#include <QSvgRenderer>

#include <memory>

namespace korvane::ui::skin {

SkinPicture SkinPicture::fromSvg(const QByteArray& svg) {
    auto renderer = std::make_shared<QSvgRenderer>(svg);
    if (!renderer->isValid()) {
        return {};
    }
    SkinPicture picture;
    picture.data_ = std::make_shared<Data>();
    picture.data_->designSize = renderer->defaultSize();
    picture.data_->drawVector = [renderer](QPainter& painter, const QRectF& target) {
        renderer->render(&painter, target);
    };
    return picture;
}

} // namespace korvane::ui::skin

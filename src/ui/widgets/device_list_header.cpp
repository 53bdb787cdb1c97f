#include "widgets/device_list_header.hpp"

#include "skin/skin_library.hpp"
#include "skin/skin_palette.hpp"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace korvane::ui {

DeviceListHeader::DeviceListHeader(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), bandStart_(skin::palette::kHeaderBandStart),
      titleFont_(skin::ProductFont(skin::kHeaderTitleFontHeight)),
      titleColor_(QColor(skin::palette::kHeaderTitle)) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionsMovable(false);
    setStretchLastSection(false);
}

void DeviceListHeader::addColumn(const QString& title, Qt::Alignment alignment) {
    titles_.append(title);
    alignments_.append(alignment & Qt::AlignHorizontal_Mask);
    viewport()->update();
}

Qt::Alignment DeviceListHeader::titleAlignment(int column) const {
    const Qt::Alignment alignment =
        column >= 0 && column < alignments_.size() ? alignments_.at(column) : Qt::AlignHCenter;
    return alignment == Qt::AlignLeft || alignment == Qt::AlignRight ? alignment : Qt::AlignHCenter;
}

void DeviceListHeader::setHeightFactor(float factor) {
    heightFactor_ = factor;
    updateGeometry();
    // The list lays its rows out below the header's size hint; tell it.
    Q_EMIT geometriesChanged();
}

void DeviceListHeader::setBand(QRgb start, int step) {
    bandStart_ = start;
    bandStep_ = step;
    viewport()->update();
}

QRgb DeviceListHeader::bandColor(int line) const {
    auto fade = [&](int component) { return std::max(0, component - bandStep_ * line); };
    return qRgb(fade(qRed(bandStart_)), fade(qGreen(bandStart_)), fade(qBlue(bandStart_)));
}

int DeviceListHeader::titleWidth(const QString& title) const {
    // The divider pixel, the inset on both sides and the text.
    return 1 + 2 * kTitleInset + QFontMetrics(titleFont_).horizontalAdvance(title);
}

QSize DeviceListHeader::sizeHint() const {
    QSize hint = QHeaderView::sizeHint();
    hint.setHeight(static_cast<int>(static_cast<float>(hint.height()) * heightFactor_));
    return hint;
}

void DeviceListHeader::paintBand(QPainter& painter, int left, int right, int top,
                                 int bottom) const {
    if (right <= left) {
        return;
    }
    for (int y = top; y <= bottom; ++y) {
        painter.fillRect(QRect(left, y, right - left, 1), QColor(bandColor(y - top)));
    }
}

void DeviceListHeader::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QRect client = viewport()->rect();
    painter.fillRect(client, QColor(skin::palette::kHeaderBackground));

    const QFontMetrics metrics(titleFont_);
    int lastRight = -1;
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (isSectionHidden(logical)) {
            continue;
        }
        // Right edge exclusive, bottom inclusive, as the band is specified.
        const int left = sectionViewportPosition(logical);
        const int right = left + sectionSize(logical);
        const int top = client.top();
        const int bottom = client.bottom() + 1;
        lastRight = right;

        // The column's leftmost pixel column stays white: the divider.
        paintBand(painter, left + 1, right, top, bottom);

        QString title;
        if (logical < titles_.size()) {
            title = titles_.at(logical);
        } else if (model() != nullptr) {
            title = model()->headerData(logical, orientation(), Qt::DisplayRole).toString();
        }
        const Qt::Alignment alignment = titleAlignment(logical);
        QRect box(QPoint(left, top), QPoint(right - 1, bottom - 1));
        if (alignment == Qt::AlignLeft) {
            box.setLeft(box.left() + kTitleInset);
        } else if (alignment == Qt::AlignRight) {
            box.setRight(box.right() - kTitleInset);
        }
        box.translate(0, (box.height() - metrics.height()) / 2);

        painter.setFont(titleFont_);
        painter.setPen(titleColor_);
        painter.drawText(box, alignment | Qt::AlignTop | Qt::TextSingleLine, title);
    }

    if (lastRight >= 0) {
        paintBand(painter, lastRight + 1, client.right() + 1, client.top(), client.bottom() + 1);
    }
}

} // namespace korvane::ui

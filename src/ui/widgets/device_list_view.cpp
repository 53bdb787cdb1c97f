#include "widgets/device_list_view.hpp"

#include "skin/skin_library.hpp"
#include "skin/skin_palette.hpp"

#include <QAbstractItemDelegate>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QPainter>

namespace korvane::ui {

namespace {

// Pixels added to the row font's cell when no row height is set.
constexpr int kRowPadding = 2;

// Paints one cell of a row: the row colour over the whole cell, then the
// text. Every cell of a row gets the same colour, so a highlighted row is
// one grey band from its first column to its last.
class DeviceRowDelegate : public QAbstractItemDelegate {
  public:
    explicit DeviceRowDelegate(DeviceListView* list) : QAbstractItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool highlighted = list_->isRowHighlighted(index);
        painter->fillRect(option.rect, QColor(highlighted ? skin::palette::kListSelection
                                                          : skin::palette::kListBackground));
        if (index.column() >= DeviceListView::kMaxDrawnColumns) {
            return;
        }
        const QRect label = option.rect.adjusted(DeviceListView::kTextInsetLeft, 0,
                                                 -DeviceListView::kTextInsetRight, 0);
        if (label.width() <= 0) {
            return;
        }
        painter->save();
        painter->setClipRect(label);
        painter->setFont(list_->rowFont());
        painter->setPen(QColor(skin::palette::kListText));
        // One line, no mnemonic processing, no ellipsis: what does not fit
        // is cut at the column.
        painter->drawText(label, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        const int width = QFontMetrics(list_->rowFont())
                              .horizontalAdvance(index.data(Qt::DisplayRole).toString());
        return {width + DeviceListView::kTextInsetLeft + DeviceListView::kTextInsetRight,
                list_->effectiveRowHeight()};
    }

  private:
    DeviceListView* list_;
};

} // namespace

DeviceListView::DeviceListView(QWidget* parent)
    : QTreeView(parent), header_(new DeviceListHeader(this)),
      rowFont_(skin::ProductFont(skin::kRowFontHeight)) {
    setHeader(header_);
    setItemDelegate(new DeviceRowDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The rows draw no focus frame; the grey band is the only marking.
    setAllColumnsShowFocus(false);
    setTextElideMode(Qt::ElideNone);
    setSortingEnabled(false);
    setAlternatingRowColors(false);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(skin::palette::kListBackground));
    colours.setColor(QPalette::Text, QColor(skin::palette::kListText));
    setPalette(colours);

    connect(header_, &QHeaderView::sectionCountChanged, this, [this] { applyColumnWidths(); });
}

void DeviceListView::addColumn(int column, const QString& title, Qt::Alignment alignment,
                               int width) {
    header_->addColumn(title, alignment);
    if (column >= 0) {
        if (columnWidths_.size() <= static_cast<std::size_t>(column)) {
            columnWidths_.resize(static_cast<std::size_t>(column) + 1, -1);
        }
        columnWidths_[static_cast<std::size_t>(column)] = width;
        applyColumnWidths();
    }
}

void DeviceListView::applyColumnWidths() {
    const int sections = header_->count();
    for (std::size_t i = 0; i < columnWidths_.size() && static_cast<int>(i) < sections; ++i) {
        if (columnWidths_[i] >= 0) {
            header_->resizeSection(static_cast<int>(i), columnWidths_[i]);
        }
    }
}

void DeviceListView::setModel(QAbstractItemModel* model) {
    QTreeView::setModel(model);
    applyColumnWidths();
}

void DeviceListView::setHeaderHeightFactor(float factor) {
    header_->setHeightFactor(factor);
}

void DeviceListView::setRowHeight(int height) {
    rowHeight_ = height;
    scheduleDelayedItemsLayout();
}

int DeviceListView::effectiveRowHeight() const {
    if (rowHeight_ > 0) {
        return rowHeight_;
    }
    return QFontMetrics(rowFont_).height() + kRowPadding;
}

void DeviceListView::setShowSelectionAlways(bool on) {
    showSelectionAlways_ = on;
    viewport()->update();
}

bool DeviceListView::isRowHighlighted(const QModelIndex& index) const {
    const QItemSelectionModel* selection = selectionModel();
    if (selection == nullptr || !index.isValid()) {
        return false;
    }
    const bool selected = selection->isRowSelected(index.row(), index.parent());
    return selected && (hasFocus() || showSelectionAlways_);
}

void DeviceListView::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void DeviceListView::focusOutEvent(QFocusEvent* event) {
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

} // namespace korvane::ui

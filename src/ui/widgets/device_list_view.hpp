#pragma once

// The device list's look: bold rows in one dark grey on white, a grey band
// for a highlighted row, texts cut at their column without an ellipsis, and
// the hand-painted DeviceListHeader above them. The rows come from any
// QAbstractItemModel (DisplayRole per column), so the device list's own
// row model reaches the screen through a thin adapter.

#include "widgets/device_list_header.hpp"

#include <QFont>
#include <QTreeView>

#include <vector>

namespace korvane::ui {

class DeviceListView : public QTreeView {
    Q_OBJECT

  public:
    // Columns after the tenth are not drawn.
    static constexpr int kMaxDrawnColumns = 10;
    // Space between a row text and its column's left and right edges.
    static constexpr int kTextInsetLeft = 5;
    static constexpr int kTextInsetRight = 1;

    explicit DeviceListView(QWidget* parent = nullptr);

    // Records the column's title and its alignment for the header, and its
    // width; columns go in from left to right. The model supplies the
    // column itself.
    void addColumn(int column, const QString& title, Qt::Alignment alignment, int width);
    void setHeaderHeightFactor(float factor);
    DeviceListHeader* listHeader() const { return header_; }

    // Row height in pixels; 0 keeps the height measured from the row font.
    void setRowHeight(int height);
    int rowHeight() const { return rowHeight_; }
    // The height rows get: the set one, or the row font's cell plus padding.
    int effectiveRowHeight() const;

    // A selected row stays highlighted when the list loses the focus.
    void setShowSelectionAlways(bool on);
    bool showSelectionAlways() const { return showSelectionAlways_; }

    // Whether the row of `index` is drawn with the selection colour.
    bool isRowHighlighted(const QModelIndex& index) const;

    const QFont& rowFont() const { return rowFont_; }

    void setModel(QAbstractItemModel* model) override;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void applyColumnWidths();

    DeviceListHeader* header_;
    QFont rowFont_;
    int rowHeight_ = 0;
    bool showSelectionAlways_ = false;
    std::vector<int> columnWidths_;
};

} // namespace korvane::ui

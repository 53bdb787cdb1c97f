#pragma once

// The device list's column header, painted by hand: every column's title
// over a band of one-pixel lines that may fade line by line, aligned by the
// column's alignment code, and the header made taller by a factor.

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QRgb>
#include <QString>
#include <QStringList>

namespace korvane::ui {

class DeviceListHeader : public QHeaderView {
    Q_OBJECT

  public:
    // Space kept between a left- or right-aligned title and its column edge.
    static constexpr int kTitleInset = 3;

    explicit DeviceListHeader(QWidget* parent = nullptr);

    // Appends the title of the next column to the right, aligned left,
    // right or centred (Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter).
    void addColumn(const QString& title, Qt::Alignment alignment);
    const QStringList& titles() const { return titles_; }
    Qt::Alignment titleAlignment(int column) const;

    // The platform's header height is multiplied by this, fraction cut off.
    void setHeightFactor(float factor);
    float heightFactor() const { return heightFactor_; }

    // Colour of each column's first band line and what each following line
    // takes off every component (never going below 0).
    void setBand(QRgb start, int step);
    // The colour of band line `line` (0 = the top line).
    QRgb bandColor(int line) const;

    const QFont& titleFont() const { return titleFont_; }
    // The width a column needs to show `title` whole, in the title font.
    int titleWidth(const QString& title) const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // Band lines from `left` (inclusive) to `right` (exclusive) for the
    // pixel rows top to bottom, both included.
    void paintBand(QPainter& painter, int left, int right, int top, int bottom) const;

    QStringList titles_;
    QList<Qt::Alignment> alignments_;
    QRgb bandStart_;
    int bandStep_ = 0;
    float heightFactor_ = 1.0f;
    QFont titleFont_;
    QColor titleColor_;
};

} // namespace korvane::ui

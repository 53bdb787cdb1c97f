// DeviceListView and DeviceListHeader, checked on what they paint: row colours by
// selection and focus, text colour and cutting, header height with its
// factor, title alignment and the band.

#include "skin/skin_palette.hpp"
#include "widgets/device_list_view.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>

using korvane::ui::DeviceListHeader;
using korvane::ui::DeviceListView;
namespace palette = korvane::ui::skin::palette;

namespace {

constexpr int kSerialWidth = 122;
constexpr int kAddressWidth = 160;

bool IsInk(QRgb pixel) {
    return qGray(pixel) < 128;
}

} // namespace

class TestDeviceListView : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void cleanup();

    void rowColourBySelectionAndFocus_data();
    void rowColourBySelectionAndFocus();
    void rowTextIsCutWithoutEllipsis();
    void headerHeightTakesTheFactor_data();
    void headerHeightTakesTheFactor();
    void titleAlignmentFollowsTheColumn_data();
    void titleAlignmentFollowsTheColumn();
    void bandFadesLineByLineAndStopsAtBlack();

  private:
    // The list's rendering, in the list's own coordinates.
    QImage render() const { return list_->grab().toImage(); }
    // A cell's rectangle in the list's coordinates.
    QRect cellRect(int row, int column) const;
    QRect headerSection(int column) const;
    void giveListFocus(bool focused);

    QWidget* window_ = nullptr;
    DeviceListView* list_ = nullptr;
    QLineEdit* other_ = nullptr;
    QStandardItemModel* rows_ = nullptr;
};

void TestDeviceListView::init() {
    window_ = new QWidget;
    auto* layout = new QVBoxLayout(window_);
    list_ = new DeviceListView(window_);
    other_ = new QLineEdit(window_);
    layout->addWidget(list_);
    layout->addWidget(other_);
    rows_ = new QStandardItemModel(0, 2, window_);
    rows_->appendRow({new QStandardItem("2801795073"), new QStandardItem("192.168.1.20")});
    rows_->appendRow({new QStandardItem("2801795112"), new QStandardItem("10.0.0.7")});
    rows_->appendRow({new QStandardItem("5"), new QStandardItem("0.0.0.0")});
    list_->setModel(rows_);
    list_->addColumn(0, " Serial Number ", Qt::AlignLeft, kSerialWidth);
    list_->addColumn(1, "IP Address", Qt::AlignLeft, kAddressWidth);
    window_->resize(420, 260);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

void TestDeviceListView::cleanup() {
    delete window_;
    window_ = nullptr;
}

QRect TestDeviceListView::cellRect(int row, int column) const {
    const QRect inViewport = list_->visualRect(rows_->index(row, column));
    return inViewport.translated(list_->viewport()->mapTo(list_, QPoint(0, 0)));
}

QRect TestDeviceListView::headerSection(int column) const {
    DeviceListHeader* header = list_->listHeader();
    const QRect section(header->sectionViewportPosition(column), 0, header->sectionSize(column),
                        header->height());
    return section.translated(header->viewport()->mapTo(list_, QPoint(0, 0)));
}

void TestDeviceListView::giveListFocus(bool focused) {
    if (focused) {
        list_->setFocus();
    } else {
        other_->setFocus();
    }
    QTRY_COMPARE(list_->hasFocus(), focused);
}

void TestDeviceListView::rowColourBySelectionAndFocus_data() {
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("focused");
    QTest::addColumn<bool>("showAlways");
    QTest::addColumn<QRgb>("expected");
    QTest::newRow("selected, focused") << true << true << false << palette::kListSelection;
    QTest::newRow("selected, not focused") << true << false << false << palette::kListBackground;
    QTest::newRow("selected, not focused, show always")
        << true << false << true << palette::kListSelection;
    QTest::newRow("not selected, focused") << false << true << true << palette::kListBackground;
}

void TestDeviceListView::rowColourBySelectionAndFocus() {
    QFETCH(bool, selected);
    QFETCH(bool, focused);
    QFETCH(bool, showAlways);
    QFETCH(QRgb, expected);

    list_->setShowSelectionAlways(showAlways);
    giveListFocus(focused);
    // Row 1 is the one looked at; when it is not selected, row 0 is.
    list_->selectionModel()->select(rows_->index(selected ? 1 : 0, 0),
                                    QItemSelectionModel::ClearAndSelect |
                                        QItemSelectionModel::Rows);

    const QImage image = render();
    for (int column = 0; column < 2; ++column) {
        const QRect cell = cellRect(1, column);
        // Left of the text inset, and at the cell's far right: no ink there.
        QCOMPARE(QColor(image.pixel(cell.left() + 2, cell.center().y())), QColor(expected));
        QCOMPARE(QColor(image.pixel(cell.right(), cell.center().y())), QColor(expected));
        // The darkest pixel of the text is the row text colour.
        QRgb darkest = qRgb(255, 255, 255);
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (qGray(image.pixel(x, y)) < qGray(darkest)) {
                    darkest = image.pixel(x, y);
                }
            }
        }
        QCOMPARE(QColor(darkest), QColor(palette::kListText));
    }
}

void TestDeviceListView::rowTextIsCutWithoutEllipsis() {
    const QString longText = "W2801795073 2801795073 2801795073 2801795073";
    rows_->item(0, 0)->setText(longText);
    const QImage image = render();
    const QRect cell = cellRect(0, 0);
    const QRect label =
        cell.adjusted(DeviceListView::kTextInsetLeft, 0, -DeviceListView::kTextInsetRight, 0);

    // What the whole text looks like at that place, with nothing cut off.
    QImage whole(image.size(), QImage::Format_ARGB32_Premultiplied);
    whole.fill(palette::kListBackground);
    {
        QPainter painter(&whole);
        painter.setFont(list_->rowFont());
        painter.setPen(QColor(palette::kListText));
        painter.drawText(QRect(label.topLeft(), QSize(2000, label.height())),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, longText);
    }
    for (int y = label.top(); y <= label.bottom(); ++y) {
        for (int x = label.left(); x <= label.right(); ++x) {
            QCOMPARE(QColor(image.pixel(x, y)), QColor(whole.pixel(x, y)));
        }
        // The pixel column right of the label is clear of the cut text.
        QCOMPARE(QColor(image.pixel(label.right() + 1, y)), QColor(palette::kListBackground));
    }
}

void TestDeviceListView::headerHeightTakesTheFactor_data() {
    QTest::addColumn<float>("factor");
    QTest::newRow("1.5") << 1.5f;
    QTest::newRow("1.3") << 1.3f;
    QTest::newRow("2") << 2.0f;
}

void TestDeviceListView::headerHeightTakesTheFactor() {
    QFETCH(float, factor);
    list_->setHeaderHeightFactor(1.0f);
    const int plain = list_->listHeader()->sizeHint().height();
    list_->setHeaderHeightFactor(factor);
    const int expected = static_cast<int>(static_cast<float>(plain) * factor);
    QCOMPARE(list_->listHeader()->sizeHint().height(), expected);
    QTRY_COMPARE(list_->listHeader()->height(), expected);
    // The rows start right below the header.
    QCOMPARE(list_->viewport()->y(), list_->listHeader()->y() + expected);
    QCOMPARE(list_->visualRect(rows_->index(0, 0)).top(), 0);
}

void TestDeviceListView::titleAlignmentFollowsTheColumn_data() {
    QTest::addColumn<Qt::Alignment>("given");
    QTest::addColumn<Qt::Alignment>("painted");
    QTest::newRow("left") << Qt::Alignment(Qt::AlignLeft) << Qt::Alignment(Qt::AlignLeft);
    QTest::newRow("right") << Qt::Alignment(Qt::AlignRight) << Qt::Alignment(Qt::AlignRight);
    QTest::newRow("centre") << Qt::Alignment(Qt::AlignHCenter) << Qt::Alignment(Qt::AlignHCenter);
    QTest::newRow("vertical only")
        << Qt::Alignment(Qt::AlignVCenter) << Qt::Alignment(Qt::AlignHCenter);
}

void TestDeviceListView::titleAlignmentFollowsTheColumn() {
    QFETCH(Qt::Alignment, given);
    QFETCH(Qt::Alignment, painted);

    DeviceListView list;
    QStandardItemModel model(1, 1);
    list.setModel(&model);
    list.addColumn(0, "Title", given, 200);
    list.resize(300, 120);
    QCOMPARE(list.listHeader()->titleAlignment(0), painted);

    const QImage image = list.grab().toImage();
    const QPoint origin = list.listHeader()->viewport()->mapTo(&list, QPoint(0, 0));
    const int left = origin.x() + list.listHeader()->sectionViewportPosition(0);
    const int right = left + list.listHeader()->sectionSize(0); // exclusive
    int first = right;
    int last = left - 1;
    for (int y = origin.y(); y < origin.y() + list.listHeader()->height(); ++y) {
        for (int x = left; x < right; ++x) {
            if (IsInk(image.pixel(x, y))) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    QVERIFY2(last >= first, "the title was not painted");
    // Glyph side bearings add a pixel or so to the inset.
    const int leftGap = first - left;
    const int rightGap = right - 1 - last;
    if (painted == Qt::AlignLeft) {
        QVERIFY2(leftGap >= 3 && leftGap <= 5, qPrintable(QString::number(leftGap)));
    } else if (painted == Qt::AlignRight) {
        QVERIFY2(rightGap >= 3 && rightGap <= 5, qPrintable(QString::number(rightGap)));
    } else {
        QVERIFY2(std::abs(leftGap - rightGap) <= 2,
                 qPrintable(QString("%1 %2").arg(leftGap).arg(rightGap)));
    }
}

void TestDeviceListView::bandFadesLineByLineAndStopsAtBlack() {
    DeviceListView list;
    QStandardItemModel model(1, 1);
    list.setModel(&model);
    list.addColumn(0, "", Qt::AlignLeft, 120);
    list.setHeaderHeightFactor(2.0f); // tall enough to run past sixteen lines
    list.listHeader()->setBand(qRgb(255, 255, 255), 16);
    list.resize(300, 160);
    QVERIFY(list.listHeader()->sizeHint().height() > 17);

    const QImage image = list.grab().toImage();
    const QPoint origin = list.listHeader()->viewport()->mapTo(&list, QPoint(0, 0));
    const int height = list.listHeader()->height();
    for (int line = 0; line < height; ++line) {
        const int fade = std::max(0, 255 - 16 * line);
        const QColor expected(fade, fade, fade);
        const int y = origin.y() + line;
        // Inside the column, and in the strip right of the last column.
        QCOMPARE(QColor(image.pixel(origin.x() + 60, y)), expected);
        QCOMPARE(QColor(image.pixel(origin.x() + 200, y)), expected);
        // The column's leftmost pixel column stays white.
        QCOMPARE(QColor(image.pixel(origin.x(), y)), QColor(Qt::white));
    }
}

QTEST_MAIN(TestDeviceListView)
#include "test_device_list_view.moc"

#include "preview/skin_preview.hpp"

#include "skin/main_layout.hpp"
#include "skin/skin_palette.hpp"
#include "ui_strings.hpp"
#include "widgets/list_ctrl_cl.hpp"
#include "widgets/list_outline.hpp"
#include "widgets/skin_button.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyle>

#include <array>

namespace korvane::ui {

namespace {

struct ButtonBitmaps {
    int resting;
    int pressed;
    int hover;
    const char* name;
};

constexpr std::array<ButtonBitmaps, 5> kMainButtons = {{
    {skin::kLaunchResting, skin::kLaunchPressed, skin::kLaunchHover, "launchButton"},
    {skin::kSettingsResting, skin::kSettingsPressed, skin::kSettingsHover, "settingsButton"},
    {skin::kFirmwareResting, skin::kFirmwarePressed, skin::kFirmwareHover, "firmwareButton"},
    {skin::kAboutResting, skin::kAboutPressed, skin::kAboutHover, "aboutButton"},
    {skin::kRefreshResting, skin::kRefreshPressed, skin::kRefreshHover, "refreshButton"},
}};

struct SampleDevice {
    const char* serial;
    const char* address;
};

constexpr std::array<SampleDevice, 5> kSampleDevices = {{
    {"2801795073", "192.168.1.20"},
    {"2801795112", "192.168.1.21"},
    {"2801795230", "10.0.8.115"},
    {"2801796001", "0.0.0.0"},
    {"2801799999", "169.254.17.3"},
}};

} // namespace

SkinPreview::SkinPreview(QWidget* parent)
    : QWidget(parent), background_(skin::LoadBitmap(skin::kBackground)),
      list_(new CListCtrlCl(this)), rows_(new QStandardItemModel(0, 2, this)) {
    setWindowTitle(QString::fromUtf8(strings::kAppTitle));
    setFixedSize(skin::kClientSize);

    for (std::size_t i = 0; i < kMainButtons.size(); ++i) {
        auto* button = new CSkinButton(this);
        button->setObjectName(QString::fromLatin1(kMainButtons[i].name));
        button->SetStateBitmaps(kMainButtons[i].resting, kMainButtons[i].pressed,
                                kMainButtons[i].hover, kMainButtons[i].resting, 0, 0);
        button->setGeometry(
            QRect(QPoint(skin::kButtonX, skin::kButtonY[i]), skin::kButtonDesignSize));
    }

    for (const SampleDevice& device : kSampleDevices) {
        rows_->appendRow({new QStandardItem(QString::fromLatin1(device.serial)),
                          new QStandardItem(QString::fromLatin1(device.address))});
    }
    list_->setObjectName(QStringLiteral("deviceList"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setModel(rows_);
    list_->InsertColumn(0, QStringLiteral(" Serial Number "), CListCtrlCl::kFormatLeft, 122);
    list_->InsertColumn(1, QStringLiteral("IP Address"), CListCtrlCl::kFormatLeft,
                        385 - style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    list_->SetHeaderHeightFactor(skin::kListHeaderHeightFactor);
    list_->SetShowSelectionAlways(true);
    const QRect fitted =
        skin::FitListToRows(list_->Header()->sizeHint().height(), list_->effectiveRowHeight());
    list_->setGeometry(fitted);
    list_->setMask(skin::ListRegion(fitted.size()));
    new ListOutline(list_);
    list_->selectionModel()->select(rows_->index(1, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);

    auto* pane = new QPlainTextEdit(this);
    pane->setObjectName(QStringLiteral("informationPane"));
    pane->setReadOnly(true);
    pane->setFrameShape(QFrame::NoFrame);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setFont(skin::ProductFont(skin::kPaneFontHeight));
    pane->viewport()->setAutoFillBackground(false);
    QPalette colours = pane->palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Text, QColor(skin::palette::kPaneText));
    pane->setPalette(colours);
    pane->document()->setDocumentMargin(0);
    pane->setGeometry(QRect(skin::kPaneAt, skin::kPaneSize));
    pane->setPlainText(QStringLiteral("Serial Number: 2801795112\nHardware Version: Q2.1\n"
                                      "Firmware Version: 4.12.K7\nLAN IP Address: 192.168.1.21"));
}

void SkinPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::PaintMainBackground(painter, rect(), background_);
}

ButtonSheet::ButtonSheet(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Korvane Utility buttons"));
    constexpr int kGap = 16;
    setFixedSize(4 * (skin::kButtonDesignSize.width() + kGap) + kGap,
                 5 * (skin::kButtonDesignSize.height() + kGap) + kGap);
    for (std::size_t row = 0; row < kMainButtons.size(); ++row) {
        const ButtonBitmaps& art = kMainButtons[row];
        for (int column = 0; column < 4; ++column) {
            auto* button = new CSkinButton(this);
            // Each column shows one state by giving that picture as resting.
            const int shown = column == 1 ? art.hover : column == 2 ? art.pressed : art.resting;
            button->SetStateBitmaps(shown, art.pressed, art.hover, shown, 0, 0);
            button->setGeometry(QRect(
                QPoint(kGap + column * (skin::kButtonDesignSize.width() + kGap),
                       kGap + static_cast<int>(row) * (skin::kButtonDesignSize.height() + kGap)),
                skin::kButtonDesignSize));
            button->setEnabled(column != 3);
        }
    }
}

void ButtonSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient rail(0, 0, 0, height());
    rail.setColorAt(0, QColor(skin::palette::kRailTop));
    rail.setColorAt(1, QColor(skin::palette::kRailBottom));
    painter.fillRect(rect(), rail);
}

} // namespace korvane::ui

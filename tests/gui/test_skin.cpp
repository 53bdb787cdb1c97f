// The skin's artwork: every picture the main window asks for exists, has
// its design size, has all its colours filled in from the palette, and
// renders at the device pixel ratio instead of being scaled up.

#include "skin/main_layout.hpp"
#include "skin/skin_library.hpp"

#include <QDir>
#include <QFontMetrics>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace skin = korvane::ui::skin;

Q_DECLARE_METATYPE(korvane::ui::skin::Artwork)
Q_DECLARE_METATYPE(korvane::ui::skin::ButtonFace)

class TestSkin : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void everyPictureExists_data();
    void everyPictureExists();
    void buttonStatesDiffer();
    void rendersAtDevicePixelRatio();
    void productFontFitsCell();
    void listFitsWholeRows_data();
    void listFitsWholeRows();
    void picturesDrawnAheadOfTimeCoverEverySource();
};

void TestSkin::everyPictureExists_data() {
    QTest::addColumn<skin::Artwork>("artwork");
    QTest::addColumn<skin::ButtonFace>("face");
    QTest::addColumn<QSize>("size");
    QTest::newRow("background") << skin::Artwork::Background << skin::ButtonFace::Resting
                                << skin::kBackgroundDesignSize;
    for (skin::Artwork artwork : skin::kButtonArtwork) {
        for (skin::ButtonFace face : skin::kButtonFaces) {
            QTest::newRow(qPrintable(QStringLiteral("button %1, face %2")
                                         .arg(static_cast<int>(artwork))
                                         .arg(static_cast<int>(face))))
                << artwork << face << skin::kButtonDesignSize;
        }
    }
}

void TestSkin::everyPictureExists() {
    QFETCH(skin::Artwork, artwork);
    QFETCH(skin::ButtonFace, face);
    QFETCH(QSize, size);
    const QByteArray source = skin::ArtworkSource(artwork, face);
    QVERIFY(!source.isEmpty());
    QVERIFY2(!source.contains("{{"), "a token was left unfilled");
    const skin::SkinPicture picture = skin::LoadPicture(artwork, face);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.designSize(), size);
    // The middle of every picture is covered: no blank artwork.
    const QImage image = picture.render(size, 1.0);
    QCOMPARE(qAlpha(image.pixel(size.width() / 2, size.height() / 2)), 255);
}

void TestSkin::buttonStatesDiffer() {
    using skin::Artwork;
    using skin::ButtonFace;
    const QImage resting =
        skin::LoadPicture(Artwork::Settings, ButtonFace::Resting).render({158, 84}, 1.0);
    const QImage hover =
        skin::LoadPicture(Artwork::Settings, ButtonFace::Hover).render({158, 84}, 1.0);
    const QImage pressed =
        skin::LoadPicture(Artwork::Settings, ButtonFace::Pressed).render({158, 84}, 1.0);
    QVERIFY(resting != hover);
    QVERIFY(resting != pressed);
    QVERIFY(hover != pressed);
    QVERIFY(skin::ArtworkSource(Artwork::Settings).contains(">Settings<"));
    QVERIFY(
        skin::ArtworkSource(Artwork::Firmware, ButtonFace::Pressed).contains(">Upgrade Firmware<"));
}

void TestSkin::rendersAtDevicePixelRatio() {
    const skin::SkinPicture picture = skin::LoadPicture(skin::Artwork::About);
    const QImage doubled = picture.render({158, 84}, 2.0);
    QCOMPARE(doubled.size(), QSize(316, 168));
    QCOMPARE(doubled.devicePixelRatio(), 2.0);
    const QImage fractional = picture.render({158, 84}, 1.25);
    QCOMPARE(fractional.size(), QSize(198, 105));

    QVERIFY(!skin::AppIcon().isNull());
    QCOMPARE(skin::AppIconPixmap(32, 2.0).size(), QSize(64, 64));
}

void TestSkin::productFontFitsCell() {
    for (int cell : {skin::kRowFontHeight, skin::kLabelFontHeight, skin::kHeaderTitleFontHeight}) {
        const QFont font = skin::ProductFont(cell);
        QVERIFY(font.bold());
        QVERIFY(QFontMetrics(font).height() <= cell);
        QFont larger = font;
        larger.setPixelSize(font.pixelSize() + 1);
        QVERIFY(QFontMetrics(larger).height() > cell);
    }
}

void TestSkin::listFitsWholeRows_data() {
    QTest::addColumn<int>("header");
    QTest::addColumn<int>("row");
    QTest::addColumn<QRect>("expected");
    // (186 - 37) mod 19 = 16: down 14 from 216 - 2, 16 shorter than 188.
    QTest::newRow("spare 16") << 37 << 19 << QRect(243, 230, 507, 172);
    QTest::newRow("exact") << 34 << 19 << QRect(243, 214, 507, 188);
    QTest::newRow("no rows measured") << 34 << 0 << skin::kListRect;
}

void TestSkin::listFitsWholeRows() {
    QFETCH(int, header);
    QFETCH(int, row);
    QFETCH(QRect, expected);
    QCOMPARE(skin::FitListToRows(header, row), expected);
}

QTEST_MAIN(TestSkin)
// A build without Qt SVG draws nothing itself: every SVG text the skin can
// make must come out of korvane-skin-render as a PNG with its design size.
void TestSkin::picturesDrawnAheadOfTimeCoverEverySource() {
#ifndef KORVANE_SKIN_RENDER_PATH
    QSKIP("this build uses pictures drawn ahead of time and has no korvane-skin-render");
#else
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess tool;
    tool.start(QStringLiteral(KORVANE_SKIN_RENDER_PATH), {folder.path()});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);
    const auto sources = skin::AllSkinSources();
    // The background, five buttons in three states, three plain faces, the icon.
    QCOMPARE(sources.size(), std::size_t{1 + 15 + 3 + 1});
    for (const QByteArray& source : sources) {
        const QImage image(QDir(folder.path()).filePath(skin::PrerenderedName(source)));
        QVERIFY2(!image.isNull(), qPrintable(skin::PrerenderedName(source)));
        const QSize design = skin::SkinPicture::fromSvg(source).designSize();
        QCOMPARE(image.text(QStringLiteral("design-size")),
                 QStringLiteral("%1x%2").arg(design.width()).arg(design.height()));
        QVERIFY(image.width() >= design.width() * skin::kPrerenderScale);
    }
    QFile qrc(QDir(folder.path()).filePath(QStringLiteral("skin_png.qrc")));
    QVERIFY(qrc.open(QIODevice::ReadOnly));
    QCOMPARE(qrc.readAll().count("<file>"), static_cast<qsizetype>(sources.size()));
#endif
}

#include "test_skin.moc"

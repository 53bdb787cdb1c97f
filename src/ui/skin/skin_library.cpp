#include "skin/skin_library.hpp"

#include "skin/skin_palette.hpp"

#include <QCryptographicHash>
#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QtGlobal>

#include <cmath>
#include <utility>
#include <vector>

#ifndef KORVANE_VERSION_TEXT
#define KORVANE_VERSION_TEXT ""
#endif

// The resources live in a static library: nothing would pull their object
// file into the program unless something refers to it.
static void InitSkinResources() {
    Q_INIT_RESOURCE(skin);
}

namespace korvane::ui::skin {

namespace {

using TokenList = std::vector<std::pair<QByteArray, QByteArray>>;

QByteArray ColorText(QRgb rgb) {
    return QColor(rgb).name(QColor::HexRgb).toLatin1();
}

QByteArray ReadResource(const QString& path) {
    static const bool initialised = (InitSkinResources(), true);
    Q_UNUSED(initialised);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("skin: missing resource %s", qPrintable(path));
        return {};
    }
    return file.readAll();
}

// Replaces every {{name}} by the palette colour or the extra value of that
// name. A token left over means the artwork and the palette disagree.
QByteArray FillTokens(QByteArray svg, const TokenList& extra) {
    for (const auto& [name, value] : extra) {
        svg.replace("{{" + name + "}}", value);
    }
    for (const PaletteToken& token : kSvgPalette) {
        const QByteArray name(token.name.data(), static_cast<qsizetype>(token.name.size()));
        svg.replace("{{" + name + "}}", ColorText(token.rgb));
    }
    svg.replace("{{version}}", KORVANE_VERSION_TEXT);
    if (svg.contains("{{")) {
        const qsizetype at = svg.indexOf("{{");
        qWarning("skin: unknown token %s", svg.mid(at, 24).constData());
    }
    return svg;
}

// The drawing inside an SVG file without its <svg> element, for placing a
// glyph into the button template or the mark into the banner.
QByteArray SvgBody(const QString& path) {
    const QByteArray file = ReadResource(path);
    const qsizetype open = file.indexOf("<svg");
    const qsizetype bodyStart = open < 0 ? -1 : file.indexOf('>', open);
    const qsizetype bodyEnd = file.lastIndexOf("</svg>");
    if (bodyStart < 0 || bodyEnd < bodyStart) {
        return {};
    }
    return file.mid(bodyStart + 1, bodyEnd - bodyStart - 1);
}

struct ButtonArt {
    Artwork artwork;
    const char* caption;
    const char* glyph;
};

constexpr ButtonArt kButtons[] = {
    {Artwork::Launch, "Launch Device", "launch"},
    {Artwork::Settings, "Settings", "settings"},
    {Artwork::Firmware, "Upgrade Firmware", "firmware"},
    {Artwork::About, "About", "about"},
    {Artwork::Refresh, "Refresh", "refresh"},
};

// What distinguishes the three pictures of a button. The pressed picture
// moves its content one pixel down and drops the outer shadow, so the
// button reads as pushed into the rail.
struct ButtonLook {
    QRgb faceTop;
    QRgb faceBottom;
    QRgb glyph;
    const char* ringOpacity;
    const char* badgeOpacity;
    const char* sheenOpacity;
    const char* shadowOpacity;
    const char* shift;
};

ButtonLook LookFor(ButtonFace face) {
    using namespace palette;
    switch (face) {
    case ButtonFace::Hover:
        return {kButtonHoverTop,
                kButtonHoverBottom,
                kButtonGlyphHover,
                "0.95",
                "0.16",
                "0.22",
                "0.45",
                "0"};
    case ButtonFace::Pressed:
        return {kButtonPressedTop,
                kButtonPressedBottom,
                kButtonGlyphHover,
                "0.8",
                "0.08",
                "0.05",
                "0",
                "1"};
    case ButtonFace::Resting:
        break;
    }
    return {kButtonRestingTop, kButtonRestingBottom, kButtonGlyph, "0", "0.10", "0.16", "0.4", "0"};
}

QByteArray ButtonSource(const ButtonArt& art, ButtonFace face) {
    const ButtonLook look = LookFor(face);
    const QByteArray glyphColor = ColorText(look.glyph);
    QByteArray glyph = SvgBody(QStringLiteral(":/skin/glyph-%1.svg").arg(QLatin1String(art.glyph)));
    glyph.replace("{{glyph-color}}", glyphColor);
    const TokenList tokens = {
        {"face-top", ColorText(look.faceTop)},
        {"face-bottom", ColorText(look.faceBottom)},
        {"ring-opacity", look.ringOpacity},
        {"badge-opacity", look.badgeOpacity},
        {"sheen-opacity", look.sheenOpacity},
        {"shadow-opacity", look.shadowOpacity},
        {"shift", look.shift},
        {"caption", QString::fromLatin1(art.caption).toHtmlEscaped().toUtf8()},
        {"glyph", glyph},
    };
    return FillTokens(ReadResource(QStringLiteral(":/skin/button.svg")), tokens);
}

} // namespace

QByteArray PlainButtonSource(ButtonFace face) {
    const ButtonLook look = LookFor(face);
    const TokenList tokens = {
        {"face-top", ColorText(look.faceTop)},
        {"face-bottom", ColorText(look.faceBottom)},
        {"ring-opacity", look.ringOpacity},
    };
    return FillTokens(ReadResource(QStringLiteral(":/skin/plain-button.svg")), tokens);
}

SkinPicture PlainButtonPicture(ButtonFace face) {
    return SkinPicture::fromSvg(PlainButtonSource(face));
}

QByteArray ArtworkSource(Artwork artwork, ButtonFace face) {
    if (artwork == Artwork::Background) {
        return FillTokens(ReadResource(QStringLiteral(":/skin/background.svg")),
                          {{"logo", SvgBody(QStringLiteral(":/skin/icon.svg"))}});
    }
    for (const ButtonArt& art : kButtons) {
        if (art.artwork == artwork) {
            return ButtonSource(art, face);
        }
    }
    return {};
}

SkinPicture LoadPicture(Artwork artwork, ButtonFace face) {
    return SkinPicture::fromSvg(ArtworkSource(artwork, face));
}

QByteArray IconSource() {
    return FillTokens(ReadResource(QStringLiteral(":/skin/icon.svg")), {});
}

std::vector<QByteArray> AllSkinSources() {
    std::vector<QByteArray> sources;
    sources.push_back(ArtworkSource(Artwork::Background));
    for (Artwork artwork : kButtonArtwork) {
        for (ButtonFace face : kButtonFaces) {
            sources.push_back(ArtworkSource(artwork, face));
        }
    }
    for (ButtonFace face : kButtonFaces) {
        sources.push_back(PlainButtonSource(face));
    }
    sources.push_back(IconSource());
    return sources;
}

QString PrerenderedName(const QByteArray& svg) {
    return QString::fromLatin1(
               QCryptographicHash::hash(svg, QCryptographicHash::Sha256).toHex().left(24)) +
           QStringLiteral(".png");
}

QPixmap AppIconPixmap(int logicalSize, qreal dpr) {
    const SkinPicture icon = SkinPicture::fromSvg(IconSource());
    return QPixmap::fromImage(icon.render(QSize(logicalSize, logicalSize), dpr));
}

QIcon AppIcon() {
    const SkinPicture icon = SkinPicture::fromSvg(IconSource());
    QIcon result;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        result.addPixmap(QPixmap::fromImage(icon.render(QSize(size, size), 1.0)));
    }
    return result;
}

QFont ProductFont(int cellHeight, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    int pixels = cellHeight;
    font.setPixelSize(pixels);
    while (pixels > 1 && QFontMetrics(font).height() > cellHeight) {
        font.setPixelSize(--pixels);
    }
    return font;
}

} // namespace korvane::ui::skin

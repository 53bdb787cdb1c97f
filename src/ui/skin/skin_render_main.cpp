// korvane-skin-render FOLDER: draws every picture of the skin ahead of time
// into FOLDER (one PNG per SVG text, named by its hash, kPrerenderScale
// pixels per design pixel, or more for the icon) and writes FOLDER/skin_png.qrc that lists them,
// for a build of the desktop program without Qt SVG.

#include "skin/skin_library.hpp"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kLargestIcon = 256;
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // fonts for the captions
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvane-skin-render FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "korvane-skin-render: cannot make %s\n", argv[1]);
        return 1;
    }
    QString qrc = QStringLiteral("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n"
                                 "  <qresource prefix=\"/skin-png\">\n");
    for (const QByteArray& svg : korvane::ui::skin::AllSkinSources()) {
        QSvgRenderer renderer(svg);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "korvane-skin-render: a skin picture is not valid SVG\n");
            return 1;
        }
        const QSize design = renderer.defaultSize();
        // The icon is asked for at up to 256 pixels.
        const int scale = std::max(korvane::ui::skin::kPrerenderScale,
                                   (kLargestIcon + design.width() - 1) / design.width());
        QImage image(design * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
        }
        image.setText(QStringLiteral("design-size"),
                      QStringLiteral("%1x%2").arg(design.width()).arg(design.height()));
        const QString name = korvane::ui::skin::PrerenderedName(svg);
        if (!image.save(folder.filePath(name), "PNG")) {
            std::fprintf(stderr, "korvane-skin-render: cannot write %s\n", qPrintable(name));
            return 1;
        }
        qrc += QStringLiteral("    <file>%1</file>\n").arg(name);
    }
    qrc += QStringLiteral("  </qresource>\n</RCC>\n");
    QFile out(folder.filePath(QStringLiteral("skin_png.qrc")));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "korvane-skin-render: cannot write skin_png.qrc\n");
        return 1;
    }
    return 0;
}

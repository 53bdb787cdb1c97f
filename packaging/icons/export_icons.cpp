// korvane-export-icons: writes the desktop program's own icon, as the window
// shows it, into an icon-theme tree for the package:
//   OUT/hicolor/NxN/apps/NAME.png for each size the theme expects, and
//   OUT/hicolor/scalable/apps/NAME.svg.
// Run at build time, so the installed icon never drifts from the artwork.

#include "skin/skin_library.hpp"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvane-export-icons OUTDIR NAME\n");
        return 2;
    }
    // No display is needed to draw into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/hicolor");
    const QString name = QString::fromLocal8Bit(argv[2]);

    const int sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
    for (const int size : sizes) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        const QImage image = korvane::ui::skin::AppIconPixmap(size, 1.0).toImage();
        if (!QDir().mkpath(dir) || image.size() != QSize(size, size) || !image.save(file)) {
            std::fprintf(stderr, "korvane-export-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    const QString dir = out + QStringLiteral("/scalable/apps");
    QFile svg(QStringLiteral("%1/%2.svg").arg(dir, name));
    const QByteArray source = korvane::ui::skin::IconSource();
    if (!QDir().mkpath(dir) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(source) != source.size()) {
        std::fprintf(stderr, "korvane-export-icons: cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    return 0;
}

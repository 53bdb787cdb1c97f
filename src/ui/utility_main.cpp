// korvane-utility: the desktop program. Until the main window is wired to
// the device core it shows the skin and the custom controls.

#include "dialogs/about_dlg.hpp"
#include "preview/skin_preview.hpp"
#include "skin/skin_library.hpp"
#include "ui_strings.hpp"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <memory>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(korvane::ui::strings::kAppTitle));
    QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION_TEXT));
    QApplication::setWindowIcon(korvane::ui::skin::AppIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Korvane Utility (skin preview)"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption previewSkin(QStringLiteral("preview-skin"),
                                         QStringLiteral("Show the main window's skin (default)."));
    const QCommandLineOption previewButtons(QStringLiteral("preview-buttons"),
                                            QStringLiteral("Show every button picture."));
    const QCommandLineOption about(QStringLiteral("about"), QStringLiteral("Show the About box."));
    const QCommandLineOption grab(
        QStringLiteral("grab"), QStringLiteral("Save a picture of the window to <file> and quit."),
        QStringLiteral("file"));
    parser.addOptions({previewSkin, previewButtons, about, grab});
    parser.process(app);

    std::unique_ptr<QWidget> window;
    if (parser.isSet(about)) {
        window = std::make_unique<korvane::ui::CAboutDlg>();
    } else if (parser.isSet(previewButtons)) {
        window = std::make_unique<korvane::ui::ButtonSheet>();
    } else {
        window = std::make_unique<korvane::ui::SkinPreview>();
    }
    window->show();

    if (parser.isSet(grab)) {
        const QString file = parser.value(grab);
        QTimer::singleShot(0, window.get(), [&window, file] {
            const bool saved = window->grab().save(file);
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}

// LinkLabel: colours and underline as the pointer comes and goes, visited
// after a successful open, the error box after a failed one; the browser
// command the fallback builds; the About box that carries the link.

#include "dialogs/about_dialog.hpp"
#include "skin/skin_palette.hpp"
#include "widgets/link_label.hpp"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

using korvane::ui::AboutDialog;
using korvane::ui::LinkLabel;
using korvane::ui::LinkOpener;
using korvane::ui::LinkOpenResult;
namespace palette = korvane::ui::skin::palette;

namespace {

const QString kAddress = QStringLiteral("https://www.example.com/korvane");

class RecordingOpener : public LinkOpener {
  public:
    explicit RecordingOpener(LinkOpenResult result) : result_(result) {}
    LinkOpenResult openLink(const QString& address) override {
        opened.append(address);
        return result_;
    }
    QStringList opened;

  private:
    LinkOpenResult result_;
};

} // namespace

Q_DECLARE_METATYPE(korvane::ui::LinkOpenResult)

class TestLinkLabel : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void cleanup();

    void textAndAddressFillEachOther();
    void hoverColourAndUnderline_data();
    void hoverColourAndUnderline();
    void successfulOpenMarksVisited();
    void failedOpenShowsTheReason();
    void errorTexts_data();
    void errorTexts();
    void browserCommand_data();
    void browserCommand();
    void aboutBoxCarriesVersionAndLink();

  private:
    // Sent straight to the label: QTest::mouseMove skips a move to where
    // the pointer already is.
    void moveOver() {
        const QPoint at = label_->rect().center();
        QMouseEvent event(QEvent::MouseMove, QPointF(at), QPointF(label_->mapToGlobal(at)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label_, &event);
    }
    void leave() {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(label_, &event);
    }

    QWidget* window_ = nullptr;
    LinkLabel* label_ = nullptr;
};

void TestLinkLabel::init() {
    window_ = new QWidget;
    window_->resize(300, 100);
    label_ = new LinkLabel("Korvane Networks", kAddress, window_);
    label_->move(10, 10);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
}

void TestLinkLabel::cleanup() {
    delete window_;
    window_ = nullptr;
}

void TestLinkLabel::textAndAddressFillEachOther() {
    LinkLabel noText("", kAddress);
    QCOMPARE(noText.text(), kAddress);
    LinkLabel noAddress("https://example.org/", "");
    QCOMPARE(noAddress.address(), QString("https://example.org/"));

    QCOMPARE(label_->toolTip(), kAddress);
    QCOMPARE(label_->cursor().shape(), Qt::PointingHandCursor);
    label_->setAddress("https://example.net/");
    QCOMPARE(label_->toolTip(), QString("https://example.net/"));
    // Fitted to the text, with room for the underline font.
    QCOMPARE(label_->width(),
             QFontMetrics(label_->font()).size(Qt::TextSingleLine, label_->text()).width());
}

void TestLinkLabel::hoverColourAndUnderline_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("underlinedResting");
    QTest::addColumn<bool>("underlinedHovering");
    QTest::newRow("while hovering") << int(LinkLabel::kUnderlineHover) << false << true;
    QTest::newRow("never") << int(LinkLabel::kUnderlineNever) << false << false;
    QTest::newRow("always") << int(LinkLabel::kUnderlineAlways) << true << true;
}

void TestLinkLabel::hoverColourAndUnderline() {
    QFETCH(int, mode);
    QFETCH(bool, underlinedResting);
    QFETCH(bool, underlinedHovering);

    label_->setUnderlineMode(mode);
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLink));
    QCOMPARE(label_->font().underline(), underlinedResting);

    moveOver();
    QVERIFY(label_->isHovering());
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLinkHover));
    QCOMPARE(label_->font().underline(), underlinedHovering);

    leave();
    QVERIFY(!label_->isHovering());
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLink));
    QCOMPARE(label_->font().underline(), underlinedResting);
}

void TestLinkLabel::successfulOpenMarksVisited() {
    auto opener = std::make_shared<RecordingOpener>(LinkOpenResult::Opened);
    label_->setOpener(opener);
    moveOver();
    QTest::mouseClick(label_, Qt::LeftButton, {}, label_->rect().center());
    QCOMPARE(opener->opened, QStringList{kAddress});
    QVERIFY(label_->isVisited());
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLinkVisited));

    // Hover still wins over visited, and visited comes back after.
    leave();
    moveOver();
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLinkHover));
    leave();
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLinkVisited));
}

void TestLinkLabel::failedOpenShowsTheReason() {
    auto opener = std::make_shared<RecordingOpener>(LinkOpenResult::BrowserNotStarted);
    label_->setOpener(opener);

    QString shown;
    QTimer::singleShot(0, this, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) {
            shown = box->text();
            box->accept();
        }
    });
    QTest::mouseClick(label_, Qt::LeftButton, {}, label_->rect().center());

    QCOMPARE(shown, QString("Unable to open hyperlink:\n\nThe web browser could not be started."));
    QCOMPARE(opener->opened.size(), 1);
    QVERIFY(!label_->isVisited());
    QCOMPARE(label_->palette().color(QPalette::WindowText), QColor(palette::kLink));
}

void TestLinkLabel::errorTexts_data() {
    QTest::addColumn<LinkOpenResult>("result");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no browser") << LinkOpenResult::NoBrowser
                                << "No web browser is set up on this computer.";
    QTest::newRow("not started") << LinkOpenResult::BrowserNotStarted
                                 << "The web browser could not be started.";
}

void TestLinkLabel::errorTexts() {
    QFETCH(LinkOpenResult, result);
    QFETCH(QString, reason);
    QCOMPARE(korvane::ui::LinkErrorText(result), "Unable to open hyperlink:\n\n" + reason);
}

void TestLinkLabel::browserCommand_data() {
    QTest::addColumn<QString>("browser");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no placeholder") << "x-www-browser" << QStringList{"x-www-browser", kAddress};
    QTest::newRow("placeholder") << "firefox --new-tab %s --later"
                                 << QStringList{"firefox", "--new-tab", kAddress};
    QTest::newRow("quoted placeholder")
        << "\"/opt/My Browser/run\" \"%s\"" << QStringList{"/opt/My Browser/run", kAddress};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("only a placeholder") << "%s" << QStringList{};
}

void TestLinkLabel::browserCommand() {
    QFETCH(QString, browser);
    QFETCH(QStringList, expected);
    QCOMPARE(korvane::ui::BuildBrowserCommand(browser, kAddress), expected);
}

void TestLinkLabel::aboutBoxCarriesVersionAndLink() {
    AboutDialog about(kAddress, nullptr);
    QCOMPARE(about.windowTitle(), QString("About Korvane Utility"));
    auto* version = about.findChild<QLabel*>("aboutVersion");
    QVERIFY(version != nullptr);
    QCOMPARE(version->text(), QString("Korvane Utility 4.55"));
    QVERIFY(about.findChild<QLabel*>("aboutNotice") != nullptr);
    QVERIFY(!about.findChild<QLabel*>("aboutIcon")->pixmap().isNull());
    QVERIFY(!about.link()->isHidden());
    QCOMPARE(about.link()->address(), kAddress);
    QCOMPARE(about.link()->toolTip(), kAddress);

    // Without a configured address there is no link to a placeholder.
    AboutDialog plain(QString(), nullptr);
    QVERIFY(plain.link()->isHidden());
}

QTEST_MAIN(TestLinkLabel)
#include "test_link_label.moc"

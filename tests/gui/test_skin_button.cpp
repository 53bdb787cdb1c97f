// SkinButton: which picture shows in each state, the press that follows
// the pointer, clicks only on release over the button, double clicks, and
// the hand cursor in every state.

#include "widgets/skin_button.hpp"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

using korvane::ui::SkinButton;
using korvane::ui::skin::SkinPicture;
using Picture = SkinButton::Picture;

namespace {

constexpr QRgb kResting = qRgb(200, 30, 30);
constexpr QRgb kPressed = qRgb(30, 160, 30);
constexpr QRgb kHover = qRgb(30, 30, 200);
constexpr QRgb kDisabled = qRgb(220, 200, 20);

SkinPicture Solid(QRgb colour) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    return SkinPicture::fromImage(image);
}

} // namespace

class TestSkinButton : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void init();
    void cleanup();

    void hoverFollowsPointerAndLeave();
    void pressedPictureFollowsDragOffAndBack();
    void releaseOffButtonGivesNoClick();
    void doubleClickGivesTwoClicks();
    void disabledShowsItsPictureOrTheRestingOne();
    void handCursorInEveryState();
    void withoutPicturesFillsButtonFace();

  private:
    QRgb shownColour();
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held);
    QPoint inside() const { return button_->rect().center(); }
    QPoint outside() const { return button_->rect().bottomRight() + QPoint(30, 30); }

    QWidget* window_ = nullptr;
    SkinButton* button_ = nullptr;
};

void TestSkinButton::init() {
    window_ = new QWidget;
    window_->resize(300, 200);
    button_ = new SkinButton(window_);
    button_->setGeometry(20, 20, 158, 84);
    button_->setStatePictures(Solid(kResting), Solid(kPressed), Solid(kHover), SkinPicture(), 0, 0);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
}

void TestSkinButton::cleanup() {
    delete window_;
    window_ = nullptr;
    button_ = nullptr;
}

QRgb TestSkinButton::shownColour() {
    return button_->grab().toImage().pixel(inside());
}

void TestSkinButton::send(QEvent::Type type, QPoint at, Qt::MouseButton button,
                          Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(button_->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(button_, &event);
}

void TestSkinButton::hoverFollowsPointerAndLeave() {
    QCOMPARE(shownColour(), kResting);
    send(QEvent::MouseMove, inside(), Qt::NoButton, Qt::NoButton);
    QVERIFY(button_->isHovering());
    QCOMPARE(shownColour(), kHover);
    QCOMPARE(button_->lastPicture(), Picture::Hover);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button_, &leave);
    QVERIFY(!button_->isHovering());
    QCOMPARE(shownColour(), kResting);
}

void TestSkinButton::pressedPictureFollowsDragOffAndBack() {
    QSignalSpy clicks(button_, &QAbstractButton::clicked);
    send(QEvent::MouseMove, inside(), Qt::NoButton, Qt::NoButton);
    send(QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    QVERIFY(button_->isDown());
    QVERIFY(!button_->isHovering()); // the press replaces the hover picture
    QCOMPARE(shownColour(), kPressed);

    send(QEvent::MouseMove, outside(), Qt::NoButton, Qt::LeftButton);
    QVERIFY(!button_->isDown());
    QCOMPARE(shownColour(), kResting);

    send(QEvent::MouseMove, inside(), Qt::NoButton, Qt::LeftButton);
    QVERIFY(button_->isDown());
    QCOMPARE(shownColour(), kPressed);

    send(QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QVERIFY(!button_->isDown());
    QVERIFY(!button_->isButtonDown());
    QCOMPARE(clicks.count(), 1);
    // Hover comes back with the next move, not with the release.
    QCOMPARE(shownColour(), kResting);
    send(QEvent::MouseMove, inside(), Qt::NoButton, Qt::NoButton);
    QCOMPARE(shownColour(), kHover);
}

void TestSkinButton::releaseOffButtonGivesNoClick() {
    QSignalSpy clicks(button_, &QAbstractButton::clicked);
    send(QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, outside(), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, outside(), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(clicks.count(), 0);
    QVERIFY(!button_->isDown());
    QVERIFY(!button_->isButtonDown());
    QCOMPARE(shownColour(), kResting);
}

void TestSkinButton::doubleClickGivesTwoClicks() {
    QSignalSpy clicks(button_, &QAbstractButton::clicked);
    // The order a double click arrives in: press, release, double click, release.
    send(QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, inside(), Qt::LeftButton, Qt::LeftButton);
    QVERIFY(button_->isDown());
    QCOMPARE(shownColour(), kPressed);
    send(QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(clicks.count(), 2);
}

void TestSkinButton::disabledShowsItsPictureOrTheRestingOne() {
    button_->setEnabled(false);
    // No disabled picture given: the resting one serves, dimmed, so that a
    // click that does nothing is explained.
    const QRgb dimmed = shownColour();
    QVERIFY(dimmed != kResting);
    button_->setEnabled(true);
    QCOMPARE(shownColour(), kResting);
    button_->setEnabled(false);
    QCOMPARE(shownColour(), dimmed);
    QCOMPARE(button_->lastPicture(), Picture::Disabled);

    button_->setStatePictures(Solid(kResting), Solid(kPressed), Solid(kHover), Solid(kDisabled), 0,
                              0);
    QCOMPARE(shownColour(), kDisabled);

    // A disabled button takes no press.
    QSignalSpy clicks(button_, &QAbstractButton::clicked);
    QTest::mouseClick(button_, Qt::LeftButton, {}, inside());
    QCOMPARE(clicks.count(), 0);
}

void TestSkinButton::handCursorInEveryState() {
    const QPoint centre = button_->geometry().center();
    auto cursorUnderPointer = [&] {
        const QWidget* under = window_->childAt(centre);
        return under != nullptr ? under->cursor().shape() : Qt::ArrowCursor;
    };
    QCOMPARE(cursorUnderPointer(), Qt::PointingHandCursor);
    send(QEvent::MouseMove, inside(), Qt::NoButton, Qt::NoButton);
    QCOMPARE(cursorUnderPointer(), Qt::PointingHandCursor);
    send(QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(cursorUnderPointer(), Qt::PointingHandCursor);
    send(QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);

    // Qt shows an enabled ancestor's cursor over a disabled widget, so what
    // lies under the pointer must still carry the hand.
    button_->setEnabled(false);
    const QWidget* under = window_->childAt(centre);
    QVERIFY(under != nullptr);
    QVERIFY(under->isEnabled());
    QCOMPARE(under->cursor().shape(), Qt::PointingHandCursor);

    button_->setEnabled(true);
    QCOMPARE(window_->childAt(centre), button_);
}

void TestSkinButton::withoutPicturesFillsButtonFace() {
    button_->setStatePictures({}, {}, {}, {}, 0, 0);
    QCOMPARE(shownColour(), button_->palette().color(QPalette::Button).rgb());
    QCOMPARE(button_->lastPicture(), Picture::ButtonFace);
}

QTEST_MAIN(TestSkinButton)
#include "test_skin_button.moc"

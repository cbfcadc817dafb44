#include "CBitmapButton.h"
#include "CIconTextButton.h"
#include "ResourceImages.h"
#include "WidgetPixels.h"

#include <QApplication>
#include <QColor>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const QColor kMarker(0, 128, 255);

// A 24 x 24 icon on magenta with a 10 x 10 marker square at (7, 7).
QImage MarkedIcon() {
    QImage icon(24, 24, QImage::Format_RGB32);
    icon.fill(QColor(255, 0, 255));
    QPainter painter(&icon);
    painter.fillRect(7, 7, 10, 10, kMarker);
    return icon;
}

// The picture as it shows on the button: over the window's background at its rounded corners.
QImage AsShown(int id, const QWidget& button) {
    const QImage picture = LoadBitmapResource(id);
    QImage shown(picture.size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(button.palette().color(QPalette::Window));
    QPainter painter(&shown);
    painter.drawImage(0, 0, picture);
    painter.end();
    return shown.convertToFormat(QImage::Format_ARGB32);
}

void Activate(QWidget& window, QWidget& focus) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    focus.setFocus();
    QTRY_VERIFY(focus.hasFocus());
}

} // namespace

// The toolbar size is 60 x 57: the icon sits at ((59 - 24) / 2, (52 - 24) / 2 - 5) = (17, 9).
TEST(IconTextButton, PressingMovesIconAndCaptionOnePixelRightAndDown) {
    QWidget window;
    auto* button = new CIconTextButton(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 100);
    button->setGeometry(0, 0, 60, 57);
    button->setText("Start");
    button->SetIconBitmap(MarkedIcon());
    Activate(window, *other);
    const QRect whole = button->rect();
    const QColor captionColour = button->palette().color(QPalette::ButtonText);
    const QRect captionArea(0, 34, 60, 23);

    const QImage released = GrabPixels(*button);
    button->setFocus();
    QTRY_VERIFY(button->hasFocus());
    EXPECT_TRUE(GrabPixels(*button) == released) << "focus adds nothing";

    QSignalSpy clicks(button, &QAbstractButton::clicked);
    QTest::mousePress(button, Qt::LeftButton);
    const QImage pressed = GrabPixels(*button);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(GrabPixels(*button) == released);

    EXPECT_EQ(BoundsOfColour(released, kMarker, whole), QRect(17 + 7, 9 + 7, 10, 10));
    EXPECT_EQ(BoundsOfColour(pressed, kMarker, whole), QRect(18 + 7, 10 + 7, 10, 10));
    EXPECT_FALSE(HasColour(released, QColor(255, 0, 255), whole));
    EXPECT_FALSE(HasColour(pressed, QColor(255, 0, 255), whole));
    EXPECT_NE(released.pixel(30, 3), pressed.pixel(30, 3)) << "sunken frame";

    const auto caption = BoundsOfColour(released, captionColour, captionArea);
    ASSERT_TRUE(caption.has_value());
    EXPECT_EQ(BoundsOfColour(pressed, captionColour, captionArea), caption->translated(1, 1));
    // The caption's line ends five pixels above the button's bottom.
    const int lineBottom = 57 - 5 - 1;
    EXPECT_LE(caption->bottom(), lineBottom);
    EXPECT_GE(caption->bottom(), lineBottom - QFontMetrics(button->font()).descent() - 1);
}

TEST(IconTextButton, WithoutIconDrawsFrameAndCaption) {
    CIconTextButton button;
    button.resize(60, 57);
    button.setText("Remove");
    button.SetIconBitmap(0);
    const QImage pixels = GrabPixels(button);
    EXPECT_TRUE(HasColour(pixels, button.palette().color(QPalette::ButtonText), button.rect()));
}

TEST(BitmapButton, ShowsThePictureOfItsState) {
    struct StateCase {
        std::string name;
        bool focused;
        bool pressed;
        bool enabled;
        int expectedId;
    };
    const std::vector<StateCase> cases = {
        {"normal", false, false, true, 152},
        {"focused", true, false, true, 151},
        {"pressed", false, true, true, 153},
        {"pressed while focused", true, true, true, 153},
        {"disabled, no disabled picture", false, false, false, 152},
    };
    QWidget window;
    auto* button = new CBitmapButton(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 50);
    button->LoadBitmaps(152, 153, 151, 0);
    EXPECT_EQ(button->sizeHint(), QSize(89, 24));
    button->resize(button->sizeHint());
    Activate(window, *other);

    for (const StateCase& state : cases) {
        SCOPED_TRACE(state.name);
        button->setEnabled(state.enabled);
        (state.focused ? static_cast<QWidget*>(button) : other)->setFocus();
        QTRY_COMPARE(button->hasFocus(), state.focused);
        if (state.pressed) {
            QTest::mousePress(button, Qt::LeftButton);
        }
        EXPECT_TRUE(GrabPixels(*button) == AsShown(state.expectedId, *button));
        if (state.pressed) {
            QTest::mouseRelease(button, Qt::LeftButton);
        }
    }
}

TEST(BitmapButton, DisabledPictureAndMissingRoles) {
    CBitmapButton button;
    button.LoadBitmaps(149, 0, 0, 150);
    button.resize(button.sizeHint());
    button.setEnabled(false);
    EXPECT_TRUE(GrabPixels(button) == AsShown(150, button));
    button.setEnabled(true);
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_TRUE(button.isDown());
    EXPECT_TRUE(GrabPixels(button) == AsShown(149, button)) << "no pressed picture: the normal one";
    QTest::mouseRelease(&button, Qt::LeftButton);
}

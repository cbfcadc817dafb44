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
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

const QColor kMarker(0, 128, 255);

void ShowWithFocusOn(QWidget& window, QWidget& focus) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    focus.setFocus();
    QTRY_VERIFY(focus.hasFocus());
}

} // namespace

// At the toolbar size of 60 x 57 the icon sits at ((59 - 24) / 2, (52 - 24) / 2 - 5) = (17, 9)
// and the caption's line ends five pixels above the bottom.
TEST(IconTextButton, PressingMovesIconAndCaptionOnePixelRightAndDown) {
    QWidget window;
    auto* button = new CIconTextButton(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 100);
    button->setGeometry(0, 0, 60, 57);
    button->setText("Start");
    QImage icon(24, 24, QImage::Format_RGB32);
    icon.fill(QColor(255, 0, 255));
    QPainter(&icon).fillRect(7, 7, 10, 10, kMarker);
    button->SetIconBitmap(icon);
    ShowWithFocusOn(window, *other);

    const QImage released = GrabPixels(*button);
    button->setFocus();
    QTRY_VERIFY(button->hasFocus());
    EXPECT_TRUE(GrabPixels(*button) == released) << "focus adds nothing";
    QTest::mousePress(button, Qt::LeftButton);
    const QImage pressed = GrabPixels(*button);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_TRUE(GrabPixels(*button) == released);

    EXPECT_EQ(BoundsOfColour(released, kMarker, button->rect()), QRect(17 + 7, 9 + 7, 10, 10));
    EXPECT_EQ(BoundsOfColour(pressed, kMarker, button->rect()), QRect(18 + 7, 10 + 7, 10, 10));
    EXPECT_FALSE(HasColour(released, QColor(255, 0, 255), button->rect()));
    EXPECT_NE(released.pixel(30, 3), pressed.pixel(30, 3)) << "sunken frame";

    const QColor captionColour = button->palette().color(QPalette::ButtonText);
    const QRect captionArea(0, 34, 60, 23);
    const auto caption = BoundsOfColour(released, captionColour, captionArea);
    ASSERT_TRUE(caption.has_value());
    EXPECT_EQ(BoundsOfColour(pressed, captionColour, captionArea), caption->translated(1, 1));
    const int lineBottom = 57 - 5 - 1;
    EXPECT_LE(caption->bottom(), lineBottom);
    EXPECT_GE(caption->bottom(), lineBottom - QFontMetrics(button->font()).descent() - 1);
}

TEST(BitmapButton, ShowsThePictureOfItsState) {
    struct StateCase {
        const char* name;
        std::array<int, 4> pictures; // normal, selected, focused, disabled
        bool focused;
        bool pressed;
        bool enabled;
        int shownId;
    };
    const std::array<int, 4> browse = {152, 153, 151, 0};
    const std::array<int, 4> paste = {149, 0, 0, 150};
    const std::vector<StateCase> cases = {
        {"normal", browse, false, false, true, 152},
        {"focused", browse, true, false, true, 151},
        {"pressed", browse, false, true, true, 153},
        {"pressed while focused", browse, true, true, true, 153},
        {"disabled, no disabled picture", browse, false, false, false, 152},
        {"disabled picture", paste, false, false, false, 150},
        {"pressed, no pressed picture", paste, false, true, true, 149},
    };
    QWidget window;
    auto* button = new CBitmapButton(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 50);
    ShowWithFocusOn(window, *other);

    for (const StateCase& state : cases) {
        SCOPED_TRACE(state.name);
        const auto& [normal, selected, focused, disabled] = state.pictures;
        button->LoadBitmaps(normal, selected, focused, disabled);
        EXPECT_EQ(button->sizeHint(), QSize(89, 24));
        button->resize(button->sizeHint());
        button->setEnabled(state.enabled);
        (state.focused ? static_cast<QWidget*>(button) : other)->setFocus();
        QTRY_COMPARE(button->hasFocus(), state.focused);
        if (state.pressed) {
            QTest::mousePress(button, Qt::LeftButton);
        }
        // The picture over the window's background, which shows at its rounded corners.
        QImage expected(89, 24, QImage::Format_ARGB32_Premultiplied);
        expected.fill(button->palette().color(QPalette::Window));
        QPainter(&expected).drawImage(0, 0, LoadBitmapResource(state.shownId));
        EXPECT_TRUE(GrabPixels(*button) == expected.convertToFormat(QImage::Format_ARGB32));
        if (state.pressed) {
            QTest::mouseRelease(button, Qt::LeftButton);
        }
    }
}

#include "CDraggableDialog.h"
#include "CIconTextButton.h"
#include "CPictureStatic.h"
#include "ControlLookup.h"
#include "WidgetPixels.h"

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int kClickAreaId = 1013;

class DraggableDialog : public ::testing::Test {
protected:
    DraggableDialog() {
        dialog.resize(300, 200);
        button->setGeometry(10, 10, 60, 57);
        button->setText("Start");
        label->setGeometry(10, 100, 100, 20);
        clickArea->setGeometry(200, 100, 23, 21);
        SetControlId(clickArea, kClickAreaId);
        dialog.move(100, 100);
    }

    void SetUp() override {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        start = dialog.pos();
    }

    // Presses the left button at a point of the widget, moves the mouse by the offset in a few
    // steps and releases it there.
    static void Drag(QWidget* widget, QPoint at, QPoint offset) {
        const QPoint pressGlobal = widget->mapToGlobal(at);
        QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, at);
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseMove(widget, widget->mapFromGlobal(pressGlobal + offset * step / 4));
        }
        QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier,
                            widget->mapFromGlobal(pressGlobal + offset));
        QCoreApplication::processEvents();
    }

    CDraggableDialog dialog;
    CIconTextButton* button = new CIconTextButton(&dialog);
    QLabel* label = new QLabel("Save to:", &dialog);
    CPictureStatic* clickArea = new CPictureStatic(&dialog);
    QPoint start;
};

} // namespace

TEST_F(DraggableDialog, PressOnFreeAreaOrStaticTextDragsTheWindow) {
    Drag(&dialog, QPoint(150, 50), QPoint(40, 30));
    QTRY_COMPARE(dialog.pos(), start + QPoint(40, 30));

    Drag(label, QPoint(5, 5), QPoint(-25, 10));
    QTRY_COMPARE(dialog.pos(), start + QPoint(15, 40));

    QTest::mouseClick(&dialog, Qt::LeftButton, Qt::NoModifier, QPoint(150, 50));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.pos(), start + QPoint(15, 40)) << "a click moves nothing";

    Drag(&dialog, QPoint(150, 50), QPoint(0, 0));
    EXPECT_EQ(dialog.pos(), start + QPoint(15, 40));
}

TEST_F(DraggableDialog, PressOnAControlGoesToTheControl) {
    QSignalSpy buttonClicks(button, &QAbstractButton::clicked);
    QSignalSpy areaClicks(clickArea, &CPictureStatic::clicked);

    Drag(button, QPoint(20, 20), QPoint(6, 4));
    Drag(clickArea, QPoint(5, 5), QPoint(4, 3));
    Drag(clickArea, QPoint(5, 5), QPoint(60, 0)); // released off the area: no click
    QTest::mouseClick(clickArea, Qt::RightButton);
    EXPECT_EQ(dialog.pos(), start);
    EXPECT_EQ(buttonClicks.count(), 1);
    ASSERT_EQ(areaClicks.count(), 1);
    EXPECT_EQ(areaClicks.at(0).at(0).toInt(), kClickAreaId);
}

TEST_F(DraggableDialog, ClickAreaLooksLikeTheBareWindow) {
    const QImage withArea = GrabPixels(dialog);
    clickArea->hide();
    const QImage withoutArea = GrabPixels(dialog);
    EXPECT_TRUE(withArea == withoutArea);
}

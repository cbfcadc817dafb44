#include "CBitmapButton.h"
#include "CDraggableDialog.h"
#include "CIconTextButton.h"
#include "CPictureStatic.h"
#include "CProgressListCtrl.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DownloadListRoles.h"
#include "ResourceImages.h"

#include <QApplication>
#include <QBitmap>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

// The pixels of exactly that colour (those the mask leaves out are the bitmap's set ones). The
// region holds a rectangle a row, so compare it with others by their difference (^).
static QRegion Pixels(const QImage& image, QRgb colour) {
    return QBitmap::fromImage(image.createMaskFromColor(colour, Qt::MaskOutColor));
}

// A keyed picture of three pixels in a row: magenta (see-through), the colour one step off it,
// and one with some alpha, which counts for nothing.
static const QRgb kIcon[] = {0xFFFF00FF, 0xFFFE00FF, 0x40102030};

// Presses the left button at a point of the widget, moves the mouse by the offset in two steps
// and releases it there.
static void Drag(QWidget* widget, QPoint at, QPoint offset) {
    const QPoint pressGlobal = widget->mapToGlobal(at);
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QTest::mouseMove(widget, widget->mapFromGlobal(pressGlobal + offset / 2));
    QTest::mouseMove(widget, widget->mapFromGlobal(pressGlobal + offset));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, widget->mapFromGlobal(pressGlobal + offset));
}

TEST(ProgressList, PaintsTheModelsColoursAndTheBarNeverSortsAndKeepsInsertAndDeleteReleases) {
    QStandardItemModel model(2, 2);
    // Two rows of two cells; texts with straight stems, so that some pixels are the text colour.
    for (int cell = 0; cell < 4; ++cell) {
        const QModelIndex index = model.index(cell / 2, cell % 2);
        model.setData(index, QString("H%1").arg(cell));
        model.setData(index, QColor(0xFF2C4FE5), Qt::ForegroundRole);
        model.setData(index, QColor(0xFFB9C5F7), Qt::BackgroundRole);
    }
    CProgressListCtrl list;
    list.setModel(&model);
    list.setCurrentIndex(model.index(1, 0));

    // Text and background colours of a row, then of the selected row: the list's own.
    const QImage pixels = list.viewport()->grab().toImage();
    for (const auto& [row, colour] :
         {std::tuple{0, 0xFF2C4FE5}, {0, 0xFFB9C5F7}, {1, 0xFFFFFFFF}, {1, 0xFF308CC6}}) {
        EXPECT_FALSE(Pixels(pixels.copy(list.visualRect(model.index(row, 0))), colour).isEmpty());
    }

    // The rows keep the model's order, and a Ctrl+click on the first row (at x 150, in its progress
    // cell) adds it to the selection.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(150, 5));
    EXPECT_EQ(model.index(0, 0).data(), "H0");
    EXPECT_EQ(list.selectionModel()->selectedRows().size(), 2);

    // By width of the progress cell (it starts at x 100) and percent: the blue strip of the bar,
    // 37 columns of 75 for half; none in a cell too narrow for a bar.
    for (const auto& [width, percent, strip] : {std::tuple{120, 50, QRect(142, 5, 37, 3)},
                                                {46, -5, QRect(142, 5, 1, 3)},
                                                {45, 100, QRect()}}) {
        list.setColumnWidth(1, width);
        model.setData(model.index(0, 1), percent, PercentRole);
        const QRegion blue = Pixels(list.viewport()->grab().toImage(), 0xFF349AFC);
        EXPECT_EQ(blue.intersected(QRect(142, 5, width - 45, 3)), QRegion(strip)) << width;
        EXPECT_EQ(blue.isEmpty(), strip.isEmpty()) << width;
    }

    // Releases of Insert and Delete stop at the list, others go on to the window.
    for (const Qt::Key key : {Qt::Key_Insert, Qt::Key_Delete, Qt::Key_A}) {
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(&list, &release);
        EXPECT_EQ(release.isAccepted(), key != Qt::Key_A) << key;
    }
}

TEST(ImageButtons, ShowTheirStateInTheirPictures) {
    QWidget window;
    auto* picture = new CBitmapButton(&window); // first in the tab order: it has the focus
    auto* tool = new CIconTextButton(&window);
    tool->setGeometry(0, 0, 60, 57);
    tool->setText("Start");
    // An icon as the program's come, without alpha; it sits at (28, 20) on the released button.
    tool->SetIconBitmap(QImage(reinterpret_cast<const uchar*>(kIcon), 3, 1, QImage::Format_RGB32));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    // The toolbar button: focus adds no mark; pressing sinks the face, which shows through the
    // magenta, and moves the icon and the caption one pixel right and down.
    const QImage released = tool->grab().toImage();
    QTest::keyClick(picture, Qt::Key_Tab); // styles mark only a focus given by keyboard
    EXPECT_EQ(tool->grab().toImage(), released);
    tool->setDown(true);
    const QImage down = tool->grab().toImage();
    EXPECT_EQ(Pixels(released, 0xFFFE00FF) ^ QRect(29, 20, 1, 1), QRegion());
    EXPECT_EQ(Pixels(down, 0xFFFE00FF) ^ QRect(30, 21, 1, 1), QRegion());
    EXPECT_EQ(Pixels(down, 0xFF000000), Pixels(released, 0xFF000000).translated(1, 1));
    EXPECT_EQ(Pixels(released, 0xFF000000).boundingRect().bottom(), 47) << "caption's last row";
    EXPECT_EQ(down.pixel(29, 21), 0xFFDBDBDB);

    // The picture button, by disabled picture, focused, pressed and enabled (1 or 0): the picture
    // shown.
    const std::tuple<int, bool, bool, bool, int> states[] = {
        {150, 0, 0, 1, 152}, {150, 1, 0, 1, 151}, {150, 1, 1, 1, 153},
        {150, 0, 0, 0, 150}, {0, 0, 0, 0, 152},
    };
    for (const auto& [disabledId, focused, pressed, enabled, shownId] : states) {
        picture->LoadBitmaps(152, 153, 151, disabledId);
        picture->resize(picture->sizeHint());
        picture->setEnabled(enabled);
        focused ? picture->setFocus() : picture->clearFocus();
        picture->setDown(pressed);
        // The window's background shows at the picture's rounded corners.
        QImage expected(89, 24, QImage::Format_ARGB32_Premultiplied);
        expected.fill(0xFFEFEFEF);
        QPainter(&expected).drawImage(0, 0, LoadBitmapResource(shownId));
        EXPECT_EQ(picture->grab().toImage(), expected) << shownId;
    }
}

TEST(StatusPanel, ALineTooLongLosesItsMiddleToAnEllipsis) {
    CStatusPanel panel;
    panel.resize(200, 50);
    panel.SetText("begin-" + QString(200, 'x') + "-end.iso\nshort");
    const QStringList lines = panel.ShownLines();
    EXPECT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.back(), "short");
    EXPECT_TRUE(lines.front().startsWith("begin-") && lines.front().endsWith("-end.iso") &&
                lines.front().contains(QChar(0x2026)))
        << lines.front().toStdString();
}

TEST(Dialog, FollowsADragOnItsFreeAreaAndFindsItsControlsButNotThoseOfChildDialogs) {
    CDraggableDialog dialog;
    dialog.move(100, 100);
    auto* button = new CIconTextButton(&dialog);
    auto* area = new CPictureStatic(new QWidget(&dialog));
    SetControlId(area, 1013);
    SetControlId(new CIconTextButton(new CDraggableDialog(&dialog)), 1014);
    QSignalSpy clicks(area, &CPictureStatic::clicked);
    dialog.show();

    Drag(button, QPoint(5, 5), QPoint(6, 4));
    Drag(area, QPoint(5, 5), QPoint(4, 3));
    Drag(area, QPoint(5, 5), QPoint(120, 0)); // released off the area: no click
    QTest::mouseClick(area, Qt::RightButton);
    QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(150, 50));
    EXPECT_EQ(dialog.pos(), QPoint(100, 100));
    EXPECT_EQ(clicks, QList<QVariantList>{{1013}});
    Drag(&dialog, QPoint(150, 50), QPoint(40, 30));
    EXPECT_EQ(dialog.pos(), QPoint(140, 130));

    // The click area paints nothing: the window's colour shows through. Ids belong to the dialog
    // that holds the control, never to its child dialogs.
    EXPECT_EQ(Pixels(area->grab().toImage(), 0xFFEFEFEF) ^ area->rect(), QRegion());
    EXPECT_EQ(GetControlId(button), -1);
    EXPECT_EQ(FindControl(&dialog, 1013), area);
    EXPECT_EQ(FindControl(area, 1013), nullptr);
    EXPECT_EQ(FindControl(&dialog, 1014), nullptr);
}

// Run at a scale factor of 2 (see CMakeLists.txt): every picture comes drawn at twice the size.
TEST(HiDpi, PicturesAreDrawnAtTwiceTheSize) {
    if (qApp->devicePixelRatio() != 2) {
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    }
    for (const int id : {130, 131, 132, 133, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151,
                         152, 153, 156, 157, 158, 159, 160, 161, 162, 163, 164, 165, 166}) {
        const QImage picture = LoadBitmapResource(id);
        EXPECT_EQ(picture.devicePixelRatio(), 2) << id;
        EXPECT_EQ(picture.size(), QImage(QString(":/res/bitmap%1.png").arg(id)).size() * 2) << id;
    }
    CBitmapButton button; // shows it pixel for pixel
    button.LoadBitmaps(152, 153, 151);
    button.resize(button.sizeHint());
    EXPECT_EQ(button.grab().toImage().size(), QSize(178, 48));
}

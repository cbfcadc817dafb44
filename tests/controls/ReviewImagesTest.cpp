#include "CBitmapButton.h"
#include "CIconTextButton.h"
#include "CProgressListCtrl.h"
#include "DownloadListRoles.h"
#include "ResourceImages.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

void AddSampleRow(QStandardItemModel& model, const QString& name, int percent, const QString& state,
                  const QVariant& text, const QVariant& background) {
    QList<QStandardItem*> cells;
    for (const QString& cellText :
         {name, QString("%1%").arg(percent), QString::number(percent * 40), state}) {
        cells.append(new QStandardItem(cellText));
        cells.back()->setData(text, Qt::ForegroundRole);
        cells.back()->setData(background, Qt::BackgroundRole);
    }
    cells[1]->setData(percent, PercentRole);
    model.appendRow(cells);
}

bool SaveForReview(QWidget& widget, const QString& name) {
    return widget.grab().save(QDir(DARTFLUX_REVIEW_DIR).filePath(name), "PNG");
}

} // namespace

// Not a check of pixels: the controls put together, saved to be looked at.
TEST(ReviewImages, SavesPicturesOfTheControls) {
    ASSERT_TRUE(QDir().mkpath(DARTFLUX_REVIEW_DIR));
    QWidget window;
    window.resize(640, 390);

    std::vector<CIconTextButton*> tools;
    int x = 8;
    for (const auto& [caption, iconId] :
         std::vector<std::pair<QString, int>>{{"Add URL", 156},
                                              {"Start", 157},
                                              {"Pause", 158},
                                              {"Remove", 159},
                                              {"Start All", 160},
                                              {"Pause All", 161},
                                              {"Remove All", 162}}) {
        if (iconId == 157 || iconId == 160) {
            auto* separator = new QLabel(&window);
            separator->setPixmap(QPixmap::fromImage(LoadBitmapResource(166)));
            separator->setGeometry(x, 15, 2, 40);
            x += 8;
        }
        tools.push_back(new CIconTextButton(&window));
        tools.back()->setText(caption);
        tools.back()->SetIconBitmap(iconId);
        tools.back()->setGeometry(x, 8, 70, 57);
        x += 76;
    }

    QStandardItemModel model;
    model.setHorizontalHeaderLabels({"File name", "Progress", "Size, Kb", "Status"});
    AddSampleRow(model, "debian-12.iso", 0, "Waiting", QColor(44, 79, 229), QColor(185, 197, 247));
    AddSampleRow(model, "notes.txt", 0, "Ready", {}, {});
    AddSampleRow(model, "video.mp4", 37, "Progress", QColor(38, 138, 22), QColor(183, 216, 178));
    AddSampleRow(model, "archive.tar.gz", 100, "Done", QColor(180, 180, 180),
                 QColor(230, 230, 230));
    AddSampleRow(model, "missing.zip", 12, "Error", QColor(202, 40, 76), QColor(238, 184, 196));
    AddSampleRow(model, "music.flac", 64, "Pause", QColor(220, 118, 19), QColor(244, 210, 177));
    AddSampleRow(model, "selected.pdf", 50, "Progress", QColor(38, 138, 22), QColor(183, 216, 178));
    AddSampleRow(model, "damaged.dat", -5, "Error", QColor(202, 40, 76), QColor(238, 184, 196));
    auto* list = new CProgressListCtrl(&window);
    list->setModel(&model);
    list->setGeometry(0, 73, 640, 200);
    for (const auto& [column, width] : {std::pair{0, 320}, {1, 120}, {2, 80}, {3, 80}}) {
        list->header()->resizeSection(column, width);
    }
    list->selectionModel()->select(model.index(6, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);

    std::vector<CBitmapButton*> pictureButtons;
    int pictureX = 8;
    for (const int focusedId : {151, 163, 148, 145, 142}) {
        pictureButtons.push_back(new CBitmapButton(&window));
        pictureButtons.back()->LoadBitmaps(focusedId + 1, focusedId + 2, focusedId, 0);
        pictureButtons.back()->setGeometry(pictureX, 290, 89, 24);
        pictureX += 97;
    }

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    pictureButtons[0]->setFocus();
    QTRY_VERIFY(pictureButtons[0]->hasFocus());
    EXPECT_TRUE(SaveForReview(window, "controls.png"));

    QTest::mousePress(tools[2], Qt::LeftButton);
    QTest::mousePress(pictureButtons[1], Qt::LeftButton);
    EXPECT_TRUE(SaveForReview(window, "controls-pressed.png"));
    QTest::mouseRelease(pictureButtons[1], Qt::LeftButton);
    QTest::mouseRelease(tools[2], Qt::LeftButton);
}

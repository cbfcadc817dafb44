#include "CBitmapButton.h"
#include "CIconTextButton.h"
#include "CProgressListCtrl.h"
#include "DownloadListRoles.h"
#include "ResourceImages.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QStandardItemModel>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct SampleRow {
    const char* fileName;
    int percent;
    const char* size;
    const char* state;
    QVariant text;
    QVariant background;
};

void FillSampleRows(QStandardItemModel& model) {
    const std::vector<SampleRow> rows = {
        {"debian-12.iso", 0, "0", "Waiting", QColor(44, 79, 229), QColor(185, 197, 247)},
        {"notes.txt", 0, "0", "Ready", QVariant(), QVariant()},
        {"queued.bin", 0, "0", "Queue", QVariant(), QVariant()},
        {"video.mp4", 37, "52133", "Progress", QColor(38, 138, 22), QColor(183, 216, 178)},
        {"archive.tar.gz", 100, "2048", "Done", QColor(180, 180, 180), QColor(230, 230, 230)},
        {"missing.zip", 12, "310", "Error", QColor(202, 40, 76), QColor(238, 184, 196)},
        {"music.flac", 64, "30412", "Pause", QColor(220, 118, 19), QColor(244, 210, 177)},
        {"selected.pdf", 50, "820", "Progress", QColor(38, 138, 22), QColor(183, 216, 178)},
        {"damaged.dat", -5, "1", "Error", QColor(202, 40, 76), QColor(238, 184, 196)},
    };
    for (const SampleRow& row : rows) {
        QList<QStandardItem*> cells;
        for (const QString& text : {QString(row.fileName), QString("%1%").arg(row.percent),
                                    QString(row.size), QString(row.state)}) {
            auto* cell = new QStandardItem(text);
            cell->setData(row.text, Qt::ForegroundRole);
            cell->setData(row.background, Qt::BackgroundRole);
            cells.append(cell);
        }
        cells[1]->setData(row.percent, PercentRole);
        model.appendRow(cells);
    }
}

bool SaveForReview(QWidget& widget, const QString& name) {
    return widget.grab().save(QDir(DARTFLUX_REVIEW_DIR).filePath(name), "PNG");
}

} // namespace

// Not a check of pixels: pictures of the controls together, to be looked at.
TEST(ReviewImages, SavesPicturesOfTheControls) {
    ASSERT_TRUE(QDir().mkpath(DARTFLUX_REVIEW_DIR));
    QWidget window;
    window.resize(640, 420);

    const std::vector<std::pair<const char*, int>> tools = {
        {"Add URL", 156},   {"Start", 157},     {"Pause", 158},      {"Remove", 159},
        {"Start All", 160}, {"Pause All", 161}, {"Remove All", 162},
    };
    std::vector<CIconTextButton*> toolButtons;
    int x = 8;
    for (int index = 0; index < static_cast<int>(tools.size()); ++index) {
        if (index == 1 || index == 4) {
            auto* separator = new QLabel(&window);
            separator->setPixmap(QPixmap::fromImage(LoadBitmapResource(166)));
            separator->setGeometry(x, 15, 2, 40);
            x += 8;
        }
        auto* button = new CIconTextButton(&window);
        button->setText(tools[index].first);
        button->SetIconBitmap(tools[index].second);
        button->setGeometry(x, 8, 60, 57);
        toolButtons.push_back(button);
        x += 67;
    }

    QStandardItemModel model;
    model.setHorizontalHeaderLabels({"File name", "Progress", "Size, Kb", "Status"});
    FillSampleRows(model);
    auto* list = new CProgressListCtrl(&window);
    list->setModel(&model);
    list->setGeometry(0, 73, 640, 240);
    for (const auto& [column, width] : {std::pair{0, 320}, {1, 120}, {2, 80}, {3, 80}}) {
        list->header()->resizeSection(column, width);
    }
    list->selectionModel()->select(model.index(7, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);

    auto* saveTo = new QLabel("Save to:", &window);
    saveTo->setGeometry(8, 327, 50, 24);
    auto* folder = new QLineEdit("/home/user/Documents/Download", &window);
    folder->setGeometry(58, 325, 366, 24);
    auto* browse = new CBitmapButton(&window);
    browse->LoadBitmaps(152, 153, 151, 0);
    browse->move(430, 325);
    auto* openFolder = new CBitmapButton(&window);
    openFolder->LoadBitmaps(164, 165, 163, 0);
    openFolder->move(527, 325);
    openFolder->resize(openFolder->sizeHint());
    browse->resize(browse->sizeHint());

    int pictureX = 8;
    for (const int firstId : {148, 145, 142}) {
        auto* button = new CBitmapButton(&window);
        button->LoadBitmaps(firstId + 1, firstId + 2, firstId, 0);
        button->setGeometry(pictureX, 380, 89, 24);
        pictureX += 97;
    }

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    browse->setFocus();
    QTRY_VERIFY(browse->hasFocus());
    EXPECT_TRUE(SaveForReview(window, "controls.png"));

    QTest::mousePress(toolButtons[2], Qt::LeftButton);
    QTest::mousePress(openFolder, Qt::LeftButton);
    EXPECT_TRUE(SaveForReview(window, "controls-pressed.png"));
    QTest::mouseRelease(openFolder, Qt::LeftButton);
    QTest::mouseRelease(toolButtons[2], Qt::LeftButton);
}

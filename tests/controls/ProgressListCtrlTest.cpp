#include "CProgressListCtrl.h"
#include "DownloadListRoles.h"
#include "WidgetPixels.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QStandardItemModel>
#include <QString>
#include <QTest>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr QRgb kBarBlue = 0xFF349AFC;
constexpr QRgb kBarWhite = 0xFFFCFEFC;

class KeyReleaseRecorder : public QWidget {
public:
    std::vector<int> released;

protected:
    void keyReleaseEvent(QKeyEvent* event) override { released.push_back(event->key()); }
};

class ProgressList : public ::testing::Test {
protected:
    ProgressList() {
        model.setColumnCount(4);
        model.setHorizontalHeaderLabels({"File name", "Progress", "Size, Kb", "Status"});
        list = new CProgressListCtrl(&window);
        list->setModel(&model);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(list);
        layout->addWidget(edit);
        window.resize(700, 300);
        for (const auto& [column, width] : {std::pair{0, 320}, {1, 120}, {2, 80}, {3, 80}}) {
            list->header()->resizeSection(column, width);
        }
    }

    void AddRow(const QString& text, const QVariant& textColour, const QVariant& background) {
        QList<QStandardItem*> cells;
        for (int column = 0; column < 4; ++column) {
            auto* cell = new QStandardItem(text);
            cell->setData(textColour, Qt::ForegroundRole);
            cell->setData(background, Qt::BackgroundRole);
            cells.append(cell);
        }
        model.appendRow(cells);
    }

    void Show() {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QRect CellRect(int row, int column) const { return list->visualRect(model.index(row, column)); }

    // A pixel of the cell's background, to the right of any text and off the bar.
    static QRgb BackgroundPixel(const QImage& image, const QRect& cell) {
        return image.pixel(cell.right() - 2, cell.bottom() - 1);
    }

    QStandardItemModel model;
    KeyReleaseRecorder window;
    CProgressListCtrl* list = nullptr;
    QLineEdit* edit = new QLineEdit(&window);
};

} // namespace

TEST_F(ProgressList, RowsTakeTheirColoursFromTheModelExceptWhenSelected) {
    struct RowCase {
        std::string name;
        QVariant text;
        QVariant background;
        bool selected;
    };
    const QColor waitingText(44, 79, 229), waitingBack(185, 197, 247);
    const QColor errorText(202, 40, 76), errorBack(238, 184, 196);
    const std::vector<RowCase> rows = {
        {"waiting, colours", waitingText, waitingBack, false},
        {"progress, brushes", QBrush(QColor(38, 138, 22)), QBrush(QColor(183, 216, 178)), false},
        {"done", QColor(180, 180, 180), QColor(230, 230, 230), false},
        {"pause", QColor(220, 118, 19), QColor(244, 210, 177), false},
        {"ready: the list's own colours", QVariant(), QVariant(), false},
        {"error, selected", errorText, errorBack, true},
        {"waiting, selected", waitingText, waitingBack, true},
    };
    for (const RowCase& row : rows) {
        AddRow("HHHH", row.text, row.background);
        if (row.selected) {
            list->selectionModel()->select(model.index(model.rowCount() - 1, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    // Bold stems wide enough to have pixels in the pure text colour.
    QFont bold("DejaVu Sans");
    bold.setPixelSize(16);
    bold.setBold(true);
    list->setFont(bold);
    Show();
    edit->setFocus();
    const QImage pixels = GrabPixels(*list->viewport());
    const QPalette& colours = list->palette();

    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const RowCase& expected = rows[row];
        SCOPED_TRACE(expected.name);
        const QColor background = expected.selected ? colours.color(QPalette::Highlight)
                                  : expected.background.isValid()
                                      ? expected.background.value<QBrush>().color()
                                      : colours.color(QPalette::Base);
        const QColor text = expected.selected         ? colours.color(QPalette::HighlightedText)
                            : expected.text.isValid() ? expected.text.value<QBrush>().color()
                                                      : colours.color(QPalette::Text);
        for (int column = 0; column < 4; ++column) {
            const QRect cell = CellRect(row, column);
            EXPECT_EQ(BackgroundPixel(pixels, cell), background.rgb()) << "column " << column;
            EXPECT_TRUE(HasColour(pixels, text, cell)) << "column " << column;
            if (expected.selected) {
                EXPECT_FALSE(HasColour(pixels, expected.background.value<QColor>(), cell));
                EXPECT_FALSE(HasColour(pixels, expected.text.value<QColor>(), cell));
            }
        }
    }
}

// The bar: left end at left + 40, N = width - 45 body columns, right end at right - 3, rows
// top + 3 to top + 9; a percent outside 0..100 counts as 100; no bar below 46 pixels.
TEST_F(ProgressList, ProgressCellCarriesTheBarOverItsText) {
    struct BarCase {
        int width;
        int percent;
        int filledColumns; // -1: no bar at all
    };
    const std::vector<BarCase> cases = {
        {120, 0, 0}, {120, 50, 37}, {120, 100, 75}, {120, -5, 75}, {120, 150, 75},
        {46, 50, 0}, {46, 100, 1},  {46, -5, 1},    {45, 100, -1}, {45, 0, -1},
    };
    AddRow("", QVariant(), QVariant());
    Show();
    QStandardItem* progress = model.item(0, 1);

    for (const BarCase& bar : cases) {
        SCOPED_TRACE(testing::Message() << "width " << bar.width << ", " << bar.percent << "%");
        list->header()->resizeSection(1, bar.width);
        progress->setText(QString("%1%").arg(bar.percent));
        progress->setData(QVariant(), PercentRole);
        const QImage withoutBar = GrabPixels(*list->viewport());
        progress->setData(bar.percent, PercentRole);
        const QImage pixels = GrabPixels(*list->viewport());

        const QRect cell = CellRect(0, 1);
        const int columns = bar.width - 45;
        const QRect barArea(cell.left() + 40, cell.top() + 3, bar.width - 41, 7);
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (bar.filledColumns < 0 || !barArea.contains(x, y)) {
                    ASSERT_EQ(pixels.pixel(x, y), withoutBar.pixel(x, y)) << x << "," << y;
                    continue;
                }
                const int barX = x - barArea.left();
                const int barY = y - barArea.top();
                const bool outline = barY == 0 || barY == 6 || barX == 0 || barX == columns + 3;
                const bool strip =
                    barX >= 2 && barX < 2 + bar.filledColumns && barY >= 2 && barY <= 4;
                ASSERT_EQ(pixels.pixel(x, y), outline || strip ? kBarBlue : kBarWhite)
                    << "bar pixel " << barX << "," << barY;
            }
        }
    }
}

TEST_F(ProgressList, SelectsWholeRowsAndManyOfThemButNeverSorts) {
    for (const char* name : {"b.zip", "a.zip", "d.zip", "c.zip", "e.zip"}) {
        AddRow(name, QVariant(), QVariant());
    }
    Show();
    const auto click = [this](int row, int column, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          CellRect(row, column).center());
    };
    click(0, 3, Qt::NoModifier);
    click(2, 0, Qt::ShiftModifier);
    click(4, 1, Qt::ControlModifier);
    QList<int> selectedRows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows(3)) {
        selectedRows.append(index.row());
    }
    std::sort(selectedRows.begin(), selectedRows.end());
    EXPECT_EQ(selectedRows, QList<int>({0, 1, 2, 4}));

    const QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(0) + 20, header->height() / 2));
    EXPECT_EQ(model.item(0, 0)->text(), "b.zip");
    EXPECT_EQ(model.item(1, 0)->text(), "a.zip");
}

TEST_F(ProgressList, KeepsInsertAndDeleteReleasesFromTheWindow) {
    AddRow("a.zip", QVariant(), QVariant());
    Show();
    for (const Qt::Key key : {Qt::Key_Delete, Qt::Key_Insert, Qt::Key_A, Qt::Key_Delete}) {
        QTest::keyRelease(list, key);
    }
    EXPECT_EQ(window.released, std::vector<int>({Qt::Key_A}));
}

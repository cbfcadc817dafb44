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
#include <QTest>
#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

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
        list->setModel(&model);
        list->setGeometry(0, 0, 700, 260);
        edit->move(0, 270);
        for (const auto& [column, width] : {std::pair{0, 320}, {1, 120}, {2, 80}, {3, 80}}) {
            list->header()->resizeSection(column, width);
        }
    }

    void AddRow(const QString& text, const QVariant& textColour, const QVariant& background) {
        QList<QStandardItem*> cells;
        for (int column = 0; column < 4; ++column) {
            cells.append(new QStandardItem(text));
            cells.back()->setData(textColour, Qt::ForegroundRole);
            cells.back()->setData(background, Qt::BackgroundRole);
        }
        model.appendRow(cells);
    }

    void Show() {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QRect CellRect(int row, int column) const { return list->visualRect(model.index(row, column)); }

    QStandardItemModel model;
    KeyReleaseRecorder window;
    CProgressListCtrl* list = new CProgressListCtrl(&window);
    QLineEdit* edit = new QLineEdit(&window);
};

} // namespace

TEST_F(ProgressList, RowsTakeTheirColoursFromTheModelExceptWhenSelected) {
    struct RowCase {
        const char* name;
        QVariant text;
        QVariant background;
        bool selected;
    };
    const std::vector<RowCase> rows = {
        {"colours", QColor(44, 79, 229), QColor(185, 197, 247), false},
        {"brushes", QBrush(QColor(38, 138, 22)), QBrush(QColor(183, 216, 178)), false},
        {"no colours: the list's own", QVariant(), QVariant(), false},
        {"selected", QColor(202, 40, 76), QColor(238, 184, 196), true},
    };
    for (const RowCase& row : rows) {
        AddRow("HHHH", row.text, row.background);
    }
    list->selectionModel()->select(model.index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
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
        const auto colour = [&](const QVariant& fromModel, QPalette::ColorRole own) {
            return expected.selected || !fromModel.isValid() ? colours.color(own)
                                                             : fromModel.value<QBrush>().color();
        };
        const QColor text =
            colour(expected.text, expected.selected ? QPalette::HighlightedText : QPalette::Text);
        const QColor background =
            colour(expected.background, expected.selected ? QPalette::Highlight : QPalette::Base);
        for (int column = 0; column < 4; ++column) {
            const QRect cell = CellRect(row, column);
            EXPECT_EQ(pixels.pixel(cell.right() - 2, cell.bottom() - 1), background.rgb())
                << "column " << column;
            EXPECT_TRUE(HasColour(pixels, text, cell)) << "column " << column;
            if (expected.selected) {
                EXPECT_FALSE(HasColour(pixels, expected.background.value<QColor>(), cell));
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
        {46, 50, 0}, {46, 100, 1},  {46, -5, 1},    {45, 100, -1},
    };
    constexpr QRgb kBlue = 0xFF349AFC;
    constexpr QRgb kWhite = 0xFFFCFEFC;
    AddRow("", QVariant(), QVariant());
    Show();
    edit->setFocus(); // keeps the style's focus mark off the row
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
        const QRect barArea(cell.left() + 40, cell.top() + 3, bar.width - 41, 7);
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (bar.filledColumns < 0 || !barArea.contains(x, y)) {
                    ASSERT_EQ(pixels.pixel(x, y), withoutBar.pixel(x, y)) << x << "," << y;
                    continue;
                }
                const int barX = x - barArea.left();
                const int barY = y - barArea.top();
                const bool outline =
                    barY == 0 || barY == 6 || barX == 0 || barX == barArea.width() - 1;
                const bool strip =
                    barX >= 2 && barX < 2 + bar.filledColumns && barY >= 2 && barY <= 4;
                ASSERT_EQ(pixels.pixel(x, y), outline || strip ? kBlue : kWhite)
                    << "bar pixel " << barX << "," << barY;
            }
        }
    }
}

TEST_F(ProgressList, SelectsManyWholeRowsNeverSortsAndKeepsInsertAndDeleteReleases) {
    for (const char* name : {"b.zip", "a.zip", "d.zip", "c.zip"}) {
        AddRow(name, QVariant(), QVariant());
    }
    Show();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CellRect(0, 3).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier, CellRect(1, 0).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      CellRect(3, 1).center());
    for (const int row : {0, 1, 3}) {
        EXPECT_TRUE(list->selectionModel()->isRowSelected(row)) << row;
    }
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), 3);

    QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    EXPECT_EQ(model.item(0, 0)->text(), "b.zip");

    for (const Qt::Key key : {Qt::Key_Delete, Qt::Key_Insert, Qt::Key_A}) {
        QTest::keyRelease(list, key);
    }
    EXPECT_EQ(window.released, std::vector<int>({Qt::Key_A}));
}

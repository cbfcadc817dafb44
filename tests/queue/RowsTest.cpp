// What a row shows: its texts and colours from the model, and the rows URL entry makes.
#include "DownloadListRoles.h"
#include "QueueTestSupport.h"
#include "RowText.h"

#include <QSignalSpy>

namespace {

using RowsTest = ScriptedQueueTest;

TEST(RowTextTest, SizesInKilobytesGroupedByPowersOfAThousand) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {1023, "0"},
        {1024, "1"},
        {1023999, "999"},
        {1024000, "1.000"},
        {1048576, "1.024"},
        {-2048, "-2"},
        {1024000000, "1.000.000"},
        {4294967296, "4.194.304"},
        {1024 * 1002003LL, "1.002.003"},
        {1000000000000000, "976.562.500.000"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(SizeText(bytes), text) << bytes;
    }
}

TEST_F(RowsTest, EveryStateShowsItsTextAndColours) {
    Add("WRQPDESU");
    const struct {
        const char* status;
        QColor text, background; // invalid: the list's own colours
    } rows[] = {
        {"Waiting", QColor(44, 79, 229), QColor(185, 197, 247)},
        {"Ready", QColor(), QColor()},
        {"Queue", QColor(), QColor()},
        {"Progress", QColor(38, 138, 22), QColor(183, 216, 178)},
        {"Done", QColor(180, 180, 180), QColor(230, 230, 230)},
        {"Error", QColor(202, 40, 76), QColor(238, 184, 196)},
        {"Pause", QColor(220, 118, 19), QColor(244, 210, 177)},
        {"", QColor(), QColor()},
    };
    for (int row = 0; row < 8; ++row) {
        const auto data = [&](int column, int role) {
            return queue.data(queue.index(row, column), role);
        };
        EXPECT_EQ(data(StatusColumn, Qt::DisplayRole).toString(), rows[row].status);
        EXPECT_EQ(data(SizeColumn, Qt::ForegroundRole).value<QColor>(), rows[row].text) << row;
        EXPECT_EQ(data(FileNameColumn, Qt::BackgroundRole).value<QColor>(), rows[row].background);
    }
    EXPECT_EQ(queue.headerData(2, Qt::Horizontal).toString(), "Size, Kb");
}

TEST_F(RowsTest, UrlLinesBecomeReadyRowsToSelectThatSurviveTheListFile) {
    queue.AddUrls("http://x/first");
    QSignalSpy toSelect(&queue, &DownloadQueue::rowsToSelect);
    // Blanks around a line and control characters anywhere would not survive the list file.
    const char lines[] = " http://x/a \r\n\r\nhttp://x/\tb\n http://x/a\0z ";
    EXPECT_EQ(queue.AddUrls(std::string(lines, sizeof lines - 1)), 3);
    EXPECT_EQ(queue.AddUrls(" \t \r\n"), 0);
    ASSERT_EQ(toSelect.count(), 1);
    EXPECT_EQ(toSelect[0][0].toInt(), 1);
    EXPECT_EQ(toSelect[0][1].toInt(), 3);
    std::string rows;
    for (int row = 0; row < queue.Count(); ++row) {
        for (int column = 0; column < 4; ++column) {
            rows += queue.data(queue.index(row, column)).toString().toStdString() + "|";
        }
        rows += queue.Item(row).url + "\n";
    }
    EXPECT_EQ(rows, "http://x/first|0%|0|Ready|http://x/first\n"
                    "http://x/a|0%|0|Ready|http://x/a\n"
                    "http://x/b|0%|0|Ready|http://x/b\n"
                    "http://x/az|0%|0|Ready|http://x/az\n");
}

} // namespace

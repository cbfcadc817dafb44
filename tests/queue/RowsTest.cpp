// Row texts and colours, the model's roles and notifications, URL entry and row removal.
#include "DownloadListRoles.h"
#include "QueueTestSupport.h"
#include "RowText.h"
#include "SplitText.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

namespace {

using S = DownloadState;

struct SizeCase {
    std::int64_t bytes;
    const char* text;
};

class SizeTextTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeTextTest, KilobytesGroupedByPowersOfAThousand) {
    EXPECT_EQ(SizeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SizeTextTest,
    ::testing::Values(SizeCase{0, "0"}, SizeCase{1023, "0"}, SizeCase{1024, "1"},
                      SizeCase{1023999, "999"}, SizeCase{1024000, "1.000"},
                      SizeCase{1048576, "1.024"}, SizeCase{1024000000, "1.000.000"},
                      SizeCase{4294967296, "4.194.304"}, SizeCase{1024000000000, "1.000.000.000"},
                      SizeCase{1000000000000000, "976.562.500.000"}, SizeCase{-2048, "-2"},
                      SizeCase{-1023, "0"}, SizeCase{-1024 * 5000LL, "-5000"},
                      SizeCase{1024 * 1002003LL, "1.002.003"},
                      SizeCase{std::numeric_limits<std::int64_t>::max(), "9007199.254.740.991"},
                      SizeCase{1024 * 123456LL, "123.456"}),
    [](const ::testing::TestParamInfo<SizeCase>& info) {
        return "Bytes" + std::to_string(info.index);
    });

TEST(SplitTextTest, EveryCarriageReturnAndLineFeedEndsALine) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"a\r\n\r\nb", {"a", "b"}},
        {"\r\n\n\r", {}},
        {"", {}},
        {" http://x/a \n\t\nlast", {" http://x/a ", "\t", "last"}},
        {"same\nsame\n", {"same", "same"}},
    };
    std::vector<std::string> lines{"stale"};
    for (const auto& [text, expected] : cases) {
        SplitText(lines, text, "\r\n");
        EXPECT_EQ(lines, expected) << text;
    }
}

class ModelTest : public ScriptedQueueTest {
protected:
    QVariant Data(int row, int column, int role = Qt::DisplayRole) {
        return queue.data(queue.index(row, column), role);
    }
};

TEST_F(ModelTest, FourColumnsWithTheirHeaders) {
    EXPECT_EQ(queue.columnCount(), 4);
    const char* headers[] = {"File name", "Progress", "Size, Kb", "Status"};
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(queue.headerData(column, Qt::Horizontal).toString(), headers[column]);
    }
    EXPECT_FALSE(queue.headerData(4, Qt::Horizontal).isValid());
    EXPECT_FALSE(queue.headerData(0, Qt::Vertical).isValid());
}

TEST_F(ModelTest, AddedUrlsAreReadyRowsInLineOrderEachToBeSelected) {
    queue.AddUrls("http://x/first");
    QSignalSpy inserted(&queue, &QAbstractItemModel::rowsInserted);
    QSignalSpy toSelect(&queue, &DownloadQueue::rowsToSelect);

    // Blanks around a line and control characters anywhere would not survive the list file.
    const char lines[] = " http://x/a \r\n\r\nhttp://x/\tb\n http://x/a\0z ";
    EXPECT_EQ(queue.AddUrls(std::string(lines, sizeof lines - 1)), 3);
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://x/first", "http://x/a", "http://x/b",
                                                "http://x/az"}));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 3);
    ASSERT_EQ(toSelect.count(), 1);
    EXPECT_EQ(toSelect[0][0].toInt(), 1);
    EXPECT_EQ(toSelect[0][1].toInt(), 3);
    const char* cells[] = {"http://x/a", "0%", "0", "Ready"};
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(Data(1, column).toString(), cells[column]);
    }

    EXPECT_EQ(queue.AddUrls("\r\n"), 0);
    EXPECT_EQ(queue.AddUrls(" \t \n"), 0);
    EXPECT_EQ(queue.AddUrls(""), 0);
    EXPECT_EQ(inserted.count(), 1);
}

TEST_F(ModelTest, RolesGiveTextsStateColoursAndTheRawPercentage) {
    const struct {
        S state;
        const char* status;
        std::optional<RowColors> colors; // none: a plain row
    } rows[] = {
        {S::Waiting, "Waiting", RowColors{QColor(44, 79, 229), QColor(185, 197, 247)}},
        {S::Ready, "Ready", std::nullopt},
        {S::Queue, "Queue", std::nullopt},
        {S::Progress, "Progress", RowColors{QColor(38, 138, 22), QColor(183, 216, 178)}},
        {S::Done, "Done", RowColors{QColor(180, 180, 180), QColor(230, 230, 230)}},
        {S::Error, "Error", RowColors{QColor(202, 40, 76), QColor(238, 184, 196)}},
        {S::Pause, "Pause", RowColors{QColor(220, 118, 19), QColor(244, 210, 177)}},
        {static_cast<S>(7), "", std::nullopt},
        {static_cast<S>(9), "", std::nullopt},
        {static_cast<S>(-1), "", std::nullopt},
    };
    for (const auto& row : rows) {
        Add(row.state, "http://x/" + std::string(row.status));
    }
    for (int row = 0; row < queue.Count(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(Data(row, StatusColumn).toString(), rows[row].status);
        for (int column = 0; column < 4; ++column) {
            const QVariant text = Data(row, column, Qt::ForegroundRole);
            const QVariant background = Data(row, column, Qt::BackgroundRole);
            ASSERT_EQ(text.isValid(), rows[row].colors.has_value());
            ASSERT_EQ(background.isValid(), rows[row].colors.has_value());
            if (rows[row].colors) {
                EXPECT_EQ(text.value<QColor>(), rows[row].colors->text);
                EXPECT_EQ(background.value<QColor>(), rows[row].colors->background);
            }
        }
    }

    Add(S::Error, "http://x/e", [](DownloadItem& item) {
        item.fileName = "e.bin";
        item.percent = 42;
        item.totalSize = 1048576;
    });
    const int last = queue.Count() - 1;
    const char* cells[] = {"e.bin", "42%", "1.024", "Error"};
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(Data(last, column).toString(), cells[column]);
    }
    EXPECT_FALSE(Data(last, 4).isValid());
    EXPECT_FALSE(Data(last + 1, 0).isValid());
    EXPECT_EQ(Data(last, ProgressColumn, PercentRole).toInt(), 42);
    EXPECT_FALSE(Data(last, FileNameColumn, PercentRole).isValid());
    EXPECT_EQ(PercentText(-5), "-5%");
}

TEST_F(ModelTest, RemoveKeepsTheOtherRowsInOrderAndIgnoresRowsOutsideTheList) {
    queue.AddUrls("0\n1\n2\n3\n4");
    QSignalSpy removed(&queue, &QAbstractItemModel::rowsRemoved);
    queue.OnRemove({2, 2, 7, -1});
    EXPECT_EQ(Urls(), (std::vector<std::string>{"0", "1", "3", "4"}));
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 2);
    EXPECT_EQ(Data(2, FileNameColumn).toString(), "3");
    queue.OnPause({5});
    queue.OnStart({-3});
    EXPECT_THROW(queue.Item(5), std::out_of_range);

    // Many scattered rows at once.
    queue.OnRemoveAll();
    std::string text;
    std::vector<int> even;
    for (int n = 0; n < 2000; ++n) {
        text += std::to_string(n) + "\n";
        if (n % 2 == 0) {
            even.push_back(n);
        }
    }
    queue.AddUrls(text);
    queue.OnRemove(even);
    ASSERT_EQ(queue.rowCount(), 1000);
    for (int row = 0; row < 1000; ++row) {
        ASSERT_EQ(queue.Item(row).url, std::to_string(2 * row + 1));
    }
}

} // namespace

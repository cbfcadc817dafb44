// Items, row texts and colours, the model's roles and notifications, and URL entry.
#include "DownloadListRoles.h"
#include "QueueTestSupport.h"
#include "RowText.h"
#include "SplitText.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

namespace {

using S = DownloadState;

TEST(DownloadItemTest, ANewItemIsAnEmptyReadyDownload) {
    const DownloadItem item;
    EXPECT_EQ(item.url, "");
    EXPECT_EQ(item.fileName, "");
    EXPECT_EQ(item.tempPath, "");
    EXPECT_EQ(item.percent, 0);
    EXPECT_EQ(item.reserved, 0);
    EXPECT_EQ(item.totalSize, 0);
    EXPECT_EQ(item.state, S::Ready);
    EXPECT_EQ(item.fileHandle, NoFileHandle);
    EXPECT_EQ(RowText(item, StatusColumn), "Ready");
    EXPECT_EQ(RowText(item, ProgressColumn), "0%");
    EXPECT_EQ(RowText(item, SizeColumn), "0");
}

TEST(DownloadItemTest, StateTexts) {
    const char* texts[] = {"Waiting", "Ready", "Queue", "Progress", "Done", "Error", "Pause"};
    for (int state = 0; state < 7; ++state) {
        EXPECT_STREQ(StateText(static_cast<S>(state)), texts[state]);
    }
    EXPECT_STREQ(StateText(static_cast<S>(7)), "");
    EXPECT_STREQ(StateText(static_cast<S>(9)), "");
    EXPECT_STREQ(StateText(static_cast<S>(-1)), "");
}

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
                      SizeCase{std::numeric_limits<std::int64_t>::max(), "9007199.254.740.991"}),
    [](const ::testing::TestParamInfo<SizeCase>& info) {
        return "Bytes" + std::to_string(info.index);
    });

TEST(RowTextTest, PercentAndNameCells) {
    DownloadItem item;
    item.percent = 100;
    EXPECT_EQ(RowText(item, ProgressColumn), "100%");
    item.percent = -5;
    EXPECT_EQ(RowText(item, ProgressColumn), "-5%");
    item.fileName = "a.bin";
    EXPECT_EQ(RowText(item, FileNameColumn), "a.bin");
    item.state = static_cast<S>(12);
    EXPECT_EQ(RowText(item, StatusColumn), "");
    EXPECT_EQ(RowText(item, 4), "");
}

TEST(RowTextTest, ColoursPerState) {
    struct Row {
        S state;
        QColor text, background;
    };
    const Row rows[] = {
        {S::Waiting, QColor(44, 79, 229), QColor(185, 197, 247)},
        {S::Progress, QColor(38, 138, 22), QColor(183, 216, 178)},
        {S::Done, QColor(180, 180, 180), QColor(230, 230, 230)},
        {S::Error, QColor(202, 40, 76), QColor(238, 184, 196)},
        {S::Pause, QColor(220, 118, 19), QColor(244, 210, 177)},
    };
    for (const Row& row : rows) {
        const auto colors = StateColors(row.state);
        ASSERT_TRUE(colors.has_value()) << StateText(row.state);
        EXPECT_EQ(colors->text, row.text) << StateText(row.state);
        EXPECT_EQ(colors->background, row.background) << StateText(row.state);
    }
    EXPECT_FALSE(StateColors(S::Ready));
    EXPECT_FALSE(StateColors(S::Queue));
    EXPECT_FALSE(StateColors(static_cast<S>(9)));
}

TEST(SplitTextTest, EveryCarriageReturnAndLineFeedEndsALine) {
    std::vector<std::string> lines{"stale"};
    SplitText(lines, "a\r\n\r\nb", "\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
    SplitText(lines, "\r\n\n\r", "\r\n");
    EXPECT_TRUE(lines.empty());
    SplitText(lines, "", "\r\n");
    EXPECT_TRUE(lines.empty());
    SplitText(lines, " http://x/a \n\t\nlast", "\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{" http://x/a ", "\t", "last"}));
    SplitText(lines, "same\nsame\n", "\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"same", "same"}));
}

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        queue.SetAutoSave(false);
        queue.SetTransferStarter(transfers.Starter());
    }
    QVariant Data(int row, int column, int role = Qt::DisplayRole) {
        return queue.data(queue.index(row, column), role);
    }
    ScriptedTransfers transfers;
    DownloadQueue queue;
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

    EXPECT_EQ(queue.AddUrls(" http://x/a \r\n\r\nhttp://x/b\n http://x/a "), 3);
    ASSERT_EQ(queue.rowCount(), 4);
    EXPECT_EQ(queue.Item(1).url, " http://x/a ");
    EXPECT_EQ(queue.Item(2).url, "http://x/b");
    EXPECT_EQ(queue.Item(3).url, " http://x/a ");
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 3);
    ASSERT_EQ(toSelect.count(), 1);
    EXPECT_EQ(toSelect[0][0].toInt(), 1);
    EXPECT_EQ(toSelect[0][1].toInt(), 3);

    EXPECT_EQ(Data(1, 0).toString(), " http://x/a ");
    EXPECT_EQ(Data(1, 1).toString(), "0%");
    EXPECT_EQ(Data(1, 2).toString(), "0");
    EXPECT_EQ(Data(1, 3).toString(), "Ready");
    EXPECT_EQ(queue.Item(1).state, S::Ready);

    EXPECT_EQ(queue.AddUrls("\r\n"), 0);
    EXPECT_EQ(queue.AddUrls(""), 0);
    EXPECT_EQ(inserted.count(), 1);
}

TEST_F(ModelTest, RolesGiveTextsColoursAndTheRawPercentage) {
    auto item = MakeItem(S::Error, "http://x/e");
    item->fileName = "e.bin";
    item->percent = 42;
    item->totalSize = 1048576;
    DownloadItems items;
    items.push_back(std::move(item));
    items.push_back(MakeItem(S::Ready, "http://x/r"));
    queue.AppendItems(std::move(items));

    EXPECT_EQ(Data(0, 0).toString(), "e.bin");
    EXPECT_EQ(Data(0, 1).toString(), "42%");
    EXPECT_EQ(Data(0, 2).toString(), "1.024");
    EXPECT_EQ(Data(0, 3).toString(), "Error");
    for (int column = 0; column < 4; ++column) {
        EXPECT_EQ(Data(0, column, Qt::ForegroundRole).value<QColor>(), QColor(202, 40, 76));
        EXPECT_EQ(Data(0, column, Qt::BackgroundRole).value<QColor>(), QColor(238, 184, 196));
        EXPECT_FALSE(Data(1, column, Qt::ForegroundRole).isValid());
        EXPECT_FALSE(Data(1, column, Qt::BackgroundRole).isValid());
    }
    EXPECT_EQ(Data(0, 1, PercentRole).toInt(), 42);
    EXPECT_FALSE(Data(0, 0, PercentRole).isValid());
    EXPECT_FALSE(Data(2, 0).isValid());
}

TEST_F(ModelTest, RemovingARowShiftsTheLaterOnes) {
    queue.AddUrls("0\n1\n2\n3\n4");
    QSignalSpy removed(&queue, &QAbstractItemModel::rowsRemoved);
    queue.OnRemove({2});
    ASSERT_EQ(queue.rowCount(), 4);
    EXPECT_EQ(Data(2, 0).toString(), "3");
    EXPECT_EQ(Data(3, 0).toString(), "4");
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 2);
}

TEST_F(ModelTest, ScatteredRemovalsOfManyRowsKeepTheOthersInOrder) {
    std::string text;
    for (int n = 0; n < 2000; ++n) {
        text += std::to_string(n) + "\n";
    }
    queue.AddUrls(text);
    std::vector<int> even;
    for (int n = 0; n < 2000; n += 2) {
        even.push_back(n);
    }
    queue.OnRemove(even);
    ASSERT_EQ(queue.rowCount(), 1000);
    for (int row = 0; row < 1000; ++row) {
        ASSERT_EQ(queue.Item(row).url, std::to_string(2 * row + 1));
    }
}

TEST_F(ModelTest, RowsOutsideTheListAndRepeatedRowsAreIgnored) {
    queue.AddUrls("0\n1\n2");
    queue.OnRemove({1, 1, 7, -1});
    EXPECT_EQ(queue.rowCount(), 2);
    queue.OnPause({5});
    queue.OnStart({-3});
    EXPECT_THROW(queue.Item(5), std::out_of_range);
}

} // namespace

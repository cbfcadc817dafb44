// The list file: records, the byte layout, damaged files, where it lives, and saving soon after
// every change.
#include "ListFile.h"
#include "QueueTestSupport.h"
#include "Settings.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using S = DownloadState;

DownloadItem ExampleItem() {
    DownloadItem item;
    item.fileName = "a.bin";
    item.tempPath = "C:\\Save\\A1B.tmp";
    item.url = "http://x/a.bin";
    item.percent = 40;
    item.totalSize = 5000;
    item.state = S::Pause;
    return item;
}

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (const int value : values) {
        bytes.append(static_cast<char>(value));
    }
    return bytes;
}

// A length-prefixed record as the file holds it.
QByteArray Record(const QByteArray& text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    return Bytes({static_cast<int>(size & 0xff), static_cast<int>(size >> 8 & 0xff),
                  static_cast<int>(size >> 16 & 0xff), static_cast<int>(size >> 24)}) +
           text;
}

QByteArray Count(int count) {
    const auto value = static_cast<std::uint32_t>(count);
    return Bytes({static_cast<int>(value & 0xff), static_cast<int>(value >> 8 & 0xff),
                  static_cast<int>(value >> 16 & 0xff), static_cast<int>(value >> 24)});
}

DownloadItems One(DownloadItem item) {
    DownloadItems items;
    items.push_back(std::make_unique<DownloadItem>(std::move(item)));
    return items;
}

TEST(RecordTest, TheExampleItemAndItsFileByteForByte) {
    const std::string record = ExampleItem().ToRecord();
    EXPECT_EQ(record, "5:a.bin;15:C:\\Save\\A1B.tmp;14:http://x/a.bin;40;0;5000;6;");
    EXPECT_EQ(record.size(), 57u);

    const QByteArray file = EncodeList(One(ExampleItem()));
    ASSERT_EQ(file.size(), 65);
    EXPECT_EQ(file.left(8), Bytes({0x01, 0, 0, 0, 0x39, 0, 0, 0}));
    EXPECT_EQ(file.mid(8).toStdString(), record);
    EXPECT_EQ(EncodeList({}), Bytes({0, 0, 0, 0}));
}

TEST(RecordTest, RoundTripKeepsEveryStoredField) {
    DownloadItem item;
    item.fileName = "we;ird:name;;";
    item.tempPath = "/tmp/x:y;z.tmp";
    item.url = "http://host:8080/a;b?c=d:e;f#g";
    item.percent = -5;
    item.reserved = 77;
    item.totalSize = 9'000'000'000'123LL;
    item.state = static_cast<S>(9);
    item.fileHandle = 12; // not stored

    const DownloadItems back = DecodeList(EncodeList(One(item)));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0]->fileName, item.fileName);
    EXPECT_EQ(back[0]->tempPath, item.tempPath);
    EXPECT_EQ(back[0]->url, item.url);
    EXPECT_EQ(back[0]->percent, -5);
    EXPECT_EQ(back[0]->reserved, 77);
    EXPECT_EQ(back[0]->totalSize, 9'000'000'000'123LL);
    EXPECT_EQ(back[0]->state, static_cast<S>(9));
    EXPECT_EQ(back[0]->fileHandle, NoFileHandle);
}

struct RecordCase {
    const char* name;
    std::string text;
    bool complete;
    DownloadItem expected;
};

DownloadItem With(std::function<void(DownloadItem&)> change) {
    DownloadItem item;
    change(item);
    return item;
}

class FromRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(FromRecordTest, ReadsWhatItCanAndKeepsDefaultsForTheRest) {
    const RecordCase& c = GetParam();
    DownloadItem item;
    EXPECT_EQ(item.FromRecord(c.text), c.complete);
    EXPECT_EQ(item.fileName, c.expected.fileName);
    EXPECT_EQ(item.tempPath, c.expected.tempPath);
    EXPECT_EQ(item.url, c.expected.url);
    EXPECT_EQ(item.percent, c.expected.percent);
    EXPECT_EQ(item.reserved, c.expected.reserved);
    EXPECT_EQ(item.totalSize, c.expected.totalSize);
    EXPECT_EQ(item.state, c.expected.state);
}

INSTANTIATE_TEST_SUITE_P(
    Records, FromRecordTest,
    ::testing::Values(
        RecordCase{"Empty", "", false, {}}, RecordCase{"NoColon", "abc;def", false, {}},
        RecordCase{"NoNumbers", "5:a.bin;0:;3:abc;", false, With([](DownloadItem& i) {
                       i.fileName = "a.bin";
                       i.url = "abc";
                   })},
        RecordCase{"NameLongerThanText", "9:abc", false,
                   With([](DownloadItem& i) { i.fileName = "abc"; })},
        RecordCase{"NegativeLength", "-3:abc;1:t;1:u;1;2;3;4;", false, {}},
        RecordCase{"NegativeLaterLength", "1:n;-1:t;1:u;1;2;3;4;", false,
                   With([](DownloadItem& i) { i.fileName = "n"; })},
        RecordCase{"MissingLastSemicolon", "1:n;1:t;1:u;1;2;3;4", false, With([](DownloadItem& i) {
                       i.fileName = "n";
                       i.tempPath = "t";
                       i.url = "u";
                       i.percent = 1;
                       i.reserved = 2;
                       i.totalSize = 3;
                   })},
        RecordCase{"LooseNumbersAndTrailingText", "1:n;1:t;1:u; +12x;-7;  -9000000000;2 ;tail",
                   true, With([](DownloadItem& i) {
                       i.fileName = "n";
                       i.tempPath = "t";
                       i.url = "u";
                       i.percent = 12;
                       i.reserved = -7;
                       i.totalSize = -9000000000LL;
                       i.state = S::Queue;
                   })},
        RecordCase{"TheByteAfterAStringIsNotExamined", "1:nX1:tY1:uZ5;0;0;3;", true,
                   With([](DownloadItem& i) {
                       i.fileName = "n";
                       i.tempPath = "t";
                       i.url = "u";
                       i.percent = 5;
                       i.state = S::Progress;
                   })},
        RecordCase{"HugeNumbersSaturate", "0:;0:;0:;99999999999;0;99999999999999999999;0;", true,
                   With([](DownloadItem& i) {
                       i.percent = std::numeric_limits<std::int32_t>::max();
                       i.totalSize = std::numeric_limits<std::int64_t>::max();
                       i.state = S::Waiting;
                   })}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

TEST(DecodeListTest, DamagedFilesLoadWhatTheyHold) {
    const QByteArray good = Record("1:a;0:;1:u;0;0;0;1;");
    EXPECT_TRUE(DecodeList({}).empty());
    EXPECT_TRUE(DecodeList(Bytes({1, 0})).empty());                    // short count
    EXPECT_TRUE(DecodeList(Count(0) + good).empty());                  // count 0
    EXPECT_TRUE(DecodeList(Count(-1) + good).empty());                 // negative count
    EXPECT_EQ(DecodeList(Count(3) + good + good).size(), 2u);          // count beyond the records
    EXPECT_EQ(DecodeList(Count(1) + good + good).size(), 1u);          // count below them
    EXPECT_EQ(DecodeList(Count(2) + good + Bytes({5, 0})).size(), 1u); // short length
    EXPECT_EQ(DecodeList(Count(2) + good + Count(100) + "1:b;").size(), 1u); // beyond the end
    EXPECT_EQ(DecodeList(Count(2) + good + Count(-1) + "1:b;").size(), 1u);  // 4 GB length

    // A zero byte cuts the record; a record of length 0 is an item with every default.
    const DownloadItems cut = DecodeList(
        Count(2) + Record(QByteArray("1:a;0:;1:u;5", 12) + QByteArray(1, '\0') + "0;0;0;1;") +
        Record(""));
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0]->url, "u");
    EXPECT_EQ(cut[0]->percent, 0);
    EXPECT_EQ(cut[0]->state, S::Ready);
    EXPECT_EQ(cut[1]->fileName, "");
    EXPECT_EQ(cut[1]->state, S::Ready);
}

class ListFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        WriteSetting(1, "");
        std::filesystem::remove_all(DataFolder());
    }

    static std::string DataFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() +
               "/Dartflux";
    }

    static QByteArray FileBytes(const std::string& path) {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder;
};

TEST_F(ListFileTest, TheFirstSaveGoesToTheDataFolderAndIsRemembered) {
    DownloadQueue queue;
    queue.LoadList(); // no setting: nothing to load
    EXPECT_EQ(queue.Count(), 0);
    ASSERT_TRUE(queue.SaveList());
    const std::string expected = DataFolder() + "/download.dat";
    EXPECT_EQ(ReadSetting(1), expected);
    EXPECT_EQ(FileBytes(expected), Count(0)); // the empty list
}

TEST_F(ListFileTest, LoadUsesOnlyTheRememberedPath) {
    const std::string path = folder.filePath("list.dat").toStdString();
    std::filesystem::create_directories(DataFolder());
    QFile other(QString::fromStdString(DataFolder() + "/download.dat"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(EncodeList(One(ExampleItem())));
    other.close();

    DownloadQueue first;
    first.LoadList();
    EXPECT_EQ(first.Count(), 0); // the default path is never loaded from

    WriteSetting(1, path);
    {
        DownloadQueue saver;
        saver.SetAutoSave(false);
        saver.AppendItems(One(ExampleItem()));
        saver.AddUrls("http://x/b");
        ASSERT_TRUE(saver.SaveList());
    }
    DownloadQueue loaded;
    loaded.SetAutoSave(false);
    loaded.SetTransferStarter(ScriptedTransfers().Starter());
    QSignalSpy toSelect(&loaded, &DownloadQueue::rowsToSelect);
    loaded.LoadList();
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.Item(0).ToRecord(), ExampleItem().ToRecord());
    EXPECT_EQ(loaded.Item(1).url, "http://x/b");
    EXPECT_FALSE(loaded.Running()); // nothing starts by itself
    ASSERT_EQ(toSelect.count(), 1); // every loaded row is selected
    EXPECT_EQ(toSelect[0][1].toInt(), 1);
}

TEST_F(ListFileTest, AnUnwritablePathSavesNothingAndKeepsTheSetting) {
    const std::string path = folder.filePath("gone/download.dat").toStdString();
    WriteSetting(1, path);
    DownloadQueue queue;
    queue.AddUrls("http://x/a");
    EXPECT_FALSE(queue.SaveList());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadSetting(1), path);
    EXPECT_FALSE(std::filesystem::exists(DataFolder() + "/download.dat")); // no default tried
}

TEST_F(ListFileTest, SavingReplacesTheWholeFile) {
    const std::string path = folder.filePath("list.dat").toStdString();
    WriteSetting(1, path);
    DownloadQueue queue;
    queue.SetAutoSave(false);
    queue.AddUrls("http://x/a\nhttp://x/b");
    ASSERT_TRUE(queue.SaveList());
    queue.OnRemoveAll();
    ASSERT_TRUE(queue.SaveList());
    EXPECT_EQ(FileBytes(path), Count(0));
}

// Without any teardown the file holds each change a moment later, so a kill loses nothing; the
// running item is stored as paused, ready to resume in the next run.
TEST_F(ListFileTest, EveryChangeReachesTheFileSoonWithoutTeardown) {
    ScriptedTransfers transfers;
    const std::string path = folder.filePath("list.dat").toStdString();
    WriteSetting(1, path);
    DownloadQueue queue;
    queue.SetTransferStarter(transfers.Starter());
    queue.SetSaveFolder(folder.path().toStdString());
    const auto onDisk = [&] { return DecodeList(FileBytes(path)); };

    queue.AddUrls("http://x/a\nhttp://x/b");
    ASSERT_TRUE(WaitFor([&] { return onDisk().size() == 2; }, 3000));

    queue.OnStart({0});
    ASSERT_TRUE(WaitFor(
        [&] {
            const DownloadItems items = onDisk();
            return items.size() == 2 && items[0]->state == S::Pause &&
                   !items[0]->tempPath.empty();
        },
        3000));

    transfers.Report([](TransferOwner& owner) {
        owner.SetFileName("a.bin");
        owner.SetTotalSize(123456);
    });
    ASSERT_TRUE(WaitFor(
        [&] {
            const DownloadItems items = onDisk();
            return items.size() == 2 && items[0]->fileName == "a.bin" &&
                   items[0]->totalSize == 123456;
        },
        3000));

    queue.OnRemove({1});
    ASSERT_TRUE(WaitFor([&] { return onDisk().size() == 1; }, 3000));
}

} // namespace

// The list file: records, the byte layout, damaged files, where it lives, and saving soon after
// every change.
#include "ListFile.h"
#include "QueueTestSupport.h"
#include "Settings.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>

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

// A little-endian 32-bit value, as counts and lengths are stored.
QByteArray Le32(std::uint32_t value) {
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.append(static_cast<char>(value >> shift & 0xff));
    }
    return bytes;
}

QByteArray Record(const QByteArray& text) {
    return Le32(static_cast<std::uint32_t>(text.size())) + text;
}

DownloadItems One(DownloadItem item) {
    DownloadItems items;
    items.push_back(std::make_unique<DownloadItem>(std::move(item)));
    return items;
}

TEST(ListBytesTest, TheExampleItemAndItsFileByteForByte) {
    const std::string record = ExampleItem().ToRecord();
    EXPECT_EQ(record, "5:a.bin;15:C:\\Save\\A1B.tmp;14:http://x/a.bin;40;0;5000;6;");
    const QByteArray file = EncodeList(One(ExampleItem()));
    EXPECT_EQ(file, QByteArray("\x01\0\0\0\x39\0\0\0", 8) + QByteArray::fromStdString(record));
    EXPECT_EQ(EncodeList({}), Le32(0));
}

TEST(ListBytesTest, RoundTripKeepsEveryStoredField) {
    DownloadItem odd;
    odd.fileName = "we;ird:name;;";
    odd.tempPath = "/tmp/x:y;z.tmp";
    odd.url = "http://host:8080/a;b?c=d:e;f#g";
    odd.percent = -5;
    odd.reserved = 77;
    odd.totalSize = 9'000'000'000'123LL;
    odd.state = static_cast<S>(9);
    odd.fileHandle = 12; // not stored
    DownloadItems items = One(odd);
    items.push_back(std::make_unique<DownloadItem>(ExampleItem()));

    const DownloadItems back = DecodeList(EncodeList(items));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0]->ToRecord(),
              "13:we;ird:name;;;14:/tmp/x:y;z.tmp;30:http://host:8080/a;b?c=d:e;"
              "f#g;-5;77;9000000000123;9;");
    EXPECT_EQ(back[0]->fileHandle, NoFileHandle);
    EXPECT_EQ(back[1]->ToRecord(), ExampleItem().ToRecord());
}

// A damaged record gives the fields read before the fault; the rest keep their defaults.
TEST(ListBytesTest, DamagedRecordsKeepWhatWasReadBeforeTheFault) {
    const struct {
        std::string text;
        bool complete;
        std::string read; // the item's record afterwards
    } cases[] = {
        {"", false, "0:;0:;0:;0;0;0;1;"},
        {"abc;def", false, "0:;0:;0:;0;0;0;1;"},
        {"5:a.bin;0:;3:abc;", false, "5:a.bin;0:;3:abc;0;0;0;1;"},
        {"9:abc", false, "3:abc;0:;0:;0;0;0;1;"},
        {"-3:abc;1:t;1:u;1;2;3;4;", false, "0:;0:;0:;0;0;0;1;"},
        {"1:n;-1:t;1:u;1;2;3;4;", false, "1:n;0:;0:;0;0;0;1;"},
        {"1:n;1:t;1:u;1;2;3;4", false, "1:n;1:t;1:u;1;2;3;1;"},
        // Numbers are read loosely, and the byte after a string is never examined.
        {"1:n;1:t;1:u; +12x;-7;  -9000000000;2 ;tail", true, "1:n;1:t;1:u;12;-7;-9000000000;2;"},
        {"1:nX1:tY1:uZ5;0;0;3;", true, "1:n;1:t;1:u;5;0;0;3;"},
        {"0:;0:;0:;99999999999;0;99999999999999999999;0;", true,
         "0:;0:;0:;2147483647;0;9223372036854775807;0;"},
        {"0:;0:;0:;0;0;18446744073709551620;-18446744073709551620;", true,
         "0:;0:;0:;0;0;9223372036854775807;-2147483648;"},
    };
    for (const auto& c : cases) {
        DownloadItem item;
        EXPECT_EQ(item.FromRecord(c.text), c.complete) << c.text;
        EXPECT_EQ(item.ToRecord(), c.read) << c.text;
    }
}

TEST(ListBytesTest, DamagedFilesLoadWhatTheyHold) {
    const QByteArray good = Record("1:a;0:;1:u;0;0;0;1;");
    EXPECT_TRUE(DecodeList({}).empty());
    EXPECT_TRUE(DecodeList(QByteArray("\x01\0", 2)).empty());                   // short count
    EXPECT_TRUE(DecodeList(Le32(0) + good).empty());                            // count 0
    EXPECT_TRUE(DecodeList(Le32(-1) + good).empty());                           // negative count
    EXPECT_EQ(DecodeList(Le32(3) + good + good).size(), 2u);                    // count too high
    EXPECT_EQ(DecodeList(Le32(1) + good + good).size(), 1u);                    // count too low
    EXPECT_EQ(DecodeList(Le32(2) + good + QByteArray("\x05\0", 2)).size(), 1u); // short length
    EXPECT_EQ(DecodeList(Le32(2) + good + Le32(100) + "1:b;").size(), 1u);      // beyond the end
    EXPECT_EQ(DecodeList(Le32(2) + good + Le32(-1) + "1:b;").size(), 1u);       // 4 GB length

    // A zero byte cuts the record; a record of length 0 is an item with every default.
    const DownloadItems cut =
        DecodeList(Le32(2) + Record(QByteArray("1:a;0:;1:u;5\0;0;0;1;", 20)) + Record(""));
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0]->ToRecord(), "1:a;0:;1:u;0;0;0;1;");
    EXPECT_EQ(cut[1]->ToRecord(), DownloadItem().ToRecord());
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

    std::string ListPath() const { return folder.filePath("list.dat").toStdString(); }

    QTemporaryDir folder;
};

TEST_F(ListFileTest, WithoutASettingTheDefaultListLoadsAndTheFirstSaveGoesThere) {
    const std::string expected = DataFolder() + "/download.dat";
    {
        DownloadQueue firstRun;
        firstRun.LoadList();
        EXPECT_EQ(firstRun.Count(), 0);
        EXPECT_EQ(ReadSetting(1), "");
        ASSERT_TRUE(firstRun.SaveList());
        EXPECT_EQ(ReadSetting(1), expected);
        EXPECT_EQ(FileBytes(expected), Le32(0));
    }

    // The settings were lost, the list was not: it loads, and later saves keep going there.
    const QByteArray kept = EncodeList(One(ExampleItem()));
    QFile list(QString::fromStdString(expected));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(kept);
    list.close();
    QFile::remove(QString::fromStdString(SettingsLocation()));
    DownloadQueue queue;
    queue.SetAutoSave(false);
    queue.LoadList();
    EXPECT_EQ(queue.Count(), 1);
    EXPECT_EQ(ReadSetting(1), expected);
    ASSERT_TRUE(queue.SaveList());
    EXPECT_EQ(FileBytes(expected), kept);
}

TEST_F(ListFileTest, ASavedListLoadsBackSelectedAndIdleAndASaveReplacesTheWholeFile) {
    WriteSetting(1, ListPath());
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
    EXPECT_EQ(toSelect[0][0].toInt(), 0);
    EXPECT_EQ(toSelect[0][1].toInt(), 1);

    loaded.OnRemoveAll();
    ASSERT_TRUE(loaded.SaveList());
    EXPECT_EQ(FileBytes(ListPath()), Le32(0));
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

// Without any teardown the file holds each change a moment later, so a kill loses nothing; the
// running item is stored as paused, ready to resume in the next run.
TEST_F(ListFileTest, EveryChangeReachesTheFileSoonWithoutTeardown) {
    ScriptedTransfers transfers;
    WriteSetting(1, ListPath());
    DownloadQueue queue;
    queue.SetTransferStarter(transfers.Starter());
    queue.Folder() = DownloadFolder(folder.path().toStdString());
    const auto onDisk = [&](const std::function<bool(const DownloadItems&)>& holds) {
        return WaitFor([&] { return holds(DecodeList(FileBytes(ListPath()))); }, 3000);
    };

    queue.AddUrls("http://x/a\nhttp://x/b");
    ASSERT_TRUE(onDisk([](const DownloadItems& items) { return items.size() == 2; }));
    // While the queue runs, the file holds what an exit would leave: running is paused,
    // scheduled is ready.
    queue.OnStartAll();
    ASSERT_TRUE(onDisk([](const DownloadItems& items) {
        return items.size() == 2 && items[0]->state == S::Pause && !items[0]->tempPath.empty() &&
               items[1]->state == S::Ready;
    }));
    transfers.Report([](TransferOwner& owner) {
        owner.SetFileName("a.bin");
        owner.SetTotalSize(123456);
    });
    ASSERT_TRUE(onDisk([](const DownloadItems& items) {
        return items.size() == 2 && items[0]->fileName == "a.bin" && items[0]->totalSize == 123456;
    }));
    queue.OnRemove({1});
    ASSERT_TRUE(onDisk([](const DownloadItems& items) { return items.size() == 1; }));
}

} // namespace

// The list file (records, bytes, damage, where it lives, saves soon after each change) and the
// settings it is found by.
#include "ListFile.h"
#include "QueueTestSupport.h"
#include "RowText.h"
#include "Settings.h"
#include "SmallFileSystem.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

QByteArray Le32(std::uint32_t value) {
    return QByteArray(reinterpret_cast<const char*>(&value), 4);
}

QByteArray Record(const QByteArray& text) {
    return Le32(static_cast<std::uint32_t>(text.size())) + text;
}

QByteArray FileBytes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteBytes(const std::string& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

TEST(ListBytesTest, RecordsAreWrittenExactlyAndReadLeniently) {
    DownloadItems items;
    items.push_back(std::make_unique<DownloadItem>());
    items[0]->FromRecord("5:a.bin;15:C:\\Save\\A1B.tmp;14:http://x/a.bin;40;0;5000;6;");
    EXPECT_EQ(EncodeList(items),
              Le32(1) + Le32(57) + "5:a.bin;15:C:\\Save\\A1B.tmp;14:http://x/a.bin;40;0;5000;6;");
    EXPECT_EQ(EncodeList({}), Le32(0));
    const struct {
        std::string text;
        bool complete;
        std::string read; // the item's record afterwards
    } cases[] = {
        {"13:we;ird:name;;;0:;3:a:b;-5;77;9000000000123;9;", true,
         "13:we;ird:name;;;0:;3:a:b;-5;77;9000000000123;9;"},
        {"", false, "0:;0:;0:;0;0;0;1;"},
        {"5:a.bin;0:;3:abc;", false, "5:a.bin;0:;3:abc;0;0;0;1;"},
        {"9:abc", false, "3:abc;0:;0:;0;0;0;1;"},
        {"1:n;-1:t;1:u;1;2;3;4;", false, "1:n;0:;0:;0;0;0;1;"},
        {"1:nX1:tY1:uZ +12x;-7;  -9000000000;2 ;tail", true, "1:n;1:t;1:u;12;-7;-9000000000;2;"},
        {"0:;0:;0:;99999999999;0;18446744073709551620;-18446744073709551620;", true,
         "0:;0:;0:;2147483647;0;9223372036854775807;-2147483648;"},
    };
    for (const auto& c : cases) {
        DownloadItem item;
        EXPECT_EQ(item.FromRecord(c.text), c.complete) << c.text;
        EXPECT_EQ(item.ToRecord(), c.read) << c.text;
    }
}

TEST(ListBytesTest, DamagedFilesLoadWhatTheyHold) {
    const QByteArray good = Record("1:a;0:;1:u;0;0;0;1;");
    const std::pair<QByteArray, std::size_t> files[] = {
        {QByteArray("\x01\0", 2), 0},
        {Le32(0) + good, 0},
        {Le32(-1) + good, 0},
        {Le32(3) + good + good, 2},
        {Le32(2) + good + Le32(100) + "1:b;", 1},
        {Le32(2) + good + Le32(-1) + "1:b;", 1},
        {Le32(2) + good + Record(good).chopped(3), 1},
    };
    for (const auto& [bytes, count] : files) {
        bool damaged = false;
        EXPECT_EQ(DecodeList(bytes, &damaged).size(), count);
        EXPECT_TRUE(damaged);
    }
    bool damaged = true;
    EXPECT_EQ(DecodeList(Le32(2) + good + good, &damaged).size(), 2);
    EXPECT_FALSE(damaged);
    // A zero byte cuts the record.
    const DownloadItems cut = DecodeList(Le32(1) + Record(QByteArray("1:a;0:;1:u;5\0;0;", 17)));
    EXPECT_EQ(cut[0]->ToRecord(), "1:a;0:;1:u;0;0;0;1;");
}

class ListFileTest : public ScriptedQueueTest {
protected:
    void SetUp() override {
        ScriptedQueueTest::SetUp();
        QFile::remove(QString::fromStdString(SettingsLocation()));
        QFile::remove(QString::fromStdString(DefaultPath()));
    }
    static std::string DefaultPath() {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() +
               "/Dartflux/download.dat";
    }
};

TEST_F(ListFileTest, AListIsNeverReplacedByASmallerOneForALostSetting) {
    queue.LoadList(); // the first run: nothing to load
    EXPECT_EQ(queue.Count(), 0);
    ASSERT_TRUE(queue.SaveList());
    EXPECT_EQ(ReadSetting(ListPathSetting), DefaultPath());
    EXPECT_EQ(FileBytes(DefaultPath()), Le32(0));

    const QByteArray kept = Le32(1) + Record("1:a;0:;1:u;0;0;0;6;");
    WriteBytes(DefaultPath(), kept);
    QFile::remove(QString::fromStdString(SettingsLocation()));
    DownloadQueue restarted;
    restarted.SetAutoSave(false);
    restarted.LoadList();
    EXPECT_EQ(restarted.Count(), 1);
    EXPECT_EQ(ReadSetting(ListPathSetting), DefaultPath());

    const std::string gone = folder.filePath("gone/download.dat").toStdString();
    WriteSetting(ListPathSetting, gone);
    EXPECT_FALSE(restarted.SaveList());
    EXPECT_EQ(ReadSetting(ListPathSetting), gone);
    EXPECT_EQ(FileBytes(DefaultPath()), kept) << "no default tried";
}

TEST_F(ListFileTest, ADamagedListIsKeptAndTheFilesAreTheOwnersAlone) {
    const std::string path = folder.filePath("list.dat").toStdString();
    WriteSetting(ListPathSetting, path);
    const QByteArray whole = Le32(1) + Record("1:a;0:;1:u;0;0;0;6;");
    const QByteArray damaged = Le32(2) + whole.mid(4) + Le32(100) + "1:b;";
    WriteBytes(path, damaged);
    ::chmod(path.c_str(), 0644);
    queue.LoadList();
    ASSERT_TRUE(queue.SaveList());
    EXPECT_EQ(FileBytes(path + ".damaged"), damaged);
    EXPECT_EQ(FileBytes(path), whole);
    for (const std::string& file : {path, path + ".damaged", SettingsLocation()}) {
        struct stat status {};
        EXPECT_EQ(::stat(file.c_str(), &status) == 0 ? status.st_mode & 0777 : 0, 0600u) << file;
    }
}

// A list over the size of one write, and a removal of rows scattered over it, which the model
// tells as a reset.
TEST_F(ListFileTest, ALongListAndItsScatteredRemovalsReachTheFile) {
    const std::string path = folder.filePath("long.dat").toStdString();
    WriteSetting(ListPathSetting, path);
    for (int i = 0; i < 600; ++i) {
        queue.AddUrls("http://host.example/a/rather/long/path/to/file-number-" + std::to_string(i) +
                      ".bin?with=a&query=string&to=make&it=longer");
    }
    ASSERT_TRUE(queue.SaveList());
    ASSERT_GT(QFileInfo(QString::fromStdString(path)).size(), 64 * 1024);
    std::string saved, shown;
    for (const auto& item : LoadListFile()) {
        saved += item->ToRecord();
    }
    for (int row = 0; row < queue.Count(); ++row) {
        shown += queue.Item(row).ToRecord();
    }
    EXPECT_TRUE(saved == shown) << "the list comes back as it was";
    std::vector<int> everyOther;
    for (int row = 0; row < 600; row += 2) {
        everyOther.push_back(row);
    }
    queue.SetAutoSave(true);
    queue.OnRemove(everyOther);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LoadListFile().size() == 300; }));
}

// A save whose bytes cannot be written (a full disk) leaves the list on disk as it was.
TEST_F(ListFileTest, AFullDiskLeavesTheListAsItWas) {
    SmallFileSystem small("64k");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.Error() << ")";
    }
    const std::string path = small.Path().toStdString() + "/download.dat";
    WriteSetting(ListPathSetting, path);
    queue.AddUrls("http://x/a");
    ASSERT_TRUE(queue.SaveList());
    const QByteArray kept = FileBytes(path);
    QFile filler(small.Path() + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(4096, 'f')) > 0) {
    }
    queue.AddUrls("http://x/b");
    EXPECT_FALSE(queue.SaveList());
    EXPECT_EQ(FileBytes(path), kept);
}

// Without any teardown the file holds each change a moment later, as an exit at that moment
// would leave it: running is paused, scheduled is ready.
TEST_F(ListFileTest, EveryChangeReachesTheFileSoonAsAnExitWouldWriteIt) {
    const std::string path = folder.filePath("list.dat").toStdString();
    WriteSetting(ListPathSetting, path);
    queue.SetAutoSave(true);
    const auto onDisk = [&](const char* states, const char* firstName) {
        return QTest::qWaitFor([&] {
            const DownloadItems items = DecodeList(FileBytes(path));
            std::string letters;
            for (const auto& item : items) {
                letters += "WRQPDES"[static_cast<int>(item->state)];
            }
            return letters == states && items[0]->fileName == firstName;
        });
    };
    queue.AddUrls("http://x/a\nhttp://x/b\nhttp://x/c");
    ASSERT_TRUE(onDisk("RRR", "http://x/a"));
    queue.OnStartAll();
    transfers.Report([](TransferOwner& owner) { owner.SetFileName("a.bin"); });
    ASSERT_TRUE(onDisk("SRR", "a.bin"));
    queue.OnRemove({2});
    ASSERT_TRUE(onDisk("SR", "a.bin"));
}

TEST(SettingsTest, EachValueIsReadOnItsOwnAndTheChosenFolderAtOnce) {
    QFile::remove(QString::fromStdString(SettingsLocation()));
    EXPECT_EQ(ReadSetting(DownloadFolderSetting), "");
    WriteSetting(12, "/other, with; odd=chars #and \xc3\xa9");
    EXPECT_EQ(ReadSetting(12), "/other, with; odd=chars #and \xc3\xa9");
    EXPECT_TRUE(FileBytes(SettingsLocation()).contains("s12="));
    for (const char* stray : {"# a comment", "[broken", "garbage", "\\"}) {
        WriteBytes(SettingsLocation(), QByteArray("[General]\ns0=/nonexistent/dl\n") + stray +
                                           "\nspeedLimit=5000000\n" + stray +
                                           "\ns1=/data/list.dat\ns3=@ByteArray(x)\n");
        EXPECT_EQ(ReadSetting(DownloadFolderSetting), "/nonexistent/dl") << stray;
        EXPECT_EQ(ReadSetting(3), "") << "not a text";
        DownloadFolder folder = DownloadFolder::FromSettings();
        folder.Choose("/nonexistent/other");
        EXPECT_EQ(ReadSetting(DownloadFolderSetting), "/nonexistent/other");
        EXPECT_EQ(ReadSetting(ListPathSetting), "/data/list.dat") << stray;
        EXPECT_EQ(ReadSetting(SpeedLimitSetting), "5000000") << stray;
    }
}

TEST_F(ListFileTest, APercentShowsWhatTheFileHoldsAfterACrashOrAFailedWrite) {
    const std::string path = folder.filePath("list.dat").toStdString();
    const std::string kept = folder.filePath("kept.tmp").toStdString();
    WriteSetting(ListPathSetting, path);
    WriteBytes(kept, QByteArray(30, 'k'));
    WriteBytes(path, Le32(2) +
                         Record(QByteArray("1:a;") + QByteArray::number(kept.size()) + ":" +
                                kept.c_str() + ";1:u;80;0;100;6;") +
                         Record("1:b;9:/gone.tmp;1:v;90;0;100;5;"));
    queue.LoadList();
    queue.OnStart({0});
    transfers.Report([](TransferOwner& owner) { owner.SetProgress(95); });
    DeliverReports();
    transfers.Finish(TransferOutcome::Failed, 9);
    EXPECT_EQ(queue.data(queue.index(0, ProgressColumn)).toString() + "|" +
                  queue.data(queue.index(1, ProgressColumn)).toString(),
              "30%|0%");
}

} // namespace

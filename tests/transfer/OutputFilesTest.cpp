#include "OutputFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool WriteAll(int fd, const std::string& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool Exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

std::int64_t SizeOf(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

class OutputFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path().toStdString();
        ASSERT_EQ(OutputFileTable::Instance().Size(), 0u) << "a test left records behind";
    }

    void TearDown() override {
        // Leave the process-wide table empty for the next test, whatever happened.
        for (const OutputFileRecord& record : OutputFileTable::Instance().Records()) {
            if (record.handle != NoFileHandle) {
                ::close(record.handle);
            }
            UnregisterOutputFile(record.handle);
        }
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const QString& name :
             QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDir::Name)) {
            names.push_back(name.toStdString());
        }
        return names;
    }

    std::string In(const std::string& name) const { return folder + "/" + name; }

    QTemporaryDir dir;
    std::string folder;
};

// ----- open ------------------------------------------------------------------------------------

TEST_F(OutputFilesTest, FirstOpenCreatesAnEmptyUniqueTmpFileAndRegistersIt) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_NE(handle, NoFileHandle);
    ASSERT_FALSE(temp.empty());

    // In the folder, one separator, a name ending ".tmp", empty.
    ASSERT_EQ(temp.compare(0, folder.size() + 1, folder + "/"), 0) << temp;
    const std::string name = temp.substr(folder.size() + 1);
    EXPECT_EQ(name.find('/'), std::string::npos);
    ASSERT_GT(name.size(), 4u);
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    EXPECT_EQ(SizeOf(temp), 0);
    EXPECT_EQ(Entries(), std::vector<std::string>{name});

    const std::optional<OutputFileRecord> record = FindOutputFile(handle);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->folder, folder);
    EXPECT_EQ(record->finalPath, "");
    EXPECT_EQ(record->tempPath, temp);
    EXPECT_EQ(record->handle, handle);

    // Write-only, appending, not inherited by children; mode 0644 less the umask.
    const int flags = ::fcntl(handle, F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_WRONLY);
    EXPECT_NE(flags & O_APPEND, 0);
    EXPECT_NE(::fcntl(handle, F_GETFD) & FD_CLOEXEC, 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status;
    ASSERT_EQ(::stat(temp.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644 & ~mask);

    // Others may read while it is open.
    ASSERT_TRUE(WriteAll(handle, "hello"));
    QFile reader(QString::fromStdString(temp));
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    EXPECT_EQ(reader.readAll(), QByteArray("hello"));

    // A second new file gets another name.
    std::string temp2;
    const FileHandle handle2 = OpenOutputFile(folder, temp2);
    ASSERT_NE(handle2, NoFileHandle);
    EXPECT_NE(handle2, handle);
    EXPECT_NE(temp2, temp);
    EXPECT_EQ(Entries().size(), 2u);
    EXPECT_EQ(OutputFileTable::Instance().Size(), 2u);

    DiscardOutputFile(handle);
    DiscardOutputFile(handle2);
    EXPECT_TRUE(Entries().empty());
    EXPECT_EQ(OutputFileTable::Instance().Size(), 0u);
}

TEST_F(OutputFilesTest, FolderEndingInSeparatorsGivesOneSeparator) {
    for (const std::string& given : {folder + "/", folder + "//"}) {
        std::string temp;
        const FileHandle handle = OpenOutputFile(given, temp);
        ASSERT_NE(handle, NoFileHandle);
        EXPECT_EQ(temp.compare(0, folder.size() + 1, folder + "/"), 0);
        EXPECT_NE(temp[folder.size() + 1], '/') << temp;
        EXPECT_EQ(FindOutputFile(handle)->folder, given); // kept as given
        ASSERT_TRUE(SetOutputFileName(handle, "x.bin"));
        EXPECT_EQ(FindOutputFile(handle)->finalPath, folder + "/x.bin");
        DiscardOutputFile(handle);
    }
    EXPECT_EQ(JoinOutputPath("/", "a"), "/a");
    EXPECT_EQ(JoinOutputPath("/srv/dl", "a"), "/srv/dl/a");
    EXPECT_EQ(JoinOutputPath("/srv/dl/", "a"), "/srv/dl/a");
    EXPECT_EQ(JoinOutputPath("/srv/dl///", "a"), "/srv/dl/a");
}

TEST_F(OutputFilesTest, ReopenAppendsAfterTheExistingBytes) {
    std::string temp;
    const FileHandle first = OpenOutputFile(folder, temp);
    ASSERT_NE(first, NoFileHandle);
    ASSERT_TRUE(WriteAll(first, "abc"));
    // As after a restart: the item keeps its path, the handle and its record are gone.
    UnregisterOutputFile(first);
    ::close(first);

    const std::string kept = temp;
    const FileHandle second = OpenOutputFile(folder, temp);
    ASSERT_NE(second, NoFileHandle);
    EXPECT_EQ(temp, kept);
    ASSERT_TRUE(WriteAll(second, "def"));
    EXPECT_EQ(ReadAll(temp), "abcdef");
    const std::optional<OutputFileRecord> record = FindOutputFile(second);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->tempPath, kept);
    EXPECT_EQ(record->finalPath, "");
    EXPECT_EQ(Entries().size(), 1u);
    DiscardOutputFile(second);
}

TEST_F(OutputFilesTest, ReopenRecreatesADeletedFileEmpty) {
    std::string temp;
    const FileHandle first = OpenOutputFile(folder, temp);
    ASSERT_TRUE(WriteAll(first, "abc"));
    UnregisterOutputFile(first);
    ::close(first);
    ASSERT_EQ(::unlink(temp.c_str()), 0);

    const std::string kept = temp;
    const FileHandle second = OpenOutputFile(folder, temp);
    ASSERT_NE(second, NoFileHandle);
    EXPECT_EQ(temp, kept);
    EXPECT_EQ(SizeOf(temp), 0);
    ASSERT_TRUE(WriteAll(second, "xyz"));
    EXPECT_EQ(ReadAll(temp), "xyz");
    DiscardOutputFile(second);
    EXPECT_FALSE(Exists(temp));
}

TEST_F(OutputFilesTest, FailedOpenRegistersARecordWithoutAHandle) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder + "/missing", temp);
    EXPECT_EQ(handle, NoFileHandle);
    EXPECT_EQ(temp, ""); // no name could be made
    std::optional<OutputFileRecord> record = FindOutputFile(NoFileHandle);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->folder, folder + "/missing");
    EXPECT_EQ(record->tempPath, "");

    std::string gone = folder + "/missing/old.tmp";
    EXPECT_EQ(OpenOutputFile(folder + "/missing", gone), NoFileHandle);
    EXPECT_EQ(gone, folder + "/missing/old.tmp");
    EXPECT_EQ(OutputFileTable::Instance().Size(), 2u);
    UnregisterOutputFile(NoFileHandle);
    UnregisterOutputFile(NoFileHandle);
    EXPECT_EQ(OutputFileTable::Instance().Size(), 0u);
}

TEST_F(OutputFilesTest, OperationsOnNoFileHandleTouchNoFile) {
    // A healthy download, named, with data.
    std::string goodTemp;
    const FileHandle good = OpenOutputFile(folder, goodTemp);
    ASSERT_NE(good, NoFileHandle);
    ASSERT_TRUE(WriteAll(good, "good"));
    ASSERT_TRUE(SetOutputFileName(good, "good.bin"));

    // A failed open whose record names an existing file (as a failed reopen of a path would).
    WriteFile(In("other.tmp"), "other");
    RegisterOutputFile(NoFileHandle, folder, In("other.tmp"));
    ASSERT_EQ(OutputFileTable::Instance().Size(), 2u);

    // Naming: the answer says whether the name is safe; no record is named.
    EXPECT_TRUE(SetOutputFileName(NoFileHandle, "other.bin"));
    EXPECT_FALSE(SetOutputFileName(NoFileHandle, "../other.bin"));
    EXPECT_EQ(FindOutputFile(NoFileHandle)->finalPath, "");

    EXPECT_EQ(RecreateOutputFile(NoFileHandle), NoFileHandle);
    EXPECT_EQ(ReadAll(In("other.tmp")), "other");

    EXPECT_EQ(CompleteOutputFile(NoFileHandle), "");
    EXPECT_EQ(ReadAll(In("other.tmp")), "other");
    EXPECT_FALSE(Exists(In("other.bin")));
    EXPECT_FALSE(FindOutputFile(NoFileHandle).has_value()); // its record was dropped

    RegisterOutputFile(NoFileHandle, folder, In("other.tmp"));
    DiscardOutputFile(NoFileHandle);
    EXPECT_EQ(ReadAll(In("other.tmp")), "other");
    EXPECT_FALSE(FindOutputFile(NoFileHandle).has_value());

    // The healthy download never noticed.
    EXPECT_TRUE(IsOpen(good));
    EXPECT_EQ(ReadAll(goodTemp), "good");
    EXPECT_EQ(FindOutputFile(good)->finalPath, In("good.bin"));
    EXPECT_EQ(CompleteOutputFile(good), "good.bin");
    EXPECT_EQ(ReadAll(In("good.bin")), "good");
}

// ----- names -----------------------------------------------------------------------------------

TEST_F(OutputFilesTest, UnsafeNamesAreRefusedAndTheRecordStaysAsItWas) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_NE(handle, NoFileHandle);

    const std::string unsafe[] = {"../x",       "a/b",       "a\\b",
                                  "..",         ".",         "",
                                  "line\nfeed", "tab\there", std::string("nul\0x", 5),
                                  "del\x7F",    "/abs",      "x/",
                                  "\r"};
    for (const std::string& name : unsafe) {
        SCOPED_TRACE("name \"" + name + "\"");
        EXPECT_FALSE(IsSafeOutputFileName(name));
        EXPECT_FALSE(SetOutputFileName(handle, name));
        EXPECT_EQ(FindOutputFile(handle)->finalPath, "");
    }
    ASSERT_TRUE(SetOutputFileName(handle, "report.pdf"));
    for (const std::string& name : unsafe) {
        SCOPED_TRACE("name \"" + name + "\"");
        EXPECT_FALSE(SetOutputFileName(handle, name));
        const std::optional<OutputFileRecord> record = FindOutputFile(handle);
        EXPECT_EQ(record->finalPath, In("report.pdf"));
        EXPECT_EQ(record->tempPath, temp);
        EXPECT_EQ(record->folder, folder);
    }

    // Safe ones, including dots, blanks and 8-bit text.
    for (const std::string name : {"...", ".hidden", "a..b", " spaced name .txt",
                                   "r\xC3\xA9sum\xC3\xA9.pdf", "x~!@#$%^&()[]{};',=+"}) {
        SCOPED_TRACE("name \"" + name + "\"");
        EXPECT_TRUE(SetOutputFileName(handle, name));
        EXPECT_EQ(FindOutputFile(handle)->finalPath, In(name));
    }
    DiscardOutputFile(handle);
}

TEST_F(OutputFilesTest, NameIsSetOnEveryRecordWithTheHandle) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    RegisterOutputFile(handle, "/elsewhere/", "/elsewhere/t.tmp");
    ASSERT_TRUE(SetOutputFileName(handle, "n.bin"));
    const std::vector<OutputFileRecord> records = OutputFileTable::Instance().Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].finalPath, In("n.bin"));
    EXPECT_EQ(records[1].finalPath, "/elsewhere/n.bin");

    // Unregister takes the first record with the handle and keeps the order of the others.
    UnregisterOutputFile(handle);
    ASSERT_EQ(OutputFileTable::Instance().Size(), 1u);
    EXPECT_EQ(FindOutputFile(handle)->tempPath, "/elsewhere/t.tmp");
    UnregisterOutputFile(handle);
    ::close(handle);
}

TEST(OutputFileNamesTest, NumberedNames) {
    const struct {
        const char* name;
        const char* first;
        const char* second;
    } cases[] = {
        {"report.pdf", "report (1).pdf", "report (2).pdf"},
        {"archive.tar.gz", "archive.tar (1).gz", "archive.tar (2).gz"},
        {"README", "README (1)", "README (2)"},
        {".bashrc", ".bashrc (1)", ".bashrc (2)"},
        {".config.json", ".config (1).json", ".config (2).json"},
        {"name.", "name. (1)", "name. (2)"},
        {"...", "... (1)", "... (2)"},
        {"a b.c d", "a b (1).c d", "a b (2).c d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NumberedOutputFileName(c.name, 0), c.name);
        EXPECT_EQ(NumberedOutputFileName(c.name, 1), c.first);
        EXPECT_EQ(NumberedOutputFileName(c.name, 2), c.second);
    }
    EXPECT_EQ(NumberedOutputFileName("a.b", 9999), "a (9999).b");
}

// ----- recreate --------------------------------------------------------------------------------

TEST_F(OutputFilesTest, RecreateKeepsPathAndNameAndEmptiesTheFile) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_TRUE(WriteAll(handle, "partial data"));
    ASSERT_TRUE(SetOutputFileName(handle, "r.bin"));

    const FileHandle fresh = RecreateOutputFile(handle);
    ASSERT_NE(fresh, NoFileHandle);
    EXPECT_EQ(SizeOf(temp), 0);
    const std::optional<OutputFileRecord> record = FindOutputFile(fresh);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->tempPath, temp);
    EXPECT_EQ(record->finalPath, In("r.bin"));
    EXPECT_EQ(record->folder, folder);
    EXPECT_EQ(OutputFileTable::Instance().Size(), 1u);
    const int flags = ::fcntl(fresh, F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_WRONLY);
    EXPECT_NE(flags & O_APPEND, 0);

    ASSERT_TRUE(WriteAll(fresh, "whole"));
    EXPECT_EQ(CompleteOutputFile(fresh), "r.bin");
    EXPECT_EQ(ReadAll(In("r.bin")), "whole");
    EXPECT_EQ(Entries(), std::vector<std::string>{"r.bin"});
}

TEST_F(OutputFilesTest, RecreateOfAnUnknownHandleTouchesNothing) {
    const int foreign = ::open(In("foreign.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(foreign, 0);
    ASSERT_TRUE(WriteAll(foreign, "mine"));
    EXPECT_EQ(RecreateOutputFile(foreign), NoFileHandle);
    EXPECT_TRUE(IsOpen(foreign));
    EXPECT_EQ(ReadAll(In("foreign.bin")), "mine");
    EXPECT_EQ(OutputFileTable::Instance().Size(), 0u);
    ::close(foreign);
}

// ----- complete --------------------------------------------------------------------------------

TEST_F(OutputFilesTest, CompleteWithANameMovesTheFile) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_TRUE(WriteAll(handle, "the body"));
    ASSERT_TRUE(SetOutputFileName(handle, "report.pdf"));

    EXPECT_EQ(CompleteOutputFile(handle), "report.pdf");
    EXPECT_FALSE(IsOpen(handle));
    EXPECT_FALSE(Exists(temp));
    EXPECT_EQ(ReadAll(In("report.pdf")), "the body");
    EXPECT_FALSE(FindOutputFile(handle).has_value());
    EXPECT_EQ(Entries(), std::vector<std::string>{"report.pdf"});
}

TEST_F(OutputFilesTest, CompleteWithoutANameLeavesTheTemporaryFile) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_TRUE(WriteAll(handle, "nameless"));

    EXPECT_EQ(CompleteOutputFile(handle), "");
    EXPECT_FALSE(IsOpen(handle));
    EXPECT_EQ(ReadAll(temp), "nameless");
    EXPECT_FALSE(FindOutputFile(handle).has_value());
    EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(OutputFilesTest, CompleteOntoTakenNamesNumbersAndNeverReplaces) {
    WriteFile(In("report.pdf"), "old original");
    WriteFile(In("report (1).pdf"), "old first copy");
    ASSERT_TRUE(QDir(dir.path()).mkdir("data.bin"));            // a folder takes a name as well
    ASSERT_EQ(::symlink("nowhere", In("link.txt").c_str()), 0); // so does a dangling link

    const auto complete = [&](const std::string& name, const std::string& body) {
        std::string temp;
        const FileHandle handle = OpenOutputFile(folder, temp);
        EXPECT_TRUE(WriteAll(handle, body));
        EXPECT_TRUE(SetOutputFileName(handle, name));
        const std::string used = CompleteOutputFile(handle);
        EXPECT_FALSE(Exists(temp));
        return used;
    };

    EXPECT_EQ(complete("report.pdf", "new one"), "report (2).pdf");
    EXPECT_EQ(complete("report.pdf", "new two"), "report (3).pdf");
    EXPECT_EQ(complete("data.bin", "data"), "data (1).bin");
    EXPECT_EQ(complete("link.txt", "text"), "link (1).txt");
    EXPECT_EQ(complete("README", "a"), "README");
    EXPECT_EQ(complete("README", "b"), "README (1)");
    EXPECT_EQ(complete(".bashrc", "c"), ".bashrc");
    EXPECT_EQ(complete(".bashrc", "d"), ".bashrc (1)");

    EXPECT_EQ(ReadAll(In("report.pdf")), "old original");
    EXPECT_EQ(ReadAll(In("report (1).pdf")), "old first copy");
    EXPECT_EQ(ReadAll(In("report (2).pdf")), "new one");
    EXPECT_EQ(ReadAll(In("report (3).pdf")), "new two");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(In("data.bin"))).isDir());
    EXPECT_EQ(ReadAll(In("data (1).bin")), "data");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(In("link.txt"))).isSymLink());
    EXPECT_EQ(ReadAll(In("link (1).txt")), "text");
    EXPECT_EQ(ReadAll(In("README")), "a");
    EXPECT_EQ(ReadAll(In("README (1)")), "b");
    EXPECT_EQ(ReadAll(In(".bashrc")), "c");
    EXPECT_EQ(ReadAll(In(".bashrc (1)")), "d");
    EXPECT_EQ(Entries().size(), 12u);
    EXPECT_EQ(OutputFileTable::Instance().Size(), 0u);
}

TEST_F(OutputFilesTest, CompleteGivesUpAfterTheBoundLeavingTheTemporaryFile) {
    WriteFile(In("full.bin"), "0");
    for (int attempt = 1; attempt < MaxOutputNameTries; ++attempt) {
        WriteFile(In(NumberedOutputFileName("full.bin", attempt)), "x");
    }
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_TRUE(WriteAll(handle, "body"));
    ASSERT_TRUE(SetOutputFileName(handle, "full.bin"));
    EXPECT_EQ(CompleteOutputFile(handle), "");
    EXPECT_EQ(ReadAll(temp), "body");
    EXPECT_FALSE(IsOpen(handle));
    EXPECT_FALSE(FindOutputFile(handle).has_value());
    EXPECT_EQ(ReadAll(In("full.bin")), "0");
    EXPECT_EQ(Entries().size(), static_cast<std::size_t>(MaxOutputNameTries) + 1);
}

TEST_F(OutputFilesTest, CompleteOfAnUnknownHandleNeitherClosesNorMoves) {
    const int foreign = ::open(In("foreign.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(foreign, 0);
    EXPECT_EQ(CompleteOutputFile(foreign), "");
    EXPECT_TRUE(IsOpen(foreign));
    EXPECT_EQ(Entries(), std::vector<std::string>{"foreign.bin"});
    ::close(foreign);
}

TEST_F(OutputFilesTest, EveryMoveMethodNeverReplaces) {
    for (NoReplaceMove method :
         {NoReplaceMove::Best, NoReplaceMove::LinkUnlink, NoReplaceMove::Reserve}) {
        SCOPED_TRACE(static_cast<int>(method));
        WriteFile(In("from"), "moving");
        WriteFile(In("taken"), "keep me");
        EXPECT_EQ(MoveFileNoReplace(In("from"), In("taken"), method), EEXIST);
        EXPECT_EQ(ReadAll(In("taken")), "keep me");
        EXPECT_EQ(ReadAll(In("from")), "moving");

        EXPECT_EQ(MoveFileNoReplace(In("from"), In("free"), method), 0);
        EXPECT_FALSE(Exists(In("from")));
        EXPECT_EQ(ReadAll(In("free")), "moving");

        EXPECT_EQ(MoveFileNoReplace(In("absent"), In("other"), method), ENOENT);
        EXPECT_FALSE(Exists(In("other")));

        ASSERT_EQ(::unlink(In("free").c_str()), 0);
        ASSERT_EQ(::unlink(In("taken").c_str()), 0);
        EXPECT_TRUE(Entries().empty());
    }
}

// ----- discard ---------------------------------------------------------------------------------

TEST_F(OutputFilesTest, DiscardClosesAndDeletesTheTemporaryFile) {
    std::string temp;
    const FileHandle handle = OpenOutputFile(folder, temp);
    ASSERT_TRUE(WriteAll(handle, "partial"));
    ASSERT_TRUE(SetOutputFileName(handle, "final.bin"));
    DiscardOutputFile(handle);
    EXPECT_FALSE(IsOpen(handle));
    EXPECT_FALSE(Exists(temp));
    EXPECT_FALSE(Exists(In("final.bin")));
    EXPECT_FALSE(FindOutputFile(handle).has_value());
    EXPECT_TRUE(Entries().empty());
}

TEST_F(OutputFilesTest, DiscardOfAnUnknownHandleTouchesNothing) {
    // A completed download, a download that keeps its file, and a descriptor that is not ours.
    std::string doneTemp;
    const FileHandle done = OpenOutputFile(folder, doneTemp);
    ASSERT_TRUE(WriteAll(done, "done"));
    ASSERT_TRUE(SetOutputFileName(done, "done.bin"));
    ASSERT_EQ(CompleteOutputFile(done), "done.bin");

    std::string keptTemp;
    const FileHandle kept = OpenOutputFile(folder, keptTemp);
    ASSERT_TRUE(WriteAll(kept, "kept"));

    const int foreign = ::open(In("foreign.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(foreign, 0);

    const std::vector<std::string> before = Entries();
    DiscardOutputFile(foreign);
    DiscardOutputFile(123456); // never opened
    DiscardOutputFile(NoFileHandle);
    if (done != kept && done != foreign) {
        DiscardOutputFile(done); // already completed
    }
    EXPECT_EQ(Entries(), before);
    EXPECT_TRUE(IsOpen(foreign));
    EXPECT_TRUE(IsOpen(kept));
    EXPECT_EQ(ReadAll(In("done.bin")), "done");
    EXPECT_EQ(ReadAll(keptTemp), "kept");
    EXPECT_EQ(OutputFileTable::Instance().Size(), 1u);
    ::close(foreign);
    DiscardOutputFile(kept);
}

// ----- two threads -----------------------------------------------------------------------------

TEST_F(OutputFilesTest, TwoThreadsShareTheTable) {
    // The UI thread opens files, hands one per round to the worker and discards another; the
    // worker writes, names (mostly the same name, so numbering races too), sometimes recreates,
    // and completes. Descriptors are reused all the time.
    constexpr int Rounds = 400;
    struct Job {
        FileHandle handle;
        int round;
    };
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Job> jobs;
    bool finished = false;
    std::map<std::string, int> usedNames; // worker only
    int uiFailures = 0;
    int workerFailures = 0;

    std::thread worker([&] {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex);
                ready.wait(lock, [&] { return finished || !jobs.empty(); });
                if (jobs.empty()) {
                    return;
                }
                job = jobs.front();
                jobs.pop_front();
            }
            const std::string body = "body " + std::to_string(job.round);
            FileHandle handle = job.handle;
            if (!WriteAll(handle, job.round % 5 == 0 ? "rubbish" : body)) {
                ++workerFailures;
            }
            const std::string name =
                job.round % 3 == 0 ? "own " + std::to_string(job.round) + ".bin" : "same.bin";
            if (!SetOutputFileName(handle, name) || !FindOutputFile(handle)) {
                ++workerFailures;
            }
            if (job.round % 5 == 0) {
                handle = RecreateOutputFile(handle);
                if (handle == NoFileHandle || !WriteAll(handle, body)) {
                    ++workerFailures;
                }
            }
            const std::string used = CompleteOutputFile(handle);
            if (used.empty() || !usedNames.emplace(used, job.round).second) {
                ++workerFailures;
            }
        }
    });

    for (int round = 0; round < Rounds; ++round) {
        std::string handedTemp;
        const FileHandle handed = OpenOutputFile(folder, handedTemp);
        std::string droppedTemp;
        const FileHandle dropped = OpenOutputFile(folder, droppedTemp);
        if (handed == NoFileHandle || dropped == NoFileHandle || handed == dropped) {
            ++uiFailures;
            continue;
        }
        {
            std::lock_guard lock(mutex);
            jobs.push_back({handed, round});
        }
        ready.notify_one();
        if (!WriteAll(dropped, "dropped") || !FindOutputFile(dropped)) {
            ++uiFailures;
        }
        DiscardOutputFile(dropped);
        if (Exists(droppedTemp)) {
            ++uiFailures;
        }
    }
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    ready.notify_one();
    worker.join();

    EXPECT_EQ(uiFailures, 0);
    EXPECT_EQ(workerFailures, 0);
    EXPECT_EQ(OutputFileTable::Instance().Size(), 0u);
    ASSERT_EQ(usedNames.size(), static_cast<std::size_t>(Rounds));
    // Exactly the completed files remain, each with its own body; no temporary file is left.
    std::set<std::string> expected;
    for (const auto& [name, round] : usedNames) {
        expected.insert(name);
        EXPECT_EQ(ReadAll(In(name)), "body " + std::to_string(round)) << name;
    }
    const std::vector<std::string> entries = Entries();
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()), expected);
    EXPECT_TRUE(usedNames.count("same.bin"));
    EXPECT_TRUE(usedNames.count("same (1).bin"));
}

} // namespace

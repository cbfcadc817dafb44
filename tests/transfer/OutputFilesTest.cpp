#include "OutputFiles.h"
#include "FileOperations.h"
#include "SmallFileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <map>
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
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
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

// Downloads append to a file nobody else writes, and no child process inherits it.
void ExpectAppendOnly(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_WRONLY);
    EXPECT_NE(flags & O_APPEND, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
}

class OutputFilesTest : public ::testing::Test {
protected:
    struct Opened {
        FileHandle handle;
        std::string temp;
    };

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(OutputFileRecords().size(), 0u) << "a test left records behind";
    }

    void TearDown() override {
        // The table is process-wide: leave it empty for the next test, whatever happened.
        for (const OutputFileRecord& record : OutputFileRecords()) {
            if (record.handle != NoFileHandle) {
                ::close(record.handle);
            }
            UnregisterOutputFile(record.handle);
        }
    }

    // A new temporary file holding body, named when name is not empty.
    Opened Open(const std::string& body = "", const std::string& name = "") {
        Opened opened{NoFileHandle, ""};
        opened.handle = OpenOutputFile(folder, opened.temp);
        EXPECT_NE(opened.handle, NoFileHandle);
        EXPECT_TRUE(WriteAll(opened.handle, body));
        if (!name.empty()) {
            EXPECT_FALSE(SetOutputFileName(opened.handle, name).empty());
        }
        return opened;
    }

    // A descriptor the table does not know.
    int OpenForeign() const {
        return ::open(In("foreign.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
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
    std::size_t Records() const { return OutputFileRecords().size(); }

    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
};

TEST_F(OutputFilesTest, FirstOpenCreatesAnEmptyUniqueTmpFileAndRegistersIt) {
    const Opened first = Open();
    ASSERT_EQ(first.temp.rfind(folder + "/", 0), 0u) << first.temp;
    const std::string name = first.temp.substr(folder.size() + 1);
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_TRUE(name.size() > 4 && name.ends_with(".tmp")) << name;
    EXPECT_EQ(Entries(), std::vector<std::string>{name});
    EXPECT_EQ(ReadAll(first.temp), "");

    const std::optional<OutputFileRecord> record = FindOutputFile(first.handle);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->folder, folder);
    EXPECT_EQ(record->finalPath, "");
    EXPECT_EQ(record->tempPath, first.temp);
    EXPECT_EQ(record->handle, first.handle);
    ExpectAppendOnly(first.handle);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status;
    ASSERT_EQ(::stat(first.temp.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644 & ~mask);

    // Others may read it while it is open; another new file gets another name.
    ASSERT_TRUE(WriteAll(first.handle, "hello"));
    EXPECT_EQ(ReadAll(first.temp), "hello");
    const Opened second = Open();
    EXPECT_NE(second.handle, first.handle);
    EXPECT_NE(second.temp, first.temp);
    EXPECT_EQ(Records(), 2u);
}

TEST_F(OutputFilesTest, PathsHaveOneSeparatorWhateverTheFolderEndsWith) {
    for (const std::string& given : {folder + "/", folder + "//"}) {
        std::string temp;
        const FileHandle handle = OpenOutputFile(given, temp);
        ASSERT_NE(handle, NoFileHandle);
        EXPECT_EQ(temp.rfind(folder + "/", 0), 0u);
        EXPECT_NE(temp[folder.size() + 1], '/') << temp;
        EXPECT_EQ(FindOutputFile(handle)->folder, given);
        ASSERT_EQ(SetOutputFileName(handle, "x.bin"), "x.bin");
        EXPECT_EQ(FindOutputFile(handle)->finalPath, In("x.bin"));
        DiscardOutputFile(handle);
    }
    EXPECT_EQ(JoinOutputPath("/", "a"), "/a");
    EXPECT_EQ(JoinOutputPath("/srv/dl", "a"), "/srv/dl/a");
    EXPECT_EQ(JoinOutputPath("/srv/dl///", "a"), "/srv/dl/a");
}

TEST_F(OutputFilesTest, ReopenAppendsAfterTheExistingBytesOrRecreatesADeletedFile) {
    // As after a restart: the item keeps its path, its handle and record are gone.
    const auto restart = [](FileHandle handle) {
        UnregisterOutputFile(handle);
        ::close(handle);
    };
    Opened opened = Open("abc");
    const std::string kept = opened.temp;
    restart(opened.handle);
    opened.handle = OpenOutputFile(folder, opened.temp);
    ASSERT_NE(opened.handle, NoFileHandle);
    EXPECT_EQ(opened.temp, kept);
    ASSERT_TRUE(WriteAll(opened.handle, "def"));
    EXPECT_EQ(ReadAll(kept), "abcdef");
    EXPECT_EQ(FindOutputFile(opened.handle)->tempPath, kept);
    EXPECT_EQ(Entries().size(), 1u);

    restart(opened.handle);
    ASSERT_EQ(::unlink(kept.c_str()), 0);
    opened.handle = OpenOutputFile(folder, opened.temp);
    ASSERT_NE(opened.handle, NoFileHandle);
    EXPECT_EQ(opened.temp, kept);
    EXPECT_EQ(ReadAll(kept), "");
    ASSERT_TRUE(WriteAll(opened.handle, "xyz"));
    EXPECT_EQ(ReadAll(kept), "xyz");
    restart(opened.handle);

    // A list file may name anything: only a file of ours is appended to; anything else stays
    // as it is and the download starts a new temporary file.
    WriteFile(In("notes.txt"), "notes");
    WriteFile(In("shared.tmp"), "shared");
    ASSERT_EQ(::link(In("shared.tmp").c_str(), In("hard.tmp").c_str()), 0);
    ASSERT_EQ(::symlink(In("notes.txt").c_str(), In("link.tmp").c_str()), 0);
    ASSERT_EQ(::mkfifo(In("pipe.tmp").c_str(), 0644), 0);
    for (const char* foreign : {"notes.txt", "hard.tmp", "link.tmp", "pipe.tmp"}) {
        SCOPED_TRACE(foreign);
        std::string temp = In(foreign);
        const FileHandle handle = OpenOutputFile(folder, temp);
        ASSERT_NE(handle, NoFileHandle);
        EXPECT_TRUE(temp.ends_with(".tmp") && temp != In(foreign)) << temp;
        ASSERT_TRUE(WriteAll(handle, "new"));
        EXPECT_EQ(ReadAll(temp), "new");
        DiscardOutputFile(handle);
    }
    EXPECT_EQ(ReadAll(In("notes.txt")), "notes");
    EXPECT_EQ(ReadAll(In("hard.tmp")), "shared");
}

TEST_F(OutputFilesTest, FailedOpensRegisterRecordsThatNeverActOnFiles) {
    std::string temp;
    EXPECT_EQ(OpenOutputFile(In("missing"), temp), NoFileHandle);
    EXPECT_EQ(temp, "");
    EXPECT_EQ(FindOutputFile(NoFileHandle)->folder, In("missing"));
    std::string gone = In("missing/old.tmp");
    EXPECT_EQ(OpenOutputFile(In("missing"), gone), NoFileHandle);
    EXPECT_EQ(gone, "");
    ASSERT_EQ(Records(), 2u);
    UnregisterOutputFile(NoFileHandle);
    UnregisterOutputFile(NoFileHandle);
    ASSERT_EQ(Records(), 0u);

    // A healthy named download, and failed opens whose records name an existing file.
    const Opened good = Open("good", "good.bin");
    WriteFile(In("other.tmp"), "other");
    RegisterOutputFile(NoFileHandle, folder, In("other.tmp"));
    RegisterOutputFile(NoFileHandle, folder, In("other.tmp"));

    EXPECT_EQ(SetOutputFileName(NoFileHandle, "../other.bin"), "other.bin"); // names nothing
    EXPECT_EQ(FindOutputFile(NoFileHandle)->finalPath, "");
    EXPECT_EQ(RecreateOutputFile(NoFileHandle), NoFileHandle);
    EXPECT_EQ(CompleteOutputFile(NoFileHandle).error, EBADF);
    EXPECT_EQ(Records(), 2u); // one record at a time
    DiscardOutputFile(NoFileHandle);
    EXPECT_FALSE(FindOutputFile(NoFileHandle).has_value());
    EXPECT_EQ(ReadAll(In("other.tmp")), "other");

    EXPECT_TRUE(IsOpen(good.handle));
    EXPECT_EQ(ReadAll(good.temp), "good");
    EXPECT_EQ(CompleteOutputFile(good.handle).name, "good.bin");
    EXPECT_EQ(Entries(), (std::vector<std::string>{"good.bin", "other.tmp"}));
}

TEST_F(OutputFilesTest, UnusableNamesChangeNothingAndLongNamesFitTheFolder) {
    const Opened opened = Open("", "report.pdf");
    for (const std::string& name : {std::string(".."), std::string(" . "), std::string(),
                                    std::string("line\nfeed"), std::string("nul\0x", 5)}) {
        EXPECT_EQ(SetOutputFileName(opened.handle, name), "");
        EXPECT_EQ(FindOutputFile(opened.handle)->finalPath, In("report.pdf"));
    }
    EXPECT_EQ(SetOutputFileName(opened.handle, "../evil\u202Etxt.exe"), "eviltxt.exe");
    EXPECT_EQ(FindOutputFile(opened.handle)->finalPath, In("eviltxt.exe"));

    // Against the folder's real limit: a name that is too long, and the same name when taken.
    const std::size_t limit = FolderNameLimit(folder);
    const std::string fitted = std::string(limit - 4, 'a') + ".bin";
    for (const std::string& used : {fitted, std::string(limit - 8, 'a') + " (1).bin"}) {
        const Opened tooLong = Open(used, std::string(300, 'a') + ".bin");
        EXPECT_EQ(FindOutputFile(tooLong.handle)->finalPath, In(fitted));
        EXPECT_EQ(CompleteOutputFile(tooLong.handle).name, used);
        EXPECT_EQ(ReadAll(In(used)), used);
    }
}

TEST_F(OutputFilesTest, RecreateKeepsPathAndNameAndEmptiesTheFile) {
    const Opened opened = Open("partial data", "r.bin");
    const FileHandle fresh = RecreateOutputFile(opened.handle);
    ASSERT_NE(fresh, NoFileHandle);
    EXPECT_EQ(ReadAll(opened.temp), "");
    const std::optional<OutputFileRecord> record = FindOutputFile(fresh);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->tempPath, opened.temp);
    EXPECT_EQ(record->finalPath, In("r.bin"));
    EXPECT_EQ(Records(), 1u);
    ExpectAppendOnly(fresh);

    ASSERT_TRUE(WriteAll(fresh, "whole"));
    EXPECT_EQ(CompleteOutputFile(fresh).name, "r.bin");
    EXPECT_EQ(ReadAll(In("r.bin")), "whole");
    EXPECT_EQ(Entries(), std::vector<std::string>{"r.bin"});
}

TEST_F(OutputFilesTest, CompleteMovesANamedFileNamesANamelessOneAndDiscardDeletes) {
    const Opened named = Open("the body", "report.pdf");
    EXPECT_EQ(CompleteOutputFile(named.handle).name, "report.pdf");
    EXPECT_FALSE(IsOpen(named.handle));
    EXPECT_EQ(ReadAll(In("report.pdf")), "the body");

    const Opened nameless = Open("nameless");
    EXPECT_EQ(CompleteOutputFile(nameless.handle).name, "download");
    EXPECT_FALSE(IsOpen(nameless.handle));
    EXPECT_EQ(ReadAll(In("download")), "nameless");

    const Opened discarded = Open("partial", "final.bin");
    DiscardOutputFile(discarded.handle);
    EXPECT_FALSE(IsOpen(discarded.handle));
    EXPECT_EQ(Records(), 0u);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"download", "report.pdf"}));
}

TEST_F(OutputFilesTest, CompleteOntoTakenNamesNumbersAndNeverReplaces) {
    WriteFile(In("report.pdf"), "old original");
    WriteFile(In("report (1).pdf"), "old first copy");
    ASSERT_TRUE(QDir(dir.path()).mkdir("data.bin"));            // a folder takes a name as well
    ASSERT_EQ(::symlink("nowhere", In("link.txt").c_str()), 0); // so does a dangling link

    const struct {
        std::string name, body, used;
    } completions[] = {
        {"report.pdf", "new one", "report (2).pdf"},
        {"report.pdf", "new two", "report (3).pdf"},
        {"data.bin", "data", "data (1).bin"},
        {"link.txt", "text", "link (1).txt"},
        {"README", "a", "README"},
        {"README", "b", "README (1)"},
    };
    for (const auto& c : completions) {
        const Opened opened = Open(c.body, c.name);
        EXPECT_EQ(CompleteOutputFile(opened.handle).name, c.used);
        EXPECT_FALSE(Exists(opened.temp));
        EXPECT_EQ(ReadAll(In(c.used)), c.body);
    }
    EXPECT_EQ(ReadAll(In("report.pdf")), "old original");
    EXPECT_EQ(ReadAll(In("report (1).pdf")), "old first copy");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(In("data.bin"))).isDir());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(In("link.txt"))).isSymLink());
    EXPECT_EQ(Entries().size(), 10u);
}

TEST_F(OutputFilesTest, ACompletionThatCannotBeMadeKeepsTheFileOpenForAnotherTry) {
    WriteFile(In("full.bin"), "x");
    for (int attempt = 1; attempt < MaxOutputNameTries; ++attempt) {
        WriteFile(In("full (" + std::to_string(attempt) + ").bin"), "x");
    }
    const Opened opened = Open("body", "full.bin");
    const OutputCompletion completion = CompleteOutputFile(opened.handle);
    EXPECT_EQ(completion.error, EEXIST);
    EXPECT_EQ(completion.name, "");
    EXPECT_EQ(ReadAll(opened.temp), "body");
    EXPECT_TRUE(IsOpen(opened.handle));
    EXPECT_EQ(FindOutputFile(opened.handle)->tempPath, opened.temp);
    EXPECT_EQ(Entries().size(), static_cast<std::size_t>(MaxOutputNameTries) + 1);

    ASSERT_EQ(::unlink(In("full (7).bin").c_str()), 0);
    EXPECT_EQ(CompleteOutputFile(opened.handle).name, "full (7).bin");
    EXPECT_EQ(ReadAll(In("full (7).bin")), "body");
}

TEST_F(OutputFilesTest, ACompletionIntoAnotherFileSystemCopiesAndNeverLosesTheData) {
    SmallFileSystem other("1m");
    if (!other.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << other.Error() << ")";
    }
    // A paused download's temporary file, resumed after the folder moved to the tmpfs.
    const auto reopenedFor = [this](const std::string& targetFolder, const std::string& body) {
        Opened opened = Open(body);
        UnregisterOutputFile(opened.handle);
        ::close(opened.handle);
        opened.handle = OpenOutputFile(targetFolder, opened.temp);
        EXPECT_NE(opened.handle, NoFileHandle);
        return opened;
    };
    const std::string target = other.Path().toStdString();
    const Opened fits = reopenedFor(target, "moved across");
    EXPECT_EQ(SetOutputFileName(fits.handle, "a.bin"), "a.bin");
    EXPECT_EQ(CompleteOutputFile(fits.handle).name, "a.bin");
    EXPECT_EQ(ReadAll(target + "/a.bin"), "moved across");
    EXPECT_FALSE(Exists(fits.temp));

    const std::string big(2 * 1024 * 1024, 'b');
    const Opened tooBig = reopenedFor(target, big);
    EXPECT_EQ(CompleteOutputFile(tooBig.handle).error, ENOSPC);
    EXPECT_EQ(ReadAll(tooBig.temp), big);
    EXPECT_TRUE(IsOpen(tooBig.handle));
    EXPECT_EQ(QDir(other.Path()).entryList(QDir::Files), QStringList{"a.bin"});
}

TEST_F(OutputFilesTest, EveryMoveMethodNeverReplaces) {
    for (NoReplaceMove method :
         {NoReplaceMove::Best, NoReplaceMove::LinkUnlink, NoReplaceMove::Reserve}) {
        SCOPED_TRACE(static_cast<int>(method));
        WriteFile(In("from"), "moving");
        WriteFile(In("taken"), "keep me");
        EXPECT_EQ(MoveFileNoReplace(In("from"), In("taken"), method), EEXIST);
        EXPECT_EQ(ReadAll(In("taken")), "keep me");
        EXPECT_EQ(MoveFileNoReplace(In("from"), In("free"), method), 0);
        EXPECT_EQ(ReadAll(In("free")), "moving");
        EXPECT_EQ(MoveFileNoReplace(In("absent"), In("other"), method), ENOENT);
        EXPECT_EQ(Entries(), (std::vector<std::string>{"free", "taken"}));
        ASSERT_EQ(::unlink(In("free").c_str()), 0);
    }
}

TEST_F(OutputFilesTest, UnknownHandlesAreNeitherClosedNorTouched) {
    // A completed download, one that keeps its file, and a descriptor that is not ours.
    const Opened done = Open("done", "done.bin");
    ASSERT_EQ(CompleteOutputFile(done.handle).name, "done.bin");
    const Opened kept = Open("kept");
    const int foreign = OpenForeign();
    ASSERT_GE(foreign, 0);
    ASSERT_TRUE(WriteAll(foreign, "mine"));
    const std::vector<std::string> before = Entries();

    EXPECT_EQ(RecreateOutputFile(foreign), NoFileHandle);
    EXPECT_EQ(CompleteOutputFile(foreign).error, EBADF);
    DiscardOutputFile(foreign);
    DiscardOutputFile(123456); // never opened
    if (done.handle != kept.handle && done.handle != foreign) {
        DiscardOutputFile(done.handle); // already completed
    }
    EXPECT_EQ(Entries(), before);
    EXPECT_TRUE(IsOpen(foreign));
    EXPECT_TRUE(IsOpen(kept.handle));
    EXPECT_EQ(ReadAll(In("foreign.bin")), "mine");
    EXPECT_EQ(ReadAll(In("done.bin")), "done");
    EXPECT_EQ(ReadAll(kept.temp), "kept");
    EXPECT_EQ(Records(), 1u);
    ::close(foreign);
}

TEST_F(OutputFilesTest, TwoThreadsShareTheTable) {
    // Both threads open two files per round, write, name (mostly the same name, so numbering
    // races too), sometimes recreate, then complete one and discard the other: descriptors one
    // thread closes are reopened by the other all the time.
    constexpr int Rounds = 300;
    std::map<std::string, std::string> completed[2]; // name -> body, per thread
    int failures[2] = {0, 0};
    const auto churn = [&](int id) {
        for (int round = 0; round < Rounds; ++round) {
            const std::string body = std::to_string(id) + " body " + std::to_string(round);
            const bool recreate = round % 5 == 0;
            std::string keptTemp;
            std::string droppedTemp;
            FileHandle kept = OpenOutputFile(folder, keptTemp);
            const FileHandle dropped = OpenOutputFile(folder, droppedTemp);
            bool ok = kept != NoFileHandle && dropped != NoFileHandle && kept != dropped &&
                      WriteAll(kept, recreate ? "rubbish" : body) && WriteAll(dropped, "x") &&
                      !SetOutputFileName(kept, round % 3 == 0 ? body + ".bin" : "same.bin").empty();
            if (ok && recreate) {
                kept = RecreateOutputFile(kept);
                ok = kept != NoFileHandle && WriteAll(kept, body);
            }
            DiscardOutputFile(dropped);
            const std::string used = CompleteOutputFile(kept).name;
            ok = ok && !Exists(droppedTemp) && !used.empty() &&
                 completed[id].emplace(used, body).second;
            failures[id] += ok ? 0 : 1;
        }
    };
    std::thread other(churn, 1);
    churn(0);
    other.join();

    EXPECT_EQ(failures[0], 0);
    EXPECT_EQ(failures[1], 0);
    EXPECT_EQ(Records(), 0u);
    // Exactly the completed files remain, each with its own body: no temporary file is left.
    std::set<std::string> expected;
    for (const auto& perThread : completed) {
        for (const auto& [name, body] : perThread) {
            expected.insert(name);
            EXPECT_EQ(ReadAll(In(name)), body) << name;
        }
    }
    EXPECT_EQ(expected.size(), 2u * Rounds);
    EXPECT_TRUE(expected.count("same.bin") && expected.count("same (1).bin"));
    const std::vector<std::string> entries = Entries();
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()), expected);
}

} // namespace

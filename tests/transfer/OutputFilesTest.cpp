#include "OutputFiles.h"
#include "FileOperations.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

class OutputFilesTest : public ::testing::Test {
protected:
    struct Opened {
        FileHandle handle = NoFileHandle;
        std::string temp;
    };

    // A new temporary file holding body, named when name is not empty.
    Opened Open(const std::string& body = "", const std::string& name = "") {
        Opened opened;
        opened.handle = OpenOutputFile(folder, opened.temp);
        EXPECT_EQ(WriteAll(opened.handle, body.data(), body.size()), 0);
        if (!name.empty()) {
            EXPECT_FALSE(SetOutputFileName(opened.handle, name).empty());
        }
        return opened;
    }

    std::string In(const std::string& name) const { return folder + "/" + name; }

    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
};

TEST_F(OutputFilesTest, NewFilesAreUniqueAndAReopenAppendsOnlyToAFileOfOurs) {
    const Opened second = Open();
    Opened opened = Open("abc");
    EXPECT_TRUE(opened.temp.starts_with(folder + "/") && opened.temp.ends_with(".tmp"));
    EXPECT_NE(opened.temp, second.temp);
    EXPECT_EQ(::fcntl(opened.handle, F_GETFL) & (O_ACCMODE | O_APPEND), O_WRONLY | O_APPEND);
    // As a later run opens what its list names.
    const std::string kept = opened.temp;
    const FileHandle reopened = OpenOutputFile(folder, opened.temp);
    ASSERT_EQ(WriteAll(reopened, "def", 3), 0);
    EXPECT_EQ(opened.temp, kept);
    EXPECT_EQ(ReadFile(kept), "abcdef");
    ASSERT_EQ(::unlink(kept.c_str()), 0);
    OpenOutputFile(folder, opened.temp);
    EXPECT_EQ(opened.temp, kept);
    EXPECT_EQ(ReadFile(kept), "") << "a file that is gone is created again";

    // A list file may name anything: anything else starts a new temporary file.
    WriteFile(In("notes.txt"), "notes");
    WriteFile(In("shared.tmp"), "shared");
    ASSERT_EQ(::link(In("shared.tmp").c_str(), In("hard.tmp").c_str()), 0);
    ASSERT_EQ(::symlink(In("notes.txt").c_str(), In("link.tmp").c_str()), 0);
    ASSERT_EQ(::mkfifo(In("pipe.tmp").c_str(), 0644), 0);
    WriteFile(In("theirs.tmp"), "theirs");
    ASSERT_EQ(::chown(In("theirs.tmp").c_str(), 65534, 65534), 0) << "another user's file";
    for (const char* foreign : {"notes.txt", "hard.tmp", "link.tmp", "pipe.tmp", "theirs.tmp"}) {
        std::string temp = In(foreign);
        const FileHandle handle = OpenOutputFile(folder, temp);
        ASSERT_EQ(WriteAll(handle, "new", 3), 0);
        EXPECT_EQ(ReadFile(temp), "new") << foreign;
        EXPECT_NE(temp, In(foreign));
        DiscardOutputFile(handle);
    }
    EXPECT_EQ(ReadFile(In("notes.txt")), "notes");
    EXPECT_EQ(ReadFile(In("hard.tmp")), "shared");
    EXPECT_EQ(ReadFile(In("theirs.tmp")), "theirs");

    // Starting again empties the open file, never what another user put at its name.
    opened = Open("old");
    ASSERT_EQ(::rename(In("notes.txt").c_str(), opened.temp.c_str()), 0);
    EXPECT_EQ(RecreateOutputFile(opened.handle), opened.handle);
    ASSERT_EQ(WriteAll(opened.handle, "new", 3), 0);
    EXPECT_EQ(ReadFile(opened.temp) + std::to_string(OutputFileSize(opened.handle)), "notes3");
    DiscardOutputFile(opened.handle);
}

// A kept validator goes into an If-Range line: one that could end the line is never read back.
TEST_F(OutputFilesTest, AKeptValidatorWithControlBytesIsNotReadBack) {
    const Opened opened = Open("partial");
    const std::string injected = "\"v\"\r\nX-Injected: 1";
    if (::fsetxattr(opened.handle, "user.dartflux.validator", injected.data(), injected.size(),
                    0) != 0) {
        GTEST_SKIP() << "the test folder keeps no extended attributes";
    }
    EXPECT_EQ(ResumeValidator(opened.handle), "");
}

TEST_F(OutputFilesTest, CompletionMovesNumbersAndNeverReplaces) {
    WriteFile(In("report.pdf"), "old");
    ASSERT_TRUE(QDir(dir.path()).mkdir("data.bin"));
    ASSERT_EQ(::symlink("nowhere", In("link.txt").c_str()), 0);
    const std::string longStem(FolderNameLimit(folder), 'a');
    const struct {
        std::string name, body, used;
    } completions[] = {
        {"report.pdf", "new one", "report (1).pdf"},
        {"report.pdf", "new two", "report (2).pdf"},
        {"data.bin", "data", "data (1).bin"},
        {"link.txt", "text", "link (1).txt"},
        {"", "nameless", "download"},
        {"", "again", "download (1)"},
        {longStem + ".bin", "long", longStem.substr(4) + ".bin"},
        {longStem + ".bin", "taken", longStem.substr(8) + " (1).bin"},
    };
    for (const auto& c : completions) {
        const Opened opened = Open(c.body, c.name);
        EXPECT_EQ(CompleteOutputFile(opened.handle).name, c.used);
        EXPECT_EQ(::fcntl(opened.handle, F_GETFD), -1) << "closed";
        EXPECT_EQ(ReadFile(In(c.used)), c.body);
    }
    EXPECT_EQ(ReadFile(In("report.pdf")), "old");

    for (NoReplaceMove method : {NoReplaceMove::LinkUnlink, NoReplaceMove::Reserve}) {
        WriteFile(In("from"), "moving");
        EXPECT_EQ(MoveFileNoReplace(In("from"), In("report.pdf"), method), EEXIST);
        EXPECT_EQ(MoveFileNoReplace(In("from"), In("free"), method), 0);
        EXPECT_EQ(ReadFile(In("free")), "moving");
        ::unlink(In("free").c_str());
    }
    EXPECT_EQ(ReadFile(In("report.pdf")), "old");
}

} // namespace

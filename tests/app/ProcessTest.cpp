// The real program as separate processes: killed or terminated mid-download it resumes with a
// Range; one instance runs per list; a signal ends it whatever dialog is open.
#include "ListFile.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace {

// The scripted program with arguments; Ready() waits until its window runs.
class Program {
public:
    // platform, when given, replaces the test's Qt platform (with no display to connect to).
    explicit Program(const QStringList& arguments, const char* platform = nullptr) {
        if (platform != nullptr) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", platform);
            environment.remove("DISPLAY");
            environment.remove("WAYLAND_DISPLAY");
            process_.setProcessEnvironment(environment);
        }
        process_.start(SCRIPTED_PROGRAM_PATH, arguments);
    }
    ~Program() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Also after a stale lock's few seconds of hand-over attempts.
    bool Ready() {
        return QTest::qWaitFor(
                   [this] {
                       return Output().contains("ready\n") ||
                              process_.state() == QProcess::NotRunning;
                   },
                   10000) &&
               output_.contains("ready\n");
    }
    const QByteArray& Output() {
        output_ += process_.readAllStandardOutput();
        return output_;
    }
    void Signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    bool EndsWithin(int milliseconds) { return process_.waitForFinished(milliseconds); }
    QProcess& Process() { return process_; }

private:
    QProcess process_;
    QByteArray output_;
};

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(QString::fromStdString(SettingsLocation()));
        QFile::remove(QString::fromStdString(DefaultListPath()));
        WriteSetting(DownloadFolderSetting, downloads.path().toStdString());
        // 3 MB in pieces of 32 KiB; while held, the pieces after the first megabyte wait: a
        // download to be caught midway.
        server.Get("/slow/.*", [held = held](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                Body().size(), "application/octet-stream",
                [held](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    while (offset >= 1000000 && *held) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                    return sink.write(Body().data() + offset, std::min<std::size_t>(length, 32768));
                });
        });
    }
    static const std::string& Body() {
        static const std::string body = PatternBytes(3000000, 3);
        return body;
    }

    QTemporaryDir downloads;
    // The server's handlers must not wait for a release that never comes when it ends.
    ~ProcessTest() override { *held = false; }

    std::shared_ptr<std::atomic<bool>> held = std::make_shared<std::atomic<bool>>(false);
    TestHttpServer server;
};

TEST_F(ProcessTest, OneInstanceRunsAndAnInterruptedDownloadResumesWithARange) {
    for (const int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(signal);
        QFile::remove(QString::fromStdString(DefaultListPath()));
        const QString url = QString::fromStdString(server.Url("/slow/" + std::to_string(signal)));
        *held = true;
        Program first({url});
        ASSERT_TRUE(first.Ready());
        std::int64_t kept = 0;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const DownloadItems items = LoadListFile();
                kept = items.size() == 1
                           ? QFileInfo(QString::fromStdString(items[0]->tempPath)).size()
                           : 0;
                return kept > 0 && items[0]->totalSize == 3000000;
            },
            20000));
        // A second start on the same list hands its URL over and ends without a window, however
        // old the running instance's lock file is.
        QFile lockFile(QString::fromStdString(DefaultListPath()) + ".lock");
        ASSERT_TRUE(lockFile.open(QIODevice::ReadWrite) &&
                    lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                         QFileDevice::FileModificationTime));
        const std::string handed = server.Url("/slow/second" + std::to_string(signal));
        Program second({QString::fromStdString(handed)});
        EXPECT_TRUE(second.EndsWithin(8000));
        EXPECT_FALSE(second.Ready());
        EXPECT_TRUE(QTest::qWaitFor([] { return LoadListFile().size() == 2; }));
        WriteSetting(DownloadFolderSetting, ""); // the normal teardown stores it again
        first.Signal(signal);
        ASSERT_TRUE(first.EndsWithin(5000));
        EXPECT_EQ(ReadSetting(DownloadFolderSetting),
                  signal == SIGTERM ? downloads.path().toStdString() : "");
        WriteSetting(DownloadFolderSetting, downloads.path().toStdString());
        std::vector<std::string> listed;
        for (const auto& item : LoadListFile()) {
            listed.push_back(item->url + "=" + StateText(item->state));
        }
        EXPECT_EQ(listed,
                  (std::vector<std::string>{url.toStdString() + "=Pause", handed + "=Ready"}));

        *held = false;
        Program restarted({"--command=1002"}); // Start All
        ASSERT_TRUE(restarted.Ready()) << "the lock of the ended instance was not taken over";
        const QString done = downloads.filePath(QString::number(signal));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(done).size() == 3000000; }, 30000));
        QFile file(done);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().toStdString() == Body()) << "the file is the source's";
        std::string range; // of the path's last request
        for (const TestHttpServer::Seen& seen : server.Requests()) {
            range = seen.path == "/slow/" + std::to_string(signal) ? seen.range : range;
        }
        EXPECT_TRUE(range.starts_with("bytes=")) << range;
        EXPECT_GE(std::stoll(range.substr(6)), kept) << range;
    }
}

// A list folder that takes no lock (a full or read-only home) still starts, without a hand-over,
// and says once that the list will not be kept.
TEST_F(ProcessTest, AnUnwritableListFolderStartsAndSaysSoOnce) {
    const QString notAFolder = downloads.filePath("file");
    QFile(notAFolder).open(QIODevice::WriteOnly);
    WriteSetting(ListPathSetting, notAFolder.toStdString() + "/download.dat");
    Program program({});
    ASSERT_TRUE(program.Ready());
    const QByteArray message = "message: The folder of the download list:\\n\\n" +
                               notAFolder.toUtf8() +
                               "\\n\\ncan not be written to. The list will not be kept.\n";
    ASSERT_TRUE(QTest::qWaitFor([&] { return program.Output().contains(message); }));
    program.Signal(SIGTERM);
    ASSERT_TRUE(program.EndsWithin(5000));
    EXPECT_EQ(program.Process().exitCode(), 0);
    EXPECT_EQ(program.Output().count("message: "), 1);
}

// A lock beside the list that nobody can be shown to hold on this host, with nobody answering,
// is taken over.
TEST_F(ProcessTest, AStaleLockIsTakenOver) {
    const QString lock = QString::fromStdString(DefaultListPath()) + ".lock";
    for (const char* content : {"", "garbage\n", "1\ndartflux\nanother-host.invalid\n", "link"}) {
        SCOPED_TRACE(content);
        QFile::remove(lock);
        QFile file(lock);
        if (content == std::string("link")) {
            QFile::link(downloads.filePath("nothing"), lock);
        } else if (file.open(QIODevice::WriteOnly)) {
            file.write(content);
            file.close();
        }
        Program program({});
        EXPECT_TRUE(program.Ready());
    }
}

// Qt never sees what follows "--" (-platform foo there would end the start); the hand-over socket
// is in the runtime folder; a connection that sends nothing and one that announces too much are
// closed while a real hand-over still arrives.
TEST_F(ProcessTest, TheHandOverSocketIsPrivateAndBounded) {
    Program first({"--", "-platform", "foo"});
    ASSERT_TRUE(first.Ready());
    const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    const QStringList sockets = runtime.entryList({"dartflux-*"}, QDir::System);
    ASSERT_EQ(sockets.size(), 1);
    QLocalSocket idle;
    QLocalSocket oversized;
    for (QLocalSocket* socket : {&idle, &oversized}) {
        socket->connectToServer(runtime.filePath(sockets[0]));
        ASSERT_TRUE(socket->waitForConnected(1000));
    }
    oversized.write(QByteArray("\x00\x10\x00\x01", 4)); // 1 MiB and one byte
    oversized.flush();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return oversized.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_EQ(idle.state(), QLocalSocket::ConnectedState);
    // A hand-over needs no display: a start that could open no window still hands over.
    Program second({QString::fromStdString(server.Url("/handed"))}, "xcb");
    ASSERT_TRUE(second.EndsWithin(8000));
    EXPECT_EQ(second.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.Process().exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return idle.state() == QLocalSocket::UnconnectedState; }));
}

// Each kind of dialog open (Add URL, the folder, About, Help, the new-version question), and
// each signal: the process ends within 3 s through the teardown.
TEST_F(ProcessTest, ASignalEndsTheProgramWhateverDialogIsOpen) {
    int signal = SIGINT;
    for (const char* command : {"1009", "1001", "32773", "32775", "new-version"}) {
        signal = signal == SIGINT ? SIGTERM : SIGINT; // each in turn
        WriteSetting(DownloadFolderSetting, downloads.path().toStdString());
        Program program({QString("--command=") + command});
        ASSERT_TRUE(program.Ready());
        ASSERT_TRUE(QTest::qWaitFor([&] { return program.Output().contains("dialog\n"); }));
        WriteSetting(DownloadFolderSetting, "");
        program.Signal(signal);
        EXPECT_TRUE(program.EndsWithin(3000)) << command;
        EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ReadSetting(DownloadFolderSetting), downloads.path().toStdString()) << command;
    }
}

} // namespace

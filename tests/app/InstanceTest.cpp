// The real program as separate processes: one instance per list, and signals that end it while
// any dialog is open.
#include "CDownloaderDlg.h"
#include "ListFile.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using Id = CDownloaderDlg::CommandId;

// The scripted program, started with arguments; Ready() waits until its window runs.
class Program {
public:
    explicit Program(const QStringList& arguments) {
        process_.setProgram(SCRIPTED_PROGRAM_PATH);
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool Ready() {
        return QTest::qWaitFor(
                   [this] {
                       output_ += process_.readAllStandardOutput();
                       return output_.contains("ready\n") ||
                              process_.state() == QProcess::NotRunning;
                   },
                   10000) &&
               output_.contains("ready\n");
    }
    void Signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    // The milliseconds until it ended, or -1 when it still runs after the limit.
    qint64 WaitForEnd(int limitMs) {
        QElapsedTimer clock;
        clock.start();
        return process_.waitForFinished(limitMs) ? clock.elapsed() : -1;
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    QProcess& Process() { return process_; }

private:
    QProcess process_;
    QByteArray output_;
};

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(QString::fromStdString(SettingsLocation()));
        QFile::remove(QString::fromStdString(DefaultListPath()));
        WriteSetting(DownloadFolderSetting, downloads.path().toStdString());
        server.server().Get("/slow/.*", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [](std::size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return sink.write("x", 1);
                });
        });
    }

    static std::vector<std::string> ListedUrls() {
        std::vector<std::string> urls;
        for (const auto& item : LoadListFile()) {
            urls.push_back(item->url);
        }
        return urls;
    }

    QTemporaryDir downloads;
    TestHttpServer server;
};

TEST_F(InstanceTest, ASecondStartHandsOverAndACrashedInstancesLockIsTakenOver) {
    const std::string first = server.Url("/slow/first.bin");
    Program running({QString::fromStdString(first)});
    ASSERT_TRUE(running.Ready());
    ASSERT_TRUE(QTest::qWaitFor([&] { return ListedUrls() == std::vector<std::string>{first}; }));

    Program second({QString::fromStdString(server.Url("/slow/second.bin"))});
    EXPECT_GE(second.WaitForEnd(8000), 0) << "the second start did not end";
    EXPECT_EQ(second.Process().exitCode(), 0);
    EXPECT_FALSE(second.Ready()) << "the second start opened a window of its own";
    EXPECT_TRUE(running.Running());

    running.Signal(SIGKILL);
    ASSERT_GE(running.WaitForEnd(5000), 0);
    EXPECT_EQ(ListedUrls(), std::vector<std::string>{first});

    Program afterCrash({});
    ASSERT_TRUE(afterCrash.Ready()) << "the lock of the killed instance was not taken over";
    afterCrash.Signal(SIGTERM);
    ASSERT_GE(afterCrash.WaitForEnd(5000), 0);
    EXPECT_EQ(ListedUrls(), std::vector<std::string>{first});
}

// SIGTERM, and SIGINT twice, with each kind of dialog open: every path ends the process within 3 s
// through the normal teardown, which stores the folder and the list.
TEST_F(InstanceTest, ASignalEndsTheProgramWhateverDialogIsOpen) {
    const struct {
        const char* command;
        int signal;
    } cases[] = {
        {"1009", SIGTERM},       {"1001", SIGTERM}, {"32773", SIGTERM},
        {"new-version", SIGINT}, {"1009", SIGINT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        QFile::remove(QString::fromStdString(DefaultListPath()));
        const std::string url = server.Url("/slow/" + std::string(c.command) + ".bin");
        Program program({QString::fromStdString(url), QString("--command=") + c.command});
        ASSERT_TRUE(program.Ready());
        QTest::qWait(300); // the dialog opens right after "ready"
        WriteSetting(DownloadFolderSetting, "");
        program.Signal(c.signal);
        const qint64 ended = program.WaitForEnd(3000);
        EXPECT_GE(ended, 0) << "still running 3 s after the signal";
        EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ReadSetting(DownloadFolderSetting), downloads.path().toStdString());
        const DownloadItems items = LoadListFile();
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0]->url, url);
        EXPECT_EQ(items[0]->state, DownloadState::Pause);
    }
}

} // namespace

#include "CDownloaderDlg.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "TestHttpServer.h"

#include <QAbstractButton>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

namespace {

using Id = CDownloaderDlg::CommandId;

constexpr std::size_t BodySize = 3 * 1000 * 1000;

QByteArray Sha256(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// Serves one file slowly enough to be caught mid-transfer, and remembers the Range of every
// request.
class SlowFileServer {
public:
    SlowFileServer() : body_(BodySize, Qt::Uninitialized) {
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(body_.data()),
                                      body_.size() / sizeof(quint32));
        server_.server().Get(
            "/big.bin", [this](const httplib::Request& request, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex_);
                    ranges_.push_back(request.get_header_value("Range"));
                }
                response.set_content_provider(
                    static_cast<std::size_t>(body_.size()), "application/octet-stream",
                    [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        const std::size_t piece = std::min<std::size_t>(length, 32 * 1024);
                        return sink.write(body_.constData() + offset, piece);
                    });
            });
    }

    std::string Url() const { return server_.Url("/big.bin"); }
    const QByteArray& Body() const { return body_; }
    std::vector<std::string> Ranges() {
        std::lock_guard lock(mutex_);
        return ranges_;
    }

private:
    QByteArray body_;
    TestHttpServer server_;
    std::mutex mutex_;
    std::vector<std::string> ranges_;
};

struct Ending {
    const char* name;
    int signal;
};

class CrashSafetyTest : public ::testing::TestWithParam<Ending> {
protected:
    void SetUp() override {
        QFile::remove(QString::fromStdString(SettingsLocation()));
        QFile::remove(QString::fromStdString(DefaultListPath()));
        WriteSetting(0, downloads.path().toStdString());
    }

    // The list as the running program last wrote it, once it holds a partly downloaded item.
    std::optional<DownloadItem> PartialItemOnDisk() const {
        const DownloadItems items = LoadListFile();
        if (items.size() != 1 || items[0]->tempPath.empty() || items[0]->totalSize == 0) {
            return std::nullopt;
        }
        const qint64 size = QFileInfo(QString::fromStdString(items[0]->tempPath)).size();
        if (size <= 0 || size >= static_cast<qint64>(BodySize)) {
            return std::nullopt;
        }
        return *items[0];
    }

    QTemporaryDir downloads;
    SlowFileServer server;
};

TEST_P(CrashSafetyTest, InterruptedDownloadResumesWithRangeAfterRestart) {
    QProcess program;
    program.setProgram(SCRIPTED_PROGRAM_PATH);
    program.setArguments({QString::fromStdString(server.Url())});
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start();
    ASSERT_TRUE(program.waitForStarted());
    std::optional<DownloadItem> partial;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (partial = PartialItemOnDisk()).has_value(); }, 20000))
        << "the running program never saved a partly downloaded item";
    // Teardown stores the folder again: its return proves that the normal teardown ran.
    WriteSetting(0, "");

    ::kill(static_cast<pid_t>(program.processId()), GetParam().signal);
    ASSERT_TRUE(program.waitForFinished(10000));
    if (GetParam().signal == SIGTERM) {
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(ReadSetting(0), downloads.path().toStdString());
    } else {
        EXPECT_EQ(program.exitStatus(), QProcess::CrashExit);
        WriteSetting(0, downloads.path().toStdString());
    }

    // Started again, the item is back, paused, with its partial file.
    CDownloaderDlg window;
    window.show();
    ASSERT_EQ(window.Queue().Count(), 1);
    const DownloadItem& item = window.Queue().Item(0);
    EXPECT_EQ(item.state, DownloadState::Pause);
    EXPECT_EQ(item.fileName, "big.bin");
    EXPECT_EQ(item.totalSize, static_cast<std::int64_t>(BodySize));
    const qint64 kept = QFileInfo(QString::fromStdString(item.tempPath)).size();
    ASSERT_GT(kept, 0);
    QFile partialFile(QString::fromStdString(item.tempPath));
    ASSERT_TRUE(partialFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(partialFile.readAll(), server.Body().left(kept)) << "the kept bytes are the source's";

    auto* list = qobject_cast<QTreeView*>(FindControl(&window, Id::ListId));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 0)).center());
    QTest::mouseClick(qobject_cast<QAbstractButton*>(FindControl(&window, Id::StartId)),
                      Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Queue().Item(0).state == DownloadState::Done; },
                                30000));

    const std::vector<std::string> ranges = server.Ranges();
    ASSERT_GE(ranges.size(), 2u);
    EXPECT_EQ(ranges.front(), "");
    EXPECT_EQ(ranges.back(), "bytes=" + std::to_string(kept) + "-");
    QFile finished(downloads.filePath("big.bin"));
    ASSERT_TRUE(finished.open(QIODevice::ReadOnly));
    EXPECT_EQ(Sha256(finished.readAll()), Sha256(server.Body()));
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files), QStringList{"big.bin"});
}

INSTANTIATE_TEST_SUITE_P(Endings, CrashSafetyTest,
                         ::testing::Values(Ending{"Killed", SIGKILL},
                                           Ending{"Terminated", SIGTERM}),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

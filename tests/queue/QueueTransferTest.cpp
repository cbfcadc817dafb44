// The queue with the real transfer worker against a local HTTP server.
#include "NewVersionBridge.h"
#include "QueueTestSupport.h"
#include "Settings.h"
#include "TestHttpServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

using S = DownloadState;

std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(QueueTransferTest, StartAllDownloadsEveryUrlInListOrderAndTheListSurvivesARestart) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string listPath = folder.filePath("download.dat").toStdString();
    const std::string saveFolder = folder.filePath("files").toStdString();
    std::filesystem::create_directories(saveFolder);
    WriteSetting(1, listPath);

    const std::vector<std::pair<std::string, std::string>> files = {
        {"/one.bin", std::string(70000, 'a')},
        {"/two.bin", std::string(3000, 'b')},
        {"/three.bin", std::string(150000, 'c')},
    };
    TestHttpServer server;
    std::mutex servedMutex;
    std::vector<std::string> served;
    for (const auto& [path, body] : files) {
        server.server().Get(
            path, [&, body = body](const httplib::Request& request, httplib::Response& response) {
                {
                    std::lock_guard lock(servedMutex);
                    served.push_back(request.path);
                }
                if (request.path == "/two.bin") {
                    response.set_header("ActualDFXVersion", "v.0.3");
                }
                response.set_content(body, "application/octet-stream");
            });
    }

    std::vector<std::string> remembered;
    {
        DownloadQueue queue;
        queue.Folder() = DownloadFolder(saveFolder);
        int asked = 0;
        queue.SetNewVersionQuestion([&] { return ++asked, false; });
        const NewVersionBridge newVersions(queue);
        ASSERT_EQ(queue.AddUrls(server.Url("/one.bin") + "\r\n" + server.Url("/two.bin") + "\r\n" +
                                server.Url("/three.bin")),
                  3);
        queue.OnStartAll();
        ASSERT_TRUE(WaitFor(
            [&] {
                return !queue.Running() && queue.Item(0).state != S::Progress &&
                       queue.Item(2).state != S::Waiting;
            },
            30000));

        {
            std::lock_guard lock(servedMutex);
            EXPECT_EQ(served, (std::vector<std::string>{"/one.bin", "/two.bin", "/three.bin"}));
        }
        EXPECT_EQ(asked, 1); // the new version was announced once and declined
        ASSERT_EQ(queue.Count(), 3);
        for (int row = 0; row < 3; ++row) {
            const DownloadItem& item = queue.Item(row);
            const auto& [path, body] = files[row];
            EXPECT_EQ(item.state, S::Done) << path;
            EXPECT_EQ(item.fileName, path.substr(1));
            EXPECT_EQ(item.totalSize, static_cast<std::int64_t>(body.size()));
            EXPECT_EQ(item.percent, 100);
            EXPECT_EQ(item.fileHandle, NoFileHandle);
            EXPECT_TRUE(ReadWhole(std::filesystem::path(saveFolder) / path.substr(1)) == body);
            remembered.push_back(item.ToRecord());
        }
        queue.Teardown();
        EXPECT_EQ(ReadSetting(0), saveFolder);
    }

    // Only the three finished files are left in the folder: no temporary file remains.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(saveFolder), {}), 3);

    DownloadQueue restarted;
    restarted.SetAutoSave(false);
    restarted.LoadList();
    ASSERT_EQ(restarted.Count(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(restarted.Item(row).ToRecord(), remembered[row]);
    }
    EXPECT_FALSE(restarted.Running());
}

TEST(QueueTransferTest, APausedDownloadResumesIntoTheSameFile) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    WriteSetting(1, folder.filePath("download.dat").toStdString());
    std::string body(4 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>('a' + (i / 4096 + i) % 26);
    }

    TestHttpServer server;
    std::atomic<bool> slow{true};
    std::atomic<int> ranged{0};
    // The server answers a Range request with 206 and the rest of the body by itself.
    server.server().Get(
        "/big.bin", [&](const httplib::Request& request, httplib::Response& response) {
            if (request.has_header("Range")) {
                ++ranged;
            }
            response.set_content_provider(
                body.size(), "application/octet-stream",
                [&](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (slow) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    }
                    return sink.write(body.data() + offset, std::min<std::size_t>(length, 16384));
                });
        });

    DownloadQueue queue;
    queue.Folder() = DownloadFolder(folder.path().toStdString());
    queue.AddUrls(server.Url("/big.bin"));
    queue.OnStart({0});
    ASSERT_TRUE(WaitFor([&] { return queue.Item(0).percent >= 5; }, 30000));
    queue.OnPause({0});
    ASSERT_TRUE(WaitFor([&] { return queue.ActiveRow() == -1; }, 30000));
    ASSERT_EQ(queue.Item(0).state, S::Pause);
    EXPECT_LT(queue.Item(0).percent, 100);
    EXPECT_TRUE(std::filesystem::exists(queue.Item(0).tempPath));

    slow = false;
    queue.OnStart({0});
    ASSERT_TRUE(WaitFor([&] { return !queue.Running(); }, 30000));
    EXPECT_EQ(queue.Item(0).state, S::Done);
    EXPECT_EQ(ranged, 1);
    const std::string received = ReadWhole(folder.filePath("big.bin").toStdString());
    EXPECT_EQ(received.size(), body.size());
    EXPECT_TRUE(received == body); // not printed: 4 MiB
}

} // namespace

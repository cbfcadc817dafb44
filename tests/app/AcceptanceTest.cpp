// The whole program as a user meets it: URLs typed into the main window, downloads run one at a
// time against a real nginx, a scripted server and a TLS server on loopback, and the list file
// the window leaves behind.
#include "CDownloaderDlg.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "NginxServer.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "WindowActions.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QByteArray ReadFile(const QString& path) {
    return QByteArray::fromStdString(::ReadFile(path.toStdString()));
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(::WriteFile(path.toStdString(), bytes.toStdString()));
}

TEST(AcceptanceTest, TypedUrlsEndInTheirStatesFilesAndListFile) {
    QTemporaryDir root;
    const QString folder = root.filePath("user/files");
    ASSERT_TRUE(QDir().mkpath(folder) && QDir().mkpath(root.filePath("served")));
    QFile::remove(QString::fromStdString(SettingsLocation()));
    QFile::remove(QString::fromStdString(DefaultListPath()));
    WriteSetting(DownloadFolderSetting, folder.toStdString());

    // A certificate of our own, trusted through SSL_CERT_FILE as OpenSSL's tools do.
    const QString certificate = root.filePath("cert.pem");
    ASSERT_TRUE(TestHttpServer::MakeCertificate(certificate.toStdString(),
                                                root.filePath("key.pem").toStdString()));
    qputenv("SSL_CERT_FILE", certificate.toLocal8Bit());
    TestHttpServer tls(certificate.toStdString(), root.filePath("key.pem").toStdString());
    TestHttpServer server;
    NginxServer nginx(root.filePath("served").toStdString());
    const auto served = [&](const QString& name, const QByteArray& bytes) {
        WriteFile(root.filePath("served/" + name), bytes);
        return QString::fromStdString(nginx.Url("/" + name.toStdString()));
    };
    tls.Get("/secure/tls.bin", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(RandomBytes(128 << 10, 3).toStdString(), "application/octet-stream");
    });
    server.Get("/moved/medium.bin",
               [to = nginx.Url("/medium.bin")](const httplib::Request&, httplib::Response& res) {
                   res.set_redirect(to, 302);
               });
    server.GetStalling("/stall/slow.bin", 100000, std::string(1000, 's'));

    const struct {
        QString url, name, progress, size, state;
        QByteArray content; // of the file, or of the temporary file that stays
    } rows[] = {
        {served("five.bin", RandomBytes(5 << 20, 2)), "five.bin", "100%", "5.120", "Done",
         RandomBytes(5 << 20, 2)},
        {QString::fromStdString(nginx.Url("/absent.bin")), "", "0%", "0", "Error", {}},
        {QString::fromStdString(server.Url("/moved/medium.bin")), "medium.bin", "100%", "292",
         "Done", RandomBytes(300000, 4)},
        {QString::fromStdString(server.Url("/stall/slow.bin")), "slow.bin", "1%", "97", "Pause",
         QByteArray(1000, 's')},
        {QString::fromStdString(tls.Url("/secure/tls.bin")), "tls.bin", "100%", "128", "Done",
         RandomBytes(128 << 10, 3)},
    };
    served("medium.bin", RandomBytes(300000, 4));
    QStringList urls;
    for (const auto& row : rows) {
        urls.append(row.url);
    }

    auto window = std::make_unique<CDownloaderDlg>();
    window->show();
    AddUrls(*window, urls);
    Click(*window, CDownloaderDlg::StartAllId);
    const int stallRow = 3;
    ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(*window, stallRow, 1) == "1%"; }, 30000));
    Select(*window, {stallRow});
    const auto* panel =
        qobject_cast<CStatusPanel*>(FindControl(window.get(), CDownloaderDlg::StatusPanelId));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return panel->Text().startsWith("slow.bin\n1.0 kB of 100.0 kB, ");
    })) << panel->Text().toStdString();
    Click(*window, CDownloaderDlg::PauseId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Queue().Running(); }, 60000));
    QStringList expectedFiles;
    for (int row = 0; row < static_cast<int>(std::size(rows)); ++row) {
        const auto& expected = rows[row];
        SCOPED_TRACE(expected.url.toStdString());
        EXPECT_EQ(Cell(*window, row, 0), expected.name.isEmpty() ? expected.url : expected.name);
        EXPECT_EQ(Cell(*window, row, 1), expected.progress);
        EXPECT_EQ(Cell(*window, row, 2), expected.size);
        EXPECT_EQ(Cell(*window, row, 3), expected.state);
        const QString temp = QString::fromStdString(window->Queue().Item(row).tempPath);
        const QString file = expected.state == "Done" ? folder + "/" + expected.name : temp;
        EXPECT_EQ(ReadFile(file), expected.content);
        expectedFiles.append(QFileInfo(file).fileName());
    }
    const auto panelSays = [&](int row, const QString& text) {
        Select(*window, {row});
        return QTest::qWaitFor([&] { return panel->Text() == text; }) ||
               (ADD_FAILURE() << panel->Text().toStdString(), false);
    };
    EXPECT_TRUE(panelSays(1, rows[1].url + "\nThe server answered 404 Not Found"));
    EXPECT_EQ(List(*window)->model()->index(1, 0).data(Qt::ToolTipRole), panel->Text());
    EXPECT_TRUE(panelSays(0, "five.bin\nSaved as " + folder + "/five.bin"));
    const QStringList inFolder = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(QSet<QString>(inFolder.begin(), inFolder.end()),
              QSet<QString>(expectedFiles.begin(), expectedFiles.end()));

    window.reset();
    const DownloadItems saved = LoadListFile();
    ASSERT_EQ(saved.size(), std::size(rows));
    EXPECT_EQ(saved[stallRow]->state, DownloadState::Pause);
    EXPECT_EQ(saved[stallRow]->fileName, "slow.bin");
    EXPECT_EQ(saved[stallRow]->totalSize, 100000);
    qunsetenv("SSL_CERT_FILE");
}

TEST(AcceptanceTest, AFullDiskEndsAsErrorAndKeepsWhatWasWritten) {
    SmallFileSystem small;
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.Error() << ")";
    }
    QFile::remove(QString::fromStdString(DefaultListPath()));
    WriteSetting(DownloadFolderSetting, small.Path().toStdString());
    TestHttpServer server;
    server.Get("/big.bin", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(3 << 20, 'b'), "application/octet-stream");
    });
    CDownloaderDlg window;
    DownloadQueue& queue = window.Queue();
    queue.AddUrls(server.Url("/big.bin"));
    window.OnCommand(CDownloaderDlg::StartAllId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !queue.Running(); }, 20000));
    EXPECT_EQ(queue.Item(0).state, DownloadState::Error);
    EXPECT_EQ(queue.LastResult().systemError, static_cast<std::uint32_t>(ENOSPC));
    const QByteArray kept = ReadFile(QString::fromStdString(queue.Item(0).tempPath));
    EXPECT_GT(kept.size(), 0);
    EXPECT_EQ(kept, QByteArray(kept.size(), 'b'));
    EXPECT_TRUE(QTest::qWaitFor([] {
        const DownloadItems items = LoadListFile(); // it lives elsewhere and takes the change
        return items.size() == 1 && items[0]->state == DownloadState::Error;
    }));
}

} // namespace

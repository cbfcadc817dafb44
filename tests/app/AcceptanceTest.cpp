// The whole program as a user meets it: URLs typed into the main window, downloads run one at a
// time against a real nginx, a scripted server and a TLS server on loopback, what the window
// and its status panel show, and the folder they leave behind.
#include "CDownloaderDlg.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "NginxServer.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "SmallFileSystem.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "WindowActions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

std::string Bytes(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + (i * 2654435761u >> 24));
    }
    return bytes;
}

TEST(AcceptanceTest, TypedUrlsEndInTheirStatesFilesAndListFile) {
    QTemporaryDir root;
    const std::string folder = root.filePath("files").toStdString();
    const std::string served = root.filePath("served").toStdString();
    ASSERT_TRUE(QDir().mkpath(root.filePath("files")) && QDir().mkpath(root.filePath("served")));
    QFile::remove(QString::fromStdString(DefaultListPath()));
    WriteSetting(DownloadFolderSetting, folder);
    ASSERT_TRUE(WriteFile(served + "/five.bin", Bytes(5 << 20, 2)) &&
                WriteFile(served + "/medium.bin", Bytes(300000, 4)));

    // A certificate of our own, trusted through SSL_CERT_FILE as OpenSSL's tools do.
    const std::string certificate = root.filePath("cert.pem").toStdString();
    ASSERT_TRUE(
        TestHttpServer::MakeCertificate(certificate, root.filePath("key.pem").toStdString()));
    qputenv("SSL_CERT_FILE", certificate.c_str());
    TestHttpServer tls(certificate, root.filePath("key.pem").toStdString());
    tls.Get("/secure/tls.bin", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(Bytes(128 << 10, 3), "application/octet-stream");
    });
    NginxServer nginx(served);
    TestHttpServer server;
    server.Get("/moved/medium.bin", [to = nginx.Url("/medium.bin")](const httplib::Request&,
                                                                    httplib::Response& response) {
        response.set_redirect(to, 302);
    });
    server.GetStalling("/stall/slow.bin", 100000, std::string(1000, 's'));
    const QString absent = QString::fromStdString(nginx.Url("/absent.bin"));

    auto window = std::make_unique<CDownloaderDlg>();
    window->show();
    AddUrls(*window, {QString::fromStdString(nginx.Url("/five.bin")), absent,
                      QString::fromStdString(server.Url("/moved/medium.bin")),
                      QString::fromStdString(server.Url("/stall/slow.bin")),
                      QString::fromStdString(tls.Url("/secure/tls.bin"))});
    Click(*window, CDownloaderDlg::StartAllId);
    const auto* panel =
        qobject_cast<CStatusPanel*>(FindControl(window.get(), CDownloaderDlg::StatusPanelId));
    const auto panelSays = [&](int row, const QString& text) {
        Select(*window, {row});
        return QTest::qWaitFor([&] { return panel->Text().startsWith(text); }, 30000) ||
               (ADD_FAILURE() << panel->Text().toStdString(), false);
    };
    ASSERT_TRUE(panelSays(3, "slow.bin\n1.0 kB of 100.0 kB, "));
    Click(*window, CDownloaderDlg::PauseId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Queue().Running(); }, 60000));
    EXPECT_EQ(Column(*window, 0),
              (QStringList{"five.bin", absent, "medium.bin", "slow.bin", "tls.bin"}));
    EXPECT_EQ(Column(*window, 1), (QStringList{"100%", "0%", "100%", "1%", "100%"}));
    EXPECT_EQ(Column(*window, 2), (QStringList{"5.120", "0", "292", "97", "128"}));
    EXPECT_EQ(Column(*window, 3), (QStringList{"Done", "Error", "Done", "Pause", "Done"}));
    EXPECT_TRUE(panelSays(1, absent + "\nThe server answered 404 Not Found"));
    EXPECT_EQ(List(*window)->model()->index(1, 0).data(Qt::ToolTipRole), panel->Text());
    EXPECT_TRUE(panelSays(0, QString::fromStdString("five.bin\nSaved as " + folder + "/five.bin")));

    const std::string slowTemp = window->Queue().Item(3).tempPath;
    EXPECT_TRUE(ReadFile(folder + "/five.bin") == Bytes(5 << 20, 2));
    EXPECT_TRUE(ReadFile(folder + "/medium.bin") == Bytes(300000, 4));
    EXPECT_TRUE(ReadFile(folder + "/tls.bin") == Bytes(128 << 10, 3));
    EXPECT_EQ(ReadFile(slowTemp), std::string(1000, 's'));
    EXPECT_EQ(QDir(root.filePath("files")).entryList(QDir::Files | QDir::Hidden).size(), 5)
        << "the three files and the parts of the failed and the paused one, nothing else";
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
    EXPECT_EQ(queue.StatusText(0), "big.bin\nThe disk is full");
    const std::string kept = ReadFile(queue.Item(0).tempPath);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_EQ(kept, std::string(kept.size(), 'b'));
}

} // namespace

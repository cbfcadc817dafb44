// The whole program as a user meets it: URLs typed into the main window, downloads run one at a
// time against a real nginx and a scripted server on loopback, what the window and its status
// panel show, and the folder they leave behind.
#include "CDownloaderDlg.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "NginxServer.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "TestFiles.h"
#include "TestHttpServer.h"
#include "WindowActions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

TEST(AcceptanceTest, TypedUrlsEndInTheirStatesFilesAndListFile) {
    QTemporaryDir root;
    const std::string folder = root.filePath("files").toStdString();
    const std::string served = root.filePath("served").toStdString();
    ASSERT_TRUE(QDir().mkpath(root.filePath("files")) && QDir().mkpath(root.filePath("served")));
    QFile::remove(QString::fromStdString(DefaultListPath()));
    WriteSetting(DownloadFolderSetting, folder);
    ASSERT_TRUE(WriteFile(served + "/five.bin", PatternBytes(5 << 20, 2)) &&
                WriteFile(served + "/medium.bin", PatternBytes(300000, 4)));

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
                      QString::fromStdString(server.Url("/stall/slow.bin"))});
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
    EXPECT_EQ(Column(*window, 0), (QStringList{"five.bin", absent, "medium.bin", "slow.bin"}));
    EXPECT_EQ(Column(*window, 1), (QStringList{"100%", "0%", "100%", "1%"}));
    EXPECT_EQ(Column(*window, 2), (QStringList{"5.120", "0", "292", "97"}));
    EXPECT_EQ(Column(*window, 3), (QStringList{"Done", "Error", "Done", "Pause"}));
    EXPECT_TRUE(panelSays(1, absent + "\nThe server answered 404 Not Found"));
    EXPECT_EQ(List(*window)->model()->index(1, 0).data(Qt::ToolTipRole), panel->Text());
    EXPECT_TRUE(panelSays(0, QString::fromStdString("five.bin\nSaved as " + folder + "/five.bin")));

    const std::string slowTemp = window->Queue().Item(3).tempPath;
    EXPECT_TRUE(ReadFile(folder + "/five.bin") == PatternBytes(5 << 20, 2));
    EXPECT_TRUE(ReadFile(folder + "/medium.bin") == PatternBytes(300000, 4));
    EXPECT_EQ(ReadFile(slowTemp), std::string(1000, 's'));
    EXPECT_EQ(QDir(root.filePath("files")).entryList(QDir::Files | QDir::Hidden).size(), 4)
        << "the two files and the parts of the failed and the paused one, nothing else";
}

} // namespace

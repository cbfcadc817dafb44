#include "CDownloaderDlg.h"
#include "CFolderChooser.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "ModalAnswerer.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "SmallFileSystem.h"
#include "TestHttpServer.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using Id = CDownloaderDlg::CommandId;

TEST(DiskFullTest, FullDiskEndsAsErrorAndKeepsWhatWasWritten) {
    SmallFileSystem small;
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.Error()
                     << "); the disk-full case needs root";
    }
    QFile::remove(QString::fromStdString(SettingsLocation()));
    QFile::remove(QString::fromStdString(DefaultListPath()));
    WriteSetting(0, small.Path().toStdString());

    const std::string big(3 * 1024 * 1024, 'b');
    TestHttpServer server;
    server.server().Get("/big.bin", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(big, "application/octet-stream");
    });
    server.server().Get("/small.txt", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("small", "text/plain");
    });

    auto window = std::make_unique<CDownloaderDlg>();
    window->show();
    DownloadQueue& queue = window->Queue();
    queue.AddUrls(server.Url("/big.bin"));
    window->OnCommand(Id::StartAllId);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return queue.Item(0).state == DownloadState::Error; }, 20000));
    EXPECT_EQ(queue.LastResult().code, 9);
    EXPECT_EQ(queue.LastResult().systemError, static_cast<std::uint32_t>(ENOSPC));

    QFile partial(QString::fromStdString(queue.Item(0).tempPath));
    ASSERT_TRUE(partial.open(QIODevice::ReadOnly));
    const QByteArray kept = partial.readAll();
    EXPECT_GT(kept.size(), 0);
    EXPECT_LT(kept.size(), static_cast<qsizetype>(big.size()));
    EXPECT_EQ(kept, QByteArray::fromStdString(big.substr(0, kept.size())));
    EXPECT_FALSE(QFile::exists(small.Path() + "/big.bin"));

    // The list lives elsewhere and still takes every change.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            const DownloadItems items = LoadListFile();
            return items.size() == 1 && items[0]->state == DownloadState::Error;
        },
        5000));

    // The next download, into another folder, works.
    QTemporaryDir roomy;
    ModalAnswerer answerer;
    answerer.Then([&](QDialog& chooser) {
        qobject_cast<QLineEdit*>(FindControl(&chooser, CFolderChooser::PathFieldId))
            ->setText(roomy.path());
        qobject_cast<QAbstractButton*>(FindControl(&chooser, CFolderChooser::OkId))->click();
    });
    window->OnCommand(Id::BrowseId);
    ASSERT_EQ(window->DownloadFolderPath(), roomy.path());
    queue.AddUrls(server.Url("/small.txt"));
    window->OnCommand(Id::StartAllId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return queue.Item(1).state == DownloadState::Done; }, 20000));
    QFile done(roomy.filePath("small.txt"));
    ASSERT_TRUE(done.open(QIODevice::ReadOnly));
    EXPECT_EQ(done.readAll(), "small");
    EXPECT_EQ(queue.Item(0).state, DownloadState::Error)
        << "Start All retried the failed row first; it fails again on the full disk";
}

} // namespace

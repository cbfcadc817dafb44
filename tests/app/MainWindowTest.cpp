#include "CAboutDlg.h"
#include "CAddUrlsDlg.h"
#include "CDownloaderDlg.h"
#include "CFolderChooser.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "ModalAnswerer.h"
#include "NewVersionBridge.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "StallingRoute.h"
#include "TestHttpServer.h"
#include "WindowActions.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Id = CDownloaderDlg::CommandId;

// Receives what the window asks the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    OpenedUrls() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> urls;

public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(QString::fromStdString(SettingsLocation()));
        const std::string listPath = DefaultListPath();
        if (!listPath.empty()) {
            QFile::remove(QString::fromStdString(listPath));
        }
        WriteSetting(0, downloads.path().toStdString());
        server.server().Get(
            "/files/(.*)", [](const httplib::Request& request, httplib::Response& response) {
                response.set_content("content of " + request.matches[1].str(), "text/plain");
            });
    }

    std::unique_ptr<CDownloaderDlg> OpenWindow() {
        auto window = std::make_unique<CDownloaderDlg>();
        window->show();
        return window;
    }

    static std::vector<int> SelectedRows(CDownloaderDlg& window) {
        std::vector<int> rows;
        for (const QModelIndex& index : List(window)->selectionModel()->selectedRows()) {
            rows.push_back(index.row());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    static bool WaitForStates(CDownloaderDlg& window, const QStringList& states) {
        return QTest::qWaitFor([&] { return Column(window, 3) == states; }, 20000);
    }

    QString Url(const std::string& path) const { return QString::fromStdString(server.Url(path)); }
    QString Downloaded(const QString& name) const { return downloads.filePath(name); }

    QTemporaryDir downloads;
    TestHttpServer server;
    StallingRoute stall{server.server(), "/stall/(.*)", 100000, std::string(1000, 's')};
};

TEST_F(MainWindowTest, LooksAsDesigned) {
    auto window = OpenWindow();
    EXPECT_EQ(window->windowTitle(), "Dartflux v.0.2");
    QTreeView* list = List(*window);
    ASSERT_NE(list, nullptr);
    QStringList headings;
    std::vector<int> widths;
    for (int column = 0; column < list->model()->columnCount(); ++column) {
        headings.append(list->model()->headerData(column, Qt::Horizontal).toString());
        widths.push_back(list->columnWidth(column));
    }
    EXPECT_EQ(headings, (QStringList{"File name", "Progress", "Size, Kb", "Status"}));
    EXPECT_EQ(widths, (std::vector<int>{320, 120, 80, 80}));
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(list->header()->sectionsClickable());

    const std::vector<std::pair<int, QString>> buttons = {
        {Id::AddUrlId, "Add URL"},        {Id::StartId, "Start"},
        {Id::PauseId, "Pause"},           {Id::RemoveId, "Remove"},
        {Id::StartAllId, "Start All"},    {Id::PauseAllId, "Pause All"},
        {Id::RemoveAllId, "Remove All"},  {Id::BrowseId, "Browse..."},
        {Id::OpenFolderId, "Open Folder"}};
    for (const auto& [id, caption] : buttons) {
        auto* button = qobject_cast<QAbstractButton*>(FindControl(window.get(), id));
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->text(), caption);
    }
    auto* folder = qobject_cast<QLineEdit*>(FindControl(window.get(), Id::FolderFieldId));
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->isReadOnly());
    EXPECT_EQ(folder->text(), downloads.path());
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window has a fixed size";

    QStringList menu;
    for (QAction* top : window->findChild<QMenuBar*>()->actions()) {
        for (QAction* entry : top->menu()->actions()) {
            menu.append(top->text().remove('&') + "/" + entry->text().remove('&') + "=" +
                        entry->property("controlId").toString());
        }
    }
    EXPECT_EQ(menu, (QStringList{"File/Exit=32772", "Options/Directory=32771", "Help/Help=32775",
                                 "Help/About=32773"}));
}

TEST_F(MainWindowTest, AddUrlAppendsSelectedReadyRowsAndCancelAddsNothing) {
    auto window = OpenWindow();
    AddUrls(*window, {"http://h/a", "", " spaced ", "http://h/a"});
    EXPECT_EQ(Column(*window, 0), (QStringList{"http://h/a", "spaced", "http://h/a"}));
    EXPECT_EQ(Column(*window, 1), (QStringList{"0%", "0%", "0%"}));
    EXPECT_EQ(Column(*window, 2), (QStringList{"0", "0", "0"}));
    EXPECT_EQ(Column(*window, 3), (QStringList{"Ready", "Ready", "Ready"}));
    EXPECT_EQ(SelectedRows(*window), (std::vector<int>{0, 1, 2}));

    Select(*window, {1});
    AddUrls(*window, {"http://h/b"});
    EXPECT_EQ(SelectedRows(*window), (std::vector<int>{1, 3})) << "new rows join the selection";

    AddUrls(*window, {"http://h/never"}, false);
    EXPECT_EQ(List(*window)->model()->rowCount(), 4);
}

TEST_F(MainWindowTest, StartPauseAndRemoveDriveTheQueue) {
    auto window = OpenWindow();
    AddUrls(*window, {Url("/files/one.txt"), Url("/stall/slow.bin"), Url("/files/two.txt")});

    Select(*window, {0});
    Click(*window, Id::StartId);
    ASSERT_TRUE(WaitForStates(*window, {"Done", "Ready", "Ready"}));
    EXPECT_EQ(Cell(*window, 0, 0), "one.txt");
    EXPECT_EQ(Cell(*window, 0, 1), "100%");
    QFile one(Downloaded("one.txt"));
    ASSERT_TRUE(one.open(QIODevice::ReadOnly));
    EXPECT_EQ(one.readAll(), "content of one.txt");

    // The stalled download is paused from its row; the next waiting one then
    // runs.
    Select(*window, {1, 2});
    Click(*window, Id::StartId);
    ASSERT_TRUE(WaitForStates(*window, {"Done", "Progress", "Waiting"}));
    Select(*window, {1});
    Click(*window, Id::PauseId);
    EXPECT_EQ(Cell(*window, 1, 3), "Pause") << "Pause shows at once";
    ASSERT_TRUE(WaitForStates(*window, {"Done", "Pause", "Done"}));
    EXPECT_TRUE(QFile::exists(Downloaded("two.txt")));

    // Remove with a mixed selection takes the rows but not the files already
    // downloaded.
    Select(*window, {0, 1});
    Click(*window, Id::RemoveId);
    EXPECT_EQ(Column(*window, 0), (QStringList{"two.txt"}));
    EXPECT_TRUE(QFile::exists(Downloaded("one.txt")));
    EXPECT_EQ(QDir(downloads.path()).entryList(QDir::Files), (QStringList{"one.txt", "two.txt"}))
        << "the paused row's temporary file goes with it";
}

TEST_F(MainWindowTest, RemovingScatteredRowsKeepsTheSelectionOfTheRowsThatStay) {
    auto window = OpenWindow();
    DownloadItems loaded;
    for (int i = 0; i < 600; ++i) {
        auto item = std::make_unique<DownloadItem>();
        item->url = "http://h/" + std::to_string(i);
        item->state = i % 2 == 0 ? DownloadState::Progress : DownloadState::Ready;
        loaded.push_back(std::move(item));
    }
    window->Queue().AppendItems(std::move(loaded));
    ASSERT_EQ(SelectedRows(*window).size(), 600u);
    Click(*window, Id::RemoveId);
    ASSERT_EQ(List(*window)->model()->rowCount(), 300);
    EXPECT_EQ(Cell(*window, 299, 0), "");
    EXPECT_EQ(window->Queue().Item(299).url, "http://h/598");
    EXPECT_EQ(SelectedRows(*window).size(), 300u);
}

TEST_F(MainWindowTest, RemoveAllKeepsTheRunningRowAndPauseAllStopsIt) {
    auto window = OpenWindow();
    AddUrls(*window, {Url("/stall/a.bin"), Url("/files/b.txt"), Url("/files/c.txt")});
    Click(*window, Id::StartAllId);
    ASSERT_TRUE(WaitForStates(*window, {"Progress", "Waiting", "Waiting"}));
    Click(*window, Id::StartAllId);
    EXPECT_EQ(Column(*window, 3), (QStringList{"Progress", "Waiting", "Waiting"}));

    Click(*window, Id::RemoveAllId);
    EXPECT_EQ(Column(*window, 3), (QStringList{"Progress"}));

    Click(*window, Id::PauseAllId);
    EXPECT_EQ(Column(*window, 3), (QStringList{"Pause"}));
    Click(*window, Id::PauseAllId);
    EXPECT_EQ(Column(*window, 3), (QStringList{"Pause"}));
}

TEST_F(MainWindowTest, NewVersionQuestionAddsTheInstallerOnlyOnYes) {
    server.server().Get("/versioned/(.*)",
                        [](const httplib::Request&, httplib::Response& response) {
                            response.set_header("ActualDFXVersion", "v.0.3");
                            response.set_content("data", "text/plain");
                        });
    auto window = OpenWindow();
    const NewVersionBridge newVersions(window->Queue());
    AddUrls(*window, {Url("/versioned/no.txt")});
    ModalAnswerer answerer;
    answerer.ThenPress(QMessageBox::No);
    Click(*window, Id::StartAllId);
    ASSERT_TRUE(WaitForStates(*window, {"Done"}));
    EXPECT_EQ(answerer.Texts(), QStringList{"New version found.\nDownload?"});
    EXPECT_EQ(answerer.Captions(), QStringList{"Update"});

    AddUrls(*window, {Url("/versioned/yes.txt")});
    answerer.ThenPress(QMessageBox::Yes);
    Click(*window, Id::StartAllId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(*window, 1, 3) == "Done"; }, 20000));
    ASSERT_EQ(List(*window)->model()->rowCount(), 3);
    EXPECT_EQ(Cell(*window, 2, 0), "");
    EXPECT_EQ(window->Queue().Item(2).url,
              "http://" + std::string(UpdateServerHost) + "/exe/dartflux.exe");
    Click(*window, Id::PauseAllId);
}

TEST_F(MainWindowTest, BrowseChecksTypedPathsAndCancelKeepsTheFolder) {
    auto window = OpenWindow();
    auto* folderField = qobject_cast<QLineEdit*>(FindControl(window.get(), Id::FolderFieldId));
    const QString wanted = downloads.path() + "/two/levels";
    auto type = [](const QString& text) {
        return [text](QDialog& chooser) {
            qobject_cast<QLineEdit*>(FindControl(&chooser, CFolderChooser::PathFieldId))
                ->setText(text);
            qobject_cast<QAbstractButton*>(FindControl(&chooser, CFolderChooser::OkId))->click();
        };
    };
    auto cancel = [](QDialog& chooser) {
        qobject_cast<QAbstractButton*>(FindControl(&chooser, CFolderChooser::CancelId))->click();
    };

    ModalAnswerer answerer;
    answerer.Then(type("no/root"));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then(type(wanted));
    answerer.ThenPress(QMessageBox::No);
    answerer.Then(cancel);
    Click(*window, Id::BrowseId);
    EXPECT_EQ(answerer.Texts().size(), 2);
    EXPECT_EQ(folderField->text(), downloads.path());
    EXPECT_FALSE(QDir(wanted).exists());

    answerer.Then(type(wanted));
    answerer.ThenPress(QMessageBox::Yes);
    window->OnCommand(Id::DirectoryMenuId);
    EXPECT_EQ(folderField->text(), wanted);
    EXPECT_EQ(ReadSetting(0), wanted.toStdString()) << "stored at once, not only at exit";
    EXPECT_TRUE(QDir(wanted).exists());

    OpenedUrls opened;
    Click(*window, Id::OpenFolderId);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(wanted)});

    window.reset();
    EXPECT_EQ(ReadSetting(0), wanted.toStdString());
}

TEST_F(MainWindowTest, FirstRunCreatesTheDefaultFolder) {
    QFile::remove(QString::fromStdString(SettingsLocation()));
    const QString expected =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Download";
    QDir(expected).removeRecursively();
    auto window = OpenWindow();
    EXPECT_EQ(qobject_cast<QLineEdit*>(FindControl(window.get(), Id::FolderFieldId))->text(),
              expected);
    EXPECT_TRUE(QDir(expected).exists());
    EXPECT_EQ(window->DownloadFolderPath(), expected);
}

TEST_F(MainWindowTest, EveryClosePathSavesTheListAndTheFolder) {
    struct ClosePath {
        const char* name;
        std::function<void(CDownloaderDlg&)> close;
    };
    const std::vector<ClosePath> paths = {
        {"Exit",
         [](CDownloaderDlg& window) {
             for (QAction* action : window.findChildren<QAction*>()) {
                 if (action->property("controlId").toInt() == Id::ExitMenuId) {
                     action->trigger();
                 }
             }
         }},
        {"Escape", [](CDownloaderDlg& window) { QTest::keyClick(&window, Qt::Key_Escape); }},
        {"Enter", [](CDownloaderDlg& window) { QTest::keyClick(&window, Qt::Key_Return); }},
        {"close box", [](CDownloaderDlg& window) { window.close(); }},
    };
    for (const ClosePath& path : paths) {
        SCOPED_TRACE(path.name);
        QFile::remove(QString::fromStdString(DefaultListPath()));
        QFile::remove(QString::fromStdString(SettingsLocation()));
        WriteSetting(0, downloads.path().toStdString());
        auto window = OpenWindow();
        AddUrls(*window, {"http://h/" + QString(path.name)});
        window->Queue().SetAutoSave(false);
        path.close(*window);
        EXPECT_FALSE(window->isVisible());
        window.reset();

        EXPECT_EQ(ReadSetting(0), downloads.path().toStdString());
        EXPECT_EQ(ReadSetting(1), DefaultListPath());
        const DownloadItems saved = LoadListFile();
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(saved[0]->url, "http://h/" + std::string(path.name));
    }
}

TEST_F(MainWindowTest, SavesPicturesForReview) {
    auto window = OpenWindow();
    DownloadItems items;
    const std::vector<std::tuple<const char*, int, std::int64_t, DownloadState>> rows = {
        {"distribution-dvd-amd64.iso", 37, 6114656256, DownloadState::Progress},
        {"report.pdf", 100, 1048576, DownloadState::Done},
        {"http://example.org/missing.zip", 0, 0, DownloadState::Error},
        {"video.mkv", 64, 734003200, DownloadState::Pause},
        {"http://example.org/next.tar.gz", 0, 0, DownloadState::Waiting},
        {"http://example.org/later.bin", 0, 0, DownloadState::Ready},
        {"archive.7z", 12, 52428800, DownloadState::Queue},
    };
    for (const auto& [name, percent, size, state] : rows) {
        auto item = std::make_unique<DownloadItem>();
        item->url = item->fileName = name;
        item->percent = percent;
        item->totalSize = size;
        item->state = state;
        items.push_back(std::move(item));
    }
    window->Queue().SetAutoSave(false);
    window->Queue().AppendItems(std::move(items));
    List(*window)->clearSelection();
    Select(*window, {1});
    List(*window)->setFocus();

    // Beside the test program, wherever it is run from.
    QDir review(QCoreApplication::applicationDirPath() + "/review");
    ASSERT_TRUE(review.mkpath("."));
    EXPECT_TRUE(window->grab().save(review.filePath("main-window.png")));

    CAddUrlsDlg addUrls(window.get());
    addUrls.show();
    QTest::keyClicks(qobject_cast<QPlainTextEdit*>(FindControl(&addUrls, 1020)),
                     "http://example.org/a.zip");
    EXPECT_TRUE(addUrls.grab().save(review.filePath("add-urls.png")));
    CAboutDlg about(window.get());
    about.show();
    EXPECT_TRUE(about.grab().save(review.filePath("about.png")));
    CFolderChooser chooser("Select path", "Select download path", downloads.path(), window.get());
    chooser.show();
    EXPECT_TRUE(chooser.grab().save(review.filePath("folder-chooser.png")));
    window->Queue().OnRemoveAll();
}

} // namespace

#include "MainWindowTest.moc"

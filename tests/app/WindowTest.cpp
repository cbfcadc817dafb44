// The main window and its dialogs, driven by control ids under the offscreen platform.
#include "CAboutDlg.h"
#include "CAddUrlsDlg.h"
#include "CDownloaderDlg.h"
#include "CFolderChooser.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "ModalAnswerer.h"
#include "NewVersionBridge.h"
#include "QStringPrinter.h"
#include "Settings.h"
#include "SmallFileSystem.h"
#include "TestHttpServer.h"
#include "WindowActions.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <optional>

namespace {

using Id = CDownloaderDlg::CommandId;

template <typename Widget> Widget* Control(const QWidget& root, int id) {
    return qobject_cast<Widget*>(FindControl(&root, id));
}

// Types text into the folder chooser's path field and presses its OK button.
std::function<void(QDialog&)> TypeAndConfirm(const QString& text) {
    return [text](QDialog& chooser) {
        Control<QLineEdit>(chooser, CFolderChooser::PathFieldId)->setText(text);
        Control<QAbstractButton>(chooser, CFolderChooser::OkId)->click();
    };
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(QString::fromStdString(SettingsLocation()));
        QFile::remove(QString::fromStdString(DefaultListPath()));
        WriteSetting(DownloadFolderSetting, downloads.path().toStdString());
        server.GetStalling("/stall/.*", 100000, std::string(1000, 's'));
        server.Get("/files/(.*)", [](const httplib::Request& request, httplib::Response& response) {
            response.set_header("ActualDFXVersion",
                                request.path.ends_with("new") ? "v.0.3" : "v.0.2");
            response.set_content("content of " + request.path, "text/plain");
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

    QTemporaryDir downloads;
    TestHttpServer server;
};

TEST_F(WindowTest, CommandsByIdDriveTheQueueAndKeepTheSelection) {
    auto window = OpenWindow();
    // What a screen reader says: captions, the list's name and its columns'.
    const auto name = [](QWidget* control) {
        return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    };
    EXPECT_EQ(name(FindControl(window.get(), Id::BrowseId)) + "|" +
                  name(FindControl(window.get(), Id::OpenFolderId)) + "|" + name(List(*window)),
              "Browse...|Open Folder|Downloads");
    EXPECT_EQ(FindControl(window.get(), Id::StartId)->toolTip() + "|" +
                  FindControl(window.get(), Id::RemoveId)->toolTip(),
              "Start (Ctrl+S)|Remove (Del)");
    AddUrls(*window, {Url("/files/one.txt"), "", Url("/stall/slow.bin"), Url("/files/two.txt")});
    EXPECT_EQ(SelectedRows(*window), (std::vector<int>{0, 1, 2}));
    Select(*window, {0});
    Click(*window, Id::StartId);
    ASSERT_TRUE(WaitForStates(*window, {"Done", "Ready", "Ready"}));
    // The status panel's text keeps out of the click area, which shows bare background.
    const QImage area =
        window->grab(FindControl(window.get(), Id::ClickAreaId)->geometry()).toImage();
    QImage bare(area.size(), area.format());
    bare.fill(area.pixel(0, 0));
    EXPECT_TRUE(area == bare) << "no text in the click area";
    Select(*window, {1, 2});
    Click(*window, Id::StartId);
    ASSERT_TRUE(WaitForStates(*window, {"Done", "Progress", "Waiting"}));
    window->AddAndStart(server.Url("/files/handed")); // as a second start hands a URL over
    EXPECT_EQ(Column(*window, 3), (QStringList{"Done", "Progress", "Waiting", "Waiting"}));
    Select(*window, {}); // the status panel follows the active row
    Click(*window, Id::RemoveAllId);
    EXPECT_EQ(Column(*window, 3), (QStringList{"Progress"})) << "the running row stays";
    Click(*window, Id::PauseAllId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Queue().ActiveRow() == -1; }));

    DownloadItems loaded; // loaded rows are all selected; Remove keeps those in Progress
    for (int i = 0; i < 600; ++i) {
        loaded.push_back(std::make_unique<DownloadItem>());
        loaded.back()->state = i % 2 == 0 ? DownloadState::Progress : DownloadState::Ready;
    }
    window->Queue().AppendItems(std::move(loaded));
    Click(*window, Id::RemoveId);
    EXPECT_EQ(SelectedRows(*window).size(), 300u);
}

TEST_F(WindowTest, BrowseChecksTypedPathsAndStoresTheFolderAtOnce) {
    QFile::remove(QString::fromStdString(SettingsLocation()));
    auto window = OpenWindow();
    const QString documents =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Download";
    EXPECT_EQ(Control<QLineEdit>(*window, Id::FolderFieldId)->text(), documents);
    EXPECT_TRUE(QDir(documents).exists());

    QFile file(downloads.filePath("plain"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString wanted = downloads.path() + "/two/levels";
    ModalAnswerer answerer;
    answerer.Then(TypeAndConfirm("no/root"));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then(TypeAndConfirm(downloads.filePath("plain")));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then(TypeAndConfirm(wanted));
    answerer.ThenPress(QMessageBox::No);
    answerer.Then(&QDialog::reject);
    Click(*window, Id::BrowseId);
    EXPECT_EQ(answerer.Texts(),
              (QStringList{"The folder:\n\nno/root\n\nis invalid. Please reenter.",
                           "The folder:\n\n" + downloads.filePath("plain") +
                               "\n\ncan not be created. Please double check.",
                           "The folder:\n\n" + wanted +
                               "\n\ndoes not exist. Do you want the folder to be created?"}));
    EXPECT_EQ(window->DownloadFolderPath(), documents);

    answerer.Then(TypeAndConfirm(wanted));
    answerer.ThenPress(QMessageBox::Yes);
    window->OnCommand(Id::DirectoryMenuId);
    EXPECT_EQ(Control<QLineEdit>(*window, Id::FolderFieldId)->text(), wanted);
    EXPECT_EQ(ReadSetting(DownloadFolderSetting), wanted.toStdString()) << "stored at once";

    SmallFileSystem readOnly("64k");
    if (!readOnly.Mounted() || ::mount(nullptr, readOnly.Path().toLocal8Bit().constData(), nullptr,
                                       MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount a read-only tmpfs here";
    }
    answerer.Then(TypeAndConfirm(readOnly.Path()));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then(&QDialog::reject);
    Click(*window, Id::BrowseId);
    EXPECT_EQ(answerer.Texts().last(), "The folder:\n\n" + readOnly.Path() +
                                           "\n\ncan not be written to. Please double check.");
}

TEST_F(WindowTest, EveryClosePathSavesTheListAndTheFolder) {
    const std::function<void(CDownloaderDlg&)> paths[] = {
        [](CDownloaderDlg& w) { w.OnCommand(Id::ExitMenuId); },
        [](CDownloaderDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); },
        [](CDownloaderDlg& w) { QTest::keyClick(&w, Qt::Key_Return); },
        [](CDownloaderDlg& w) { w.close(); },
    };
    for (std::size_t path = 0; path < std::size(paths); ++path) {
        WriteSetting(DownloadFolderSetting, downloads.path().toStdString());
        auto window = OpenWindow();
        window->Queue().AddUrls("http://h/" + std::to_string(path));
        WriteSetting(DownloadFolderSetting, "");
        paths[path](*window);
        EXPECT_FALSE(window->isVisible()) << path;
        window.reset();
        EXPECT_EQ(ReadSetting(DownloadFolderSetting), downloads.path().toStdString()) << path;
        EXPECT_EQ(LoadListFile().back()->url, "http://h/" + std::to_string(path));
    }
}

TEST_F(WindowTest, OpenFolderWithoutAnOpenerSaysSo) {
    auto window = OpenWindow();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "");
    window->OnCommand(Id::OpenFolderId);
    qputenv("PATH", path);
    EXPECT_EQ(Control<CStatusPanel>(*window, Id::StatusPanelId)->Text(),
              "Could not open " + downloads.path() +
                  ": xdg-open is missing (it comes with xdg-utils)");
}

TEST_F(WindowTest, TheNewVersionQuestionAddsTheInstallerOnlyOnYes) {
    auto window = OpenWindow();
    const NewVersionBridge newVersions(window->Queue());
    ModalAnswerer answerer;
    answerer.ThenPress(QMessageBox::No);
    answerer.ThenPress(QMessageBox::Yes);
    window->Queue().AddUrls(server.Url("/files/no.new") + "\n" + server.Url("/files/yes.new"));
    Click(*window, Id::StartAllId);
    ASSERT_TRUE(QTest::qWaitFor([&] { return List(*window)->model()->rowCount() == 3; }, 20000));
    EXPECT_EQ(answerer.Texts(),
              (QStringList{"New version found.\nDownload?", "New version found.\nDownload?"}));
    EXPECT_EQ(answerer.Captions(), (QStringList{"Update", "Update"}));
    EXPECT_EQ(window->Queue().Item(2).url, "http://update.dartflux.example/exe/dartflux.exe");
    Click(*window, Id::PauseAllId);
}

TEST_F(WindowTest, DroppedAndPastedLinksBecomeRowsAndCopiedOnesFillAddUrl) {
    auto window = OpenWindow();
    QMimeData links;
    links.setUrls({QUrl("http://h/a b.zip"), QUrl("https://h/c")});
    QMimeData text;
    text.setText("see http://x/1\nhttp://x/2\nnot a link");
    for (const QMimeData* dropped : {&links, &text}) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, dropped, Qt::LeftButton, {});
        QApplication::sendEvent(List(*window)->viewport(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(List(*window)->viewport(), &drop);
    }
    QApplication::clipboard()->setText("http://x/3\r\n ftp://x/4 ");
    List(*window)->setFocus();
    QTest::keyClick(List(*window), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(List(*window), Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Column(*window, 0),
              (QStringList{"http://h/a%20b.zip", "https://h/c", "http://x/2", "http://x/3",
                           "ftp://x/4", "http://x/3", "ftp://x/4"}));
    EXPECT_EQ(Column(*window, 3), QStringList(7, "Ready"));

    const std::pair<QString, QString> copies[] = {
        {"http://x/3\r\n ftp://x/4 ", "http://x/3\nftp://x/4"},
        {"x http://y", ""},
        {"look:\nhttp://x/5", "http://x/5"},
    };
    for (const auto& [copied, offered] : copies) {
        QApplication::clipboard()->setText(copied);
        CAddUrlsDlg addUrls;
        const auto* field = Control<QPlainTextEdit>(addUrls, CAddUrlsDlg::UrlFieldId);
        EXPECT_EQ(field->toPlainText(), offered);
        EXPECT_EQ(field->textCursor().selectedText(),
                  field->toPlainText().replace('\n', QChar(0x2029)));
    }
}

// A session bus of the test's own, which the program takes when it has used no bus before.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon_.waitForStarted() || !daemon_.waitForReadyRead()) {
            skipReason_ = "no dbus-daemon to run a private session bus";
            return;
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
        if (!QDBusConnection::sessionBus().isConnected()) {
            skipReason_ = "the session bus was opened before the test set it: run it on its own";
        }
    }
    ~PrivateSessionBus() {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    // Why the test cannot run; empty when it can.
    const std::string& SkipReason() const { return skipReason_; }
    // Registers object as service at path, for stand-in services.
    bool Serve(const QString& service, const QString& path, QObject* object) {
        QDBusConnection connection = QDBusConnection::connectToBus(address_, service);
        return connection.registerService(service) &&
               connection.registerObject(path, object, QDBusConnection::ExportScriptableSlots);
    }
    void StopServing(const QString& service) {
        QDBusConnection(service).unregisterService(service);
    }

private:
    QProcess daemon_;
    QString address_;
    std::string skipReason_;
};

// Takes the desktop's notifications, offering actions.
class StandInNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList lines;

public slots:
    Q_SCRIPTABLE QStringList GetCapabilities() { return {"actions", "body"}; }
    Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString& summary,
                             const QString& body, const QStringList& actions, const QVariantMap&,
                             int) {
        lines.append(summary + "|" + body + "|" + actions.join(','));
        return lines.size();
    }
};

// Takes the file manager's ShowItems and what the desktop is asked to open.
class StandInFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList asked;

public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) {
        asked.append("show " + uris.join(' '));
    }
    void Open(const QUrl& url) { asked.append("open " + url.toString()); }
};

TEST_F(WindowTest, AFailureWhileAwayAndTheQueuesEndAreNotified) {
    PrivateSessionBus bus;
    if (!bus.SkipReason().empty()) {
        GTEST_SKIP() << bus.SkipReason();
    }
    StandInNotifications standIn;
    StandInFileManager desktop;
    ASSERT_TRUE(
        bus.Serve("org.freedesktop.Notifications", "/org/freedesktop/Notifications", &standIn));
    ASSERT_TRUE(
        bus.Serve("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", &desktop));
    CDownloaderDlg window; // never shown: never the active window
    window.Queue().AddUrls(server.Url("/nothing?<b>&amp;") + "\n" + server.Url("/files/a.txt"));
    window.OnCommand(Id::StartAllId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return standIn.lines.size() == 2; }));
    EXPECT_EQ(standIn.lines,
              (QStringList{"Download failed|" + Url("/nothing?&lt;b&gt;&amp;amp;") +
                               "\nThe server answered 404 Not Found|",
                           "Downloads finished|1 done, 1 failed\na.txt\nSaved as " +
                               downloads.filePath("a.txt") + "|show-in-folder,Show in folder"}));
    QDBusConnection("org.freedesktop.Notifications")
        .send(QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                         "org.freedesktop.Notifications", "ActionInvoked")
              << 2u << QString("show-in-folder"));
    const QString shown = "show " + QUrl::fromLocalFile(downloads.filePath("a.txt")).toString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.asked == QStringList{shown}; }));
}

TEST_F(WindowTest, TheListMenuAndDoubleClicksActOnTheRowUnderThePointer) {
    PrivateSessionBus bus;
    if (!bus.SkipReason().empty()) {
        GTEST_SKIP() << bus.SkipReason();
    }
    StandInFileManager desktop;
    ASSERT_TRUE(
        bus.Serve("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", &desktop));
    QDesktopServices::setUrlHandler("file", &desktop, "Open");
    const auto unsetHandler = qScopeGuard([] { QDesktopServices::unsetUrlHandler("file"); });
    auto window = OpenWindow();
    window->Queue().AddUrls(server.Url("/files/a.txt") + "\n" + server.Url("/stall/b"));
    Select(*window, {0});
    window->OnCommand(Id::StartId);
    ASSERT_TRUE(WaitForStates(*window, {"Done", "Ready"}));
    const auto point = [&](int row) {
        return List(*window)->visualRect(List(*window)->model()->index(row, 0)).center();
    };
    // A point for the mouse's menu; none for the keyboard's, whatever row the focus is on.
    const auto choose = [&](std::optional<QPoint> at, int id) {
        if (at) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, *at, QCursor::pos());
            QApplication::sendEvent(List(*window)->viewport(), &event);
        } else {
            QTest::keyClick(List(*window), Qt::Key_F10, Qt::ShiftModifier);
        }
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->findChildren<QAction*>()) {
            if (action->property("controlId").toInt() == id && action->isEnabled()) {
                action->trigger();
            }
        }
        menu->close();
    };
    const QString file = QUrl::fromLocalFile(downloads.filePath("a.txt")).toString();
    choose(point(1), Id::CopyAddressMenuId);
    EXPECT_EQ(QApplication::clipboard()->text(), Url("/stall/b"));
    List(*window)->setCurrentIndex(List(*window)->model()->index(1, 0));
    Select(*window, {0});
    choose(std::nullopt, Id::CopyAddressMenuId);
    EXPECT_EQ(QApplication::clipboard()->text(), Url("/files/a.txt")) << "the selection's";
    choose(point(1), Id::FirstSpeedLimitMenuId + 2);
    EXPECT_EQ(window->Queue().SpeedLimit(), 1000000);
    choose(point(0), Id::ShowInFolderMenuId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.asked.size() == 1; }));
    bus.StopServing("org.freedesktop.FileManager1");
    choose(point(0), Id::ShowInFolderMenuId);
    EXPECT_TRUE(QTest::qWaitFor([&] { return desktop.asked.size() == 2; }));
    choose(point(0), Id::OpenFileMenuId);
    QTest::mouseDClick(List(*window)->viewport(), Qt::LeftButton, {}, point(0));
    EXPECT_EQ(
        desktop.asked,
        (QStringList{"show " + file, "open " + QUrl::fromLocalFile(downloads.path()).toString(),
                     "open " + file, "open " + file}));
    QApplication::clipboard()->setText("http://x/3");
    choose(QPoint(5, List(*window)->viewport()->height() - 5), Id::PasteMenuId);
    QTest::mouseClick(List(*window)->viewport(), Qt::LeftButton, {}, point(1));
    QTest::mouseDClick(List(*window)->viewport(), Qt::LeftButton, {}, point(1));
    EXPECT_TRUE(WaitForStates(*window, {"Done", "Progress", "Ready"}));
}

TEST(DialogsTest, AddUrlsAboutAndTheFolderRules) {
    QApplication::clipboard()->clear();
    CAddUrlsDlg dialog;
    dialog.show();
    auto* field = Control<QPlainTextEdit>(dialog, CAddUrlsDlg::UrlFieldId);
    EXPECT_EQ(field->geometry(), QRect(9, 26, 376, 149)) << "dialog units: 5, 15, 215, 85";
    QTest::keyClicks(field, "http://a/1");
    QTest::keyClick(field, Qt::Key_Tab); // moves on to the buttons
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter in the field is a line break";
    QApplication::clipboard()->setText("x");
    Control<QAbstractButton>(dialog, CAddUrlsDlg::PasteId)->click();
    Control<QAbstractButton>(dialog, CAddUrlsDlg::PasteId)->click();
    auto* cancel = Control<QAbstractButton>(dialog, CAddUrlsDlg::CancelId);
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << "Enter outside the field presses OK";
    EXPECT_EQ(dialog.UrlText(), "http://a/1\r\nxx");

    CAboutDlg about;
    about.show();
    EXPECT_EQ(Control<QLabel>(about, CAboutDlg::VersionTextId)->text(), "Dartflux v.0.2");
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());

    const std::pair<QString, int> paths[] = {
        {"/", 0},           {"/home/ünïcode dir/x", 0}, {"relative/dir", 1}, {"C:\\Windows", 1},
        {"/home/user/", 1}, {"/home//user", 1},         {"/home/ user", 1},  {"/home/.hidden", 1},
        {"/home/a:b", 1},   {"/home/what?", 1},         {"/home/pipe|", 1},  {"/home/star*", 1},
    };
    for (const auto& [path, result] : paths) {
        EXPECT_EQ(CFolderChooser::CheckOrCreateFolder(path, true), result) << path.toStdString();
    }
}

} // namespace

#include "WindowTest.moc"

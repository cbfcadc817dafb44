// Writes pictures for a person to look at: controls.png, the controls put together, and
// controls-pressed.png with a toolbar button and a picture button held down; main-window.png
// (the README's screenshot) with a download running and a failed one selected, and the dialogs.
// Checks nothing. Runs in a temporary home, so the window reads and writes none of the user's
// settings or list.
//
//   build/bench/ReviewPictures [folder, default review]

#include "CAboutDlg.h"
#include "CAddUrlsDlg.h"
#include "CBitmapButton.h"
#include "CDownloaderDlg.h"
#include "CFolderChooser.h"
#include "CIconTextButton.h"
#include "CProgressListCtrl.h"
#include "ControlLookup.h"
#include "DownloadListRoles.h"
#include "DownloadQueue.h"
#include "ResourceImages.h"
#include "Settings.h"
#include "TemporaryHome.h"
#include "TestHttpServer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QColor>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWidget>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

void AddSampleRow(QStandardItemModel& model, const QString& name, int percent, const QString& state,
                  const QVariant& text, const QVariant& background) {
    QList<QStandardItem*> cells;
    for (const QString& cellText :
         {name, QString("%1%").arg(percent), QString::number(percent * 40), state}) {
        cells.append(new QStandardItem(cellText));
        cells.back()->setData(text, Qt::ForegroundRole);
        cells.back()->setData(background, Qt::BackgroundRole);
    }
    cells[1]->setData(percent, PercentRole);
    model.appendRow(cells);
}

bool Save(QWidget& widget, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    const bool saved = widget.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// The main window as a user with a varied list sees it: a real download running from a local
// server whose speed wavers, and a real one that failed, selected; then each dialog over it.
bool SaveWindowAndDialogs(const QDir& folder, bool saved) {
    TestHttpServer server;
    server.Get("/files/missing.zip",
               [](const httplib::Request&, httplib::Response& response) { response.status = 404; });
    server.Get("/files/distribution-dvd-amd64.iso", [](const httplib::Request&,
                                                       httplib::Response& response) {
        response.set_content_provider(
            std::size_t{6} << 30, "application/octet-stream",
            [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                static const std::string piece(64 * 1024, 'd');
                const double wave = 1.5 + std::sin(static_cast<double>(offset) / 3e6);
                std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(12 * wave)));
                return sink.write(piece.data(), piece.size());
            });
    });
    WriteSetting(DownloadFolderSetting, folder.absolutePath().toStdString());
    CDownloaderDlg window;
    window.Queue().SetAutoSave(false);
    DownloadItems items;
    const std::tuple<const char*, int, std::int64_t, DownloadState> rows[] = {
        {"report.pdf", 100, 1048576, DownloadState::Done},
        {"video.mkv", 64, 734003200, DownloadState::Pause},
        {"http://example.org/next.tar.gz", 0, 0, DownloadState::Ready},
        {"archive.7z", 12, 52428800, DownloadState::Queue},
    };
    for (const auto& [name, percent, size, state] : rows) {
        items.push_back(std::make_unique<DownloadItem>());
        items.back()->url = items.back()->fileName = name;
        items.back()->percent = percent;
        items.back()->totalSize = size;
        items.back()->state = state;
    }
    window.Queue().AppendItems(std::move(items));
    window.Queue().AddUrls(server.Url("/files/missing.zip") + "\n" +
                           server.Url("/files/distribution-dvd-amd64.iso"));
    window.Queue().OnStart({4, 5});
    // Long enough for the speed graph to fill up.
    QTest::qWait(20000);
    window.show();
    auto* list = qobject_cast<QAbstractItemView*>(FindControl(&window, CDownloaderDlg::ListId));
    list->selectionModel()->select(window.Queue().index(4, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->setFocus();
    saved = Save(window, folder, "main-window.png") && saved;
    CAddUrlsDlg addUrls(&window);
    addUrls.show();
    saved = Save(addUrls, folder, "add-urls.png") && saved;
    CAboutDlg about(&window);
    about.show();
    saved = Save(about, folder, "about.png") && saved;
    CFolderChooser chooser("Select path", "Select download path", folder.absolutePath(), &window);
    chooser.show();
    saved = Save(chooser, folder, "folder-chooser.png") && saved;
    // Leaves no partial download behind in the folder.
    window.Queue().OnPauseAll();
    saved = QTest::qWaitFor([&window] { return window.Queue().ActiveRow() == -1; }) && saved;
    window.Queue().OnRemoveAll();
    return saved;
}

} // namespace

int main(int argc, char* argv[]) {
    const TemporaryHome home;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("review"));
    if (!folder.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }

    QWidget window;
    window.resize(640, 390);

    // The toolbar, with its separators before Start and Start All.
    std::vector<CIconTextButton*> tools;
    int x = 8;
    for (const auto& [caption, iconId] :
         std::vector<std::pair<QString, int>>{{"Add URL", 156},
                                              {"Start", 157},
                                              {"Pause", 158},
                                              {"Remove", 159},
                                              {"Start All", 160},
                                              {"Pause All", 161},
                                              {"Remove All", 162}}) {
        if (iconId == 157 || iconId == 160) {
            auto* separator = new QLabel(&window);
            separator->setPixmap(QPixmap::fromImage(LoadBitmapResource(166)));
            separator->setGeometry(x, 15, 2, 40);
            x += 8;
        }
        tools.push_back(new CIconTextButton(&window));
        tools.back()->setText(caption);
        tools.back()->SetIconBitmap(iconId);
        tools.back()->setGeometry(x, 8, 70, 57);
        x += 76;
    }

    // A row of every state, one selected and one with a damaged percent.
    QStandardItemModel model;
    model.setHorizontalHeaderLabels({"File name", "Progress", "Size, Kb", "Status"});
    AddSampleRow(model, "debian-12.iso", 0, "Waiting", QColor(44, 79, 229), QColor(185, 197, 247));
    AddSampleRow(model, "notes.txt", 0, "Ready", {}, {});
    AddSampleRow(model, "video.mp4", 37, "Progress", QColor(38, 138, 22), QColor(183, 216, 178));
    AddSampleRow(model, "archive.tar.gz", 100, "Done", QColor(180, 180, 180),
                 QColor(230, 230, 230));
    AddSampleRow(model, "missing.zip", 12, "Error", QColor(202, 40, 76), QColor(238, 184, 196));
    AddSampleRow(model, "music.flac", 64, "Pause", QColor(220, 118, 19), QColor(244, 210, 177));
    AddSampleRow(model, "selected.pdf", 50, "Progress", QColor(38, 138, 22), QColor(183, 216, 178));
    AddSampleRow(model, "damaged.dat", -5, "Error", QColor(202, 40, 76), QColor(238, 184, 196));
    auto* list = new CProgressListCtrl(&window);
    list->setModel(&model);
    list->setGeometry(0, 73, 640, 200);
    for (const auto& [column, width] : {std::pair{0, 320}, {1, 120}, {2, 80}, {3, 80}}) {
        list->header()->resizeSection(column, width);
    }
    list->selectionModel()->select(model.index(6, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);

    // The picture buttons: normal, pressed and focused pictures come in threes.
    std::vector<CBitmapButton*> pictureButtons;
    int pictureX = 8;
    for (const int focusedId : {151, 163, 148, 145, 142}) {
        pictureButtons.push_back(new CBitmapButton(&window));
        pictureButtons.back()->LoadBitmaps(focusedId + 1, focusedId + 2, focusedId, 0);
        pictureButtons.back()->setGeometry(pictureX, 290, 89, 24);
        pictureX += 97;
    }

    window.show();
    QApplication::setActiveWindow(&window);
    pictureButtons[0]->setFocus();
    bool saved = Save(window, folder, "controls.png");

    tools[2]->setDown(true);
    pictureButtons[1]->setDown(true);
    saved = Save(window, folder, "controls-pressed.png") && saved;
    return SaveWindowAndDialogs(folder, saved) ? 0 : 1;
}

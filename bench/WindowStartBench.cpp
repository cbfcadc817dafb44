// Opens the main window over a list of many items and measures how long it takes until the window
// is on screen with its rows painted; also the list's save, its load alone and the close (which
// saves the list again). Runs offscreen in a temporary home: the user's settings, Documents and
// list file are never touched.
//
//   build/bench/WindowStartBench [items, default 100000]

#include "CDownloaderDlg.h"
#include "ControlLookup.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "ProcessMemory.h"
#include "SampleItems.h"
#include "Settings.h"
#include "TemporaryHome.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QObject>

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

// Notes the first paint of the widget it watches.
class FirstPaintWatch : public QObject {
public:
    bool Painted() const { return painted_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted_ = true;
        }
        return false;
    }

private:
    bool painted_ = false;
};

double Milliseconds(QElapsedTimer& timer) {
    return timer.nsecsElapsed() / 1e6;
}

void PrintRow(const char* step, double ms) {
    std::printf("| %-46s | %8.1f ms | %7.1f MB | %7.1f MB |\n", step, ms,
                CurrentKilobytes() / 1024.0, PeakKilobytes() / 1024.0);
}

} // namespace

int main(int argc, char* argv[]) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const TemporaryHome home;
    if (!home.IsValid() || count < 1) {
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    WriteSetting(DownloadFolderSetting, home.FilePath("Download").toStdString());
    const std::string listPath = home.FilePath("download.dat").toStdString();
    WriteSetting(ListPathSetting, listPath);

    std::printf("%d items (Done), QT_QPA_PLATFORM=%s\n\n", count,
                qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("| %-46s | %11s | %10s | %10s |\n", "step", "wall", "RSS after", "peak RSS");
    std::printf("|---|---|---|---|\n");
    QElapsedTimer timer;
    {
        DownloadItems items = MakeSampleItems(count, DownloadState::Done);
        timer.start();
        const bool saved = SaveListFile(items);
        PrintRow("save the list", Milliseconds(timer));
        if (!saved) {
            std::printf("the list could not be saved\n");
            return 1;
        }
    }
    {
        timer.start();
        const DownloadItems loaded = LoadListFile();
        PrintRow("load the list alone (read and decode)", Milliseconds(timer));
        if (static_cast<int>(loaded.size()) != count) {
            std::printf("loaded %zu items\n", loaded.size());
            return 1;
        }
    }
    // The window's figures count from here, without what the steps above freed but kept.
    malloc_trim(0);
    ResetPeak();
    std::printf("| %-46s | %11s | %7.1f MB | %7.1f MB |\n", "(before the window)", "",
                CurrentKilobytes() / 1024.0, PeakKilobytes() / 1024.0);

    timer.start();
    auto window = std::make_unique<CDownloaderDlg>();
    const double constructed = Milliseconds(timer);
    PrintRow("construct the window (loads the list)", constructed);

    auto* list =
        qobject_cast<QAbstractItemView*>(FindControl(window.get(), CDownloaderDlg::ListId));
    FirstPaintWatch watch;
    list->viewport()->installEventFilter(&watch);
    window->show();
    while (!watch.Painted()) {
        QApplication::processEvents();
    }
    const double shown = Milliseconds(timer);
    PrintRow("show until the rows are painted", shown - constructed);
    PrintRow("window shown with its rows (total)", shown);

    const int rows = list->model()->rowCount();
    timer.start();
    window.reset();
    PrintRow("close the window (saves the list)", Milliseconds(timer));

    std::printf("\nrows shown: %d; list file: %lld bytes; target: shown in under 1000 ms: %s\n",
                rows, static_cast<long long>(QFileInfo(QString::fromStdString(listPath)).size()),
                shown < 1000 ? "met" : "MISSED");
    return rows == count ? 0 : 1;
}

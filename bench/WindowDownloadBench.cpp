// Runs the main window downloading one URL, with a timer probe on the user interface thread that
// is due every 10 ms and records how late it fires. Prints the probe's percentiles, the transfer
// time and the process's peak resident memory. TransferBench runs it beside curl and wget; it
// can be run alone. Offscreen, in a temporary home: nothing of the real user's is touched.
//
//   build/bench/WindowDownloadBench URL [items already in the list, default 0]

#include "CDownloaderDlg.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "ProcessMemory.h"
#include "SampleItems.h"
#include "Settings.h"
#include "TemporaryHome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::chrono::milliseconds ProbeInterval{10};

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    return values[at];
}

bool IsFinished(DownloadState state) {
    return state == DownloadState::Done || state == DownloadState::Error;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s URL [items already in the list]\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1];
    const int listedItems = argc > 2 ? std::atoi(argv[2]) : 0;
    const TemporaryHome home;
    if (!home.IsValid()) {
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const QString downloads = home.FilePath("Download");
    WriteSetting(DownloadFolderSetting, downloads.toStdString());
    WriteSetting(ListPathSetting, home.FilePath("download.dat").toStdString());
    if (listedItems > 0 && !SaveListFile(MakeSampleItems(listedItems, DownloadState::Done))) {
        return 1;
    }

    CDownloaderDlg window;
    window.show();
    DownloadQueue& queue = window.Queue();
    queue.AddUrls(url);
    const int row = queue.Count() - 1;

    // Each probe is a single shot started anew, so that its lateness is measured against its own
    // due time and a late one does not make the next one early.
    std::vector<double> lateness;
    lateness.reserve(200000);
    QElapsedTimer clock;
    QTimer probe;
    probe.setSingleShot(true);
    probe.setTimerType(Qt::PreciseTimer);
    double due = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        lateness.push_back(std::max(0.0, now - due));
        if (IsFinished(queue.Item(row).state)) {
            application.quit();
            return;
        }
        due = now + static_cast<double>(ProbeInterval.count());
        probe.start(ProbeInterval);
    });

    clock.start();
    window.OnCommand(CDownloaderDlg::StartAllId);
    due = clock.nsecsElapsed() / 1e6 + static_cast<double>(ProbeInterval.count());
    probe.start(ProbeInterval);
    application.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;

    const DownloadItem& item = queue.Item(row);
    const bool done = item.state == DownloadState::Done;
    const long long bytes =
        QFileInfo(downloads + "/" + QString::fromStdString(item.fileName)).size();
    const double p99 = Percentile(lateness, 0.99);
    std::printf("  window with %d rows: %s, %lld bytes in %.3f s (%.1f MB/s), peak RSS %.1f MB\n",
                queue.Count(), StateText(item.state), bytes, seconds, bytes / seconds / 1e6,
                PeakKilobytes() / 1024.0);
    std::printf("  UI probe due every %lld ms, %zu probes: lateness p50 %.2f ms, p99 %.2f ms, "
                "max %.2f ms (target p99 under 50 ms: %s)\n",
                static_cast<long long>(ProbeInterval.count()), lateness.size(),
                Percentile(lateness, 0.50), p99,
                *std::max_element(lateness.begin(), lateness.end()), p99 < 50 ? "met" : "MISSED");
    return done ? 0 : 1;
}

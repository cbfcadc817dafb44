// Saves and loads a list of many items, and runs Start All over it with a full scan, printing
// wall time and peak resident memory per step. Runs in a temporary home: the user's settings and
// list file are never touched.
//
//   build/bench/QueueBench [items, default 100000]

#include "DownloadQueue.h"
#include "ListFile.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>

namespace {

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// Lets the next peak be measured from here (Linux: "5" resets the peak resident size).
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void Step(const char* name, const std::function<void()>& step) {
    ResetPeak();
    const long before = CurrentKilobytes();
    const auto start = std::chrono::steady_clock::now();
    step();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const long peak = PeakKilobytes();
    std::printf("| %-44s | %9.1f ms | %8.1f MB | %8.1f MB |\n", name, ms, before / 1024.0,
                peak / 1024.0);
}

DownloadItems MakeItems(int count, DownloadState state) {
    DownloadItems items;
    items.reserve(count);
    for (int n = 0; n < count; ++n) {
        auto item = std::make_unique<DownloadItem>();
        const std::string number = std::to_string(n);
        item->url = "http://downloads.example.org/releases/2024/package-" + number + ".tar.gz";
        item->fileName = "package-" + number + ".tar.gz";
        item->tempPath = "/home/user/Documents/Download/" + number + "a7f3c9e1b2.tmp";
        item->percent = n % 101;
        item->totalSize = 1000000LL + n * 7919LL;
        item->state = state;
        items.push_back(std::move(item));
    }
    return items;
}

// A transfer that never reports: the queue only has to start it.
std::shared_ptr<TransferControl> IdleStarter(const DownloadTask& task) {
    return std::make_shared<TransferControl>(task.owner);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir home;
    if (!home.isValid() || count < 1) {
        return 2;
    }
    const QByteArray root = home.path().toLocal8Bit();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    const std::string listPath = home.filePath("download.dat").toStdString();
    WriteSetting(1, listPath);

    std::printf("%d items\n\n", count);
    std::printf("| %-44s | %12s | %11s | %11s |\n", "step", "wall", "RSS before", "peak RSS");
    std::printf("|---|---|---|---|\n");
    {
        DownloadQueue queue;
        queue.SetAutoSave(false);
        Step("append the items (Done)",
             [&] { queue.AppendItems(MakeItems(count, DownloadState::Done)); });
        Step("save the list", [&] { queue.SaveList(); });
    }
    std::printf("\nfile: %lld bytes\n\n",
                static_cast<long long>(QFileInfo(QString::fromStdString(listPath)).size()));
    std::printf("| %-44s | %12s | %11s | %11s |\n", "step", "wall", "RSS before", "peak RSS");
    std::printf("|---|---|---|---|\n");
    {
        DownloadQueue queue;
        queue.SetAutoSave(false);
        queue.SetSaveFolder(home.path().toStdString());
        queue.SetTransferStarter(IdleStarter);
        Step("load the list", [&] { queue.LoadList(); });
        // Everything Done except the last item: Start All scans the whole list to find it.
        DownloadItems last;
        last.push_back(std::make_unique<DownloadItem>());
        last.back()->url = "http://downloads.example.org/last.bin";
        queue.AppendItems(std::move(last));
        Step("Start All, full scan to the last item", [&] { queue.OnStartAll(); });
        if (queue.ActiveRow() != queue.Count() - 1) {
            std::printf("unexpected: active row %d\n", queue.ActiveRow());
            return 1;
        }
        Step("save the list while a transfer runs", [&] { queue.SaveList(); });
    }
    {
        DownloadQueue queue;
        queue.SetAutoSave(false);
        queue.SetSaveFolder(home.path().toStdString());
        queue.SetTransferStarter(IdleStarter);
        queue.AppendItems(MakeItems(count, DownloadState::Ready));
        Step("Start All, every item Ready -> Waiting", [&] { queue.OnStartAll(); });
        Step("Pause All", [&] { queue.OnPauseAll(); });
        Step("Remove All", [&] { queue.OnRemoveAll(); });
    }
    return 0;
}

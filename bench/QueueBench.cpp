// Saves and loads a list of many items, and runs Start All over it with a full scan, printing
// wall time and peak resident memory per step. Runs in a temporary home: the user's settings and
// list file are never touched.
//
//   build/bench/QueueBench [items, default 100000]

#include "DownloadQueue.h"
#include "ListFile.h"
#include "ProcessMemory.h"
#include "SampleItems.h"
#include "Settings.h"
#include "TemporaryHome.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

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

// A transfer that never reports: the queue only has to start it.
std::shared_ptr<TransferControl> IdleStarter(const DownloadTask& task) {
    return std::make_shared<TransferControl>(task.owner);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const TemporaryHome home;
    if (!home.IsValid() || count < 1) {
        return 2;
    }
    QCoreApplication app(argc, argv);
    const std::string listPath = home.FilePath("download.dat").toStdString();
    WriteSetting(ListPathSetting, listPath);

    std::printf("%d items\n\n", count);
    std::printf("| %-44s | %12s | %11s | %11s |\n", "step", "wall", "RSS before", "peak RSS");
    std::printf("|---|---|---|---|\n");
    {
        DownloadQueue queue;
        queue.SetAutoSave(false);
        Step("append the items (Done)",
             [&] { queue.AppendItems(MakeSampleItems(count, DownloadState::Done)); });
        Step("save the list", [&] { queue.SaveList(); });
    }
    std::printf("\nfile: %lld bytes\n\n",
                static_cast<long long>(QFileInfo(QString::fromStdString(listPath)).size()));
    std::printf("| %-44s | %12s | %11s | %11s |\n", "step", "wall", "RSS before", "peak RSS");
    std::printf("|---|---|---|---|\n");
    {
        DownloadQueue queue;
        queue.SetAutoSave(false);
        queue.Folder() = DownloadFolder(home.Path().toStdString());
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
        queue.Folder() = DownloadFolder(home.Path().toStdString());
        queue.SetTransferStarter(IdleStarter);
        queue.AppendItems(MakeSampleItems(count, DownloadState::Ready));
        Step("Start All, every item Ready -> Waiting", [&] { queue.OnStartAll(); });
        Step("Pause All", [&] { queue.OnPauseAll(); });
        Step("Remove All", [&] { queue.OnRemoveAll(); });
    }
    return 0;
}

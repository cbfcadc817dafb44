#pragma once

#include "DownloadQueue.h"
#include "OutputFiles.h"
#include "TransferControl.h"

#include <QCoreApplication>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Handles the reports the queue's owner operations posted to this thread.
inline void DeliverReports() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

// Spins the event loop until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 5000) {
    return QTest::qWaitFor(condition, milliseconds);
}

// Stands in for the transfer thread's start: records every task and lets the test play the
// transfer through the returned control, as the worker would.
class ScriptedTransfers {
public:
    struct Run {
        DownloadTask task;
        std::shared_ptr<TransferControl> control;
    };

    DownloadQueue::TransferStarter Starter() {
        return [this](const DownloadTask& task) -> std::shared_ptr<TransferControl> {
            if (failures > 0) {
                --failures;
                return nullptr;
            }
            auto control = std::make_shared<TransferControl>(task.owner);
            runs.push_back({task, control});
            return control;
        };
    }

    Run& Last() { return runs.back(); }

    void Report(const std::function<void(TransferOwner&)>& report) {
        Last().control->ReportToOwner(report);
    }

    // The body arrived: the file is closed and moved, as the worker does, then the finish.
    void Complete() {
        CompleteOutputFile(Last().task.fileHandle);
        Report([](TransferOwner& owner) {
            owner.SetTransferResult(0, 0);
            owner.SetProgress(100);
        });
        Finish();
    }

    // The transfer ended before the end of the body: on a pause (code 0) or failing a step.
    void Stop(int code = 0, std::uint32_t error = 0) {
        Report([=](TransferOwner& owner) { owner.SetTransferResult(code, error); });
        Finish();
    }

    int failures = 0; // this many starts fail (no thread)
    std::vector<Run> runs;

private:
    void Finish() {
        Report([](TransferOwner& owner) { owner.OnTransferFinished(); });
        Last().control->MarkFinished();
    }
};

inline std::unique_ptr<DownloadItem> MakeItem(DownloadState state, const std::string& url = "") {
    auto item = std::make_unique<DownloadItem>();
    item->url = url;
    item->fileName = url;
    item->state = state;
    return item;
}

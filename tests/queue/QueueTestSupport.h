#pragma once

#include "DownloadQueue.h"
#include "OutputFiles.h"
#include "TransferControl.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Handles the reports the transfer posted to this thread.
inline void DeliverReports() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

// Stands in for the transfer thread's start: records every task and lets the test play the
// transfer through its control, as the worker would.
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
            runs.push_back({task, std::make_shared<TransferControl>(task.owner)});
            return runs.back().control;
        };
    }

    void Report(const std::function<void(TransferOwner&)>& report) {
        runs.back().control->ReportToOwner(report);
    }

    // The worker's end: the file moved when completed, the result, the finish, then the mark.
    void Finish(TransferOutcome outcome, int code = 0) {
        if (outcome == TransferOutcome::Completed) {
            CompleteOutputFile(runs.back().task.fileHandle);
        }
        TransferEnd end{outcome};
        end.failure.result = {code, 17};
        end.keptBytes =
            outcome == TransferOutcome::Completed ? 0 : OutputFileSize(runs.back().task.fileHandle);
        Report([end](TransferOwner& owner) {
            owner.SetTransferResult(end.failure.result.code, end.failure.result.systemError);
            owner.OnTransferFinished(end);
        });
        runs.back().control->MarkFinished();
        DeliverReports();
    }

    int failures = 0; // this many starts fail (no thread)
    std::vector<Run> runs;
};

// A queue whose transfers the test plays, which makes its files in a folder of its own and
// saves the list only when told to.
class ScriptedQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        queue.SetAutoSave(false);
        queue.Folder() = DownloadFolder(folder.path().toStdString());
        queue.SetTransferStarter(transfers.Starter());
    }

    // Appends one item per letter, as a loaded list would: W Waiting, R Ready, Q Queue,
    // P Progress, D Done, E Error, S Pause (stopped), U a state the list file may hold (9).
    void Add(const std::string& states) {
        DownloadItems items;
        for (const char letter : states) {
            items.push_back(std::make_unique<DownloadItem>());
            items.back()->url = "http://h/" + std::to_string(queue.Count() + items.size() - 1);
            const std::size_t state = std::string_view("WRQPDES").find(letter);
            items.back()->state =
                static_cast<DownloadState>(state == std::string::npos ? 9 : state);
        }
        queue.AppendItems(std::move(items));
    }

    // The states of every row as letters (see Add).
    std::string States() const {
        std::string letters;
        for (int row = 0; row < queue.Count(); ++row) {
            const auto state = static_cast<std::size_t>(queue.Item(row).state);
            letters += state < 7 ? "WRQPDES"[state] : 'U';
        }
        return letters;
    }

    std::string LastStarted() { return transfers.runs.back().task.objectPath; }
    // What the last started transfer's pause poll answers.
    bool PauseSeenByTransfer() { return transfers.runs.back().task.owner->IsPauseRequested(); }

    QTemporaryDir folder;
    ScriptedTransfers transfers;
    DownloadQueue queue;
};

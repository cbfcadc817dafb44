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
#include <ostream>
#include <string>
#include <vector>

// Failure messages name the state instead of showing its bytes.
inline void PrintTo(DownloadState state, std::ostream* out) {
    *out << "DownloadState(" << static_cast<int>(state) << " " << StateText(state) << ")";
}

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
        Finish(TransferOutcome::Completed);
    }

    // The transfer ended before the end of the body: on a pause (code 0) or failing a step.
    void Stop(int code = 0, std::uint32_t error = 0) {
        Report([=](TransferOwner& owner) { owner.SetTransferResult(code, error); });
        Finish(code == 0 ? TransferOutcome::Paused : TransferOutcome::Failed);
    }

    int failures = 0; // this many starts fail (no thread)
    std::vector<Run> runs;

    // The transfer's last report, as the worker ends it.
    void Finish(TransferOutcome outcome) {
        Report([outcome](TransferOwner& owner) { owner.OnTransferFinished(outcome); });
        Last().control->MarkFinished();
    }
};

// A queue whose transfers the test plays, which makes its files in a folder of its own and
// saves the list only when told to.
class ScriptedQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        queue.SetAutoSave(false);
        queue.Folder() = DownloadFolder(folder.path().toStdString());
        queue.SetTransferStarter(transfers.Starter());
    }

    // Appends one item in the given state, as a loaded list would; fill sets further fields.
    void Add(DownloadState state, const std::string& url,
             const std::function<void(DownloadItem&)>& fill = {}) {
        DownloadItems items;
        items.push_back(std::make_unique<DownloadItem>());
        items.back()->url = url;
        items.back()->fileName = url;
        items.back()->state = state;
        if (fill) {
            fill(*items.back());
        }
        queue.AppendItems(std::move(items));
    }

    // Adds a Ready item and starts it: the queue runs with it as the active transfer.
    void StartActive(const std::string& url) {
        Add(DownloadState::Ready, url);
        queue.OnStart({queue.Count() - 1});
        ASSERT_EQ(queue.ActiveRow(), queue.Count() - 1);
        ASSERT_EQ(queue.Item(queue.Count() - 1).state, DownloadState::Progress);
    }

    std::string LastStartedPath() { return transfers.Last().task.objectPath; }
    // What the last started transfer's pause poll answers.
    bool PauseSeenByTransfer() { return transfers.Last().task.owner->IsPauseRequested(); }

    // One field of every row, in row order.
    template <typename Field> std::vector<Field> Each(Field DownloadItem::*field) const {
        std::vector<Field> values;
        for (int row = 0; row < queue.Count(); ++row) {
            values.push_back(queue.Item(row).*field);
        }
        return values;
    }
    std::vector<DownloadState> States() const { return Each(&DownloadItem::state); }
    std::vector<std::string> Urls() const { return Each(&DownloadItem::url); }

    QTemporaryDir folder;
    ScriptedTransfers transfers;
    // Owned through a pointer so that a test can destroy the queue before the fixture.
    std::unique_ptr<DownloadQueue> ownedQueue = std::make_unique<DownloadQueue>();
    DownloadQueue& queue = *ownedQueue;
};

// The owner operations called from a real transfer thread, the new-version notice, and teardown.
#include "ListFile.h"
#include "QueueTestSupport.h"
#include "Settings.h"
#include "VersionCheck.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using S = DownloadState;

class OwnerThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        queue->SetAutoSave(false);
        queue->SetSaveFolder(folder.path().toStdString());
        queue->SetTransferStarter(transfers.Starter());
    }

    void TearDown() override {
        if (worker.joinable()) {
            worker.join();
        }
    }

    int RowOf(const std::string& url) const {
        for (int row = 0; row < queue->Count(); ++row) {
            if (queue->Item(row).url == url) {
                return row;
            }
        }
        return -1;
    }

    QTemporaryDir folder;
    ScriptedTransfers transfers;
    std::unique_ptr<DownloadQueue> queue = std::make_unique<DownloadQueue>();
    std::thread worker;
};

TEST_F(OwnerThreadTest, ReportsFromTheTransferThreadReachTheActiveItemWhileRowsAreRemoved) {
    for (int n = 0; n < 20; ++n) {
        queue->AddUrls("http://h/" + std::to_string(n));
    }
    queue->OnStart({10});
    ASSERT_EQ(transfers.runs.size(), 1u);
    const auto control = transfers.Last().control;
    const FileHandle handle = transfers.Last().task.fileHandle;

    std::atomic<bool> done{false};
    std::atomic<int> uiRounds{0};
    worker = std::thread([&] {
        for (int percent = 0; percent <= 100; ++percent) {
            control->ReportToOwner([&](TransferOwner& owner) {
                owner.SetProgress(percent);
                owner.SetTotalSize(percent * 1000);
                owner.SetFileName("name-" + std::to_string(percent));
            });
            if (percent % 10 == 0) {
                // Let the UI thread remove a row while these reports wait in its queue.
                const int seen = uiRounds;
                for (int spin = 0; uiRounds == seen && spin < 10000000; ++spin) {
                    std::this_thread::yield();
                }
            }
        }
        CompleteOutputFile(handle);
        control->ReportToOwner([](TransferOwner& owner) {
            owner.SetTransferResult(0, 0);
            owner.OnTransferFinished();
        });
        control->MarkFinished();
        done = true;
    });

    // Meanwhile the rows around the active one come and go.
    int added = 0;
    ASSERT_TRUE(WaitFor([&] {
        if (done && queue->ActiveRow() == -1) {
            return true;
        }
        if (queue->Count() > 1) {
            queue->OnRemove({0});
        }
        queue->AddUrls("http://h/extra" + std::to_string(added++));
        queue->OnRemove({queue->Count() - 1});
        ++uiRounds;
        return false;
    }));

    const int row = RowOf("http://h/10");
    ASSERT_GE(row, 0);
    const DownloadItem& item = queue->Item(row);
    EXPECT_EQ(item.state, S::Done);
    EXPECT_EQ(item.percent, 100);
    EXPECT_EQ(item.totalSize, 100000);
    EXPECT_EQ(item.fileName, "name-100");
    for (int other = 0; other < queue->Count(); ++other) {
        if (other != row) {
            EXPECT_EQ(queue->Item(other).percent, 0);
            EXPECT_EQ(queue->Item(other).fileName, queue->Item(other).url);
        }
    }
}

TEST_F(OwnerThreadTest, APauseOnTheUiThreadReachesTheTransferThread) {
    queue->AddUrls("http://h/a\nhttp://h/b");
    queue->OnStart({0});
    const auto control = transfers.Last().control;
    worker = std::thread([control] {
        bool paused = false;
        while (!paused) {
            control->ReportToOwner([&](TransferOwner& owner) {
                owner.SetProgress(1);
                paused = owner.IsPauseRequested();
            });
            std::this_thread::yield();
        }
        control->ReportToOwner([](TransferOwner& owner) {
            owner.SetTransferResult(0, 0);
            owner.OnTransferFinished();
        });
        control->MarkFinished();
    });
    queue->OnPause({0});
    ASSERT_TRUE(WaitFor([&] { return queue->ActiveRow() == -1; }));
    EXPECT_EQ(queue->Item(0).state, S::Pause);
    EXPECT_EQ(queue->Item(0).percent, 1);
    queue->OnStart({1});
    EXPECT_EQ(queue->Item(1).state, S::Progress);
}

TEST_F(OwnerThreadTest, TheNewVersionNoticeHoldsTheTransferUntilAnswered) {
    std::atomic<bool> returned{false};
    int asked = 0;
    bool returnedWhenAsked = true;
    queue->SetNewVersionQuestion([&] {
        ++asked;
        returnedWhenAsked = returned;
        return true;
    });
    worker = std::thread([&] {
        CheckServerVersion("v.0.3");
        returned = true;
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(returnedWhenAsked);
    ASSERT_EQ(queue->Count(), 1);
    EXPECT_EQ(queue->Item(0).url, UpdateInstallerUrl());
}

TEST_F(OwnerThreadTest, TeardownStopsTheTransferAndSavesWhatItReported) {
    WriteSetting(0, "");
    queue->AddUrls("http://h/a\nhttp://h/b");
    queue->OnStartAll();
    const auto control = transfers.Last().control;
    worker = std::thread([control] {
        while (!control->IsAbortRequested()) {
            std::this_thread::yield();
        }
        control->ReportToOwner([](TransferOwner& owner) {
            owner.SetFileName("final.bin");
            owner.SetTotalSize(4096);
            owner.SetTransferResult(0, 0);
            owner.OnTransferFinished();
        });
        control->MarkFinished();
    });

    queue->Teardown();
    EXPECT_TRUE(queue->IsTornDown());
    EXPECT_FALSE(queue->Running());
    EXPECT_EQ(queue->Item(0).state, S::Pause); // Progress -> Pause
    EXPECT_EQ(queue->Item(1).state, S::Ready); // Waiting -> Ready
    EXPECT_EQ(queue->Item(0).fileName, "final.bin");
    EXPECT_FALSE(control->ReportToOwner([](TransferOwner&) {})); // cut off

    const DownloadItems saved = LoadListFile();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]->fileName, "final.bin");
    EXPECT_EQ(saved[0]->totalSize, 4096);
    EXPECT_EQ(saved[0]->state, S::Pause);
    EXPECT_EQ(saved[0]->tempPath, queue->Item(0).tempPath);
    EXPECT_EQ(saved[1]->state, S::Ready);
    EXPECT_EQ(ReadSetting(0), folder.path().toStdString());

    // Commands after the end change nothing.
    queue->OnRemoveAll();
    queue->OnStartAll();
    EXPECT_EQ(queue->Count(), 2);
    EXPECT_EQ(transfers.runs.size(), 1u);
}

TEST_F(OwnerThreadTest, TeardownWaitsOnlyABoundedTimeForATransferThatDoesNotEnd) {
    queue->AddUrls("http://h/a");
    queue->OnStartAll();
    const auto control = transfers.Last().control;
    std::atomic<bool> release{false};
    worker = std::thread([&release, control] {
        while (!release) {
            std::this_thread::yield();
        }
        // Reports after the end go nowhere.
        EXPECT_FALSE(control->ReportToOwner([](TransferOwner& o) { o.OnTransferFinished(); }));
        control->MarkFinished();
    });
    QElapsedTimer clock;
    clock.start();
    queue->Teardown();
    const qint64 elapsed = clock.elapsed();
    release = true;
    EXPECT_GE(elapsed, DownloadQueue::TeardownWait.count() - 50);
    EXPECT_LT(elapsed, DownloadQueue::TeardownWait.count() + 1500);
    EXPECT_EQ(queue->Item(0).state, S::Pause);
}

TEST_F(OwnerThreadTest, TeardownDuringTheNewVersionQuestionReleasesTheWaitingTransfer) {
    std::atomic<bool> noticeReturned{false};
    // The window closes while its question is open (a nested event loop would allow that).
    queue->SetNewVersionQuestion([&] {
        queue->Teardown();
        return true;
    });
    queue->AddUrls("http://h/a");
    queue->OnStartAll();
    const auto control = transfers.Last().control;
    worker = std::thread([&noticeReturned, control] {
        NotifyNewVersion(); // blocks until answered or the queue stops listening
        noticeReturned = true;
        while (!control->IsAbortRequested()) {
            std::this_thread::yield();
        }
        control->ReportToOwner([](TransferOwner& o) { o.OnTransferFinished(); });
        control->MarkFinished();
    });
    ASSERT_TRUE(WaitFor([&] { return queue->IsTornDown(); }));
    EXPECT_TRUE(noticeReturned);
    EXPECT_EQ(queue->Count(), 1); // the yes came too late: nothing added
    worker.join();
    NotifyNewVersion(); // a torn-down queue answers no at once
}

TEST_F(OwnerThreadTest, DestroyingTheQueueCutsOffItsTransfer) {
    queue->AddUrls("http://h/a");
    queue->OnStartAll();
    const auto control = transfers.Last().control;
    queue.reset();
    EXPECT_TRUE(control->IsAbortRequested());
    EXPECT_FALSE(control->ReportToOwner([](TransferOwner& o) { o.SetProgress(5); }));
    // No queue listens for new-version notices any more: they return at once.
    NotifyNewVersion();
}

} // namespace

// The owner operations called from a real transfer thread, the new-version notice, and teardown.
#include "ListFile.h"
#include "NewVersionBridge.h"
#include "QueueTestSupport.h"
#include "Settings.h"
#include "VersionCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using S = DownloadState;

class OwnerThreadTest : public ScriptedQueueTest {
protected:
    void TearDown() override {
        if (worker.joinable()) {
            worker.join();
        }
    }

    // Runs body as the transfer thread of the last started transfer, which then ends as the
    // worker ends: a last report with the finish, then the mark.
    void RunTransfer(std::function<void(TransferControl&)> body,
                     TransferOutcome outcome = TransferOutcome::Paused) {
        worker = std::thread([control = transfers.Last().control, body, outcome] {
            body(*control);
            control->ReportToOwner([outcome](TransferOwner& owner) {
                owner.SetTransferResult(0, 0);
                owner.OnTransferFinished(outcome);
            });
            control->MarkFinished();
        });
    }

    static void WaitForAbort(TransferControl& control) {
        while (!control.IsAbortRequested()) {
            std::this_thread::yield();
        }
    }

    std::thread worker;
    std::unique_ptr<NewVersionBridge> bridge = std::make_unique<NewVersionBridge>(queue);
};

TEST_F(OwnerThreadTest, ReportsFromTheTransferThreadReachTheActiveItemWhileRowsAreRemoved) {
    for (int n = 0; n < 20; ++n) {
        queue.AddUrls("http://h/" + std::to_string(n));
    }
    queue.OnStart({10});
    const FileHandle handle = transfers.Last().task.fileHandle;
    std::atomic<bool> done{false};
    std::atomic<int> uiRounds{0};
    RunTransfer(
        [&](TransferControl& control) {
            for (int percent = 0; percent <= 100; ++percent) {
                control.ReportToOwner([&](TransferOwner& owner) {
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
            done = true;
        },
        TransferOutcome::Completed);

    // Meanwhile the rows around the active one come and go.
    int added = 0;
    ASSERT_TRUE(WaitFor([&] {
        if (done && queue.ActiveRow() == -1) {
            return true;
        }
        if (queue.Count() > 1) {
            queue.OnRemove({0});
        }
        queue.AddUrls("http://h/extra" + std::to_string(added++));
        queue.OnRemove({queue.Count() - 1});
        ++uiRounds;
        return false;
    }));

    const std::vector<std::string> urls = Urls();
    const auto active = std::find(urls.begin(), urls.end(), "http://h/10") - urls.begin();
    ASSERT_LT(active, queue.Count());
    for (int row = 0; row < queue.Count(); ++row) {
        const DownloadItem& item = queue.Item(row);
        const bool isActive = row == active;
        EXPECT_EQ(item.state, isActive ? S::Done : S::Ready) << item.url;
        EXPECT_EQ(item.percent, isActive ? 100 : 0) << item.url;
        EXPECT_EQ(item.totalSize, isActive ? 100000 : 0) << item.url;
        EXPECT_EQ(item.fileName, isActive ? "name-100" : item.url);
    }
}

TEST_F(OwnerThreadTest, APauseOnTheUiThreadReachesTheTransferThread) {
    queue.AddUrls("http://h/a\nhttp://h/b");
    queue.OnStart({0});
    RunTransfer([](TransferControl& control) {
        bool paused = false;
        while (!paused) {
            control.ReportToOwner([&](TransferOwner& owner) {
                owner.SetProgress(1);
                paused = owner.IsPauseRequested();
            });
            std::this_thread::yield();
        }
    });
    queue.OnPause({0});
    ASSERT_TRUE(WaitFor([&] { return queue.ActiveRow() == -1; }));
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    EXPECT_EQ(queue.Item(0).percent, 1);
    queue.OnStart({1});
    EXPECT_EQ(queue.Item(1).state, S::Progress);
}

TEST_F(OwnerThreadTest, TheNewVersionNoticeHoldsTheTransferUntilAnswered) {
    std::atomic<bool> returned{false};
    int asked = 0;
    bool returnedWhenAsked = true;
    queue.SetNewVersionQuestion([&] {
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
    EXPECT_EQ(Urls(), std::vector<std::string>{UpdateInstallerUrl()});
}

TEST_F(OwnerThreadTest, TeardownStopsTheTransferAndSavesWhatItReported) {
    WriteSetting(0, "");
    queue.AddUrls("http://h/a\nhttp://h/b");
    queue.OnStartAll();
    const auto control = transfers.Last().control;
    RunTransfer([](TransferControl& control) {
        WaitForAbort(control);
        control.ReportToOwner([](TransferOwner& owner) {
            owner.SetFileName("final.bin");
            owner.SetTotalSize(4096);
        });
    });

    queue.Teardown();
    EXPECT_TRUE(queue.IsTornDown());
    EXPECT_FALSE(queue.Running());
    EXPECT_EQ(States(), (std::vector{S::Pause, S::Ready})); // Progress and Waiting end
    EXPECT_EQ(queue.Item(0).fileName, "final.bin");
    EXPECT_FALSE(control->ReportToOwner([](TransferOwner&) {})); // cut off

    const DownloadItems saved = LoadListFile();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]->ToRecord(), queue.Item(0).ToRecord());
    EXPECT_EQ(saved[0]->totalSize, 4096);
    EXPECT_EQ(saved[1]->ToRecord(), queue.Item(1).ToRecord());
    EXPECT_EQ(ReadSetting(0), folder.path().toStdString());

    // Commands after the end change nothing.
    queue.OnRemoveAll();
    queue.OnStartAll();
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_EQ(transfers.runs.size(), 1u);
}

TEST_F(OwnerThreadTest, TeardownDoesNotWaitForATransferThatDoesNotEnd) {
    queue.AddUrls("http://h/a");
    queue.OnStartAll();
    const auto control = transfers.Last().control;
    std::atomic<bool> release{false};
    std::atomic<bool> reportArrived{true};
    worker = std::thread([&release, &reportArrived, control] {
        while (!release) {
            std::this_thread::yield();
        }
        reportArrived = control->ReportToOwner(
            [](TransferOwner& o) { o.OnTransferFinished(TransferOutcome::Paused); });
        control->MarkFinished();
    });
    queue.Teardown(); // returns although the transfer never ends by itself
    EXPECT_TRUE(control->IsAbortRequested());
    EXPECT_FALSE(control->IsFinished());
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    release = true;
    worker.join();
    EXPECT_FALSE(reportArrived); // reports after the end go nowhere
}

TEST_F(OwnerThreadTest, TeardownDuringTheNewVersionQuestionReleasesTheWaitingTransfer) {
    std::atomic<bool> noticeReturned{false};
    bool returnedDuringTeardown = false;
    // The window closes while its question is open (a nested event loop would allow that).
    queue.SetNewVersionQuestion([&] {
        queue.Teardown();
        returnedDuringTeardown = noticeReturned;
        return true;
    });
    queue.AddUrls("http://h/a");
    queue.OnStartAll();
    RunTransfer([&noticeReturned](TransferControl& control) {
        NotifyNewVersion(); // blocks until answered or the queue stops listening
        noticeReturned = true;
        WaitForAbort(control);
    });
    ASSERT_TRUE(WaitFor([&] { return queue.IsTornDown(); }));
    EXPECT_TRUE(returnedDuringTeardown);
    EXPECT_EQ(queue.Count(), 1); // the yes came too late: nothing added
    worker.join();
    NotifyNewVersion(); // a torn-down queue answers no at once
}

TEST_F(OwnerThreadTest, DestroyingTheQueueCutsOffItsTransfer) {
    queue.AddUrls("http://h/a");
    queue.OnStartAll();
    const auto control = transfers.Last().control;
    ownedQueue.reset();
    EXPECT_TRUE(control->IsAbortRequested());
    EXPECT_FALSE(control->ReportToOwner([](TransferOwner& o) { o.SetProgress(5); }));
    NotifyNewVersion(); // no queue listens any more: it returns at once
}

} // namespace

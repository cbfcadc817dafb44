// Reports from a real transfer thread, the new-version notice, and teardown.
#include "ListFile.h"
#include "NewVersionBridge.h"
#include "QueueTestSupport.h"
#include "VersionCheck.h"

#include <QSignalSpy>

#include <thread>

namespace {

class OwnerThreadTest : public ScriptedQueueTest {
protected:
    void TearDown() override {
        if (worker.joinable()) {
            worker.join();
        }
    }

    // Runs body on a thread as the last started transfer, which then ends as the worker ends.
    void RunTransfer(std::function<void(TransferControl&)> body) {
        worker = std::thread([control = transfers.runs.back().control, body] {
            body(*control);
            control->ReportToOwner(
                [](TransferOwner& owner) { owner.OnTransferFinished({TransferOutcome::Paused}); });
            control->MarkFinished();
        });
    }

    std::thread worker;
    std::unique_ptr<NewVersionBridge> bridge = std::make_unique<NewVersionBridge>(queue);
};

TEST_F(OwnerThreadTest, TeardownStopsTheTransferAndSavesWhatItReported) {
    queue.SetNewVersionQuestion([&] {
        queue.Teardown(); // the window closes while its question is open
        return true;
    });
    const QSignalSpy tornDown(&queue, &DownloadQueue::tearingDown);
    queue.AddUrls("http://h/a\nhttp://h/b");
    queue.OnStartAll();
    const auto control = transfers.runs.back().control;
    RunTransfer([](TransferControl& control) {
        NotifyNewVersion(); // waits until answered or nobody listens any more
        while (!control.IsAbortRequested()) {
            std::this_thread::yield();
        }
        control.ReportToOwner([](TransferOwner& owner) { owner.SetTotalSize(4096); });
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return tornDown.count() > 0; }));
    EXPECT_EQ(queue.Count(), 2) << "the yes came too late: nothing added";
    EXPECT_EQ(States(), "SR");
    EXPECT_EQ(queue.Item(0).totalSize, 4096);
    EXPECT_FALSE(control->ReportToOwner([](TransferOwner&) {})) << "cut off";
    const DownloadItems saved = LoadListFile();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]->ToRecord(), queue.Item(0).ToRecord());
    queue.OnStartAll(); // commands after the end change nothing
    EXPECT_EQ(transfers.runs.size(), 1u);
}

} // namespace

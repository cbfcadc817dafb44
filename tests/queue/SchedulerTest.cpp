// The scheduler's state table and its edge cases, with scripted transfers on the test thread.
#include "QueueTestSupport.h"
#include "Settings.h"
#include "TestFiles.h"

#include <QDir>

#include <QSignalSpy>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

namespace {

// A scheduler scenario: the states of the list as loaded (see Add), then steps, each a command
// or an expectation. Commands: start:ROWS pause:ROWS remove:ROWS (ROWS like 0,2), startall,
// pauseall, removeall, done / failed / paused (the running transfer ends so), yes (the user
// answers yes to a new version), nothread (the next start gets no thread). Expectations: =STATES,
// runs=N (transfers started so far), cursor=N, last=PATH (the last started transfer's path).
struct Scenario {
    const char* name;
    const char* loaded;
    const char* steps;
};

// Test names show the scenario's name, not its pointers' bytes.
void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class SchedulerTest : public ScriptedQueueTest, public ::testing::WithParamInterface<Scenario> {
protected:
    static std::vector<int> Rows(const std::string& list) {
        std::vector<int> rows;
        std::istringstream numbers(list);
        for (std::string number; std::getline(numbers, number, ',');) {
            rows.push_back(std::stoi(number));
        }
        return rows;
    }
};

TEST_P(SchedulerTest, PlaysAsTheStateTableSays) {
    Add(GetParam().loaded);
    queue.SetNewVersionQuestion([] { return true; });
    using enum TransferOutcome;
    using Argument = const std::string&;
    const std::map<std::string, std::function<void(Argument)>> commands = {
        {"start", [&](Argument rows) { queue.OnStart(Rows(rows)); }},
        {"pause", [&](Argument rows) { queue.OnPause(Rows(rows)); }},
        {"remove", [&](Argument rows) { queue.OnRemove(Rows(rows)); }},
        {"startall", [&](Argument) { queue.OnStartAll(); }},
        {"pauseall", [&](Argument) { queue.OnPauseAll(); }},
        {"removeall", [&](Argument) { queue.OnRemoveAll(); }},
        {"done", [&](Argument) { transfers.Finish(Completed); }},
        {"failed", [&](Argument) { transfers.Finish(Failed, 9); }},
        {"paused", [&](Argument) { transfers.Finish(Paused); }},
        {"yes", [&](Argument) { queue.OnNewVersion(); }},
        {"nothread", [&](Argument) { transfers.failures = 1; }},
        {"", [&](Argument states) { EXPECT_EQ(States(), states); }},
        {"runs", [&](Argument count) { EXPECT_EQ(transfers.runs.size(), std::stoul(count)); }},
        {"cursor", [&](Argument row) { EXPECT_EQ(queue.Cursor(), std::stoul(row)); }},
        {"last", [&](Argument path) { EXPECT_EQ(LastStarted(), path); }},
    };
    std::istringstream steps(GetParam().steps);
    for (std::string step; steps >> step;) {
        SCOPED_TRACE(step);
        const std::string command = step.substr(0, step.find_first_of(":="));
        commands.at(command)(step.substr(std::min(step.size(), command.size() + 1)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, SchedulerTest,
    ::testing::Values(
        // Every command over every state, with the first item running or the queue idle.
        Scenario{"Start", "RWRQPDESU", "start:0 start:0,1,2,3,4,5,6,7,8 =PWWQPDWWU runs=1"},
        Scenario{"StartIdle", "UWRQPDESU", "start:1,2 =UPWQPDESU runs=1"},
        Scenario{"Pause", "RWRQPDESU", "start:0 pause:0,1,2,3,4,5,6,7,8 =SRRQSDESU"},
        Scenario{"Remove", "RWRQPDESU", "start:0 remove:0,1,2,3,4,5,6,7,8 =PP"},
        Scenario{"StartAll", "RWRQPDESU", "start:0 startall =PWRQPDESU runs=1"},
        Scenario{"StartAllIdle", "UWRQPDESU", "startall =UPWQPDWWU runs=1"},
        Scenario{"PauseAll", "RWRQPDESU", "start:0 pauseall =SRRQSDESU"},
        Scenario{"PauseAllIdle", "UWRQPDESU", "pauseall =UWRQPDESU runs=0"},
        Scenario{"RemoveAll", "RWRQPDESU", "start:0 removeall =PP"},
        // The end of a transfer: by how it ended and what the commands made of it meanwhile.
        Scenario{"Ends", "RRRRR",
                 "start:0 done start:1 failed start:2 paused start:3 pause:3 failed start:4 "
                 "pause:4 done =DESED start:0 =DESED runs=5"},
        Scenario{"EndsWhileRestarted", "RR",
                 "start:0 pause:0 start:0 =WR runs=1 paused =PR runs=2 pause:0 start:0 "
                 "pause:0 paused =RR cursor=0"},
        // The next item is the first Waiting after the active one, then from the top.
        Scenario{"Next", "RRRR",
                 "start:1 start:0,3 =WPRW done last=/3 cursor=4 done last=/0 cursor=1 done =DDRD "
                 "cursor=0 runs=3"},
        // Rows removed after the active one leave the scan where it was.
        Scenario{"RemovedAfterTheActive", "RRRRR", "start:1 start:0,4 remove:2,3 done last=/4"},
        // A paused transfer still winding down is never joined by a second one.
        Scenario{"WindingDown", "RR",
                 "start:0 pauseall remove:0 start:1 startall =SW runs=1 "
                 "paused =SP last=/1"},
        Scenario{"NoThread", "RR", "nothread startall =EP runs=1"},
        Scenario{"NewVersion", "", "yes =P yes =PW done =DP"}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST_F(ScriptedQueueTest, AStartFillsTheTaskAndResumesFromTheFilesSize) {
    queue.AddUrls("http://host:8080/dir/file.bin?x=1#f");
    queue.OnStart({0});
    queue.OnPause({0});
    ASSERT_TRUE(PauseSeenByTransfer());
    ASSERT_EQ(::write(queue.Item(0).fileHandle, "12345", 5), 5);
    transfers.Report([](TransferOwner& owner) {
        owner.SetTotalSize(5000);
        owner.SetActivity({5, 5000, 100, 0, 0, 0, std::nullopt});
    });
    transfers.Finish(TransferOutcome::Paused);
    EXPECT_EQ(queue.SpeedHistory().size(), 1u);
    queue.OnStart({0});
    EXPECT_TRUE(queue.SpeedHistory().empty()) << "a new run's graph starts empty";
    const DownloadTask& task = transfers.runs.back().task;
    EXPECT_EQ(task.retries, 5);
    EXPECT_TRUE(task.connections && task.connections == transfers.runs.front().task.connections)
        << "one queue's downloads share their connections";
    queue.SetSpeedLimit(1000000);
    queue.LoadSpeedLimit(); // what was stored
    EXPECT_EQ(task.speedLimit->load(), 1000000) << "the running transfer holds to it at once";
    WriteSetting(SpeedLimitSetting, "1 MB/s");
    queue.LoadSpeedLimit();
    EXPECT_EQ(task.speedLimit->load(), 0) << "anything but a number of bytes is no limit";
    EXPECT_EQ(task.knownSize, 5000);
    EXPECT_EQ(task.resumeOffset, 5);
    EXPECT_EQ(task.fileHandle, queue.Item(0).fileHandle);
    EXPECT_EQ(std::filesystem::path(queue.Item(0).tempPath).parent_path(),
              folder.path().toStdString());
    EXPECT_FALSE(PauseSeenByTransfer());
    const QSignalSpy finished(&queue, &DownloadQueue::ranEmpty);
    transfers.Finish(TransferOutcome::Completed);
    queue.OnStartAll(); // nothing left to start
    EXPECT_EQ(finished.count(), 1);
}

// Temporary files: none for an address that can never be asked for; a new one for a paused
// item whose file the user deleted; the old folder for a file kept from a run with another one;
// Remove deletes a kept one of ours, as after a restart, and nothing else.
TEST_F(ScriptedQueueTest, TemporaryFilesBelongToTheirItemOnly) {
    QTemporaryDir before;
    const std::string kept = before.filePath("0a0a0a0a.tmp").toStdString();
    const std::string elsewhere = before.filePath("1b1b1b1b.tmp").toStdString();
    WriteFile(kept, "12345");
    WriteFile(elsewhere, "x");
    const std::string ours = folder.filePath("2c2c2c2c.tmp").toStdString();
    const std::string foreign = folder.filePath("foreign.txt").toStdString();
    WriteFile(ours, "y");
    WriteFile(foreign, "mine");
    queue.AddUrls("ftp://h/a\nhttp://h/b\nhttp://h/c\nhttp://h/d\nhttp://h/e\nhttp://h/f");
    for (const auto& [row, path] : {std::pair{2, kept}, {3, ours}, {4, elsewhere}, {5, foreign}}) {
        const_cast<DownloadItem&>(queue.Item(row)).tempPath = path;
    }
    queue.OnStart({0, 1});
    EXPECT_EQ(States(), "EPRRRR");
    EXPECT_EQ(queue.StatusText(0), "ftp://h/a\nUnsupported address: ftp://h/a");
    const std::string first = queue.Item(1).tempPath;
    ASSERT_EQ(::unlink(first.c_str()), 0);
    queue.OnPause({1});
    transfers.Finish(TransferOutcome::Paused);
    queue.OnStart({1});
    EXPECT_NE(queue.Item(1).tempPath, first);
    EXPECT_EQ(transfers.runs.back().task.fileHandle, queue.Item(1).fileHandle);
    EXPECT_EQ(ReadFile(queue.Item(1).tempPath), "");
    transfers.Finish(TransferOutcome::Failed);

    queue.OnStart({2});
    SetOutputFileName(transfers.runs.back().task.fileHandle, "c.bin"); // as the worker names it
    transfers.Report([](TransferOwner& owner) { owner.SetFileName("c.bin"); });
    transfers.Finish(TransferOutcome::Completed);
    EXPECT_EQ(ReadFile(before.filePath("c.bin").toStdString()), "12345");
    EXPECT_EQ(queue.StatusText(2), "c.bin\nSaved as " + before.filePath("c.bin").toStdString());

    queue.OnRemoveAll();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"foreign.txt"});
    EXPECT_EQ(ReadFile(elsewhere), "x") << "not in the download folder";
}

TEST_F(ScriptedQueueTest, ReportsFollowTheActiveItemWhileRowsAroundItGoAndEndWithItsTransfer) {
    Add("RRRRR");
    queue.OnStart({2});
    queue.OnRemove({0, 2, 4}); // the active row stays
    transfers.Report([](TransferOwner& owner) {
        owner.SetFileName("two.bin");
        owner.SetTotalSize(2048);
    });
    DeliverReports();
    QSignalSpy refreshed(&queue, &QAbstractItemModel::dataChanged);
    transfers.Report([](TransferOwner& owner) {
        owner.SetProgress(37);
        owner.SetProgress(37);
    });
    DeliverReports();
    EXPECT_EQ(refreshed.count(), 1) << "the percentage refreshes its cell once";
    EXPECT_EQ(queue.Item(1).fileName, "two.bin");
    EXPECT_EQ(queue.Item(1).totalSize, 2048);
    EXPECT_EQ(queue.Item(1).percent, 37);
    queue.OnStart({2});
    CompleteOutputFile(transfers.runs.back().task.fileHandle);
    transfers.Report([](TransferOwner& owner) {
        owner.OnTransferFinished({TransferOutcome::Completed});
        owner.SetProgress(99); // arrives when the next item runs
    });
    transfers.runs.back().control->MarkFinished();
    DeliverReports();
    EXPECT_EQ(States(), "RDP");
    EXPECT_EQ(queue.Item(1).percent, 37) << "a report after the finish changes nothing";
    EXPECT_EQ(queue.Item(2).percent, 0);
}

} // namespace

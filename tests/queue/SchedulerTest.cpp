// The scheduler's state table and its edge cases, with scripted transfers on the test thread.
#include "QueueTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using S = DownloadState;
constexpr auto Unknown = static_cast<DownloadState>(9);

using SchedulerTest = ScriptedQueueTest;

std::string Name(DownloadState state) {
    const std::string text = StateText(state);
    return text.empty() ? "Unknown" : text;
}

// ------------------------------------------------------------------ the state table, per command

enum class Command { Start, Pause, Remove, StartAll, PauseAll, RemoveAll };

std::string Name(Command command) {
    const char* names[] = {"Start", "Pause", "Remove", "StartAll", "PauseAll", "RemoveAll"};
    return names[static_cast<int>(command)];
}

struct CommandRow {
    Command command;
    DownloadState initial;
    std::optional<DownloadState> expected; // none: removed
    bool starts = false;                   // a transfer was started for it
};

std::vector<CommandRow> CommandTable() {
    std::vector<CommandRow> rows;
    for (const DownloadState s :
         {S::Waiting, S::Ready, S::Queue, S::Progress, S::Done, S::Error, S::Pause, Unknown}) {
        const bool startable = s == S::Ready || s == S::Error || s == S::Pause;
        const std::optional<DownloadState> removed =
            s == S::Progress ? std::optional(s) : std::nullopt;
        const DownloadState paused = s == S::Waiting ? S::Ready : s == S::Progress ? S::Pause : s;
        // Alone in an idle queue: Start All makes it Waiting and the scheduler starts it.
        const bool picked = startable || s == S::Waiting;
        rows.push_back({Command::Start, s, startable ? S::Waiting : s});
        rows.push_back({Command::Pause, s, paused});
        rows.push_back({Command::Remove, s, removed});
        rows.push_back({Command::StartAll, s, picked ? S::Progress : s, picked});
        rows.push_back({Command::PauseAll, s, paused});
        rows.push_back({Command::RemoveAll, s, removed});
    }
    return rows;
}

class CommandTableTest : public SchedulerTest, public ::testing::WithParamInterface<CommandRow> {};

TEST_P(CommandTableTest, MovesTheItemAsTheTableSays) {
    const CommandRow& row = GetParam();
    int subject = 0;
    if (row.command != Command::StartAll) {
        // Another item runs, so the queue is running and nothing else gets started.
        StartActive("http://h/active");
        subject = 1;
    }
    Add(row.initial, "http://h/subject");
    const std::size_t startsBefore = transfers.runs.size();

    switch (row.command) {
    case Command::Start:
        queue.OnStart({subject});
        break;
    case Command::Pause:
        queue.OnPause({subject});
        break;
    case Command::Remove:
        queue.OnRemove({subject});
        break;
    case Command::StartAll:
        queue.OnStartAll();
        break;
    case Command::PauseAll:
        queue.OnPauseAll();
        break;
    case Command::RemoveAll:
        queue.OnRemoveAll();
        break;
    }

    if (row.expected) {
        ASSERT_EQ(queue.Count(), subject + 1);
        EXPECT_EQ(queue.Item(subject).state, *row.expected);
    } else {
        EXPECT_EQ(queue.Count(), subject);
    }
    EXPECT_EQ(transfers.runs.size() - startsBefore, row.starts ? 1u : 0u);
    if (subject == 1) {
        EXPECT_EQ(queue.ActiveRow(), 0); // the running item is never removed
    }
}

INSTANTIATE_TEST_SUITE_P(AllStates, CommandTableTest, ::testing::ValuesIn(CommandTable()),
                         [](const ::testing::TestParamInfo<CommandRow>& info) {
                             return Name(info.param.command) + "_" + Name(info.param.initial);
                         });

// ------------------------------------------------------------ the state table, end of transfer

enum class Outcome { Completed, Stopped, Failed };

std::string Name(Outcome outcome) {
    const char* names[] = {"Completed", "Stopped", "Failed"};
    return names[static_cast<int>(outcome)];
}

struct FinishRow {
    DownloadState stateAtFinish; // what the commands made of the active item meanwhile
    Outcome outcome;
    int code;
    DownloadState expected;
    bool startedAgain = false;
};

std::vector<FinishRow> FinishTable() {
    std::vector<FinishRow> rows;
    for (const DownloadState s : {S::Waiting, S::Ready, S::Progress, S::Pause}) {
        for (int code = 2; code <= 9; ++code) {
            rows.push_back({s, Outcome::Failed, code, S::Error});
        }
        rows.push_back({s, Outcome::Completed, 0, S::Done});
    }
    // Stopped on the pause request, the partial file still open: the item stays resumable.
    rows.push_back({S::Pause, Outcome::Stopped, 0, S::Pause});
    rows.push_back({S::Progress, Outcome::Stopped, 0, S::Pause});
    rows.push_back({S::Ready, Outcome::Stopped, 0, S::Ready});
    // Paused and started again while it wound down: it is resumed.
    rows.push_back({S::Waiting, Outcome::Stopped, 0, S::Progress, true});
    return rows;
}

class FinishTableTest : public SchedulerTest, public ::testing::WithParamInterface<FinishRow> {};

TEST_P(FinishTableTest, EndsTheItemAsTheTableSays) {
    const FinishRow& row = GetParam();
    StartActive("http://h/a");
    if (row.stateAtFinish != S::Progress) {
        queue.OnPause({0});
    }
    if (row.stateAtFinish == S::Waiting || row.stateAtFinish == S::Ready) {
        queue.OnStart({0});
    }
    if (row.stateAtFinish == S::Ready) {
        queue.OnPause({0});
    }
    ASSERT_EQ(queue.Item(0).state, row.stateAtFinish);
    const FileHandle handle = queue.Item(0).fileHandle;
    ASSERT_NE(handle, NoFileHandle);

    if (row.outcome == Outcome::Completed) {
        CompleteOutputFile(transfers.Last().task.fileHandle);
    }
    transfers.Report([&](TransferOwner& owner) { owner.SetTransferResult(row.code, 17); });
    const TransferOutcome outcomes[] = {TransferOutcome::Completed, TransferOutcome::Paused,
                                        TransferOutcome::Failed};
    transfers.Finish(outcomes[static_cast<int>(row.outcome)]);
    DeliverReports();

    EXPECT_EQ(queue.Item(0).state, row.expected);
    EXPECT_EQ(queue.LastResult().code, row.code);
    EXPECT_EQ(queue.LastResult().systemError, 17u);
    EXPECT_EQ(transfers.runs.size(), row.startedAgain ? 2u : 1u);
    if (row.expected == S::Done) {
        EXPECT_EQ(queue.Item(0).fileHandle, NoFileHandle);
        EXPECT_FALSE(queue.Running());
        EXPECT_EQ(queue.Cursor(), 0u);
    } else {
        EXPECT_EQ(queue.Item(0).fileHandle, handle); // kept open for the next start
    }
    if (row.startedAgain) {
        EXPECT_EQ(transfers.Last().task.fileHandle, handle);
    }
}

INSTANTIATE_TEST_SUITE_P(ActiveItem, FinishTableTest, ::testing::ValuesIn(FinishTable()),
                         [](const ::testing::TestParamInfo<FinishRow>& info) {
                             const int code = info.param.code;
                             return Name(info.param.stateAtFinish) + "_" +
                                    Name(info.param.outcome) + "_" +
                                    (code < 0 ? "minus" + std::to_string(-code)
                                              : std::to_string(code));
                         });

// ------------------------------------------------------------------------------- edge cases

using StateList = std::vector<DownloadState>;

TEST_F(SchedulerTest, StartAllWhileRunningAndPauseAllWhileIdleChangeNothing) {
    StartActive("http://h/active");
    Add(S::Ready, "http://h/r");
    Add(S::Error, "http://h/e");
    Add(S::Pause, "http://h/p");
    queue.OnStartAll();
    EXPECT_EQ(States(), (StateList{S::Progress, S::Ready, S::Error, S::Pause}));
    EXPECT_EQ(transfers.runs.size(), 1u);

    transfers.Complete();
    DeliverReports();
    ASSERT_FALSE(queue.Running());
    queue.OnRemoveAll();
    Add(S::Waiting, "http://h/w");
    Add(S::Progress, "http://h/p"); // both as loaded from a list
    queue.OnPauseAll();
    EXPECT_EQ(States(), (StateList{S::Waiting, S::Progress}));
    EXPECT_FALSE(queue.Running());
}

TEST_F(SchedulerTest, NextItemIsTheFirstWaitingAfterTheActiveOneThenFromTheTop) {
    queue.AddUrls("http://h/0\nhttp://h/1\nhttp://h/2\nhttp://h/3");
    queue.OnStart({1});
    ASSERT_EQ(LastStartedPath(), "/1");
    queue.OnStart({0, 3}); // running: they wait their turn
    EXPECT_EQ(States(), (StateList{S::Waiting, S::Progress, S::Ready, S::Waiting}));
    for (const auto& [path, cursor] : {std::pair{"/3", 4u}, std::pair{"/0", 1u}}) {
        transfers.Complete();
        DeliverReports();
        EXPECT_EQ(LastStartedPath(), path);
        EXPECT_EQ(queue.Cursor(), cursor);
    }
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(transfers.runs.size(), 3u);
    EXPECT_FALSE(queue.Running());
    EXPECT_EQ(queue.Cursor(), 0u);
    EXPECT_EQ(States(), (StateList{S::Done, S::Done, S::Ready, S::Done}));
}

TEST_F(SchedulerTest, StartOnASelectedReadyItemWhileIdleStartsItAtOnce) {
    queue.AddUrls("http://host:8080/dir/file.bin?x=1#f");
    queue.OnStart({0});
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    EXPECT_TRUE(queue.Running());
    ASSERT_EQ(transfers.runs.size(), 1u);
    const DownloadTask& task = transfers.Last().task;
    EXPECT_NE(task.owner, nullptr);
    EXPECT_EQ(task.hostName, "host");
    EXPECT_EQ(task.port, 8080);
    EXPECT_EQ(task.objectPath, "/dir/file.bin?x=1#f");
    EXPECT_EQ(task.resumeOffset, 0);
    EXPECT_EQ(task.knownSize, 0);
    // The temporary file was made in the save folder and is remembered by the item.
    EXPECT_NE(task.fileHandle, NoFileHandle);
    EXPECT_EQ(task.fileHandle, queue.Item(0).fileHandle);
    EXPECT_EQ(std::filesystem::path(queue.Item(0).tempPath).parent_path(),
              std::filesystem::path(folder.path().toStdString()));
}

TEST_F(SchedulerTest, PauseOnTheActiveRowShowsPauseAtOnceAndTheNextStartsAfterItsFinish) {
    StartActive("http://h/a");
    Add(S::Waiting, "http://h/b");
    QSignalSpy refreshed(&queue, &QAbstractItemModel::dataChanged);
    queue.OnPause({0});
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_TRUE(PauseSeenByTransfer());
    EXPECT_TRUE(queue.Running());
    EXPECT_EQ(transfers.runs.size(), 1u); // not before the paused transfer has ended

    transfers.Stop();
    DeliverReports();
    EXPECT_EQ(States(), (StateList{S::Pause, S::Progress}));
    EXPECT_TRUE(std::filesystem::exists(queue.Item(0).tempPath)); // the partial file stays
    EXPECT_EQ(transfers.runs.size(), 2u);
    EXPECT_FALSE(PauseSeenByTransfer());
}

TEST_F(SchedulerTest, ReportsFollowTheActiveItemWhenRowsAroundItAreRemoved) {
    queue.AddUrls("http://h/0\nhttp://h/1\nhttp://h/2\nhttp://h/3\nhttp://h/4");
    queue.OnStart({2});
    QSignalSpy removed(&queue, &QAbstractItemModel::rowsRemoved);
    queue.OnRemove({0, 2, 4}); // the active row stays
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://h/1", "http://h/2", "http://h/3"}));
    EXPECT_EQ(removed.count(), 2);
    EXPECT_EQ(queue.ActiveRow(), 1);
    EXPECT_EQ(queue.Cursor(), 2u);
    transfers.Report([](TransferOwner& owner) { owner.SetFileName("one.bin"); });
    DeliverReports();
    EXPECT_EQ(Each(&DownloadItem::fileName),
              (std::vector<std::string>{"http://h/1", "one.bin", "http://h/3"}));

    transfers.Report([](TransferOwner& owner) {
        owner.SetFileName("two.bin");
        owner.SetTotalSize(5000);
        owner.SetProgress(40);
    });
    queue.OnRemove({0}); // removed while the reports are on their way
    DeliverReports();
    ASSERT_EQ(queue.Count(), 2);
    EXPECT_EQ(queue.Item(0).fileName, "two.bin");
    EXPECT_EQ(queue.Item(0).totalSize, 5000);
    EXPECT_EQ(queue.Item(0).percent, 40);
    EXPECT_EQ(queue.Item(1).fileName, "http://h/3");

    // Remove All leaves exactly the running row, which then completes as usual.
    Add(S::Waiting, "http://h/5");
    queue.OnRemoveAll();
    EXPECT_EQ(Urls(), std::vector<std::string>{"http://h/2"});
    EXPECT_EQ(queue.ActiveRow(), 0);
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(States(), StateList{S::Done});
    EXPECT_EQ(queue.Item(0).percent, 100);
    EXPECT_FALSE(queue.Running());
}

TEST_F(SchedulerTest, RemoveDeletesOnlyAnOpenPartialFileAndNeverTheWindingDownRow) {
    // A restored paused item has no open file: removing it leaves its file where it is.
    const std::string restored = folder.filePath("restored.tmp").toStdString();
    std::ofstream(restored) << "partial";
    Add(S::Pause, "http://h/p", [&](DownloadItem& item) { item.tempPath = restored; });
    queue.OnRemove({0});
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_TRUE(std::filesystem::exists(restored));

    // A finished download keeps its file: a nameless one under the default name.
    StartActive("http://h/done");
    transfers.Complete();
    DeliverReports();
    queue.OnRemove({0});
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_TRUE(std::filesystem::exists(folder.filePath("download").toStdString()));

    // A paused transfer still winding down stays; once it has ended it goes with its file.
    StartActive("http://h/a");
    queue.OnPauseAll();
    queue.OnRemove({0});
    queue.OnRemoveAll();
    ASSERT_EQ(queue.Count(), 1);
    const std::string partial = queue.Item(0).tempPath;
    transfers.Stop();
    DeliverReports();
    queue.OnRemove({0});
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_FALSE(std::filesystem::exists(partial));
}

TEST_F(SchedulerTest, LoadedWaitingProgressQueueAndUnknownItems) {
    Add(S::Progress, "http://h/p");
    Add(S::Queue, "http://h/q");
    Add(Unknown, "http://h/u");
    Add(S::Waiting, "http://h/w");

    queue.OnStart({}); // nothing selected: the Waiting item starts all the same
    EXPECT_EQ(States(), (StateList{S::Progress, S::Queue, Unknown, S::Progress}));
    ASSERT_EQ(transfers.runs.size(), 1u);
    EXPECT_EQ(LastStartedPath(), "/w");
    transfers.Complete();
    DeliverReports();

    // Start, Start All and Remove leave a loaded Progress item, also in an idle queue.
    queue.OnStart({0, 1, 2});
    queue.OnStartAll();
    queue.OnRemove({0});
    EXPECT_EQ(States(), (StateList{S::Progress, S::Queue, Unknown, S::Done}));
    EXPECT_EQ(transfers.runs.size(), 1u);
    EXPECT_FALSE(queue.Running());

    // Pause makes it Pause, and Start then resumes it.
    queue.OnPause({0});
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    queue.OnStart({0});
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    ASSERT_EQ(transfers.runs.size(), 2u);
    EXPECT_EQ(LastStartedPath(), "/p");
    transfers.Complete();
    DeliverReports();

    // Queue and unknown states are never started; Remove deletes them.
    EXPECT_EQ(States(), (StateList{S::Done, S::Queue, Unknown, S::Done}));
    queue.OnRemove({1, 2});
    EXPECT_EQ(queue.Count(), 2);
}

// Whatever restarts the queue while a paused transfer winds down waits for its finish: never two
// transfers at once.
enum class Restart { StartOther, StartAll, NewVersionYes };

class DeferredStartTest : public SchedulerTest, public ::testing::WithParamInterface<Restart> {};

TEST_P(DeferredStartTest, WaitsForThePausedTransfersFinish) {
    queue.SetNewVersionQuestion([] { return true; });
    StartActive("http://h/a");
    const FileHandle handle = queue.Item(0).fileHandle;
    Add(S::Ready, "http://h/b");
    queue.OnPauseAll();
    ASSERT_FALSE(queue.Running());
    const Restart restart = GetParam();
    if (restart == Restart::StartOther) {
        queue.OnStart({1});
    } else if (restart == Restart::StartAll) {
        queue.OnStartAll(); // the queue is idle, so Start All acts: the item is Waiting again
    } else {
        queue.OnNewVersion();
    }
    EXPECT_TRUE(queue.Running());
    EXPECT_EQ(queue.ActiveRow(), 0);
    EXPECT_EQ(transfers.runs.size(), 1u);
    EXPECT_EQ(PauseSeenByTransfer(), restart != Restart::StartAll);

    transfers.Stop();
    DeliverReports();
    ASSERT_EQ(transfers.runs.size(), 2u);
    if (restart == Restart::StartOther) {
        EXPECT_EQ(States(), (StateList{S::Pause, S::Progress}));
    } else if (restart == Restart::StartAll) {
        EXPECT_EQ(States(), (StateList{S::Progress, S::Waiting}));
        EXPECT_EQ(transfers.Last().task.fileHandle, handle);
    } else {
        EXPECT_EQ(States(), (StateList{S::Pause, S::Ready, S::Progress}));
        EXPECT_EQ(transfers.Last().task.hostName, UpdateServerHost);
    }
}

INSTANTIATE_TEST_SUITE_P(Restarts, DeferredStartTest,
                         ::testing::Values(Restart::StartOther, Restart::StartAll,
                                           Restart::NewVersionYes));

TEST_F(SchedulerTest, AStartWithoutAThreadMarksErrorAndGoesOnUntilNothingWaits) {
    queue.AddUrls("http://h/a\nhttp://h/b\nhttp://h/c");
    transfers.failures = 1;
    queue.OnStartAll();
    EXPECT_EQ(States(), (StateList{S::Error, S::Progress, S::Waiting}));
    ASSERT_EQ(transfers.runs.size(), 1u);
    EXPECT_EQ(LastStartedPath(), "/b");

    transfers.failures = 1;
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(States(), (StateList{S::Error, S::Done, S::Error}));
    EXPECT_EQ(transfers.runs.size(), 1u);
    EXPECT_FALSE(queue.Running());
    EXPECT_EQ(queue.ActiveRow(), -1);
}

TEST_F(SchedulerTest, ReportsRefreshOnlyOnChangeAndMoveOnlyAHeldHandle) {
    StartActive("http://h/a");
    const FileHandle old = queue.Item(0).fileHandle;
    QSignalSpy refreshed(&queue, &QAbstractItemModel::dataChanged);
    transfers.Report([&](TransferOwner& owner) {
        owner.SetProgress(37);
        owner.SetProgress(37);
        owner.SetFileHandle(old + 1000, 77); // no item holds it
        owner.SetTransferResult(0, 0);
    });
    DeliverReports();
    EXPECT_EQ(queue.Item(0).percent, 37);
    ASSERT_EQ(refreshed.count(), 1); // the progress cell, once
    EXPECT_EQ(refreshed[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(refreshed[0][1].toModelIndex().column(), 1);
    EXPECT_EQ(queue.Item(0).fileHandle, old);

    transfers.Report([&](TransferOwner& owner) { owner.SetFileHandle(old, old + 1); });
    DeliverReports();
    EXPECT_EQ(queue.Item(0).fileHandle, old + 1);
}

TEST_F(SchedulerTest, NewVersionYesAddsTheInstallerWhichRunsInItsTurn) {
    queue.OnNewVersion(); // no question: declined
    bool answer = false;
    queue.SetNewVersionQuestion([&] { return answer; });
    queue.OnNewVersion();
    EXPECT_EQ(queue.Count(), 0);

    answer = true;
    queue.OnNewVersion(); // idle: it starts at once
    ASSERT_EQ(queue.Count(), 1);
    EXPECT_EQ(queue.Item(0).url, UpdateInstallerUrl());
    EXPECT_EQ(queue.Item(0).fileName, "");
    EXPECT_EQ(transfers.Last().task.hostName, UpdateServerHost);
    EXPECT_EQ(LastStartedPath(), "/exe/dartflux.exe");
    queue.OnNewVersion(); // every yes adds one more, after the running one
    EXPECT_EQ(States(), (StateList{S::Progress, S::Waiting}));
    EXPECT_EQ(transfers.runs.size(), 1u);
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(States(), (StateList{S::Done, S::Progress}));
    EXPECT_EQ(transfers.runs.size(), 2u);
}

} // namespace

// The scheduler's state table and its edge cases, with scripted transfers on the test thread.
#include "QueueTestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using S = DownloadState;
constexpr auto Unknown = static_cast<DownloadState>(9);

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        queue.SetAutoSave(false);
        queue.SetSaveFolder(folder.path().toStdString());
        queue.SetTransferStarter(transfers.Starter());
    }

    // Appends one item per URL in the given state.
    void Add(DownloadState state, const std::string& url) {
        DownloadItems items;
        items.push_back(MakeItem(state, url));
        queue.AppendItems(std::move(items));
    }

    // Adds a Ready item and starts it: the queue runs with it as the active transfer.
    void StartActive(const std::string& url) {
        Add(S::Ready, url);
        queue.OnStart({queue.Count() - 1});
        ASSERT_EQ(queue.Item(queue.Count() - 1).state, S::Progress);
        ASSERT_EQ(queue.ActiveRow(), queue.Count() - 1);
    }

    std::string UrlOf(int row) const { return queue.Item(row).url; }
    std::string LastStartedPath() { return transfers.Last().task.objectPath; }

    QTemporaryDir folder;
    ScriptedTransfers transfers;
    DownloadQueue queue;
};

// ------------------------------------------------------------------ the state table, per command

enum class Command { Start, Pause, Remove, StartAll, PauseAll, RemoveAll };

struct CommandRow {
    Command command;
    DownloadState initial;
    std::optional<DownloadState> expected; // none: removed
    bool starts = false;                   // a transfer was started for it
};

std::string Name(Command command) {
    const char* names[] = {"Start", "Pause", "Remove", "StartAll", "PauseAll", "RemoveAll"};
    return names[static_cast<int>(command)];
}

std::string Name(DownloadState state) {
    const std::string text = StateText(state);
    return text.empty() ? "Unknown" : text;
}

std::vector<CommandRow> CommandTable() {
    const DownloadState states[] = {S::Waiting, S::Ready, S::Queue, S::Progress,
                                    S::Done,    S::Error, S::Pause, Unknown};
    std::vector<CommandRow> rows;
    for (const DownloadState s : states) {
        const bool startable = s == S::Ready || s == S::Error || s == S::Pause;
        const bool removable = s != S::Progress;
        rows.push_back({Command::Start, s, startable ? S::Waiting : s});
        rows.push_back({Command::Pause, s,
                        s == S::Waiting    ? S::Ready
                        : s == S::Progress ? S::Pause
                                           : s});
        rows.push_back({Command::Remove, s, removable ? std::nullopt : std::optional(s)});
        // Alone in an idle queue: Start All makes it Waiting and the scheduler starts it.
        const bool picked = startable || s == S::Waiting;
        rows.push_back({Command::StartAll, s, picked ? S::Progress : s, picked});
        rows.push_back({Command::PauseAll, s,
                        s == S::Waiting    ? S::Ready
                        : s == S::Progress ? S::Pause
                                           : s});
        rows.push_back({Command::RemoveAll, s, removable ? std::nullopt : std::optional(s)});
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

std::string CommandRowName(const ::testing::TestParamInfo<CommandRow>& info) {
    return Name(info.param.command) + "_" + Name(info.param.initial);
}

INSTANTIATE_TEST_SUITE_P(AllStates, CommandTableTest, ::testing::ValuesIn(CommandTable()),
                         CommandRowName);

// ------------------------------------------------------------ the state table, end of transfer

enum class Outcome { Completed, Stopped, Failed };

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
        // Any other code is no failure.
        for (const int code : {0, 1, 10, -1}) {
            rows.push_back({s, Outcome::Completed, code, S::Done});
        }
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
    switch (row.stateAtFinish) {
    case S::Waiting:
        queue.OnPause({0});
        queue.OnStart({0});
        break;
    case S::Ready:
        queue.OnPause({0});
        queue.OnStart({0});
        queue.OnPause({0});
        break;
    case S::Pause:
        queue.OnPause({0});
        break;
    default:
        break;
    }
    ASSERT_EQ(queue.Item(0).state, row.stateAtFinish);
    const FileHandle handle = queue.Item(0).fileHandle;
    ASSERT_NE(handle, NoFileHandle);

    if (row.outcome == Outcome::Completed) {
        CompleteOutputFile(transfers.Last().task.fileHandle);
        transfers.Stop(row.code);
    } else {
        transfers.Stop(row.code, 17);
    }
    DeliverReports();

    EXPECT_EQ(queue.Item(0).state, row.expected);
    EXPECT_EQ(queue.LastResult().code, row.code);
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

std::string FinishRowName(const ::testing::TestParamInfo<FinishRow>& info) {
    const char* outcomes[] = {"Completed", "Stopped", "Failed"};
    const int code = info.param.code;
    return Name(info.param.stateAtFinish) + "_" + outcomes[static_cast<int>(info.param.outcome)] +
           "_" + (code < 0 ? "minus" + std::to_string(-code) : std::to_string(code));
}

INSTANTIATE_TEST_SUITE_P(ActiveItem, FinishTableTest, ::testing::ValuesIn(FinishTable()),
                         FinishRowName);

// ------------------------------------------------------------------------------- edge cases

TEST_F(SchedulerTest, StartAllWhileRunningChangesNothing) {
    StartActive("http://h/active");
    Add(S::Ready, "http://h/r");
    Add(S::Error, "http://h/e");
    Add(S::Pause, "http://h/p");
    queue.OnStartAll();
    EXPECT_EQ(queue.Item(1).state, S::Ready);
    EXPECT_EQ(queue.Item(2).state, S::Error);
    EXPECT_EQ(queue.Item(3).state, S::Pause);
    EXPECT_EQ(transfers.runs.size(), 1u);
}

TEST_F(SchedulerTest, PauseAllWhileIdleChangesNothing) {
    Add(S::Waiting, "http://h/w");
    Add(S::Progress, "http://h/p");
    queue.OnPauseAll();
    EXPECT_EQ(queue.Item(0).state, S::Waiting);
    EXPECT_EQ(queue.Item(1).state, S::Progress);
    EXPECT_FALSE(queue.Running());
}

TEST_F(SchedulerTest, NextItemIsTheFirstWaitingAfterTheActiveOneThenFromTheTop) {
    queue.AddUrls("http://h/0\nhttp://h/1\nhttp://h/2\nhttp://h/3");
    queue.OnStart({1});
    ASSERT_EQ(LastStartedPath(), "/1");
    queue.OnStart({0, 3}); // running: they wait their turn
    EXPECT_EQ(queue.Item(0).state, S::Waiting);
    EXPECT_EQ(queue.Item(3).state, S::Waiting);

    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(LastStartedPath(), "/3");
    EXPECT_EQ(queue.Cursor(), 4u);
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(LastStartedPath(), "/0");
    EXPECT_EQ(queue.Cursor(), 1u);
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(transfers.runs.size(), 3u);
    EXPECT_FALSE(queue.Running());
    EXPECT_EQ(queue.Cursor(), 0u);
    for (const int row : {0, 1, 3}) {
        EXPECT_EQ(queue.Item(row).state, S::Done) << row;
    }
    EXPECT_EQ(queue.Item(2).state, S::Ready);
}

TEST_F(SchedulerTest, StartOnASelectedReadyItemWhileIdleStartsItAtOnce) {
    queue.AddUrls("http://host:8080/dir/file.bin?x=1#f");
    queue.OnStart({0});
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    EXPECT_TRUE(queue.Running());
    ASSERT_EQ(transfers.runs.size(), 1u);
    const DownloadTask& task = transfers.Last().task;
    EXPECT_EQ(task.owner, &queue);
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

TEST_F(SchedulerTest, StartWithNothingSelectedStillStartsWaitingItems) {
    Add(S::Waiting, "http://h/w");
    queue.OnStart({});
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    EXPECT_EQ(transfers.runs.size(), 1u);
}

TEST_F(SchedulerTest, PauseOnTheActiveRowShowsPauseAtOnceAndTheNextStartsAfterItsFinish) {
    StartActive("http://h/a");
    Add(S::Waiting, "http://h/b");
    QSignalSpy refreshed(&queue, &QAbstractItemModel::dataChanged);

    queue.OnPause({0});
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_TRUE(queue.IsPauseRequested());
    EXPECT_TRUE(queue.Running());
    EXPECT_EQ(transfers.runs.size(), 1u); // not before the paused transfer has ended

    transfers.Stop();
    DeliverReports();
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    EXPECT_NE(queue.Item(0).fileHandle, NoFileHandle); // the partial file stays
    EXPECT_TRUE(std::filesystem::exists(queue.Item(0).tempPath));
    EXPECT_EQ(queue.Item(1).state, S::Progress);
    EXPECT_EQ(transfers.runs.size(), 2u);
    EXPECT_FALSE(queue.IsPauseRequested());
}

TEST_F(SchedulerTest, APausedItemWhoseTransferFailsEndsAsError) {
    StartActive("http://h/a");
    queue.OnPause({0});
    transfers.Stop(ConnectStep, 7);
    DeliverReports();
    EXPECT_EQ(queue.Item(0).state, S::Error);
    EXPECT_EQ(queue.LastResult().systemError, 7u);
}

TEST_F(SchedulerTest, ReportsFollowTheActiveItemWhenRowsAroundItAreRemoved) {
    queue.AddUrls("http://h/0\nhttp://h/1\nhttp://h/2\nhttp://h/3\nhttp://h/4");
    queue.OnStart({2});
    ASSERT_EQ(queue.ActiveRow(), 2);
    QSignalSpy removed(&queue, &QAbstractItemModel::rowsRemoved);

    queue.OnRemove({0, 2, 4});
    ASSERT_EQ(queue.Count(), 3);
    EXPECT_EQ(removed.count(), 2);
    EXPECT_EQ(UrlOf(0), "http://h/1");
    EXPECT_EQ(UrlOf(1), "http://h/2");
    EXPECT_EQ(UrlOf(2), "http://h/3");
    EXPECT_EQ(queue.ActiveRow(), 1);
    EXPECT_EQ(queue.Cursor(), 2u);

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

    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(queue.Item(0).state, S::Done);
    EXPECT_EQ(queue.Item(1).state, S::Ready);
}

TEST_F(SchedulerTest, RemoveAllDuringATransferLeavesExactlyItsRow) {
    queue.AddUrls("http://h/0\nhttp://h/1\nhttp://h/2");
    queue.OnStart({1});
    Add(S::Waiting, "http://h/3");
    queue.OnRemoveAll();
    ASSERT_EQ(queue.Count(), 1);
    EXPECT_EQ(UrlOf(0), "http://h/1");
    EXPECT_EQ(queue.ActiveRow(), 0);

    transfers.Report([](TransferOwner& owner) { owner.SetProgress(50); });
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(queue.Item(0).state, S::Done);
    EXPECT_EQ(queue.Item(0).percent, 100);
    EXPECT_FALSE(queue.Running());
}

TEST_F(SchedulerTest, APausedTransferStillWindingDownIsNeverRemoved) {
    StartActive("http://h/a");
    queue.OnPauseAll();
    ASSERT_EQ(queue.Item(0).state, S::Pause);
    queue.OnRemove({0});
    queue.OnRemoveAll();
    ASSERT_EQ(queue.Count(), 1);

    const std::string tempPath = queue.Item(0).tempPath;
    transfers.Stop();
    DeliverReports();
    EXPECT_EQ(queue.ActiveRow(), -1);
    queue.OnRemove({0}); // now it goes, with its partial file
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_FALSE(std::filesystem::exists(tempPath));
}

TEST_F(SchedulerTest, RemovingADoneItemKeepsItsFileAndAnUnstartedItemKeepsItsTemporaryFile) {
    const std::string restored = folder.filePath("restored.tmp").toStdString();
    { std::ofstream(restored) << "partial"; }
    auto item = MakeItem(S::Pause, "http://h/p");
    item->tempPath = restored;
    DownloadItems items;
    items.push_back(std::move(item));
    queue.AppendItems(std::move(items));
    queue.OnRemove({0});
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_TRUE(std::filesystem::exists(restored)); // no open handle: left where it is

    StartActive("http://h/done");
    const std::string tempPath = queue.Item(0).tempPath;
    transfers.Complete(); // nameless: the data stays under the temporary name
    DeliverReports();
    queue.OnRemove({0});
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_TRUE(std::filesystem::exists(tempPath));
}

TEST_F(SchedulerTest, LoadedWaitingProgressQueueAndUnknownItems) {
    Add(S::Progress, "http://h/p");
    Add(S::Queue, "http://h/q");
    Add(Unknown, "http://h/u");
    Add(S::Waiting, "http://h/w");

    // Start, Start All and Remove leave a loaded Progress item; the Waiting one starts.
    queue.OnStart({0, 1, 2});
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    EXPECT_EQ(queue.Item(1).state, S::Queue);
    EXPECT_EQ(queue.Item(2).state, Unknown);
    EXPECT_EQ(queue.Item(3).state, S::Progress);
    ASSERT_EQ(transfers.runs.size(), 1u);
    EXPECT_EQ(LastStartedPath(), "/w");
    queue.OnRemove({0});
    EXPECT_EQ(queue.Count(), 4);
    transfers.Complete();
    DeliverReports();
    EXPECT_FALSE(queue.Running());
    queue.OnStartAll();
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
    EXPECT_EQ(queue.Item(1).state, S::Queue);
    EXPECT_EQ(queue.Item(2).state, Unknown);
    queue.OnRemove({1, 2});
    EXPECT_EQ(queue.Count(), 2);
}

TEST_F(SchedulerTest, StartWhileAPausedTransferWindsDownWaitsForItsFinish) {
    StartActive("http://h/a");
    Add(S::Ready, "http://h/b");
    queue.OnPauseAll();
    EXPECT_FALSE(queue.Running());

    queue.OnStart({1});
    EXPECT_TRUE(queue.Running());
    EXPECT_EQ(queue.Item(1).state, S::Waiting);
    EXPECT_EQ(transfers.runs.size(), 1u); // never two at once
    EXPECT_TRUE(queue.IsPauseRequested());
    EXPECT_EQ(queue.ActiveRow(), 0);

    transfers.Stop();
    DeliverReports();
    EXPECT_EQ(queue.Item(0).state, S::Pause);
    EXPECT_EQ(queue.Item(1).state, S::Progress);
    ASSERT_EQ(transfers.runs.size(), 2u);
    EXPECT_EQ(LastStartedPath(), "/b");
}

TEST_F(SchedulerTest, StartAllWhileAPausedTransferWindsDownResumesItAfterItsFinish) {
    StartActive("http://h/a");
    const FileHandle handle = queue.Item(0).fileHandle;
    queue.OnPauseAll();
    queue.OnStartAll(); // the queue is idle, so Start All acts: the item is Waiting again
    EXPECT_EQ(queue.Item(0).state, S::Waiting);
    EXPECT_FALSE(queue.IsPauseRequested());
    EXPECT_EQ(transfers.runs.size(), 1u);

    transfers.Stop(); // it had already stopped on the pause
    DeliverReports();
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    ASSERT_EQ(transfers.runs.size(), 2u);
    EXPECT_EQ(transfers.Last().task.fileHandle, handle);
}

TEST_F(SchedulerTest, ANewVersionYesWhileAPausedTransferWindsDownWaitsForItsFinish) {
    int asked = 0;
    queue.SetNewVersionQuestion([&] { return ++asked, true; });
    StartActive("http://h/a");
    queue.OnPauseAll();
    queue.OnNewVersion();
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(queue.Count(), 2);
    EXPECT_TRUE(queue.Running());
    EXPECT_EQ(transfers.runs.size(), 1u);
    transfers.Stop();
    DeliverReports();
    ASSERT_EQ(transfers.runs.size(), 2u);
    EXPECT_EQ(transfers.Last().task.hostName, UpdateServerHost);
}

TEST_F(SchedulerTest, AStartWithoutAThreadMarksErrorAndGoesOnWithTheNext) {
    queue.AddUrls("http://h/a\nhttp://h/b\nhttp://h/c");
    transfers.failures = 1;
    queue.OnStartAll();
    EXPECT_EQ(queue.Item(0).state, S::Error);
    EXPECT_EQ(queue.Item(1).state, S::Progress);
    EXPECT_EQ(queue.Item(2).state, S::Waiting);
    ASSERT_EQ(transfers.runs.size(), 1u);
    EXPECT_EQ(LastStartedPath(), "/b");

    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(queue.Item(1).state, S::Done);
    EXPECT_EQ(queue.Item(2).state, S::Progress);
    EXPECT_EQ(LastStartedPath(), "/c");
}

TEST_F(SchedulerTest, WhenNoThreadCanBeStartedEveryWaitingItemEndsAsErrorAndTheQueueStops) {
    queue.AddUrls("http://h/a\nhttp://h/b\nhttp://h/c");
    transfers.failures = 3;
    queue.OnStartAll();
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(queue.Item(row).state, S::Error) << row;
    }
    EXPECT_TRUE(transfers.runs.empty());
    EXPECT_FALSE(queue.Running());
    EXPECT_EQ(queue.ActiveRow(), -1);
}

TEST_F(SchedulerTest, AnEqualPercentageRefreshesTheRowOnce) {
    StartActive("http://h/a");
    QSignalSpy refreshed(&queue, &QAbstractItemModel::dataChanged);
    transfers.Report([](TransferOwner& owner) {
        owner.SetProgress(37);
        owner.SetProgress(37);
    });
    DeliverReports();
    EXPECT_EQ(queue.Item(0).percent, 37);
    ASSERT_EQ(refreshed.count(), 1);
    EXPECT_EQ(refreshed[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(refreshed[0][1].toModelIndex().column(), 3);
}

TEST_F(SchedulerTest, SetFileHandleMovesTheHandleOfTheItemHoldingIt) {
    StartActive("http://h/a");
    const FileHandle old = queue.Item(0).fileHandle;
    transfers.Report([&](TransferOwner& owner) {
        owner.SetFileHandle(old + 1000, 77); // no item holds it
        owner.SetTransferResult(0, 0);       // and no refresh for either
    });
    DeliverReports();
    EXPECT_EQ(queue.Item(0).fileHandle, old);
    transfers.Report([&](TransferOwner& owner) { owner.SetFileHandle(old, old + 1); });
    DeliverReports();
    EXPECT_EQ(queue.Item(0).fileHandle, old + 1);
}

TEST_F(SchedulerTest, NewVersionYesAppendsTheInstallerAndNoAddsNothing) {
    bool answer = false;
    queue.SetNewVersionQuestion([&] { return answer; });
    queue.OnNewVersion();
    EXPECT_EQ(queue.Count(), 0);

    StartActive("http://h/a");
    answer = true;
    queue.OnNewVersion();
    queue.OnNewVersion(); // every yes adds one more
    ASSERT_EQ(queue.Count(), 3);
    for (const int row : {1, 2}) {
        EXPECT_EQ(queue.Item(row).url,
                  "http://" + std::string(UpdateServerHost) + "/exe/dartflux.exe");
        EXPECT_EQ(queue.Item(row).fileName, "");
        EXPECT_EQ(queue.Item(row).state, S::Waiting);
    }
    EXPECT_EQ(transfers.runs.size(), 1u); // its turn comes after the running one
    transfers.Complete();
    DeliverReports();
    EXPECT_EQ(queue.Item(1).state, S::Progress);
    EXPECT_EQ(LastStartedPath(), "/exe/dartflux.exe");
}

TEST_F(SchedulerTest, NewVersionYesWhileIdleStartsTheInstaller) {
    queue.SetNewVersionQuestion([] { return true; });
    queue.OnNewVersion();
    ASSERT_EQ(queue.Count(), 1);
    EXPECT_EQ(queue.Item(0).state, S::Progress);
    EXPECT_TRUE(queue.Running());
}

TEST_F(SchedulerTest, WithoutAQuestionTheNewVersionIsDeclined) {
    queue.OnNewVersion();
    EXPECT_EQ(queue.Count(), 0);
}

} // namespace

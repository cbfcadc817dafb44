#pragma once

#include "DownloadFolder.h"
#include "DownloadList.h"
#include "ListAutosave.h"
#include "Transfer.h"
#include "TransferReports.h"
#include "TransferResult.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The host of the update installer's URL.
inline constexpr const char* UpdateServerHost = "update.dartflux.example";

// "http://" + UpdateServerHost + "/exe/dartflux.exe".
std::string UpdateInstallerUrl();

// The download list and its one-at-a-time scheduler: the commands, the choice of the next item,
// the start and the end of its transfer, row removal. Everything here runs on the thread that
// owns the object (the UI thread); each transfer reports through its own TransferReports, bound
// to its item, which hands each report to this thread.
class DownloadQueue : public DownloadList {
    Q_OBJECT

public:
    using TransferStarter = std::function<std::shared_ptr<TransferControl>(const DownloadTask&)>;
    // Asks the user whether to download the new version; true for yes.
    using NewVersionQuestion = std::function<bool()>;

    // How long teardown waits for a running transfer to end.
    static constexpr std::chrono::milliseconds TeardownWait{2000};

    explicit DownloadQueue(QObject* parent = nullptr);
    ~DownloadQueue() override;
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    // --- set-up
    // Replaces StartTransfer (for tests and benchmarks).
    void SetTransferStarter(TransferStarter starter);
    // Without a question every new-version notice is answered no.
    void SetNewVersionQuestion(NewVersionQuestion question);
    // The folder new temporary files are created in ("Save to:").
    DownloadFolder& Folder() { return folder_; }
    const DownloadFolder& Folder() const { return folder_; }
    // Saving soon after every change; on by default.
    void SetAutoSave(bool on);
    // The receive rate of every transfer in bytes per second, 0 for none; the running transfer
    // holds to a change at once. Set stores it in the settings; Load takes it from there, where
    // anything but a number of bytes reads as none.
    void SetSpeedLimit(std::int64_t bytesPerSecond);
    void LoadSpeedLimit();
    std::int64_t SpeedLimit() const { return speedLimit_->load(); }

    // --- state
    // One-based position of the active (or last active) item; 0 for none.
    std::uint32_t Cursor() const { return cursor_; }
    bool Running() const { return running_; }
    // The row whose transfer runs (its finish not yet handled); -1 when none.
    int ActiveRow() const;
    // The speeds the running transfer reported, oldest first: about the last minute.
    const std::deque<std::int64_t>& SpeedHistory() const { return speedHistory_; }

    // Whether Remove would take the row: not the running one nor one in Progress.
    bool IsRemovable(int row) const;

    // --- commands. Rows outside the list and repeated rows are ignored; order does not matter.
    void OnStart(const std::vector<int>& selectedRows);
    void OnPause(const std::vector<int>& selectedRows);
    void OnRemove(const std::vector<int>& selectedRows);
    void OnStartAll();
    void OnPauseAll();
    void OnRemoveAll();
    // The Add URL text: one Ready item per URL line (see UrlLines), appended in order. Returns
    // how many were added.
    int AddUrls(const std::string& text);
    // Appends items as they are (the list load uses it; so can tests).
    void AppendItems(DownloadItems items);
    // The new-version notice on the owning thread: asks the question, and on yes appends the
    // update installer as a Waiting item and runs the queue.
    void OnNewVersion();
    // Starts the next Waiting item after the previous active one (wrapping to the top), or
    // stops the queue. Does nothing while a transfer runs or the queue is not running.
    void AdvanceQueue();

    // --- the list file
    void LoadList();
    // Writes what an exit at this moment would; returns whether the file was written.
    bool SaveList();

    // --- the end: Pause All (without row refreshes), stop the transfer (bounded wait, then cut
    // it off), save the list, store the download folder. Afterwards every command and report is
    // ignored. The destructor cuts off a running transfer too, without waiting.
    void Teardown();

signals:
    // The list file was written.
    void listSaved();
    // Teardown begins: nothing may wait for this queue any more.
    void tearingDown();
    // A row's transfer ended as Error.
    void downloadFailed(int row);
    // A row's transfer ended as Done.
    void downloadDone(int row);
    // The queue stopped by itself, having nothing left to start, after this many transfers
    // ended Done and Error since it began to run.
    void ranEmpty(int done, int failed);

private:
    // Applies the active transfer's reports to its item's row.
    friend class TransferReports;
    void ShowActivity(int row, const TransferActivity& activity);
    void OnTransferFinished(int row, const TransferEnd& end);

    bool StartActiveTransfer();
    void EndAsFailed(int row, const TransferEnd& end);
    // Changes a row's state and keeps the running transfer's pause flag equal to it.
    void ChangeState(int row, DownloadState state);
    void SyncPauseFlag();
    // Removes those of the rows (ascending, unique) that may go, with their temporary files.
    void RemoveRows(std::vector<int> rows);
    void PauseAllStates();
    // Waiting becomes Ready, Progress becomes Pause.
    void PauseRow(int row);
    void StartFromTopWhenIdle();
    void CutOffTransfer(bool wait);
    // The item whose transfer runs (its finish not yet handled), or null.
    const DownloadItem* ActiveItem() const { return active_ ? &active_->Item() : nullptr; }

    std::uint32_t cursor_ = 0;
    bool running_ = false;
    DownloadFolder folder_;

    TransferStarter starter_;
    NewVersionQuestion question_;
    ListAutosave autosave_;

    // The reports of the transfer whose finish has not been handled yet, if any: the one place
    // that knows the active item.
    std::shared_ptr<TransferReports> active_;
    std::shared_ptr<TransferControl> control_;
    // One connection, TLS session and name lookup per host for the queue's whole run.
    std::shared_ptr<ConnectionShare> connections_;
    // Shared with each transfer, which reads it as it receives.
    std::shared_ptr<std::atomic<std::int64_t>> speedLimit_ =
        std::make_shared<std::atomic<std::int64_t>>(0);
    // Start or Start All came while a paused transfer wound down: scan from the top once it ends.
    bool restartFromTop_ = false;
    bool tornDown_ = false;
    int doneInRun_ = 0;
    int failedInRun_ = 0;
    // Reports come at most about twice a second.
    static constexpr std::size_t SpeedHistoryLength = 120;
    std::deque<std::int64_t> speedHistory_;
};

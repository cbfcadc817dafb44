#pragma once

#include "DownloadFolder.h"
#include "DownloadItem.h"
#include "ListFile.h"
#include "Transfer.h"
#include "TransferResult.h"

#include <QAbstractTableModel>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct NewVersionBridge;

// The host of the update installer's URL.
inline constexpr const char* UpdateServerHost = "update.dartflux.example";

// "http://" + UpdateServerHost + "/exe/dartflux.exe".
std::string UpdateInstallerUrl();

// The download list and its one-at-a-time scheduler. It owns the items; row i of the model is
// item i. Everything here runs on the thread that owns the object (the UI thread), except the
// TransferOwner operations, which the transfer thread calls: each of them only posts a queued
// call back to the owning thread, in call order, so items are only ever touched by one thread.
//
// As a model it has the four columns of the list: DisplayRole gives the cell texts,
// ForegroundRole/BackgroundRole the state's colours (nothing for plain rows), PercentRole (on
// the "Progress" column) the raw percentage.
class DownloadQueue : public QAbstractTableModel, public TransferOwner {
    Q_OBJECT

public:
    using TransferStarter = std::function<std::shared_ptr<TransferControl>(const DownloadTask&)>;
    // Asks the user whether to download the new version; true for yes.
    using NewVersionQuestion = std::function<bool()>;

    // How soon a change of the list reaches the list file: changes of items, names, sizes and
    // states soon; progress alone less often.
    static constexpr std::chrono::milliseconds ChangeSaveDelay{500};
    static constexpr std::chrono::milliseconds ProgressSaveDelay{5000};
    // How long teardown waits for a running transfer to end.
    static constexpr std::chrono::milliseconds TeardownWait{2000};

    // Installs itself as the receiver of new-version notices from transfers (the latest queue
    // made wins; it removes itself when destroyed).
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

    // --- state (read-only views)
    int Count() const { return static_cast<int>(items_.size()); }
    // Bounds-checked; throws std::out_of_range outside 0..Count()-1.
    const DownloadItem& Item(int index) const { return *items_.at(index); }
    // One-based position of the active (or last active) item; 0 for none.
    std::uint32_t Cursor() const { return cursor_; }
    bool Running() const { return running_; }
    TransferResult LastResult() const { return lastResult_; }
    // The row whose transfer runs (its finish not yet handled); -1 when none.
    int ActiveRow() const { return transferActive_ ? static_cast<int>(cursor_) - 1 : -1; }
    bool IsTornDown() const { return tornDown_; }

    // --- commands. Rows outside the list and repeated rows are ignored; order does not matter.
    void OnStart(const std::vector<int>& selectedRows);
    void OnPause(const std::vector<int>& selectedRows);
    void OnRemove(const std::vector<int>& selectedRows);
    void OnStartAll();
    void OnPauseAll();
    void OnRemoveAll();
    // The Add URL text: one Ready item per non-empty line (CR and LF each end a line), appended
    // in order. Returns how many were added.
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
    // Returns whether the file was written.
    bool SaveList();

    // --- the end: Pause All (without row refreshes), stop the transfer (bounded wait, then cut
    // it off), save the list, store the download folder. Afterwards every command and
    // report is ignored. The destructor cuts off a running transfer too, without waiting.
    void Teardown();

    // --- the model
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // --- TransferOwner: called on the transfer thread
    void SetTransferResult(int code, std::uint32_t error) override;
    void SetFileName(const std::string& name) override;
    void SetProgress(int percent) override;
    void SetTotalSize(std::int64_t size) override;
    void SetFileHandle(FileHandle oldHandle, FileHandle newHandle) override;
    bool IsPauseRequested() override;
    void OnTransferFinished() override;

signals:
    // Rows first..last were just inserted; the view selects them, keeping other selections.
    void rowsToSelect(int first, int last);
    // The list file was written (after a change, or by SaveList).
    void listSaved();

private:
    enum class SaveUrgency { Change, Progress };

    bool StartActiveTransfer();
    void OnDownloadFinished();
    void SetState(int row, DownloadState state);
    void RefreshRow(int row);
    void ScheduleSave(SaveUrgency urgency);
    void SyncPauseFlag();
    // Removes the given rows (ascending, unique) in as few model operations as possible.
    void RemoveRows(const std::vector<int>& rows);
    bool IsRemovable(int row) const;
    void PauseAllStates(bool refresh);
    void StartFromTopWhenIdle();
    void CutOffTransfer(bool wait);
    // Runs apply on the owning thread later, unless the transfer that posted it is over.
    template <typename Apply> void PostReport(Apply apply);
    DownloadItem* ActiveItem();

    DownloadItems items_;
    std::uint32_t cursor_ = 0;
    bool running_ = false;
    TransferResult lastResult_;
    DownloadFolder folder_;

    TransferStarter starter_;
    NewVersionQuestion question_;
    std::shared_ptr<NewVersionBridge> bridge_;

    // The transfer whose finish has not been handled yet, if any.
    bool transferActive_ = false;
    std::shared_ptr<TransferControl> control_;
    // Start or Start All came while a paused transfer wound down: scan from the top once it ends.
    bool restartFromTop_ = false;
    // Reports carry the serial of their transfer; those of an earlier one are dropped.
    std::uint64_t serial_ = 0;
    std::atomic<std::uint64_t> reportSerial_{0};
    std::atomic<bool> pauseRequested_{false};
    std::atomic<int> lastReportedPercent_{0};

    bool tornDown_ = false;
    bool autoSave_ = true;
    bool loading_ = false;
    QTimer saveTimer_;
};

#include "DownloadQueue.h"

#include "ConnectionShare.h"
#include "DownloadListRoles.h"
#include "OutputFiles.h"
#include "RequestRules.h"
#include "RowText.h"
#include "Settings.h"
#include "UrlLines.h"

#include <QCoreApplication>

#include <algorithm>
#include <numeric>

std::string UpdateInstallerUrl() {
    return std::string("http://") + UpdateServerHost + "/exe/dartflux.exe";
}

DownloadQueue::DownloadQueue(QObject* parent)
    : DownloadList(parent), starter_(StartTransfer), autosave_(*this, [this] { SaveList(); }),
      connections_(std::make_shared<ConnectionShare>()) {}

DownloadQueue::~DownloadQueue() {
    if (!tornDown_) {
        emit tearingDown();
    }
    CutOffTransfer(false);
}

void DownloadQueue::SetTransferStarter(TransferStarter starter) {
    starter_ = std::move(starter);
}

void DownloadQueue::SetSpeedLimit(std::int64_t bytesPerSecond) {
    speedLimit_->store(std::max<std::int64_t>(bytesPerSecond, 0));
    WriteSetting(SpeedLimitSetting, std::to_string(SpeedLimit()));
}

void DownloadQueue::LoadSpeedLimit() {
    speedLimit_->store(ReadCountSetting(SpeedLimitSetting));
}

void DownloadQueue::SetNewVersionQuestion(NewVersionQuestion question) {
    question_ = std::move(question);
}

void DownloadQueue::SetAutoSave(bool on) {
    autosave_.SetEnabled(on && !tornDown_);
}

void DownloadQueue::OnStart(const std::vector<int>& selectedRows) {
    if (tornDown_) {
        return;
    }
    for (const int row : selectedRows) {
        if (row >= 0 && row < Count() && IsStartable(Item(row).state)) {
            ChangeState(row, DownloadState::Waiting);
        }
    }
    if (!running_) {
        StartFromTopWhenIdle();
    }
}

void DownloadQueue::OnPause(const std::vector<int>& selectedRows) {
    if (tornDown_) {
        return;
    }
    for (const int row : selectedRows) {
        if (row >= 0 && row < Count()) {
            PauseRow(row);
        }
    }
}

void DownloadQueue::OnRemove(const std::vector<int>& selectedRows) {
    if (tornDown_) {
        return;
    }
    std::vector<int> rows = selectedRows;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    RemoveRows(rows);
}

void DownloadQueue::OnStartAll() {
    if (tornDown_ || running_) {
        return;
    }
    for (int row = 0; row < Count(); ++row) {
        if (IsStartable(Item(row).state)) {
            ChangeState(row, DownloadState::Waiting);
        }
    }
    StartFromTopWhenIdle();
}

void DownloadQueue::OnPauseAll() {
    if (tornDown_ || !running_) {
        return;
    }
    running_ = false;
    restartFromTop_ = false;
    doneInRun_ = failedInRun_ = 0;
    PauseAllStates();
}

void DownloadQueue::OnRemoveAll() {
    if (tornDown_) {
        return;
    }
    std::vector<int> rows(static_cast<std::size_t>(Count()));
    std::iota(rows.begin(), rows.end(), 0);
    RemoveRows(rows);
}

int DownloadQueue::AddUrls(const std::string& text) {
    if (tornDown_) {
        return 0;
    }
    DownloadItems added = UrlItems(text);
    const int count = static_cast<int>(added.size());
    AppendItems(std::move(added));
    return count;
}

void DownloadQueue::AppendItems(DownloadItems items) {
    if (!tornDown_) {
        Append(std::move(items));
    }
}

void DownloadQueue::OnNewVersion() {
    if (tornDown_ || !question_ || !question_()) {
        return;
    }
    // The question may have run an event loop: the queue may have been torn down meanwhile.
    if (tornDown_) {
        return;
    }
    auto item = std::make_unique<DownloadItem>();
    item->url = UpdateInstallerUrl();
    item->state = DownloadState::Waiting;
    DownloadItems added;
    added.push_back(std::move(item));
    AppendItems(std::move(added));
    if (!running_) {
        running_ = true;
        AdvanceQueue(); // waits for the finish when a paused transfer still winds down
    }
}

void DownloadQueue::StartFromTopWhenIdle() {
    running_ = true;
    if (active_) {
        // A paused transfer still winds down: starting now would run two at once.
        restartFromTop_ = true;
        return;
    }
    cursor_ = 0;
    AdvanceQueue();
}

void DownloadQueue::AdvanceQueue() {
    if (tornDown_ || !running_ || active_) {
        return;
    }
    // Moves the cursor on to the next Waiting item; false when it runs past the end.
    const auto scan = [this] {
        const auto count = static_cast<std::uint32_t>(Count());
        do {
            ++cursor_;
        } while (cursor_ <= count &&
                 Item(static_cast<int>(cursor_) - 1).state != DownloadState::Waiting);
        return cursor_ <= count;
    };
    for (;;) {
        bool found = cursor_ <= static_cast<std::uint32_t>(Count()) && scan();
        if (!found) {
            cursor_ = 0; // wrap to the top
            found = scan();
        }
        if (!found) {
            running_ = false;
            cursor_ = 0;
            if (doneInRun_ + failedInRun_ > 0) {
                emit ranEmpty(doneInRun_, failedInRun_);
            }
            doneInRun_ = failedInRun_ = 0;
            return;
        }
        if (StartActiveTransfer()) {
            return;
        }
        // No thread: the item is Error now, so the next scan goes on with another one.
    }
}

bool DownloadQueue::StartActiveTransfer() {
    const int row = static_cast<int>(cursor_) - 1;
    DownloadItem& item = MutableItem(row);
    auto reports = std::make_shared<TransferReports>(*this, item);
    DownloadTask task;
    task.owner = reports.get();
    SetTaskAddress(task, item.url);
    // No temporary file for an address that can never be asked for.
    if (const std::optional<TransferFailure> refused = AddressFailure(task.scheme, task.hostName)) {
        TransferEnd end;
        end.failure = *refused;
        EndAsFailed(row, end);
        return false;
    }
    item.fileHandle = item.fileHandle == NoFileHandle
                          ? OpenOutputFile(folder_.Path(), item.tempPath)
                          : RenewGoneOutputFile(item.fileHandle, item.tempPath);
    task.fileHandle = item.fileHandle;
    task.knownSize = item.totalSize;
    task.resumeOffset = OutputFileSize(item.fileHandle);
    task.connections = connections_;
    task.speedLimit = speedLimit_;

    // The previous transfer has made its last report; let its thread end before the next.
    if (control_ && !control_->IsFinished()) {
        control_->WaitUntilFinished(TeardownWait);
    }
    active_ = std::move(reports);
    // Until the transfer's first report the row tells what the file already holds.
    TransferActivity starting;
    starting.received = task.resumeOffset;
    starting.total = task.knownSize;
    SetActivity(row, starting);
    speedHistory_.clear();
    ChangeState(row, DownloadState::Progress);

    control_ = starter_ ? starter_(task) : nullptr;
    if (!control_) {
        active_.reset();
        EndAsFailed(row, TransferEnd{});
        return false;
    }
    return true;
}

void DownloadQueue::OnTransferFinished(int row, const TransferEnd& end) {
    active_->End(); // anything it still posts is dropped
    active_.reset();
    switch (end.outcome) {
    case TransferOutcome::Failed:
        EndAsFailed(row, end);
        break;
    case TransferOutcome::Completed:
        MutableItem(row).fileHandle = NoFileHandle;
        SetEnd(row, end);
        ChangeState(row, DownloadState::Done);
        ++doneInRun_;
        emit downloadDone(row);
        break;
    case TransferOutcome::Paused:
        SetEnd(row, end);
        // The partial file stays for a resume. A Waiting item (paused, then started again while
        // the transfer wound down) is picked up again.
        if (Item(row).state == DownloadState::Progress) {
            ChangeState(row, DownloadState::Pause);
        }
        break;
    }
    if (restartFromTop_) {
        restartFromTop_ = false;
        cursor_ = 0;
    }
    AdvanceQueue();
}

void DownloadQueue::EndAsFailed(int row, const TransferEnd& end) {
    SetEnd(row, end);
    ShowKeptPercent(row, end.keptBytes);
    ChangeState(row, DownloadState::Error);
    ++failedInRun_;
    emit downloadFailed(row);
}

void DownloadQueue::ShowActivity(int row, const TransferActivity& activity) {
    if (speedHistory_.size() == SpeedHistoryLength) {
        speedHistory_.pop_front();
    }
    speedHistory_.push_back(activity.retry > 0 ? 0 : activity.bytesPerSecond);
    SetActivity(row, activity);
}

int DownloadQueue::ActiveRow() const {
    return active_ ? RowOf(active_->Item(), static_cast<int>(cursor_) - 1) : -1;
}

void DownloadQueue::ChangeState(int row, DownloadState state) {
    if (SetState(row, state)) {
        SyncPauseFlag();
    }
}

void DownloadQueue::SyncPauseFlag() {
    if (active_) {
        active_->SetPauseRequested(active_->Item().state == DownloadState::Pause);
    }
}

bool DownloadQueue::IsRemovable(int row) const {
    return &Item(row) != ActiveItem() && Item(row).state != DownloadState::Progress;
}

void DownloadQueue::RemoveRows(std::vector<int> rows) {
    std::erase_if(rows, [this](int row) { return row < 0 || row >= Count() || !IsRemovable(row); });
    if (rows.empty()) {
        return;
    }
    // The cursor keeps naming the same item: it moves down by the removed rows before it.
    const auto before = std::count_if(rows.begin(), rows.end(), [this](int row) {
        return static_cast<std::uint32_t>(row) + 1 < cursor_;
    });
    for (const int row : rows) {
        const DownloadItem& item = Item(row);
        if (item.fileHandle != NoFileHandle) {
            DiscardOutputFile(item.fileHandle);
        } else if (item.state != DownloadState::Done && !item.tempPath.empty()) {
            DiscardStoredTemporaryFile(folder_.Path(), item.tempPath); // as after a restart
        }
    }
    EraseRows(rows);
    cursor_ -= static_cast<std::uint32_t>(before);
}

void DownloadQueue::PauseAllStates() {
    for (int row = 0; row < Count(); ++row) {
        PauseRow(row);
    }
}

void DownloadQueue::PauseRow(int row) {
    if (Item(row).state == DownloadState::Waiting) {
        ChangeState(row, DownloadState::Ready);
    } else if (Item(row).state == DownloadState::Progress) {
        ChangeState(row, DownloadState::Pause);
    }
}

void DownloadQueue::LoadList() {
    const ListAutosave::Quiet asOnDisk(autosave_);
    const int first = Count();
    AppendItems(LoadListFile());
    ReadKeptFiles(first);
}

bool DownloadQueue::SaveList() {
    const bool saved = SaveListFile(Items(), running_ ? QueueRun::Running : QueueRun::Idle);
    if (saved) {
        emit listSaved();
    }
    return saved;
}

void DownloadQueue::Teardown() {
    if (tornDown_) {
        return;
    }
    tornDown_ = true;
    emit tearingDown(); // a transfer waiting for the new-version answer goes on (answer: no)
    autosave_.SetEnabled(false);
    if (running_) {
        running_ = false;
        restartFromTop_ = false;
        PauseAllStates();
    }
    CutOffTransfer(true);
    SaveListFile(Items());
    folder_.Store();
}

void DownloadQueue::CutOffTransfer(bool wait) {
    if (!control_) {
        return;
    }
    if (!active_) {
        control_->DetachOwner();
        return;
    }
    control_->RequestAbort();
    if (wait) {
        control_->WaitUntilFinished(TeardownWait);
    }
    control_->DetachOwner();
    if (wait) {
        // Apply what the transfer reported before it was cut off (its final name and size,
        // and its finish when it came), so that the saved list holds it.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    if (active_) {
        active_->End(); // anything still queued is dropped
        active_.reset();
    }
}

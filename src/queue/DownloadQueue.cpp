#include "DownloadQueue.h"

#include "DownloadListRoles.h"
#include "OutputFiles.h"
#include "RowText.h"
#include "Settings.h"
#include "UrlLines.h"
#include "VersionCheck.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {

bool IsStartable(DownloadState state) {
    return state == DownloadState::Ready || state == DownloadState::Error ||
           state == DownloadState::Pause;
}

bool IsFailure(int code) {
    return code >= NoHandleStep && code <= BodyStep;
}

} // namespace

std::string UpdateInstallerUrl() {
    return std::string("http://") + UpdateServerHost + "/exe/dartflux.exe";
}

// Carries a new-version notice from a transfer thread to the queue's thread and the answer back:
// the transfer waits until the question has been handled, or until the queue stops taking
// notices (teardown, destruction), so it never waits on a queue that is gone.
struct NewVersionBridge {
    std::mutex mutex;
    std::condition_variable changed;
    DownloadQueue* queue = nullptr; // null once the queue takes no more notices
    std::uint64_t asked = 0;
    std::uint64_t answered = 0;

    static void Ask(const std::shared_ptr<NewVersionBridge>& bridge) {
        std::unique_lock lock(bridge->mutex);
        DownloadQueue* queue = bridge->queue;
        if (queue == nullptr) {
            return;
        }
        if (QThread::currentThread() == queue->thread()) {
            lock.unlock();
            queue->OnNewVersion();
            return;
        }
        const std::uint64_t ticket = ++bridge->asked;
        QMetaObject::invokeMethod(
            queue,
            [queue, bridge, ticket] {
                queue->OnNewVersion();
                std::lock_guard answeredLock(bridge->mutex);
                bridge->answered = std::max(bridge->answered, ticket);
                bridge->changed.notify_all();
            },
            Qt::QueuedConnection);
        bridge->changed.wait(
            lock, [&] { return bridge->answered >= ticket || bridge->queue == nullptr; });
    }

    void Close() {
        std::lock_guard lock(mutex);
        queue = nullptr;
        changed.notify_all();
    }
};

namespace {

// The process has one new-version hook; the latest queue installs its bridge there.
std::mutex hookMutex;
NewVersionBridge* installedBridge = nullptr;

void InstallBridge(const std::shared_ptr<NewVersionBridge>& bridge) {
    std::lock_guard lock(hookMutex);
    installedBridge = bridge.get();
    SetNewVersionHook([bridge] { NewVersionBridge::Ask(bridge); });
}

void UninstallBridge(NewVersionBridge* bridge) {
    std::lock_guard lock(hookMutex);
    if (installedBridge == bridge) {
        installedBridge = nullptr;
        SetNewVersionHook({});
    }
}

} // namespace

DownloadQueue::DownloadQueue(QObject* parent)
    : QAbstractTableModel(parent), starter_(StartTransfer),
      bridge_(std::make_shared<NewVersionBridge>()) {
    bridge_->queue = this;
    InstallBridge(bridge_);
    saveTimer_.setSingleShot(true);
    connect(&saveTimer_, &QTimer::timeout, this, [this] { SaveList(); });
}

DownloadQueue::~DownloadQueue() {
    bridge_->Close();
    UninstallBridge(bridge_.get());
    CutOffTransfer(false);
}

void DownloadQueue::SetTransferStarter(TransferStarter starter) {
    starter_ = std::move(starter);
}

void DownloadQueue::SetNewVersionQuestion(NewVersionQuestion question) {
    question_ = std::move(question);
}

void DownloadQueue::SetAutoSave(bool on) {
    autoSave_ = on;
    if (!on) {
        saveTimer_.stop();
    }
}

// ---------------------------------------------------------------------------------- commands

void DownloadQueue::OnStart(const std::vector<int>& selectedRows) {
    if (tornDown_) {
        return;
    }
    for (const int row : selectedRows) {
        if (row >= 0 && row < Count() && IsStartable(items_[row]->state)) {
            SetState(row, DownloadState::Waiting);
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
        if (row < 0 || row >= Count()) {
            continue;
        }
        if (items_[row]->state == DownloadState::Waiting) {
            SetState(row, DownloadState::Ready);
        } else if (items_[row]->state == DownloadState::Progress) {
            SetState(row, DownloadState::Pause);
        }
    }
}

void DownloadQueue::OnRemove(const std::vector<int>& selectedRows) {
    if (tornDown_) {
        return;
    }
    std::vector<int> rows;
    for (const int row : selectedRows) {
        if (row >= 0 && row < Count() && IsRemovable(row)) {
            rows.push_back(row);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    RemoveRows(rows);
}

void DownloadQueue::OnStartAll() {
    if (tornDown_ || running_) {
        return;
    }
    for (int row = 0; row < Count(); ++row) {
        if (IsStartable(items_[row]->state)) {
            SetState(row, DownloadState::Waiting);
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
    PauseAllStates(true);
}

void DownloadQueue::OnRemoveAll() {
    if (tornDown_) {
        return;
    }
    std::vector<int> rows;
    for (int row = 0; row < Count(); ++row) {
        if (IsRemovable(row)) {
            rows.push_back(row);
        }
    }
    RemoveRows(rows);
}

int DownloadQueue::AddUrls(const std::string& text) {
    if (tornDown_) {
        return 0;
    }
    std::vector<std::string> lines = UrlLines(text);
    DownloadItems added;
    added.reserve(lines.size());
    for (std::string& line : lines) {
        auto item = std::make_unique<DownloadItem>();
        item->url = line;
        item->fileName = std::move(line);
        added.push_back(std::move(item));
    }
    const int count = static_cast<int>(added.size());
    AppendItems(std::move(added));
    return count;
}

void DownloadQueue::AppendItems(DownloadItems items) {
    if (tornDown_ || items.empty()) {
        return;
    }
    const int first = Count();
    const int last = first + static_cast<int>(items.size()) - 1;
    beginInsertRows(QModelIndex(), first, last);
    items_.reserve(items_.size() + items.size());
    std::move(items.begin(), items.end(), std::back_inserter(items_));
    endInsertRows();
    emit rowsToSelect(first, last);
    ScheduleSave(SaveUrgency::Change);
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

// --------------------------------------------------------------------------------- scheduler

void DownloadQueue::StartFromTopWhenIdle() {
    running_ = true;
    if (transferActive_) {
        // A paused transfer still winds down: starting now would run two at once.
        restartFromTop_ = true;
        return;
    }
    cursor_ = 0;
    AdvanceQueue();
}

void DownloadQueue::AdvanceQueue() {
    if (tornDown_ || !running_ || transferActive_) {
        return;
    }
    const auto isWaiting = [this](std::uint32_t position) {
        return items_[position - 1]->state == DownloadState::Waiting;
    };
    for (;;) {
        const auto count = static_cast<std::uint32_t>(items_.size());
        bool found = false;
        if (cursor_ <= count) {
            do {
                ++cursor_;
            } while (cursor_ <= count && !isWaiting(cursor_));
            found = cursor_ <= count;
        }
        if (!found) {
            cursor_ = 0;
            do {
                ++cursor_;
            } while (cursor_ <= count && !isWaiting(cursor_));
            found = cursor_ <= count;
        }
        if (!found) {
            running_ = false;
            cursor_ = 0;
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
    DownloadItem& item = *items_.at(row);
    if (item.fileHandle == NoFileHandle) {
        item.fileHandle = OpenOutputFile(folder_.Path(), item.tempPath);
    }
    DownloadTask task;
    task.owner = this;
    SetTaskAddress(task, item.url);
    task.fileHandle = item.fileHandle;
    task.knownSize = item.totalSize;
    task.resumeOffset = OutputFileSize(item.fileHandle);

    // The previous transfer has made its last report; let its thread end before the next.
    if (control_ && !control_->IsFinished()) {
        control_->WaitUntilFinished(TeardownWait);
    }
    ++serial_;
    reportSerial_.store(serial_);
    lastReportedPercent_.store(item.percent);
    transferActive_ = true;
    SetState(row, DownloadState::Progress);

    control_ = starter_ ? starter_(task) : nullptr;
    if (!control_) {
        transferActive_ = false;
        SetState(row, DownloadState::Error);
        return false;
    }
    return true;
}

void DownloadQueue::OnDownloadFinished() {
    const int row = static_cast<int>(cursor_) - 1;
    DownloadItem& item = *items_.at(row);
    if (IsFailure(lastResult_.code)) {
        SetState(row, DownloadState::Error);
    } else if (item.fileHandle != NoFileHandle && FindOutputFile(item.fileHandle)) {
        // The file is still open, so the transfer stopped before the end (a pause request):
        // the partial file stays for a resume, and the item keeps its state. A Waiting item
        // (paused, then started again while the transfer wound down) is picked up again.
        if (item.state == DownloadState::Progress) {
            SetState(row, DownloadState::Pause);
        }
    } else if (item.fileHandle != NoFileHandle || item.state != DownloadState::Pause) {
        // The transfer completed the file (closed, moved, unregistered), or there was none.
        item.fileHandle = NoFileHandle;
        SetState(row, DownloadState::Done);
    }
    SyncPauseFlag();
    if (restartFromTop_) {
        restartFromTop_ = false;
        cursor_ = 0;
    }
    AdvanceQueue();
}

// ------------------------------------------------------------------------------------ rows

void DownloadQueue::SetState(int row, DownloadState state) {
    DownloadItem& item = *items_.at(row);
    if (item.state == state) {
        return;
    }
    item.state = state;
    RefreshRow(row);
    ScheduleSave(SaveUrgency::Change);
    SyncPauseFlag();
}

void DownloadQueue::RefreshRow(int row) {
    emit dataChanged(index(row, 0), index(row, DownloadColumnCount - 1));
}

void DownloadQueue::SyncPauseFlag() {
    DownloadItem* active = ActiveItem();
    pauseRequested_.store(active != nullptr && active->state == DownloadState::Pause);
}

DownloadItem* DownloadQueue::ActiveItem() {
    return transferActive_ ? items_.at(cursor_ - 1).get() : nullptr;
}

bool DownloadQueue::IsRemovable(int row) const {
    const bool active = transferActive_ && row == static_cast<int>(cursor_) - 1;
    return !active && items_[row]->state != DownloadState::Progress;
}

void DownloadQueue::RemoveRows(const std::vector<int>& rows) {
    if (rows.empty()) {
        return;
    }
    // The cursor keeps naming the same item: it moves down by the removed rows before it.
    const auto before = std::count_if(rows.begin(), rows.end(), [this](int row) {
        return static_cast<std::uint32_t>(row) + 1 < cursor_;
    });
    for (const int row : rows) {
        if (items_[row]->fileHandle != NoFileHandle) {
            DiscardOutputFile(items_[row]->fileHandle);
        }
    }
    // Contiguous runs, from the bottom up so that the lower indexes stay valid.
    std::vector<std::pair<int, int>> runs;
    for (const int row : rows) {
        if (!runs.empty() && runs.back().second + 1 == row) {
            runs.back().second = row;
        } else {
            runs.emplace_back(row, row);
        }
    }
    constexpr std::size_t MaxSeparateRuns = 256;
    if (runs.size() > MaxSeparateRuns) {
        // Each run would move the rest of the list; one reset is cheaper for scattered rows.
        beginResetModel();
        std::size_t kept = 0;
        auto next = rows.begin();
        for (std::size_t row = 0; row < items_.size(); ++row) {
            if (next != rows.end() && static_cast<std::size_t>(*next) == row) {
                ++next;
            } else {
                items_[kept++] = std::move(items_[row]);
            }
        }
        items_.resize(kept);
        endResetModel();
    } else {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows(QModelIndex(), run->first, run->second);
            items_.erase(items_.begin() + run->first, items_.begin() + run->second + 1);
            endRemoveRows();
        }
    }
    cursor_ -= static_cast<std::uint32_t>(before);
    ScheduleSave(SaveUrgency::Change);
}

void DownloadQueue::PauseAllStates(bool refresh) {
    for (int row = 0; row < Count(); ++row) {
        DownloadItem& item = *items_[row];
        DownloadState next = item.state;
        if (item.state == DownloadState::Waiting) {
            next = DownloadState::Ready;
        } else if (item.state == DownloadState::Progress) {
            next = DownloadState::Pause;
        } else {
            continue;
        }
        if (refresh) {
            SetState(row, next);
        } else {
            item.state = next;
        }
    }
    SyncPauseFlag();
}

// --------------------------------------------------------------------------- list and end

void DownloadQueue::LoadList() {
    loading_ = true;
    AppendItems(LoadListFile());
    loading_ = false;
}

bool DownloadQueue::SaveList() {
    saveTimer_.stop();
    const bool saved = SaveListFile(items_, running_ ? QueueRun::Running : QueueRun::Idle);
    if (saved) {
        emit listSaved();
    }
    return saved;
}

void DownloadQueue::ScheduleSave(SaveUrgency urgency) {
    if (!autoSave_ || tornDown_ || loading_) {
        return;
    }
    const auto delay = urgency == SaveUrgency::Change ? ChangeSaveDelay : ProgressSaveDelay;
    if (saveTimer_.isActive() && saveTimer_.remainingTime() <= delay.count()) {
        return;
    }
    saveTimer_.start(delay);
}

void DownloadQueue::Teardown() {
    if (tornDown_) {
        return;
    }
    tornDown_ = true;
    bridge_->Close(); // a transfer waiting for the new-version answer goes on (answer: no)
    saveTimer_.stop();
    if (running_) {
        running_ = false;
        restartFromTop_ = false;
        PauseAllStates(false);
    }
    CutOffTransfer(true);
    SaveListFile(items_);
    folder_.Store();
}

void DownloadQueue::CutOffTransfer(bool wait) {
    if (!control_) {
        return;
    }
    if (transferActive_) {
        control_->RequestAbort();
        if (wait) {
            control_->WaitUntilFinished(TeardownWait);
        }
    }
    control_->DetachOwner();
    if (wait && transferActive_) {
        // Apply what the transfer reported before it was cut off (its final name and size,
        // and its finish when it came), so that the saved list holds it.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    transferActive_ = false;
    ++serial_; // anything still queued is dropped
    SyncPauseFlag();
}

// ----------------------------------------------------------------------------------- model

int DownloadQueue::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int DownloadQueue::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : DownloadColumnCount;
}

QVariant DownloadQueue::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || index.column() >= DownloadColumnCount) {
        return {};
    }
    const DownloadItem& item = *items_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(RowText(item, index.column()));
    case Qt::ForegroundRole:
    case Qt::BackgroundRole: {
        const std::optional<RowColors> colors = StateColors(item.state);
        if (!colors) {
            return {};
        }
        return role == Qt::ForegroundRole ? colors->text : colors->background;
    }
    case PercentRole:
        return index.column() == ProgressColumn ? QVariant(item.percent) : QVariant();
    default:
        return {};
    }
}

QVariant DownloadQueue::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= DownloadColumnCount) {
        return {};
    }
    return QString::fromLatin1(ColumnHeader(section));
}

// ------------------------------------------------------------- owner operations (transfer)

template <typename Apply> void DownloadQueue::PostReport(Apply apply) {
    const std::uint64_t serial = reportSerial_.load();
    QMetaObject::invokeMethod(
        this,
        [this, serial, apply = std::move(apply)]() mutable {
            if (transferActive_ && serial == serial_) {
                apply();
            }
        },
        Qt::QueuedConnection);
}

void DownloadQueue::SetTransferResult(int code, std::uint32_t error) {
    PostReport([this, code, error] { lastResult_ = TransferResult{code, error}; });
}

void DownloadQueue::SetFileName(const std::string& name) {
    PostReport([this, name] {
        ActiveItem()->fileName = name;
        RefreshRow(static_cast<int>(cursor_) - 1);
        ScheduleSave(SaveUrgency::Change);
    });
}

void DownloadQueue::SetProgress(int percent) {
    // Most reads leave the percentage as it was: post only the changes.
    if (lastReportedPercent_.exchange(percent) == percent) {
        return;
    }
    PostReport([this, percent] {
        DownloadItem* item = ActiveItem();
        if (item->percent != percent) {
            item->percent = percent;
            RefreshRow(static_cast<int>(cursor_) - 1);
            ScheduleSave(SaveUrgency::Progress);
        }
    });
}

void DownloadQueue::SetTotalSize(std::int64_t size) {
    PostReport([this, size] {
        ActiveItem()->totalSize = size;
        RefreshRow(static_cast<int>(cursor_) - 1);
        ScheduleSave(SaveUrgency::Change);
    });
}

void DownloadQueue::SetFileHandle(FileHandle oldHandle, FileHandle newHandle) {
    if (oldHandle == NoFileHandle) {
        return; // no item holds "no file"
    }
    PostReport([this, oldHandle, newHandle] {
        const auto holder = std::find_if(items_.begin(), items_.end(), [&](const auto& item) {
            return item->fileHandle == oldHandle;
        });
        if (holder != items_.end()) {
            (*holder)->fileHandle = newHandle;
        }
    });
}

bool DownloadQueue::IsPauseRequested() {
    return pauseRequested_.load();
}

void DownloadQueue::OnTransferFinished() {
    PostReport([this] {
        transferActive_ = false;
        OnDownloadFinished();
    });
}

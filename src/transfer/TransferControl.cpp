#include "TransferControl.h"

TransferControl::TransferControl(TransferOwner* owner) : owner_(owner) {}

void TransferControl::RequestAbort() {
    abortRequested_.store(true);
}

bool TransferControl::IsAbortRequested() const {
    return abortRequested_.load();
}

bool TransferControl::IsStopWanted() {
    if (IsAbortRequested()) {
        return true;
    }
    bool paused = true;
    ReportToOwner([&paused](TransferOwner& owner) { paused = owner.IsPauseRequested(); });
    return paused;
}

bool TransferControl::WaitUntilFinished(std::chrono::milliseconds limit) {
    std::unique_lock lock(finishedMutex_);
    return finishedChanged_.wait_for(lock, limit, [this] { return finished_; });
}

bool TransferControl::IsFinished() {
    std::lock_guard lock(finishedMutex_);
    return finished_;
}

void TransferControl::DetachOwner() {
    std::lock_guard lock(ownerMutex_);
    owner_ = nullptr;
}

void TransferControl::MarkFinished() {
    {
        std::lock_guard lock(finishedMutex_);
        finished_ = true;
    }
    finishedChanged_.notify_all();
}

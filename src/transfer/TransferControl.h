#pragma once

#include "TransferOwner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// Shared between the thread that started a transfer and the transfer thread. It lets the
// starter stop the transfer and cut it off from its owner, so that no report reaches an owner
// that has gone.
class TransferControl {
public:
    explicit TransferControl(TransferOwner* owner);

    // Ends the transfer as if paused, at the next read or within about a second.
    void RequestAbort();
    bool IsAbortRequested() const;
    // The transfer's pause poll: an abort, the owner's pause, or an owner that has gone.
    bool IsStopWanted();

    // Waits until the transfer thread has finished; false when the limit passed first.
    bool WaitUntilFinished(std::chrono::milliseconds limit);
    bool IsFinished();

    // Drops every later report. Waits for a report in flight to return.
    void DetachOwner();

    // Runs report on the owner unless it was detached; false when it was.
    template <typename Report> bool ReportToOwner(Report report) {
        std::lock_guard lock(ownerMutex_);
        if (owner_ == nullptr) {
            return false;
        }
        report(*owner_);
        return true;
    }

    // Called by the transfer thread as its last act.
    void MarkFinished();

private:
    std::mutex ownerMutex_;
    TransferOwner* owner_;
    std::atomic<bool> abortRequested_{false};
    std::mutex finishedMutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
};

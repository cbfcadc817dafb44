#include "QueuedTransferOwner.h"

#include <utility>

QueuedTransferOwner::QueuedTransferOwner(QObject& context, TransferOwner& receiver)
    : context_(context), receiver_(receiver) {}

void QueuedTransferOwner::Begin(int percent) {
    ++serial_;
    reportSerial_.store(serial_);
    lastPercent_.store(percent);
}

void QueuedTransferOwner::End() {
    ++serial_; // reports still queued carry the old serial
}

void QueuedTransferOwner::SetPauseRequested(bool paused) {
    pauseRequested_.store(paused);
}

template <typename Report> void QueuedTransferOwner::Post(Report report) {
    const std::uint64_t serial = reportSerial_.load();
    QMetaObject::invokeMethod(
        &context_,
        [this, serial, report = std::move(report)]() mutable {
            if (serial == serial_) {
                report(receiver_);
            }
        },
        Qt::QueuedConnection);
}

void QueuedTransferOwner::SetTransferResult(int code, std::uint32_t error) {
    Post([code, error](TransferOwner& owner) { owner.SetTransferResult(code, error); });
}

void QueuedTransferOwner::SetFileName(const std::string& name) {
    Post([name](TransferOwner& owner) { owner.SetFileName(name); });
}

void QueuedTransferOwner::SetProgress(int percent) {
    // Most reads leave the percentage as it was.
    if (lastPercent_.exchange(percent) != percent) {
        Post([percent](TransferOwner& owner) { owner.SetProgress(percent); });
    }
}

void QueuedTransferOwner::SetTotalSize(std::int64_t size) {
    Post([size](TransferOwner& owner) { owner.SetTotalSize(size); });
}

void QueuedTransferOwner::SetActivity(const TransferActivity& activity) {
    Post([activity](TransferOwner& owner) { owner.SetActivity(activity); });
}

void QueuedTransferOwner::SetFileHandle(FileHandle oldHandle, FileHandle newHandle) {
    Post([oldHandle, newHandle](TransferOwner& owner) {
        owner.SetFileHandle(oldHandle, newHandle);
    });
}

bool QueuedTransferOwner::IsPauseRequested() {
    return pauseRequested_.load();
}

void QueuedTransferOwner::OnTransferFinished(TransferOutcome outcome) {
    Post([outcome](TransferOwner& owner) { owner.OnTransferFinished(outcome); });
}

#pragma once

#include "TransferOwner.h"

#include <QObject>

#include <atomic>
#include <cstdint>

// The owner a transfer thread reports to, for a receiver that lives on another thread: the one
// place where the two threads meet. Every report reaches the receiver as a queued call on the
// context's thread, in call order, and is dropped there when it belongs to an earlier transfer or
// the transfer was ended; the pause poll is answered at once from a flag that the receiver's
// thread keeps, and a percentage that did not change is not posted at all.
class QueuedTransferOwner : public TransferOwner {
public:
    // context lives on the receiver's thread; its event queue carries the reports.
    QueuedTransferOwner(QObject& context, TransferOwner& receiver);

    // --- the receiver's thread
    // A transfer begins whose item shows percent: from now on only its reports get through.
    void Begin(int percent);
    // Drops every report still on its way.
    void End();
    void SetPauseRequested(bool paused);

    // --- the transfer thread
    void SetTransferResult(int code, std::uint32_t error) override;
    void SetFileName(const std::string& name) override;
    void SetProgress(int percent) override;
    void SetTotalSize(std::int64_t size) override;
    void SetActivity(const TransferActivity& activity) override;
    void SetFileHandle(FileHandle oldHandle, FileHandle newHandle) override;
    bool IsPauseRequested() override;
    void OnTransferFinished(TransferOutcome outcome) override;

private:
    template <typename Report> void Post(Report report);

    QObject& context_;
    TransferOwner& receiver_;
    std::uint64_t serial_ = 0; // the receiver's thread only
    std::atomic<std::uint64_t> reportSerial_{0};
    std::atomic<bool> pauseRequested_{false};
    std::atomic<int> lastPercent_{0};
};

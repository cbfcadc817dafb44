#pragma once

#include "DownloadItem.h"
#include "TransferOwner.h"

#include <atomic>
#include <memory>

class DownloadQueue;

// The owner of one transfer, bound to the item it downloads when it starts: the one place where
// the transfer thread and the queue's thread meet. Every report reaches the queue's thread as a
// queued call, in call order, and is applied there to that item; a report that arrives after the
// transfer was ended (its finish handled, or the queue cut it off) is dropped. The pause poll is
// answered at once from a flag that the queue's thread keeps, and a percentage that did not change
// is not posted at all.
class TransferReports : public TransferOwner, public std::enable_shared_from_this<TransferReports> {
public:
    TransferReports(DownloadQueue& queue, DownloadItem& item);

    // --- the queue's thread
    DownloadItem& Item() const { return item_; }
    // Drops every report still on its way.
    void End() { ended_ = true; }
    void SetPauseRequested(bool paused) { pauseRequested_.store(paused); }

    // --- the transfer thread
    void SetTransferResult(int code, std::uint32_t error) override;
    void SetFileName(const std::string& name) override;
    void SetProgress(int percent) override;
    void SetTotalSize(std::int64_t size) override;
    void SetActivity(const TransferActivity& activity) override;
    void SetFileHandle(FileHandle oldHandle, FileHandle newHandle) override;
    bool IsPauseRequested() override { return pauseRequested_.load(); }
    void OnTransferFinished(const TransferEnd& end) override;

private:
    template <typename Apply> void Post(Apply apply);

    DownloadQueue& queue_;
    DownloadItem& item_;
    bool ended_ = false; // the queue's thread only
    std::atomic<bool> pauseRequested_{false};
    std::atomic<int> lastPercent_;
};

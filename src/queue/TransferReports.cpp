#include "TransferReports.h"

#include "DownloadQueue.h"

#include <utility>

TransferReports::TransferReports(DownloadQueue& queue, DownloadItem& item)
    : queue_(queue), item_(item), lastPercent_(item.percent) {}

template <typename Apply> void TransferReports::Post(Apply apply) {
    QMetaObject::invokeMethod(
        &queue_,
        [self = shared_from_this(), apply = std::move(apply)] {
            if (!self->ended_) {
                apply(self->queue_, self->item_);
            }
        },
        Qt::QueuedConnection);
}

void TransferReports::SetTransferResult(int, std::uint32_t) {
    // The ending carries the result with its reason; nothing to show before.
}

void TransferReports::SetFileName(const std::string& name) {
    Post([name](DownloadQueue& queue, DownloadItem& item) { queue.ApplyFileName(item, name); });
}

void TransferReports::SetProgress(int percent) {
    // Most reads leave the percentage as it was.
    if (lastPercent_.exchange(percent) != percent) {
        Post([percent](DownloadQueue& queue, DownloadItem& item) {
            queue.ApplyPercent(item, percent);
        });
    }
}

void TransferReports::SetTotalSize(std::int64_t size) {
    Post([size](DownloadQueue& queue, DownloadItem& item) { queue.ApplyTotalSize(item, size); });
}

void TransferReports::SetActivity(const TransferActivity& activity) {
    Post([activity](DownloadQueue& queue, DownloadItem& item) {
        queue.ApplyActivity(item, activity);
    });
}

void TransferReports::SetFileHandle(FileHandle, FileHandle newHandle) {
    Post([newHandle](DownloadQueue& queue, DownloadItem& item) {
        queue.ApplyFileHandle(item, newHandle);
    });
}

void TransferReports::OnTransferFinished(const TransferEnd& end) {
    Post([end](DownloadQueue& queue, DownloadItem& item) { queue.OnTransferFinished(item, end); });
}

#include "TransferReports.h"

#include "DownloadQueue.h"

#include <utility>

TransferReports::TransferReports(DownloadQueue& queue, DownloadItem& item)
    : queue_(queue), item_(item), lastPercent_(item.percent) {}

// apply runs on the queue's thread with the item's row, unless the transfer was ended or the item
// is gone meanwhile.
template <typename Apply> void TransferReports::Post(Apply apply) {
    QMetaObject::invokeMethod(
        &queue_,
        [self = shared_from_this(), apply = std::move(apply)] {
            DownloadQueue& queue = self->queue_;
            const int row = queue.RowOf(self->item_, static_cast<int>(queue.cursor_) - 1);
            if (!self->ended_ && row >= 0) {
                apply(queue, row);
            }
        },
        Qt::QueuedConnection);
}

void TransferReports::SetTransferResult(int, std::uint32_t) {
    // The ending carries the result with its reason; nothing to show before.
}

void TransferReports::SetFileName(const std::string& name) {
    Post([name](DownloadQueue& queue, int row) { queue.SetFileName(row, name); });
}

void TransferReports::SetProgress(int percent) {
    // Most reads leave the percentage as it was.
    if (lastPercent_.exchange(percent) != percent) {
        Post([percent](DownloadQueue& queue, int row) { queue.SetPercent(row, percent); });
    }
}

void TransferReports::SetTotalSize(std::int64_t size) {
    Post([size](DownloadQueue& queue, int row) { queue.SetTotalSize(row, size); });
}

void TransferReports::SetActivity(const TransferActivity& activity) {
    Post([activity](DownloadQueue& queue, int row) { queue.ShowActivity(row, activity); });
}

void TransferReports::SetFileHandle(FileHandle, FileHandle newHandle) {
    Post([newHandle](DownloadQueue& queue, int row) {
        queue.MutableItem(row).fileHandle = newHandle;
    });
}

void TransferReports::OnTransferFinished(const TransferEnd& end) {
    Post([end](DownloadQueue& queue, int row) { queue.OnTransferFinished(row, end); });
}

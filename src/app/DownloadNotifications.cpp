#include "DownloadNotifications.h"

#include "DownloadQueue.h"

#include <QWidget>

DownloadNotifications::DownloadNotifications(DownloadQueue& queue, const QWidget& window,
                                             QObject* parent)
    : QObject(parent) {
    connect(&queue, &DownloadQueue::downloadFailed, this, [this, &queue, &window](int row) {
        if (!window.isActiveWindow()) {
            notifier_.Notify("Download failed", QString::fromStdString(queue.StatusText(row)));
        }
    });
    connect(&queue, &DownloadQueue::downloadDone, this, [this, &queue](int row) {
        lastDoneStatus_ = QString::fromStdString(queue.StatusText(row));
        lastDoneFile_ = QString::fromStdString(SavedFilePath(queue.Item(row)));
    });
    connect(&queue, &DownloadQueue::ranEmpty, this, [this](int done, int failed) {
        const QString counts = QString("%1 done, %2 failed").arg(done).arg(failed);
        if (done > 0) {
            notifier_.NotifyWithFile("Downloads finished", counts + "\n" + lastDoneStatus_,
                                     lastDoneFile_);
        } else {
            notifier_.Notify("Downloads finished", counts);
        }
    });
    connect(&notifier_, &DesktopNotifier::showInFolderChosen, this,
            &DownloadNotifications::showInFolderChosen);
}

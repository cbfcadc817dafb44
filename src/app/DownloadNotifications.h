#pragma once

#include "DesktopNotifier.h"

#include <QObject>
#include <QString>

class DownloadQueue;
class QWidget;

// Tells the desktop when the queue runs empty, and of a failure while the window is away.
class DownloadNotifications : public QObject {
    Q_OBJECT

public:
    DownloadNotifications(DownloadQueue& queue, const QWidget& window, QObject* parent = nullptr);

signals:
    // The user chose "Show in folder" on the notification of filePath.
    void showInFolderChosen(const QString& filePath);

private:
    DesktopNotifier notifier_;
    // The finished notification names the last file done, as the queue may have moved on since.
    QString lastDoneStatus_;
    QString lastDoneFile_;
};

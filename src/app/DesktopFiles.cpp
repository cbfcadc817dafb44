#include "DesktopFiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QUrl>

bool OpenWithDesktop(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ShowInFileManager(const QString& filePath, QObject* context,
                       const std::function<void()>& onFailure) {
    const auto openFolder = [filePath, onFailure] {
        if (!OpenWithDesktop(QFileInfo(filePath).absolutePath())) {
            onFailure();
        }
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous: a file manager started by the bus for this call may take a while.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [openFolder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             openFolder();
                         }
                         finished->deleteLater();
                     });
}

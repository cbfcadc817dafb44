#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

void DesktopNotifier::Notify(const QString& line) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                       "/org/freedesktop/Notifications",
                                                       "org.freedesktop.Notifications", "Notify");
    // Application, no notification to replace, icon, summary, body, actions, hints, timeout.
    call << QString("Dartflux") << 0u << QString("dartflux") << line << QString() << QStringList()
         << QVariantMap() << -1;
    bus.send(call);
}

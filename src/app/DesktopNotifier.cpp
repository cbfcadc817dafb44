#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

constexpr const char* Service = "org.freedesktop.Notifications";
constexpr const char* Path = "/org/freedesktop/Notifications";
constexpr const char* Interface = "org.freedesktop.Notifications";
constexpr const char* ShowInFolderAction = "show-in-folder";

// The markup subset of the notification protocol knows only these three.
QString EscapedMarkup(const QString& text) {
    QString escaped = text;
    return escaped.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
}

// Calls then with the reply when it comes; nothing happens for a call that fails.
template <typename Reply, typename Then>
void WhenAnswered(const QDBusMessage& call, QObject* context, Then then) {
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [then](QDBusPendingCallWatcher* finished) {
                         const QDBusPendingReply<Reply> reply = *finished;
                         if (!reply.isError()) {
                             then(reply.value());
                         }
                         finished->deleteLater();
                     });
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

void DesktopNotifier::Notify(const QString& summary, const QString& body) {
    Send(summary, body, QString());
}

void DesktopNotifier::NotifyWithFile(const QString& summary, const QString& body,
                                     const QString& filePath) {
    if (!QDBusConnection::sessionBus().isConnected()) {
        return;
    }
    // Only now: a window that never notifies never opens the bus.
    if (!listening_) {
        listening_ = QDBusConnection::sessionBus().connect(
            Service, Path, Interface, "ActionInvoked", this, SLOT(OnActionInvoked(uint, QString)));
    }
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, "GetCapabilities");
    WhenAnswered<QStringList>(call, this, [this, summary, body, filePath](const QStringList& can) {
        Send(summary, body, can.contains("actions") ? filePath : QString());
    });
}

void DesktopNotifier::Send(const QString& summary, const QString& body, const QString& filePath) {
    if (!QDBusConnection::sessionBus().isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, "Notify");
    const QStringList actions =
        filePath.isEmpty() ? QStringList() : QStringList{ShowInFolderAction, "Show in folder"};
    // Application, no notification to replace, icon, summary, body, actions, hints, timeout.
    call << QString("Dartflux") << 0u << QString("dartflux") << summary << EscapedMarkup(body)
         << actions << QVariantMap() << -1;
    if (filePath.isEmpty()) {
        QDBusConnection::sessionBus().send(call);
        return;
    }
    WhenAnswered<uint>(call, this, [this, filePath](uint id) { filesById_.insert(id, filePath); });
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
    if (action == ShowInFolderAction && filesById_.contains(id)) {
        emit showInFolderChosen(filesById_.value(id));
    }
}

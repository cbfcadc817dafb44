#pragma once

#include <QHash>
#include <QObject>
#include <QString>

// Desktop notifications, sent to org.freedesktop.Notifications on the session bus without
// waiting for an answer. Where no session bus or no notification service runs, nothing happens.
class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    // Summary and body are plain text; the body is escaped, since services may read it as markup.
    void Notify(const QString& summary, const QString& body);
    // The same, with a "Show in folder" action for filePath where the service offers actions.
    void NotifyWithFile(const QString& summary, const QString& body, const QString& filePath);

signals:
    // The user chose "Show in folder" on the notification of filePath.
    void showInFolderChosen(const QString& filePath);

private slots:
    void OnActionInvoked(uint id, const QString& action);

private:
    void Send(const QString& summary, const QString& body, const QString& filePath);

    // The files of the notifications sent with the action, by the service's notification id.
    QHash<uint, QString> filesById_;
    bool listening_ = false;
};

#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One running program per list file. The first start holds a lock file beside the list (a lock
// left by a crashed instance is taken over) and listens on a local socket; a later start finds
// the lock taken, hands its message to the running instance and ends without touching the list.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& listPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and listens. False when another running instance holds the list.
    bool Acquire();

    // For a later start: hands the message to the running instance. False when none took it
    // within a few seconds.
    bool HandOver(const QByteArray& message);

signals:
    // A later start handed this over (empty: it only asks for the window).
    void messageReceived(const QByteArray& message);

private:
    void OnConnection();

    QString lockPath_;
    QString serverName_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;

// Where a start stands with its list.
enum class ListClaim {
    Owned,      // this process holds the list's lock
    HandedOver, // the instance that holds it took the message
    Unwritable, // the list's folder takes no lock: run without one, the list is not kept
    Unanswered, // a live instance holds it but does not answer
};

// One running program per list file. The first start holds a lock file beside the list and
// listens on a socket in the user's private runtime folder; a later start hands its message to
// the running instance and ends without touching the list. A lock whose owner cannot be shown
// alive on this host is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& listPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or hands the message to the instance that holds it (retrying for a few
    // seconds while it may still be starting). Needs an application object, not a display.
    ListClaim Claim(const QByteArray& message);

    // Once owned and the application runs: listens for later starts, and again whenever the
    // listening ends. Empty when it listens, else why it cannot.
    QString Listen();

signals:
    // A later start handed this over (empty: it only asks for the window).
    void messageReceived(const QByteArray& message);

private:
    bool HandOver(const QByteArray& message) const;
    bool LockIsStale() const;
    // Owned, Unwritable, or nothing when another start took the lock over first.
    std::optional<ListClaim> TakeOverStaleLock();
    bool StartListening();
    void OnConnection();
    void ReadMessage(QLocalSocket& socket);

    QString lockPath_;
    QString socketPath_; // empty without a private runtime folder
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    QTimer listenCheck_;
};

// The folder for this user's sockets: XDG_RUNTIME_DIR when set, else a folder of the user's own
// in the temporary folder, made when missing. Empty when it is not private: an absolute path of a
// real folder (not a link) owned by this user with mode 0700.
QString PrivateRuntimeFolder();

// Whether the process at the other end of a connected local socket runs as this user.
bool PeerIsThisUser(qintptr socketDescriptor);

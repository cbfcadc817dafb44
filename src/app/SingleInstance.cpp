#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <chrono>

namespace {

using namespace std::chrono_literals;

// A running instance may still be starting: a later one keeps trying this long.
constexpr auto HandOverLimit = 5s;
constexpr unsigned long RetryPauseMs = 50;
constexpr int SocketWaitMs = 1000;
constexpr char Acknowledgement = '\1';

// The socket's name, from the lock's path: one per list, the same for every start.
QString ServerName(const QString& lockPath) {
    return QStringLiteral("dartflux-") +
           QString::fromLatin1(
               QCryptographicHash::hash(lockPath.toUtf8(), QCryptographicHash::Sha256)
                   .toHex()
                   .left(24));
}

} // namespace

SingleInstance::SingleInstance(const QString& listPath, QObject* parent)
    : QObject(parent), lockPath_(listPath + QStringLiteral(".lock")),
      serverName_(ServerName(lockPath_)), lock_(std::make_unique<QLockFile>(lockPath_)) {
    // Only a lock whose process is gone is stale, however old it is.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
    if (!lock_->tryLock(0)) {
        return false;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(serverName_); // a crashed instance's socket
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    server_->listen(serverName_);
    return true;
}

bool SingleInstance::HandOver(const QByteArray& message) {
    const QDeadlineTimer deadline(HandOverLimit);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(SocketWaitMs)) {
            QDataStream stream(&socket);
            stream << message;
            while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(SocketWaitMs)) {
            }
            if (socket.waitForReadyRead(SocketWaitMs) &&
                socket.read(1) == QByteArray(1, Acknowledgement)) {
                return true;
            }
        }
        QThread::msleep(RetryPauseMs);
    }
    return false;
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream stream(socket);
            stream.startTransaction();
            QByteArray message;
            stream >> message;
            if (!stream.commitTransaction()) {
                return; // the rest is still on its way
            }
            socket->write(QByteArray(1, Acknowledgement));
            socket->flush();
            emit messageReceived(message);
        });
    }
}

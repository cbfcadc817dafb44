#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSysInfo>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A running instance may still be starting: a later one keeps trying this long.
constexpr auto HandOverLimit = 5s;
constexpr unsigned long RetryPauseMs = 50;
constexpr int SocketWaitMs = 1000;
constexpr char Acknowledgement = '\1';
// A message is its length (32 bits, big-endian), then its bytes.
constexpr qint64 HeaderSize = 4;
constexpr quint32 MessageLimit = 1024 * 1024;
// A connection that has not delivered its message by then is closed, as is any beyond the
// limit: neither can hold the receiver's descriptors.
constexpr auto ConnectionLimit = 3s;
constexpr qsizetype OpenConnectionLimit = 16;
constexpr auto ListenCheckInterval = 1s;
constexpr int TakeOverWaitMs = 1000;

// One socket per list, the same for every start.
QString SocketPath(const QString& lockPath) {
    const QString folder = PrivateRuntimeFolder();
    if (folder.isEmpty()) {
        return {};
    }
    return folder + QStringLiteral("/dartflux-") +
           QString::fromLatin1(
               QCryptographicHash::hash(lockPath.toUtf8(), QCryptographicHash::Sha256)
                   .toHex()
                   .left(24));
}

void Drop(QLocalSocket& socket) {
    socket.abort();
    socket.deleteLater();
}

} // namespace

QString PrivateRuntimeFolder() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) {
        folder = QDir::tempPath() + QStringLiteral("/dartflux-%1").arg(::getuid());
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0) {
            ::chmod(QFile::encodeName(folder).constData(), 0700); // whatever the umask
        }
    }
    struct stat status {};
    if (!folder.startsWith('/') || ::lstat(QFile::encodeName(folder).constData(), &status) != 0 ||
        !S_ISDIR(status.st_mode) || status.st_uid != ::getuid() ||
        (status.st_mode & 07777) != 0700) {
        return {};
    }
    return folder;
}

bool PeerIsThisUser(qintptr socketDescriptor) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::getuid();
}

SingleInstance::SingleInstance(const QString& listPath, QObject* parent)
    : QObject(parent), lockPath_(listPath + QStringLiteral(".lock")),
      socketPath_(SocketPath(lockPath_)), lock_(std::make_unique<QLockFile>(lockPath_)) {
    // Staleness is judged here, from the owner, never from the lock's age.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

ListClaim SingleInstance::Claim(const QByteArray& message) {
    // A second round for when another start took the same stale lock over first.
    for (int round = 0; round < 2; ++round) {
        if (lock_->tryLock(0)) {
            return ListClaim::Owned;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            return ListClaim::Unwritable;
        }
        if (HandOver(message)) {
            return ListClaim::HandedOver;
        }
        if (!LockIsStale()) {
            return ListClaim::Unanswered;
        }
        if (const std::optional<ListClaim> claim = TakeOverStaleLock()) {
            return *claim;
        }
    }
    return ListClaim::Unanswered;
}

bool SingleInstance::LockIsStale() const {
    qint64 pid = 0;
    QString host;
    // Empty, garbage, unreadable or a dangling link: nobody can be shown to hold it.
    if (!lock_->getLockInfo(&pid, &host, nullptr)) {
        return true;
    }
    if (!host.isEmpty() && host != QSysInfo::machineHostName()) {
        return true;
    }
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::optional<ListClaim> SingleInstance::TakeOverStaleLock() {
    // The guard QLockFile itself takes before it removes a stale lock: two starts never both
    // remove one, and the later finds the earlier one's lock.
    QLockFile guard(lockPath_ + QStringLiteral(".rmlock"));
    if (!guard.tryLock(TakeOverWaitMs)) {
        if (guard.error() != QLockFile::LockFailedError) {
            return ListClaim::Unwritable;
        }
        return std::nullopt;
    }
    if (!LockIsStale()) {
        return std::nullopt;
    }
    // QLockFile removes only a file that no live process holds its native lock on; a dangling
    // link or an unreadable file is held by nobody.
    const QFileInfo file(lockPath_);
    if (!lock_->removeStaleLockFile() && (file.isSymLink() || !file.isReadable())) {
        QFile::remove(lockPath_);
    }
    if (lock_->tryLock(0)) {
        return ListClaim::Owned;
    }
    if (lock_->error() != QLockFile::LockFailedError) {
        return ListClaim::Unwritable;
    }
    return std::nullopt;
}

bool SingleInstance::HandOver(const QByteArray& message) const {
    if (socketPath_.isEmpty()) {
        return false;
    }
    QByteArray frame(HeaderSize, '\0');
    qToBigEndian(static_cast<quint32>(message.size()), frame.data());
    frame += message;
    const QDeadlineTimer deadline(HandOverLimit);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        // Nothing goes to a socket of another user's.
        if (socket.waitForConnected(SocketWaitMs) && PeerIsThisUser(socket.socketDescriptor())) {
            socket.write(frame);
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

QString SingleInstance::Listen() {
    if (socketPath_.isEmpty()) {
        return QStringLiteral("the runtime folder is not this user's alone (a folder of the "
                              "user's with mode 0700)");
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    if (!StartListening()) {
        return server_->errorString();
    }
    // A failed accept (no descriptors left) closes the server and removes its socket, and says
    // so to nobody.
    connect(&listenCheck_, &QTimer::timeout, this, [this] {
        if (!server_->isListening() || !QFileInfo::exists(socketPath_)) {
            StartListening();
        }
    });
    listenCheck_.start(ListenCheckInterval);
    return {};
}

bool SingleInstance::StartListening() {
    server_->close();
    QLocalServer::removeServer(socketPath_); // a crashed instance's: the lock is ours
    return server_->listen(socketPath_);
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const qsizetype open =
            server_->findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly).size();
        if (open > OpenConnectionLimit || !PeerIsThisUser(socket->socketDescriptor())) {
            Drop(*socket);
            continue;
        }
        socket->setReadBufferSize(HeaderSize + MessageLimit);
        QTimer::singleShot(ConnectionLimit, socket, [socket] { Drop(*socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadMessage(*socket); });
    }
}

void SingleInstance::ReadMessage(QLocalSocket& socket) {
    if (socket.state() != QLocalSocket::ConnectedState || socket.bytesAvailable() < HeaderSize) {
        return;
    }
    const auto size = qFromBigEndian<quint32>(socket.peek(HeaderSize).constData());
    if (size > MessageLimit) {
        Drop(socket);
        return;
    }
    if (socket.bytesAvailable() < HeaderSize + size) {
        return; // the rest is still on its way
    }
    socket.skip(HeaderSize);
    const QByteArray message = socket.read(size);
    socket.write(QByteArray(1, Acknowledgement));
    socket.disconnectFromServer(); // once the acknowledgement is out
    emit messageReceived(message);
}

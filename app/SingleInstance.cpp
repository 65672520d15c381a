#include "app/SingleInstance.h"

#include "foundation/Paths.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
// Bumped if the request layout ever changes, so an old and a new copy never
// misread each other.
constexpr quint32 kHandOverMagic = 0x54564831; // "TVH1"
constexpr int kMaxPathChars = 64 * 1024;

QByteArray encode(const CHandOverRequest& request)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << kHandOverMagic << static_cast<qint32>(request.kind) << request.path << request.value;
    return bytes;
}
} // namespace

CInstanceLock::CInstanceLock(const QString& path) : m_path(path) {}

CInstanceLock::~CInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing drops the flock
}

QString CInstanceLock::DefaultPath()
{
    const QString folder = Paths::UserRuntimeFolder();
    // Never a relative path: the working folder may be anyone's.
    if (folder.isEmpty())
        return {};
    return QDir(folder).filePath(
        QStringLiteral("{7AA95431-3E28-40fd-B8E2-EC4DDA64F1AA}.Tervalapro.instance"));
}

QString CInstanceLock::ServerName() const
{
    return m_path.isEmpty() ? QString() : m_path + QStringLiteral(".socket");
}

bool CInstanceLock::Acquire()
{
    if (m_fd >= 0)
        return true;
    // No private folder to hold the lock: run as the only copy, without one.
    if (m_path.isEmpty())
        return true;
    // O_CLOEXEC: a program started from here (a remote-desktop client) must not
    // inherit the lock and keep it after this instance ends.
    const QByteArray native = QFile::encodeName(m_path);
    // O_NOFOLLOW and O_NONBLOCK: nothing planted under the name (a link, a
    // FIFO) may redirect or hold the open.
    const int fd =
        ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return errno != EACCES;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err != EWOULDBLOCK;
    }
    m_fd = fd;
    return true;
}

CInstanceServer::CInstanceServer(QObject* parent) : QObject(parent) {}

CInstanceServer::~CInstanceServer() = default;

bool CInstanceServer::Listen(const QString& name)
{
    if (name.isEmpty())
        return false;
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &CInstanceServer::onNewConnection);
    }
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

void CInstanceServer::SetReady()
{
    m_ready = true;
    const QList<CHandOverRequest> pending = std::exchange(m_pending, {});
    for (const CHandOverRequest& request : pending)
        deliver(request);
}

void CInstanceServer::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void CInstanceServer::onReadyRead(QLocalSocket* socket)
{
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_4);
    for (;;) {
        in.startTransaction();
        quint32 magic = 0;
        qint32 kind = 0;
        CHandOverRequest request;
        in >> magic >> kind >> request.path >> request.value;
        if (!in.commitTransaction())
            return; // wait for the rest
        const bool known = kind >= static_cast<qint32>(CHandOverRequest::Kind::Show) &&
                           kind <= static_cast<qint32>(CHandOverRequest::Kind::LspNotify);
        if (magic != kHandOverMagic || !known || request.path.size() > kMaxPathChars) {
            // Not one of ours: drop the connection rather than guess.
            socket->abort();
            return;
        }
        request.kind = static_cast<CHandOverRequest::Kind>(kind);
        if (m_ready) {
            // Delivered from the event loop, not from inside this handler: an
            // open request runs a modal wizard, and the socket may be gone
            // (and deleted) by the time it returns.
            QMetaObject::invokeMethod(
                this, [this, request] { deliver(request); }, Qt::QueuedConnection);
        } else {
            m_pending.append(request);
        }
    }
}

void CInstanceServer::deliver(const CHandOverRequest& request)
{
    switch (request.kind) {
    case CHandOverRequest::Kind::Show:
        emit showRequested();
        break;
    case CHandOverRequest::Kind::Open:
        emit openRequested(request.path);
        break;
    case CHandOverRequest::Kind::LspNotify:
        emit lspNotifyRequested(request.value);
        break;
    }
}

bool CInstanceClient::Send(const QString& serverName, const QList<CHandOverRequest>& requests,
                           int timeoutMs)
{
    if (serverName.isEmpty())
        return false;
    QByteArray bytes;
    for (const CHandOverRequest& request : requests)
        bytes += encode(request);

    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(serverName);
        if (socket.waitForConnected(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
            socket.write(bytes);
            while (socket.bytesToWrite() > 0) {
                if (!socket.waitForBytesWritten(
                        static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
                    return false;
            }
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(200);
            return true;
        }
        // The running instance takes the lock before it listens; give it time.
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

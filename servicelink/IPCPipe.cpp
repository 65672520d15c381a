#include "servicelink/IPCPipe.h"

#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "resources/StringTable.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr quint32 kConnectFailed = 10005;
constexpr quint32 kReadWriteFailed = 10006;
constexpr quint32 kUntrustedPeer = 10205;
constexpr int kBusyRetryMs = 100;

// One non-blocking connect; returns 0 with fd set, or the errno.
int tryConnect(const QByteArray& path, int& fd)
{
    fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return errno;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return 0;
    const int err = errno;
    ::close(fd);
    fd = -1;
    return err;
}
} // namespace

CIPCPipe::CIPCPipe() : m_buffer(new char[kReceiveBufferSize]) {}

CIPCPipe::~CIPCPipe()
{
    ClosePipe();
}

QString CIPCPipe::SocketPath()
{
    return Paths::RuntimeEntry(QStringLiteral("{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC"));
}

void CIPCPipe::SetError(int err, quint32 stringId)
{
    FormatErrorText(ErrorCode::System(err), m_errorText, stringId);
}

bool CIPCPipe::ConnectToServer(int readEvent, bool waitWhileBusy)
{
    m_role = Client;
    ClosePipe();
    m_readEvent = readEvent;

    const QByteArray path = QFile::encodeName(SocketPath());
    if (path.size() >= static_cast<qsizetype>(sizeof(sockaddr_un{}.sun_path))) {
        SetError(ENAMETOOLONG, kConnectFailed);
        return false;
    }

    int fd = -1;
    int err = tryConnect(path, fd);
    // A full backlog means the service is there but busy: keep knocking for
    // up to the busy wait, once per attempt.
    for (int attempt = 1; waitWhileBusy && err == EAGAIN && attempt <= kConnectAttempts;
         ++attempt) {
        QElapsedTimer waited;
        waited.start();
        while (err == EAGAIN && waited.elapsed() < m_busyWaitMs) {
            const qint64 left = m_busyWaitMs - waited.elapsed();
            std::this_thread::sleep_for(
                std::chrono::milliseconds(qMin<qint64>(kBusyRetryMs, left)));
            err = tryConnect(path, fd);
        }
    }
    if (err != 0) {
        // ENOENT / ECONNREFUSED: no service; EAGAIN after every attempt: the
        // service stayed busy.
        SetError(err, kConnectFailed);
        return false;
    }

    // While no service listens anyone may put a socket at the path (or a
    // runtime folder may be writable): whoever answers must be root or this
    // user before a single message, password included, goes to it.
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0) {
        err = errno;
        ::close(fd);
        SetError(err, kConnectFailed);
        return false;
    }
    if (!IsTrustedPeer(peer.uid, ::geteuid())) {
        ::close(fd);
        m_errorText = LoadString(kConnectFailed) + QStringLiteral(". Reason: ") +
                      LoadString(kUntrustedPeer).arg(peer.uid);
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::TraceF("IPC_ERROR service socket served by uid %u (pid %d); refused",
                              static_cast<unsigned>(peer.uid), static_cast<int>(peer.pid));
        return false;
    }

    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.fd = fd;
    if (m_readEvent >= 0 && ::epoll_ctl(m_readEvent, EPOLL_CTL_ADD, fd, &ev) < 0) {
        err = errno;
        ::close(fd);
        SetError(err, kConnectFailed);
        return false;
    }
    m_fd = fd;
    m_state = Connected;
    return true;
}

bool CIPCPipe::Arm()
{
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.fd = m_fd;
    return ::epoll_ctl(m_readEvent, EPOLL_CTL_MOD, m_fd, &ev) == 0;
}

bool CIPCPipe::PostRead()
{
    if (m_fd < 0) {
        m_state = Broken;
        SetError(ENOTCONN, kReadWriteFailed);
        return false;
    }
    if (!Arm()) {
        m_state = Broken;
        SetError(errno, kReadWriteFailed);
        return false;
    }
    m_state = Reading;
    return true;
}

bool CIPCPipe::GetReadResult(const char*& data, quint32& count)
{
    data = nullptr;
    count = 0;
    if ((m_state != Reading && m_state != Connected) || m_fd < 0)
        return false;

    // Take the readiness that woke the notifier (one-shot: it stays disarmed
    // until the next PostRead).
    epoll_event ev{};
    ::epoll_wait(m_readEvent, &ev, 1, 0);

    ssize_t n;
    do {
        n = ::recv(m_fd, m_buffer.get(), kReceiveBufferSize, MSG_DONTWAIT | MSG_TRUNC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Nothing yet: the read stays posted.
            if (m_state == Reading && !Arm()) {
                m_state = Broken;
                SetError(errno, kReadWriteFailed);
                return false;
            }
            return true;
        }
        m_state = Broken;
        SetError(errno, kReadWriteFailed);
        return false;
    }
    if (n == 0) {
        // Every message carries at least its terminator: zero bytes is the
        // service closing the connection.
        m_state = Broken;
        SetError(ECONNRESET, kReadWriteFailed);
        return false;
    }
    if (n > kReceiveBufferSize) {
        m_state = Broken;
        SetError(EMSGSIZE, kReadWriteFailed);
        return false;
    }
    data = m_buffer.get();
    count = static_cast<quint32>(n);
    return true;
}

bool CIPCPipe::WriteMessage(const void* data, quint32 count)
{
    if ((m_state != Reading && m_state != Connected) || m_fd < 0)
        return false;
    // The socket is non-blocking (SO_SNDTIMEO would not apply to it): the
    // wait for room is a poll against one deadline for the whole message.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const ssize_t n = ::send(m_fd, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(count))
            return true;
        if (n >= 0) {
            m_state = Broken;
            SetError(EIO, kReadWriteFailed);
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // The service has not taken earlier messages yet: wait for room,
            // but a service that stopped reading counts as gone.
            const qint64 left = m_writeTimeoutMs - waited.elapsed();
            pollfd p = {m_fd, POLLOUT, 0};
            const int r = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
            if (r == 0) {
                m_state = Broken;
                SetError(ETIMEDOUT, kReadWriteFailed);
                return false;
            }
            if (r < 0 && errno != EINTR) {
                m_state = Broken;
                SetError(errno, kReadWriteFailed);
                return false;
            }
            continue;
        }
        m_state = Broken;
        SetError(errno, kReadWriteFailed);
        return false;
    }
}

void CIPCPipe::ClosePipe()
{
    if (m_fd < 0)
        return;
    if (m_readEvent >= 0)
        ::epoll_ctl(m_readEvent, EPOLL_CTL_DEL, m_fd, nullptr);
    ::close(m_fd);
    m_fd = -1;
    m_state = Broken;
}

#include "standin/StandinService.h"

#include "foundation/Base64.h"
#include "foundation/Paths.h"
#include "foundation/XmlSerializer.h"

#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

struct StandinService::Client
{
    int fd = -1;
    ClientIdentity identity;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    std::deque<QByteArray> outbox;
    ~Client()
    {
        readNotifier.reset();
        writeNotifier.reset();
        if (fd >= 0)
            ::close(fd);
    }
};

// Encodes commands for one client with the program's own encoder.
class StandinService::Sender : public IRPCProxyStub
{
public:
    Sender(StandinService* service, int clientId) : m_service(service), m_clientId(clientId) {}
    int SendCommand(const CXmlSerializer& document) override
    {
        m_service->sendWire(m_clientId, EncodeMessage(document.GetXml()));
        return 0;
    }

private:
    StandinService* m_service;
    int m_clientId;
};

// What the service does with each command a client sends.
class StandinService::Receiver : public IRPCExecute
{
public:
    Receiver(StandinService* service, int clientId) : m_service(service), m_clientId(clientId) {}

    int CreateInvitation(const QString& nickname, const QString& password,
                         const QString& sessionName, const QString& sessionTypeText, quint64 expiry,
                         const QString& invitationPath, const QByteArray& appData) override
    {
        CreateRequest request;
        request.nickname = nickname;
        request.password = password;
        request.sessionName = sessionName;
        request.sessionType = sessionTypeText;
        request.path = invitationPath;
        request.appData = appData;
        request.expiry = expiry;
        uchar bytes[8];
        qToLittleEndian(expiry, bytes);
        request.expiryText =
            CBase64::EncodeToString(QByteArray(reinterpret_cast<const char*>(bytes), 8));
        request.client = m_service->identityOf(m_clientId);
        m_service->log(
            QStringLiteral("client %1: CREATE_INVITATION nickname \"%2\" path \"%3\" "
                           "expiry %4 (%5) session type %6 characters, %7 data bytes")
                .arg(m_clientId)
                .arg(nickname, invitationPath, request.expiryText)
                .arg(expiry)
                .arg(sessionTypeText.size())
                .arg(appData.isNull() ? QStringLiteral("no") : QString::number(appData.size())));
        m_service->answerCreate(m_clientId, request);
        return 0;
    }
    int JoinInvitation(const QString& nickname, const QString& invitationPath,
                       const QString& password) override
    {
        m_service->log(QStringLiteral("client %1: JOIN_INVITATION nickname \"%2\" path \"%3\"")
                           .arg(m_clientId)
                           .arg(nickname, invitationPath));
        m_service->answerJoin(m_clientId, JoinRequest{nickname, invitationPath, password,
                                                      m_service->identityOf(m_clientId)});
        return 0;
    }
    int PostLSPNotify(long value) override
    {
        m_service->log(QStringLiteral("client %1: LSP_NOTIFY %2").arg(m_clientId).arg(value));
        return 0;
    }
    int PostUINotify() override
    {
        m_service->log(QStringLiteral("client %1: UI_NOTIFY").arg(m_clientId));
        return 0;
    }
    void CloseServerSession(const QString& sessionName) override
    {
        m_service->log(QStringLiteral("client %1: CLOSE_SERVER_SESSION \"%2\"")
                           .arg(m_clientId)
                           .arg(sessionName));
        emit m_service->closeSessionRequested(sessionName);
    }
    // Commands only the service sends: a client that sends them is confused.
    int PostP2PStatusChange(long) override { return ignored(P2P_STATUS_CHANGE); }
    int PostCreateInvitationStatus(const QString&, long, const QString&) override
    {
        return ignored(CREATE_INVITATION_STATUS);
    }
    int PostJoinInvitationStatus(long, const QString&, const QString&, const QString&) override
    {
        return ignored(JOIN_INVITATION_STATUS);
    }
    int PostInvitationAppData(const QByteArray&) override { return ignored(INVITATION_APP_DATA); }

private:
    int ignored(long command)
    {
        m_service->log(QStringLiteral("client %1: command %2 is sent by the service only; ignored")
                           .arg(m_clientId)
                           .arg(command));
        return 0;
    }
    StandinService* m_service;
    int m_clientId;
};

namespace {
bool fillAddress(const QString& path, sockaddr_un& addr)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return false;
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, name.constData(), static_cast<size_t>(name.size()));
    return true;
}

QString systemText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

StandinService::StandinService(QObject* parent) : QObject(parent) {}

StandinService::~StandinService()
{
    stop();
    m_retired.clear();
}

QString StandinService::socketPath()
{
    return Paths::RuntimeEntry(QStringLiteral("{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC"));
}

QString StandinService::logPath()
{
    return Paths::LogFolder() + QStringLiteral("servicelog.txt");
}

bool StandinService::claimRuntimeFolder(QString* error)
{
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!Paths::MakePath(Paths::RuntimeFolder()))
        return fail(
            QStringLiteral("cannot create the runtime folder %1").arg(Paths::RuntimeFolder()));
    const QString lockPath = Paths::RuntimeEntry(QStringLiteral("tervala-standin.lock"));
    // Kept open (and locked) until the process ends; the kernel lets go of
    // it when this process dies, however it dies.
    static int held = -1;
    if (held < 0) {
        const int fd = ::open(QFile::encodeName(lockPath).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        struct stat info;
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                ::close(fd);
                return fail(QStringLiteral("another stand-in already runs on %1")
                                .arg(Paths::RuntimeFolder()));
            }
            held = fd;
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    // Any service, not only a stand-in, that answers on the socket.
    sockaddr_un addr;
    if (!fillAddress(socketPath(), addr))
        return fail(QStringLiteral("socket path too long: %1").arg(socketPath()));
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe >= 0) {
        const int r = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const int err = errno;
        ::close(probe);
        if (r == 0 || err == EAGAIN || err == EINPROGRESS)
            return fail(QStringLiteral("another service already listens on %1").arg(socketPath()));
    }
    return true;
}

bool StandinService::start(QString* error)
{
    if (!startListener(error))
        return false;
    log(QStringLiteral("service started, listening on %1").arg(socketPath()));
    return true;
}

void StandinService::stop()
{
    if (isListening())
        stopListener();
    dropClients();
}

bool StandinService::startListener(QString* error)
{
    if (isListening())
        return true;
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        log(text);
        return false;
    };
    if (!Paths::MakePath(Paths::RuntimeFolder()))
        return fail(
            QStringLiteral("cannot create the runtime folder %1").arg(Paths::RuntimeFolder()));
    sockaddr_un addr;
    if (!fillAddress(socketPath(), addr))
        return fail(QStringLiteral("socket path too long: %1").arg(socketPath()));

    // An entry left by a dead service is removed; a live one is not ours.
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        const int r = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const int err = errno;
        ::close(probe);
        if (r == 0 || err == EAGAIN)
            return fail(QStringLiteral("another service already listens on %1").arg(socketPath()));
        if (err == ECONNREFUSED)
            ::unlink(addr.sun_path);
    }

    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(QStringLiteral("socket: %1").arg(systemText(errno)));
    // Every user's program may connect, like the pipe open to everyone.
    const mode_t old = ::umask(0);
    const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int bindErr = errno;
    ::umask(old);
    if (bound < 0 || ::listen(fd, SOMAXCONN) < 0) {
        const int err = bound < 0 ? bindErr : errno;
        ::close(fd);
        return fail(QStringLiteral("cannot listen on %1: %2").arg(socketPath(), systemText(err)));
    }
    m_listenFd = fd;
    m_acceptNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &StandinService::onAccept);
    return true;
}

void StandinService::stopListener()
{
    if (!isListening())
        return;
    delete m_acceptNotifier;
    m_acceptNotifier = nullptr;
    ::close(m_listenFd);
    m_listenFd = -1;
    QFile::remove(socketPath());
    log(QStringLiteral("listener stopped"));
}

void StandinService::dropClients()
{
    std::vector<int> ids;
    for (const auto& entry : m_clients)
        ids.push_back(entry.first);
    for (int id : ids)
        removeClient(id, QStringLiteral("dropped by the service"));
}

void StandinService::onAccept()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                log(QStringLiteral("accept failed: %1").arg(systemText(errno)));
            return;
        }
        const int id = m_nextClientId++;
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->identity = ClientIdentity::OfPeer(fd);
        client->readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(client->readNotifier.get(), &QSocketNotifier::activated, this,
                [this, id] { onReadable(id); });
        client->writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        client->writeNotifier->setEnabled(false);
        connect(client->writeNotifier.get(), &QSocketNotifier::activated, this,
                [this, id] { onWritable(id); });
        const ClientIdentity& identity = client->identity;
        const QString who =
            identity.known ? QString::number(identity.uid) : QStringLiteral("unknown");
        m_clients[id] = std::move(client);
        log(QStringLiteral("client %1 connected (uid %2)").arg(id).arg(who));
        emit clientConnected(id);
        Sender(this, id).PostP2PStatusChange(m_status);
    }
}

void StandinService::onReadable(int clientId)
{
    static thread_local char buffer[kMessageCapacity];
    // Read what is there now; a quiet socket waits for the next activation.
    for (int i = 0; i < 64; ++i) {
        auto it = m_clients.find(clientId);
        if (it == m_clients.end())
            return;
        const ssize_t n = ::recv(it->second->fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                removeClient(clientId, QStringLiteral("read failed: %1").arg(systemText(errno)));
            return;
        }
        if (n == 0) {
            removeClient(clientId, QStringLiteral("disconnected"));
            return;
        }
        if (n > kMessageCapacity) {
            log(QStringLiteral("client %1: message of %2 bytes is larger than %3 bytes; ignored")
                    .arg(clientId)
                    .arg(n)
                    .arg(kMessageCapacity));
            continue;
        }
        handleMessage(clientId, buffer, n);
    }
}

void StandinService::handleMessage(int clientId, const char* data, qsizetype size)
{
    const QString text = DecodeMessage(data, size);
    // The dispatcher reads anything unparsable as command 0; the service
    // must not act on such a message, so it checks the shape first.
    CXmlSerializer xml;
    long command = -1;
    bool shaped =
        xml.LoadXml(text, QStringLiteral("TervalaIPC")) && xml.NextChild(QStringLiteral("command"));
    if (shaped) {
        QString number;
        shaped = xml.GetAttribute(QStringLiteral("command"), number);
        bool ok = false;
        command = number.trimmed().toLong(&ok);
        shaped = shaped && ok;
    }
    if (!shaped) {
        log(QStringLiteral("client %1: malformed message ignored: %2")
                .arg(clientId)
                .arg(text.left(120)));
        return;
    }
    if (command < CREATE_INVITATION || command > CLOSE_SERVER_SESSION) {
        log(QStringLiteral("client %1: unknown command %2 ignored").arg(clientId).arg(command));
        return;
    }
    Receiver receiver(this, clientId);
    ExecuteCommand(&receiver, text);
    emit commandReceived(clientId, command);
}

bool StandinService::sendWire(int clientId, const QByteArray& wire)
{
    auto it = m_clients.find(clientId);
    if (it == m_clients.end())
        return false;
    Client& client = *it->second;
    if (!client.outbox.empty()) {
        if (client.outbox.size() >= kMaxQueuedMessages) {
            removeClient(clientId, QStringLiteral("does not read its messages"));
            return false;
        }
        client.outbox.push_back(wire);
        return true;
    }
    for (;;) {
        const ssize_t n = ::send(client.fd, wire.constData(), static_cast<size_t>(wire.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            client.outbox.push_back(wire);
            client.writeNotifier->setEnabled(true);
            return true;
        }
        if (errno == EMSGSIZE) {
            log(QStringLiteral("client %1: message of %2 bytes too large for the socket; not sent")
                    .arg(clientId)
                    .arg(wire.size()));
            return false;
        }
        removeClient(clientId, QStringLiteral("send failed: %1").arg(systemText(errno)));
        return false;
    }
}

void StandinService::onWritable(int clientId)
{
    auto it = m_clients.find(clientId);
    if (it == m_clients.end())
        return;
    Client& client = *it->second;
    while (!client.outbox.empty()) {
        const QByteArray& wire = client.outbox.front();
        const ssize_t n = ::send(client.fd, wire.constData(), static_cast<size_t>(wire.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            removeClient(clientId, QStringLiteral("send failed: %1").arg(systemText(errno)));
            return;
        }
        client.outbox.pop_front();
    }
    client.writeNotifier->setEnabled(false);
}

void StandinService::removeClient(int clientId, const QString& reason)
{
    auto it = m_clients.find(clientId);
    if (it == m_clients.end())
        return;
    // Destroyed later: this may run inside one of the client's own notifiers.
    Client* client = it->second.get();
    m_retired.push_back(std::move(it->second));
    m_clients.erase(it);
    client->readNotifier->setEnabled(false);
    client->writeNotifier->setEnabled(false);
    ::shutdown(client->fd, SHUT_RDWR);
    if (m_retired.size() == 1)
        QTimer::singleShot(0, this, [this] { m_retired.clear(); });
    log(QStringLiteral("client %1 %2").arg(clientId).arg(reason));
    emit clientDisconnected(clientId);
}

int StandinService::setStatus(long status)
{
    m_status = status;
    int sent = 0;
    std::vector<int> ids;
    for (const auto& entry : m_clients)
        ids.push_back(entry.first);
    for (int id : ids) {
        Sender(this, id).PostP2PStatusChange(status);
        ++sent;
    }
    log(QStringLiteral("P2P_STATUS_CHANGE %1 sent to %2 clients").arg(status).arg(sent));
    return sent;
}

int StandinService::broadcastCommand(long command, const QStringList& parameters)
{
    CXmlSerializer xml;
    xml.CreateDocument(QStringLiteral("TervalaIPC"));
    xml.AddChild(QStringLiteral("command"));
    xml.SetAttributeLong(QStringLiteral("command"), command);
    xml.EndChild();
    for (const QString& value : parameters) {
        xml.AddChild(QStringLiteral("parameters"));
        xml.SetAttribute(QStringLiteral("parameters"), value);
        xml.EndChild();
    }
    const int sent = broadcastWire(EncodeMessage(xml.GetXml()));
    log(QStringLiteral("command %1 with %2 parameters sent to %3 clients")
            .arg(command)
            .arg(parameters.size())
            .arg(sent));
    return sent;
}

int StandinService::broadcastText(const QString& text)
{
    return broadcastWire(EncodeMessage(text));
}

int StandinService::broadcastWire(const QByteArray& wire)
{
    std::vector<int> ids;
    for (const auto& entry : m_clients)
        ids.push_back(entry.first);
    int sent = 0;
    for (int id : ids)
        sent += sendWire(id, wire) ? 1 : 0;
    return sent;
}

ClientIdentity StandinService::identityOf(int clientId) const
{
    const auto it = m_clients.find(clientId);
    return it == m_clients.end() ? ClientIdentity() : it->second->identity;
}

int StandinService::takeDelay()
{
    const int delay = m_nextDelayMs;
    m_nextDelayMs = 0;
    return delay;
}

void StandinService::answerCreate(int clientId, const CreateRequest& request)
{
    CreateResult result;
    if (m_nextCreate) {
        result = *m_nextCreate;
        m_nextCreate.reset();
    } else if (createHandler) {
        result = createHandler(request);
    }
    if (result.ok && result.sessionName.isEmpty())
        result.sessionName = QStringLiteral("StandIn-%1-%2").arg(request.nickname).arg(++m_creates);
    auto answer = [this, clientId, request, result] {
        if (result.ok)
            emit created(request, result);
        const QString first =
            result.displayText.isEmpty() ? result.sessionName : result.displayText;
        Sender(this, clientId)
            .PostCreateInvitationStatus(first, result.ok ? 1 : 0, result.errorText);
        log(QStringLiteral("client %1: CREATE_INVITATION_STATUS %2 %3")
                .arg(clientId)
                .arg(result.ok ? 1 : 0)
                .arg(result.ok ? result.sessionName : result.errorText));
    };
    deliver(answer);
}

// Runs an answer now, or after the delay the control channel set for it.
void StandinService::deliver(const std::function<void()>& answer)
{
    const int delay = takeDelay();
    if (delay > 0)
        QTimer::singleShot(delay, this, answer);
    else
        answer();
}

void StandinService::answerJoin(int clientId, const JoinRequest& request)
{
    JoinResult result;
    if (m_nextJoin) {
        result = *m_nextJoin;
        m_nextJoin.reset();
    } else if (joinHandler) {
        result = joinHandler(request);
    } else {
        result.sessionName = QStringLiteral("StandIn-Joined-%1").arg(++m_joins);
        result.inviterAddress = QStringLiteral("127.0.0.1");
    }
    auto answer = [this, clientId, request, result] {
        Sender sender(this, clientId);
        if (result.ok) {
            emit joined(request, result);
            // The program keeps the data for the status that follows it.
            if (!result.appData.isEmpty())
                sender.PostInvitationAppData(result.appData);
            sender.PostJoinInvitationStatus(1, QString(), result.sessionName,
                                            result.inviterAddress);
        } else {
            sender.PostJoinInvitationStatus(0, result.errorText, QString(), QString());
        }
        log(QStringLiteral("client %1: JOIN_INVITATION_STATUS %2 %3")
                .arg(clientId)
                .arg(result.ok ? 1 : 0)
                .arg(result.ok ? result.sessionName : result.errorText));
    };
    deliver(answer);
}

void StandinService::log(const QString& text)
{
    if (!m_logTried) {
        m_logTried = true;
        Paths::MakePath(Paths::LogFolder());
        // Readable by everyone: the support form of any user sends its tail.
        const CSharedLogFile::Refusal refusal = m_log.Open(logPath(), 0644);
        if (refusal != CSharedLogFile::Refusal::None)
            std::fprintf(
                stderr, "tervala-standin: no service log: %s\n",
                qPrintable(CSharedLogFile::RefusalText(refusal, logPath(), m_log.OpenError())));
    }
    const QString line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz ")) + text +
        QStringLiteral("\r\n");
    const QByteArray encoded = EncodeMessage(line);
    m_log.Append(encoded.constData(), std::size_t(encoded.size() - 2)); // without the terminator
}

QStringList StandinService::logTail(int lines) const
{
    // Whatever was planted in the log's place is not read back either.
    const int fd = ::open(QFile::encodeName(logPath()).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat info;
    if (fd < 0)
        return {};
    QFile file;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xFF\xFE"))
        bytes.remove(0, 2);
    QStringList all = DecodeMessage(bytes.constData(), bytes.size())
                          .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    return all.mid(qMax<qsizetype>(0, all.size() - lines));
}

#include "standin/SessionPublisher.h"

#include "foundation/Paths.h"
#include "standin/ControlChannel.h"
#include "standin/StandinService.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString sectionPath()
{
    return SharedNames::EntryPath(SharedNames::SectionName());
}

QString systemError(const QString& what, int error)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(error)));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

bool writeAll(int fd, const QByteArray& bytes, off_t offset)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, std::size_t(bytes.size() - done),
                                   offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
} // namespace

SessionPublisher::SessionPublisher(QObject* parent) : QObject(parent) {}

SessionPublisher::~SessionPublisher()
{
    while (m_heldLocks > 0) {
        m_lock.Unlock();
        --m_heldLocks;
    }
    if (m_fileIsOurs || QFile::exists(sectionPath())) {
        CNamedLockGuard guard(m_lock);
        QFile::remove(sectionPath());
    }
    if (m_eventFd >= 0)
        ::close(m_eventFd);
}

bool SessionPublisher::start(QString* error)
{
    if (!Paths::MakePath(Paths::RuntimeFolder())) {
        setError(error, QStringLiteral("cannot create %1").arg(Paths::RuntimeFolder()));
        return false;
    }
    if (!m_lock.Open(SharedNames::EntryPath(SharedNames::SectionLockName()))) {
        setError(error, systemError(QStringLiteral("section lock"), errno));
        return false;
    }
    const QByteArray eventPath =
        QFile::encodeName(SharedNames::EntryPath(SharedNames::PeerNotifyName()));
    m_eventFd = ::open(eventPath.constData(), O_WRONLY | O_CLOEXEC);
    if (m_eventFd < 0 && errno == ENOENT) {
        m_eventFd = ::open(eventPath.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        // Every user's program opens the event; the umask must not stop them.
        if (m_eventFd >= 0)
            ::fchmod(m_eventFd, 0666);
    }
    if (m_eventFd < 0) {
        setError(error, systemError(QStringLiteral("peer-change event"), errno));
        return false;
    }
    return publish(error);
}

void SessionPublisher::attach(StandinService& service)
{
    connect(&service, &StandinService::created, this, &SessionPublisher::onCreated);
    connect(&service, &StandinService::joined, this, &SessionPublisher::onJoined);
    connect(&service, &StandinService::closeSessionRequested, this,
            &SessionPublisher::onCloseRequested);
}

PeerRecord SessionPublisher::makePeer(const QString& name, const QString& secondText, quint32 index)
{
    PeerRecord peer;
    peer.SetFlag(index == 0 ? 1 : index);
    // A made-up peer identifier and virtual address, so the opaque fields
    // carry something recognisable when a test dumps a record.
    qToLittleEndian<quint32>(0x54564C00u | (index & 0xFF), peer.bytes.data() + 4);
    const quint32 address = (10u << 24) | (77u << 16) | (index & 0xFFFF);
    qToBigEndian<quint32>(address, peer.bytes.data() + 542);
    peer.SetPeerName(name);
    peer.SetSecondText(secondText);
    return peer;
}

TunnelRecord SessionPublisher::makeTunnel(quint32 port, quint32 protocol,
                                          const QString& application)
{
    TunnelRecord tunnel;
    qToLittleEndian<quint32>(port, tunnel.bytes.data());
    qToLittleEndian<quint32>(protocol, tunnel.bytes.data() + 4);
    EncodeTextField(application, tunnel.bytes.data() + 16);
    return tunnel;
}

bool SessionPublisher::addNetwork(const QString& name, const QString& display, QString* error)
{
    if (name.isEmpty()) {
        setError(error, QStringLiteral("a network needs a name"));
        return false;
    }
    CTVLSession* session = m_model.FindSession(name);
    if (!session)
        session = m_model.GetOrCreateSession(name);
    session->SetDisplayText(display.isEmpty() ? name : display);
    return publish(error);
}

bool SessionPublisher::removeNetwork(const QString& name, QString* error)
{
    if (!m_model.RemoveSession(name)) {
        setError(error, QStringLiteral("no network %1").arg(name));
        return false;
    }
    return publish(error);
}

bool SessionPublisher::addPeer(const QString& session, const QString& name,
                               const QString& secondText, QString* error)
{
    CTVLSession* target = m_model.FindSession(session);
    if (!target) {
        setError(error, QStringLiteral("no network %1").arg(session));
        return false;
    }
    // A peer that connects again replaces its old record.
    target->Peers().RemoveByName(name);
    target->Peers().Append(makePeer(name, secondText, m_nextPeerIndex++));
    return publish(error);
}

bool SessionPublisher::removePeer(const QString& session, const QString& name, QString* error)
{
    CTVLSession* target = m_model.FindSession(session);
    if (!target) {
        setError(error, QStringLiteral("no network %1").arg(session));
        return false;
    }
    if (!target->Peers().RemoveByName(name)) {
        setError(error, QStringLiteral("no peer %1 in %2").arg(name, session));
        return false;
    }
    return publish(error);
}

bool SessionPublisher::addTunnel(const QString& session, quint32 port, const QString& protocol,
                                 const QString& application, QString* error)
{
    CTVLSession* target = m_model.FindSession(session);
    if (!target) {
        setError(error, QStringLiteral("no network %1").arg(session));
        return false;
    }
    quint32 number = 0;
    if (protocol.compare(QLatin1String("tcp"), Qt::CaseInsensitive) == 0)
        number = 6;
    else if (protocol.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0)
        number = 17;
    else {
        setError(error, QStringLiteral("protocol is tcp or udp"));
        return false;
    }
    target->Tunnels().Append(makeTunnel(port, number, application));
    return publish(error);
}

bool SessionPublisher::clearTunnels(const QString& session, QString* error)
{
    CTVLSession* target = m_model.FindSession(session);
    if (!target) {
        setError(error, QStringLiteral("no network %1").arg(session));
        return false;
    }
    target->Tunnels().Clear();
    return publish(error);
}

bool SessionPublisher::writeRaw(const QString& file, QString* error)
{
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("%1: %2").arg(file, source.errorString()));
        return false;
    }
    const QByteArray bytes = source.readAll();
    {
        CNamedLockGuard guard(m_lock);
        if (!replaceSectionFile(bytes, error))
            return false;
    }
    m_fileIsOurs = false;
    return signal(error);
}

bool SessionPublisher::holdLock(int ms, QString* error)
{
    if (ms < 0) {
        setError(error, QStringLiteral("usage: hold-lock <ms>"));
        return false;
    }
    if (!m_lock.Lock()) {
        setError(error, QStringLiteral("the section lock cannot be taken"));
        return false;
    }
    ++m_heldLocks;
    QTimer::singleShot(ms, this, [this, generation = m_holdGeneration] {
        // A release-lock in between already let go of this hold.
        if (generation == m_holdGeneration && m_heldLocks > 0) {
            --m_heldLocks;
            m_lock.Unlock();
        }
    });
    return true;
}

int SessionPublisher::releaseLocks()
{
    const int released = m_heldLocks;
    for (; m_heldLocks > 0; --m_heldLocks)
        m_lock.Unlock();
    ++m_holdGeneration;
    return released;
}

bool SessionPublisher::signal(QString* error)
{
    if (m_eventFd < 0) {
        setError(error, QStringLiteral("the peer-change event is not open"));
        return false;
    }
    for (;;) {
        if (::pwrite(m_eventFd, "1", 1, 0) == 1)
            break;
        if (errno != EINTR) {
            setError(error, systemError(QStringLiteral("peer-change event"), errno));
            return false;
        }
    }
    ++m_signals;
    return true;
}

QString SessionPublisher::describe() const
{
    // Rebuilt through the reading side's view of our own model.
    CSharedSection image(CSharedSection::WriteTag{}, quint32(m_model.RequiredPayloadBytes()));
    m_model.WriteSessions(image);
    QStringList lines;
    const QByteArray bytes = image.Image();
    const char* payload = bytes.constData() + SectionLayout::kUsedLengthBytes;
    const quint64 used = image.UsedLength();
    quint64 at = 0;
    while (at + 2 * SectionLayout::kTextFieldBytes + 20 <= used) {
        const QString name = DecodeTextField(payload + at);
        const QString display = DecodeTextField(payload + at + SectionLayout::kTextFieldBytes);
        const qint32 peers = qFromLittleEndian<qint32>(payload + at + 1040);
        at += 1060;
        QStringList names;
        for (qint32 i = 0; i < peers && at + SectionLayout::kPeerRecordBytes <= used; ++i) {
            names << DecodeTextField(payload + at + SectionLayout::kPeerNameOffset);
            at += SectionLayout::kPeerRecordBytes;
        }
        const qint32 tunnels = qFromLittleEndian<qint32>(payload + at);
        at += 4 + quint64(qMax(tunnels, 0)) * SectionLayout::kTunnelRecordBytes;
        lines << QStringLiteral("%1 \"%2\" peers=[%3] tunnels=%4")
                     .arg(name, display, names.join(u','))
                     .arg(tunnels);
    }
    return lines.join(u'\n');
}

void SessionPublisher::onCreated(const CreateRequest& request, const CreateResult& result)
{
    QString name = result.sessionName;
    if (name.isEmpty())
        name = request.sessionName;
    if (name.isEmpty())
        name = QFileInfo(request.path).completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("Network");
    addNetwork(name, result.displayText.isEmpty() ? name : result.displayText);
    // The creator is the first peer of its own network.
    addPeer(name, request.nickname.isEmpty() ? QStringLiteral("inviter") : request.nickname,
            QStringLiteral("10.77.0.1"));
}

void SessionPublisher::onJoined(const JoinRequest& request, const JoinResult& result)
{
    QString name = result.networkName.isEmpty() ? result.sessionName : result.networkName;
    if (name.isEmpty())
        name = QFileInfo(request.path).completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("Network");
    addNetwork(name, result.displayText.isEmpty() ? name : result.displayText);
    addPeer(name,
            result.inviterNickname.isEmpty() ? QStringLiteral("inviter") : result.inviterNickname,
            result.inviterAddress.isEmpty() ? QStringLiteral("10.77.0.1") : result.inviterAddress);
    addPeer(name, request.nickname.isEmpty() ? QStringLiteral("joiner") : request.nickname,
            QStringLiteral("10.77.0.2"));
}

void SessionPublisher::onCloseRequested(const QString& sessionName)
{
    removeNetwork(sessionName);
}

bool SessionPublisher::publish(QString* error)
{
    const quint64 needed = m_model.RequiredPayloadBytes();
    quint64 capacity = m_capacity;
    while (capacity < needed)
        capacity *= 2;
    if (capacity > 0xFFFFFFFFull - SectionLayout::kUsedLengthBytes) {
        setError(error, QStringLiteral("the session list does not fit into a section"));
        return false;
    }
    CSharedSection image(CSharedSection::WriteTag{}, quint32(capacity));
    {
        CNamedLockGuard guard(m_lock);
        m_model.WriteSessions(image);
        const bool grown = capacity != m_capacity;
        const bool ok = (grown || !m_fileIsOurs) ? replaceSectionFile(image.Image(), error)
                                                 : writeInPlace(image.Image(), error);
        if (!ok)
            return false;
        m_capacity = capacity;
        m_fileIsOurs = true;
    }
    return signal(error);
}

// A new file renamed over the old one: readers that mapped the old file keep
// its pages, and the new one never shrinks under anybody.
bool SessionPublisher::replaceSectionFile(const QByteArray& bytes, QString* error)
{
    const QByteArray path = QFile::encodeName(sectionPath());
    const QByteArray temporary = path + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, systemError(QString::fromLocal8Bit(temporary), errno));
        return false;
    }
    ::fchmod(fd, 0644);
    const bool written = writeAll(fd, bytes, 0);
    const int writeError = errno;
    ::close(fd);
    if (!written || ::rename(temporary.constData(), path.constData()) != 0) {
        setError(error, systemError(QString::fromLocal8Bit(path), written ? errno : writeError));
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

bool SessionPublisher::writeInPlace(const QByteArray& bytes, QString* error)
{
    const QByteArray path = QFile::encodeName(sectionPath());
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size != off_t(bytes.size())) {
        // Gone or changed behind our back: make it again.
        if (fd >= 0)
            ::close(fd);
        return replaceSectionFile(bytes, error);
    }
    const bool written = writeAll(fd, bytes, 0);
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        setError(error, systemError(QString::fromLocal8Bit(path), writeError));
        return false;
    }
    return true;
}

void SessionPublisher::registerCommands(ControlChannel& control)
{
    auto reply = [](bool ok, const QString& failure, QString& error, const QString& text) {
        if (!ok)
            error = failure;
        return ok ? text : QString();
    };

    control.registerCommand(
        QStringLiteral("add-network"),
        QStringLiteral("add-network <session> [<display text>]: publish a network"),
        [this, reply](const QStringList& args, QString& error) {
            if (args.isEmpty() || args.size() > 2) {
                error = QStringLiteral("usage: add-network <session> [<display text>]");
                return QString();
            }
            QString failure;
            return reply(addNetwork(args[0], args.value(1), &failure), failure, error, {});
        });
    control.registerCommand(QStringLiteral("remove-network"),
                            QStringLiteral("remove-network <session>: withdraw a network"),
                            [this, reply](const QStringList& args, QString& error) {
                                if (args.size() != 1) {
                                    error = QStringLiteral("usage: remove-network <session>");
                                    return QString();
                                }
                                QString failure;
                                return reply(removeNetwork(args[0], &failure), failure, error, {});
                            });
    control.registerCommand(
        QStringLiteral("add-peer"),
        QStringLiteral("add-peer <session> <name> [<second text>]: a peer connects"),
        [this, reply](const QStringList& args, QString& error) {
            if (args.size() < 2 || args.size() > 3) {
                error = QStringLiteral("usage: add-peer <session> <name> [<second text>]");
                return QString();
            }
            QString failure;
            return reply(addPeer(args[0], args[1], args.value(2), &failure), failure, error, {});
        });
    control.registerCommand(QStringLiteral("remove-peer"),
                            QStringLiteral("remove-peer <session> <name>: a peer leaves"),
                            [this, reply](const QStringList& args, QString& error) {
                                if (args.size() != 2) {
                                    error = QStringLiteral("usage: remove-peer <session> <name>");
                                    return QString();
                                }
                                QString failure;
                                return reply(removePeer(args[0], args[1], &failure), failure, error,
                                             {});
                            });
    control.registerCommand(
        QStringLiteral("add-tunnel"),
        QStringLiteral("add-tunnel <session> <port> <tcp|udp> [<application>]: a tunnelled port"),
        [this, reply](const QStringList& args, QString& error) {
            bool portOk = false;
            const uint port = args.value(1).toUInt(&portOk);
            if (args.size() < 3 || args.size() > 4 || !portOk) {
                error = QStringLiteral("usage: add-tunnel <session> <port> <tcp|udp> "
                                       "[<application>]");
                return QString();
            }
            QString failure;
            return reply(addTunnel(args[0], port, args[2], args.value(3), &failure), failure, error,
                         {});
        });
    control.registerCommand(
        QStringLiteral("clear-tunnels"),
        QStringLiteral("clear-tunnels <session>: drop a network's tunnelled ports"),
        [this, reply](const QStringList& args, QString& error) {
            if (args.size() != 1) {
                error = QStringLiteral("usage: clear-tunnels <session>");
                return QString();
            }
            QString failure;
            return reply(clearTunnels(args[0], &failure), failure, error, {});
        });
    control.registerCommand(
        QStringLiteral("write-raw"),
        QStringLiteral("write-raw <file>: publish the file's bytes as the section, as they are"),
        [this, reply](const QStringList& args, QString& error) {
            if (args.size() != 1) {
                error = QStringLiteral("usage: write-raw <file>");
                return QString();
            }
            QString failure;
            return reply(writeRaw(args[0], &failure), failure, error, {});
        });
    control.registerCommand(
        QStringLiteral("hold-lock"),
        QStringLiteral("hold-lock <ms>: take the section lock now, release it after ms"),
        [this, reply](const QStringList& args, QString& error) {
            bool ok = false;
            const int ms = args.value(0).toInt(&ok);
            if (args.size() != 1 || !ok) {
                error = QStringLiteral("usage: hold-lock <ms>");
                return QString();
            }
            QString failure;
            return reply(holdLock(ms, &failure), failure, error, QStringLiteral("held"));
        });
    control.registerCommand(
        QStringLiteral("release-lock"),
        QStringLiteral("release-lock: release every hold-lock now; replies with their number"),
        [this](const QStringList& args, QString& error) {
            if (!args.isEmpty()) {
                error = QStringLiteral("usage: release-lock");
                return QString();
            }
            return QString::number(releaseLocks());
        });
    control.registerCommand(QStringLiteral("signal"),
                            QStringLiteral("signal: signal the peer-change event"),
                            [this, reply](const QStringList& args, QString& error) {
                                if (!args.isEmpty()) {
                                    error = QStringLiteral("usage: signal");
                                    return QString();
                                }
                                QString failure;
                                return reply(signal(&failure), failure, error, {});
                            });
    control.registerCommand(QStringLiteral("list-networks"),
                            QStringLiteral("list-networks: the published networks, one per line"),
                            [this](const QStringList&, QString&) { return describe(); });
}

void registerSessionCommands(StandinService& service, ControlChannel& control)
{
    auto* publisher = new SessionPublisher(&service);
    QString error;
    if (!publisher->start(&error))
        service.log(QStringLiteral("session list not published: %1").arg(error));
    publisher->attach(service);
    publisher->registerCommands(control);
}

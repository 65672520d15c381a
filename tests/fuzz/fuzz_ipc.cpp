// Messages from the service, the way the program receives them: a service
// end of the real channel socket sends the input as one message, the
// notifier hands the readiness to the event loop and CIPCCommandHandler
// collects, decodes and dispatches it to a recording target.
//
// Input: one control byte, then the message.
// - bit 0: the message is UTF-8 document text, sent in the wire form the
//   service uses (UTF-16LE and a zero unit); otherwise the bytes go out as
//   they are;
// - bit 1: the message is padded with zero bytes to the receive buffer's
//   size plus (second byte - 128), so both sides of that limit are tried;
// - bit 2: the program has a join and a create of its own waiting for their
//   answers (otherwise it has none), so that status messages pass.
//
// Properties:
// - every message is handled and the link is up again afterwards, ready for
//   the next one (an oversized or empty message costs a reconnect, no more);
// - one message makes at most one call, and its data fits the buffer;
// - a status reaches the window only as the answer to a request of the
//   program's own, and answers it;
// - what was received, sent back through the program's own sending side,
//   reaches a second target as the very same call (the two sides agree).
#include "foundation/XmlSerializer.h"
#include "servicelink/IPCCommandHandler.h"
#include "servicelink/IPCPipe.h"
#include "servicelink/RPCExecute.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QObject>
#include <QStringList>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Records each call as one line: the operation and its arguments.
class Recorder : public IRPCExecute
{
public:
    int CreateInvitation(const QString& nickname, const QString& password,
                         const QString& sessionName, const QString& sessionTypeText, quint64 expiry,
                         const QString& path, const QByteArray& appData) override
    {
        calls << QStringList{QStringLiteral("CreateInvitation"),
                             nickname,
                             password,
                             sessionName,
                             sessionTypeText,
                             QString::number(expiry),
                             path,
                             Data(appData)};
        sizes << appData.size();
        return 0;
    }
    int JoinInvitation(const QString& nickname, const QString& path,
                       const QString& password) override
    {
        calls << QStringList{QStringLiteral("JoinInvitation"), nickname, path, password};
        return 0;
    }
    int PostLSPNotify(long value) override
    {
        calls << QStringList{QStringLiteral("PostLSPNotify"), QString::number(value)};
        return 0;
    }
    int PostUINotify() override
    {
        calls << QStringList{QStringLiteral("PostUINotify")};
        return 0;
    }
    void CloseServerSession(const QString& name) override
    {
        calls << QStringList{QStringLiteral("CloseServerSession"), name};
    }
    int PostP2PStatusChange(long status) override
    {
        calls << QStringList{QStringLiteral("PostP2PStatusChange"), QString::number(status)};
        return 0;
    }
    int PostCreateInvitationStatus(const QString& first, long success,
                                   const QString& error) override
    {
        calls << QStringList{QStringLiteral("PostCreateInvitationStatus"), first,
                             QString::number(success), error};
        return 0;
    }
    int PostJoinInvitationStatus(long success, const QString& error, const QString& session,
                                 const QString& address) override
    {
        calls << QStringList{QStringLiteral("PostJoinInvitationStatus"), QString::number(success),
                             error, session, address};
        return 0;
    }
    int PostInvitationAppData(const QByteArray& data) override
    {
        calls << QStringList{QStringLiteral("PostInvitationAppData"), Data(data)};
        sizes << data.size();
        return 0;
    }

    static QString Data(const QByteArray& data)
    {
        return data.isNull() ? QStringLiteral("<null>") : QString::fromLatin1(data.toHex());
    }

    QList<QStringList> calls;
    QList<qsizetype> sizes;
};

// Keeps the documents instead of sending them.
class CapturingProxy : public IRPCProxyStub
{
public:
    int SendCommand(const CXmlSerializer& document) override
    {
        documents << document.GetXml();
        return 0;
    }
    QStringList documents;
};

// Sends a recorded call again through the sending side.
void Replay(const QStringList& call, IRPCExecute& to)
{
    const QString& op = call.at(0);
    auto data = [](const QString& hex) {
        return hex == QStringLiteral("<null>") ? QByteArray() : QByteArray::fromHex(hex.toLatin1());
    };
    if (op == QStringLiteral("CreateInvitation"))
        to.CreateInvitation(call[1], call[2], call[3], call[4], call[5].toULongLong(), call[6],
                            data(call[7]));
    else if (op == QStringLiteral("JoinInvitation"))
        to.JoinInvitation(call[1], call[2], call[3]);
    else if (op == QStringLiteral("PostLSPNotify"))
        to.PostLSPNotify(call[1].toLong());
    else if (op == QStringLiteral("PostUINotify"))
        to.PostUINotify();
    else if (op == QStringLiteral("CloseServerSession"))
        to.CloseServerSession(call[1]);
    else if (op == QStringLiteral("PostP2PStatusChange"))
        to.PostP2PStatusChange(call[1].toLong());
    else if (op == QStringLiteral("PostCreateInvitationStatus"))
        to.PostCreateInvitationStatus(call[1], call[2].toLong(), call[3]);
    else if (op == QStringLiteral("PostJoinInvitationStatus"))
        to.PostJoinInvitationStatus(call[1].toLong(), call[2], call[3], call[4]);
    else if (op == QStringLiteral("PostInvitationAppData"))
        to.PostInvitationAppData(data(call[1]));
    else
        Fuzz::Fail(__FILE__, __LINE__, "known operation", op);
}

QString Describe(const QList<QStringList>& calls)
{
    QStringList lines;
    for (const QStringList& call : calls)
        lines << call.join(QStringLiteral(" | "));
    return lines.join(QStringLiteral("\n  "));
}

// The service's end: a listening socket at the channel's path and the
// connection the program made to it.
struct Service
{
    int listening = -1;
    int connection = -1;

    bool Listen()
    {
        const QByteArray path = QFile::encodeName(CIPCPipe::SocketPath());
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= qsizetype(sizeof addr.sun_path))
            return false;
        std::memcpy(addr.sun_path, path.constData(), std::size_t(path.size()));
        listening = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        return listening >= 0 &&
               ::bind(listening, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
               ::listen(listening, 4) == 0;
    }
    // Takes the newest waiting connection (after a reconnect of the program),
    // dropping the one it replaces.
    bool AcceptPending(int timeoutMs)
    {
        bool accepted = false;
        pollfd p = {listening, POLLIN, 0};
        while (::poll(&p, 1, accepted ? 0 : timeoutMs) > 0) {
            const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            if (connection >= 0)
                ::close(connection);
            connection = fd;
            accepted = true;
        }
        return accepted;
    }
};

struct Harness
{
    TestEnvironment environment;
    Service service;
    QObject window;
    CIPCCommandHandler handler;
    Recorder received;
};

Harness* g_harness = nullptr;

// Sends one message from the service's end and waits until the program has
// handled it; false when it was not handled in time.
bool Deliver(Harness& h, const QByteArray& message)
{
    const quint64 before = h.handler.Notifier().Delivered();
    const ssize_t sent = ::send(h.service.connection, message.constData(),
                                std::size_t(message.size()), MSG_NOSIGNAL);
    FUZZ_CHECK(sent == message.size(),
               QStringLiteral("sent %1 of %2 bytes").arg(sent).arg(message.size()));
    QDeadlineTimer deadline(10000);
    while (h.handler.Notifier().Delivered() == before && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    // A message the program could not take makes it reconnect.
    h.service.AcceptPending(0);
    return h.handler.Notifier().Delivered() == before + 1;
}

// What the program sent is read by the service's end and forgotten.
void Drain(Service& service)
{
    char buffer[65536];
    while (::recv(service.connection, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

QByteArray Status(long command)
{
    CapturingProxy proxy;
    if (command == JOIN_INVITATION_STATUS)
        proxy.PostJoinInvitationStatus(0, QStringLiteral("settled"), QString(), QString());
    else
        proxy.PostCreateInvitationStatus(QString(), 0, QStringLiteral("settled"));
    return EncodeMessage(proxy.documents.first());
}

// Brings the program's unanswered joins and creates to one each or none, so
// that what a message does depends on the input alone.
void SettlePending(Harness& h, bool wanted)
{
    if (wanted && h.handler.PendingJoins() == 0)
        h.handler.JoinInvitation(QStringLiteral("Ann"), QStringLiteral("/tmp/a.Tervalapro"),
                                 QStringLiteral("pw"));
    if (wanted && h.handler.PendingCreates() == 0)
        h.handler.CreateInvitation(QStringLiteral("Ann"), QStringLiteral("pw"),
                                   QStringLiteral("Team"), QString(), 0,
                                   QStringLiteral("/tmp/b.Tervalapro"), QByteArray());
    Drain(h.service);
    if (!wanted && h.handler.PendingJoins() > 0)
        FUZZ_CHECK(Deliver(h, Status(JOIN_INVITATION_STATUS)), QStringLiteral("settling a join"));
    if (!wanted && h.handler.PendingCreates() > 0)
        FUZZ_CHECK(Deliver(h, Status(CREATE_INVITATION_STATUS)),
                   QStringLiteral("settling a create"));
    const int expected = wanted ? 1 : 0;
    FUZZ_CHECK(h.handler.PendingJoins() == expected && h.handler.PendingCreates() == expected,
               QStringLiteral("%1 joins and %2 creates unanswered")
                   .arg(h.handler.PendingJoins())
                   .arg(h.handler.PendingCreates()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    g_harness = new Harness;
    Harness& h = *g_harness;
    // Every lost connection counts as one that lasted: the program then
    // reconnects at once instead of backing off, and the next input finds
    // it connected.
    h.handler.SetRetryTiming(1, 1, 0);
    if (!h.environment.isValid() || !h.service.Listen())
        Fuzz::Fail(__FILE__, __LINE__, "service end listens",
                   QString::fromLocal8Bit(strerror(errno)));
    if (!h.handler.StartClient(&h.window, &h.received))
        Fuzz::Fail(__FILE__, __LINE__, "program connects", h.handler.GetErrorText());
    if (!h.service.AcceptPending(5000))
        Fuzz::Fail(__FILE__, __LINE__, "service end accepts", QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    Harness& h = *g_harness;
    const std::uint8_t control = data[0];
    QByteArray message(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (control & 1)
        message = EncodeMessage(QString::fromUtf8(message));
    if ((control & 2) && size >= 2) {
        const qsizetype target = CIPCPipe::kReceiveBufferSize + int(data[1]) - 128;
        if (message.size() < target)
            message.append(QByteArray(target - message.size(), '\0'));
    }

    SettlePending(h, control & 4);
    const int joins = h.handler.PendingJoins();
    const int creates = h.handler.PendingCreates();
    h.received.calls.clear();
    h.received.sizes.clear();
    FUZZ_CHECK(Deliver(h, message),
               QStringLiteral("message of %1 bytes not handled").arg(message.size()));
    FUZZ_CHECK(h.handler.IsLinkUp() && h.handler.Pipe().GetState() == CIPCPipe::Reading,
               QStringLiteral("link state %1 after a message of %2 bytes: %3")
                   .arg(h.handler.Pipe().GetState())
                   .arg(message.size())
                   .arg(h.handler.GetErrorText()));

    const QString op = h.received.calls.isEmpty() ? QString() : h.received.calls.first().first();
    if (op == QStringLiteral("PostJoinInvitationStatus"))
        FUZZ_CHECK(joins == 1 && h.handler.PendingJoins() == 0, Describe(h.received.calls));
    if (op == QStringLiteral("PostInvitationAppData"))
        FUZZ_CHECK(joins == 1 && h.handler.PendingJoins() == 1, Describe(h.received.calls));
    if (op == QStringLiteral("PostCreateInvitationStatus"))
        FUZZ_CHECK(creates == 1 && h.handler.PendingCreates() == 0, Describe(h.received.calls));
    FUZZ_CHECK(h.received.calls.size() <= 1, Describe(h.received.calls));
    for (qsizetype n : std::as_const(h.received.sizes))
        FUZZ_CHECK(n <= CIPCPipe::kReceiveBufferSize, Describe(h.received.calls));

    // Back through the sending side, then decoded again.
    if (!h.received.calls.isEmpty()) {
        CapturingProxy proxy;
        Replay(h.received.calls.first(), proxy);
        FUZZ_CHECK(proxy.documents.size() == 1, Describe(h.received.calls));
        const QByteArray wire = EncodeMessage(proxy.documents.first());
        const QString text = DecodeMessage(wire.constData(), wire.size());
        FUZZ_CHECK(text == proxy.documents.first(), proxy.documents.first());
        Recorder again;
        ExecuteCommand(&again, text);
        FUZZ_CHECK(
            again.calls == h.received.calls,
            QStringLiteral("received\n  %1\nsent back as\n  %2\nand received as\n  %3")
                .arg(Describe(h.received.calls), proxy.documents.first(), Describe(again.calls)));
    }
    return 0;
}

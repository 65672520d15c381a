#include "servicelink/IPCCommandHandler.h"

#include "foundation/TraceLog.h"
#include "foundation/XmlSerializer.h"

#include <QMetaObject>

#include <sys/epoll.h>
#include <unistd.h>
#include <utility>

// Passes the service's commands on to the window, except the answers that
// answer nothing this program asked for on the current connection: an
// unsolicited join status would otherwise start a remote-desktop client
// towards whatever address it names.
class CIPCCommandHandler::AnswerFilter : public IRPCExecute
{
public:
    AnswerFilter(CIPCCommandHandler& proxy, IRPCExecute* target) : m_proxy(proxy), m_target(target)
    {
    }

    int CreateInvitation(const QString& nickname, const QString& password,
                         const QString& sessionName, const QString& sessionTypeText, quint64 expiry,
                         const QString& invitationPath, const QByteArray& appData) override
    {
        return m_target->CreateInvitation(nickname, password, sessionName, sessionTypeText, expiry,
                                          invitationPath, appData);
    }
    int JoinInvitation(const QString& nickname, const QString& invitationPath,
                       const QString& password) override
    {
        return m_target->JoinInvitation(nickname, invitationPath, password);
    }
    int PostLSPNotify(long value) override { return m_target->PostLSPNotify(value); }
    int PostUINotify() override { return m_target->PostUINotify(); }
    void CloseServerSession(const QString& sessionName) override
    {
        m_target->CloseServerSession(sessionName);
    }
    int PostP2PStatusChange(long status) override { return m_target->PostP2PStatusChange(status); }

    int PostCreateInvitationStatus(const QString& firstString, long success,
                                   const QString& errorText) override
    {
        if (m_proxy.m_pendingCreates == 0)
            return unanswered("CREATE_INVITATION_STATUS");
        // Taken before the target runs: its message box may take a while.
        --m_proxy.m_pendingCreates;
        return m_target->PostCreateInvitationStatus(firstString, success, errorText);
    }
    int PostJoinInvitationStatus(long success, const QString& errorText, const QString& sessionName,
                                 const QString& inviterAddress) override
    {
        if (m_proxy.m_pendingJoins == 0)
            return unanswered("JOIN_INVITATION_STATUS");
        --m_proxy.m_pendingJoins;
        return m_target->PostJoinInvitationStatus(success, errorText, sessionName, inviterAddress);
    }
    // The data belongs to the join whose status follows it.
    int PostInvitationAppData(const QByteArray& data) override
    {
        if (m_proxy.m_pendingJoins == 0)
            return unanswered("INVITATION_APP_DATA");
        return m_target->PostInvitationAppData(data);
    }

private:
    static int unanswered(const char* command)
    {
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::TraceF("IPC_ERROR %s answers no request of this program; ignored", command);
        return 0;
    }

    CIPCCommandHandler& m_proxy;
    IRPCExecute* m_target;
};

CIPCCommandHandler::CIPCCommandHandler()
{
    m_retryTimer.setSingleShot(true);
    QObject::connect(&m_retryTimer, &QTimer::timeout, &m_retryTimer, [this] { Retry(); });
}

CIPCCommandHandler::~CIPCCommandHandler()
{
    // The worker waits on the read event: it must be gone before the event is.
    StopNotifier();
    m_retryTimer.stop();
    if (m_readEvent >= 0) {
        m_pipe.ClosePipe();
        ::close(m_readEvent);
        m_readEvent = -1;
    }
    m_pipe.ClosePipe();
}

void CIPCCommandHandler::StopNotifier()
{
    m_notify.Stop();
}

void CIPCCommandHandler::SetRetryTiming(int firstMs, int longestMs, int lastedMs)
{
    m_firstRetryMs = firstMs;
    m_longestRetryMs = longestMs;
    m_lastedMs = lastedMs;
}

bool CIPCCommandHandler::StartClient(QObject* window, IRPCExecute* target)
{
    return StartClient(window, [this, target] { OnPipeEvent(target); });
}

bool CIPCCommandHandler::StartClient(QObject* window, std::function<void()> ipcNotify)
{
    StopNotifier();
    m_retryTimer.stop();
    m_linked = false;
    m_pendingJoins = m_pendingCreates = 0;
    m_retryDelayMs = 0;
    m_outage = false;
    if (m_readEvent < 0) {
        m_readEvent = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_readEvent < 0) {
            FormatErrorText(ErrorCode::System(errno), m_errorText, 10005);
            return false;
        }
    }
    ++m_connectAttempts;
    if (!m_pipe.ConnectToServer(m_readEvent)) {
        m_errorText = m_pipe.GetErrorText();
        return false;
    }
    // The worker takes the one-shot readiness itself: the read event then
    // stays quiet until the next PostRead, and the worker need not be woken
    // again when the message has been handled.
    m_notify.Start(window, std::move(ipcNotify), m_readEvent, [](int readEvent) {
        epoll_event ev{};
        ::epoll_wait(readEvent, &ev, 1, 0);
    });
    if (!m_pipe.PostRead()) {
        // The channel says why (10006 with the reason), so the start-up
        // message is never empty.
        m_errorText = m_pipe.GetErrorText();
        return false;
    }
    m_linked = true;
    ++m_connection;
    m_connectedFor.start();
    return true;
}

bool CIPCCommandHandler::OnPipeEvent(IRPCExecute* target)
{
    // The readiness of a connection already given up: the timer reconnects.
    if (!m_linked)
        return false;
    bool result = true;
    const char* data = nullptr;
    quint32 count = 0;
    // Not Reading: a write broke the channel before this read was collected.
    if (m_pipe.GetState() != CIPCPipe::Reading || !m_pipe.GetReadResult(data, count)) {
        LinkLost();
        return m_linked;
    }
    if (count > 0) {
        const quint64 connection = m_connection;
        AnswerFilter answers(*this, target);
        ExecuteCommand(&answers, DecodeMessage(data, count));
        // The command may have run a message box whose loop saw this
        // connection lost or replaced: then the next read is not ours to post.
        if (m_linked && connection == m_connection) {
            if (m_pipe.GetState() == CIPCPipe::Broken || !m_pipe.PostRead()) {
                LinkLost();
                return m_linked;
            }
        }
    }
    m_errorText = m_pipe.GetErrorText();
    return result;
}

bool CIPCCommandHandler::Connect(bool waitWhileBusy)
{
    ++m_connectAttempts;
    if (!m_pipe.ConnectToServer(m_readEvent, waitWhileBusy))
        return false;
    // Without a posted read nothing would ever announce the service again.
    if (!m_pipe.PostRead()) {
        m_pipe.ClosePipe();
        return false;
    }
    m_linked = true;
    ++m_connection;
    m_connectedFor.start();
    return true;
}

void CIPCCommandHandler::LinkLost()
{
    if (!m_linked)
        return;
    m_linked = false;
    LinkEvent lost;
    lost.kind = LinkEvent::Lost;
    lost.reason = m_pipe.GetErrorText();
    lost.joinsLost = std::exchange(m_pendingJoins, 0);
    lost.createsLost = std::exchange(m_pendingCreates, 0);
    // Nothing more is read from or written to the dead connection.
    m_pipe.ClosePipe();

    if (m_connectedFor.isValid() && m_connectedFor.elapsed() >= m_lastedMs) {
        m_retryDelayMs = 0;
        m_outage = false;
    }
    // Reconnects wait for no busy service: the back-off is the waiting, and
    // the window stays responsive meanwhile.
    LinkEvent next;
    next.kind = LinkEvent::Restored;
    bool restored = false;
    if (m_retryDelayMs == 0) {
        if (TraceLevel() & TRACE_IPC)
            CTraceLog::Trace(QStringLiteral("IPC_ERROR ReconnectToServer"));
        m_retryDelayMs = m_firstRetryMs;
        restored = Connect(false);
    }
    if (!restored) {
        // Either the one reconnect failed, or the lost connection had not
        // lasted: reconnecting at once again would spin against a service
        // that accepts and drops every connection.
        next.kind = LinkEvent::Down;
        next.reason = m_pipe.GetErrorText();
        next.firstOfOutage = !m_outage;
        m_outage = true;
        m_retryTimer.start(m_retryDelayMs);
    }
    m_errorText = m_pipe.GetErrorText();
    Tell(lost);
    Tell(next);
}

void CIPCCommandHandler::Retry()
{
    if (m_linked)
        return;
    const bool restored = Connect(false);
    const int used = m_retryDelayMs;
    // Doubled after every retry, successful or not: only a connection that
    // lasts brings the immediate reconnect back.
    m_retryDelayMs = qMin(m_retryDelayMs * 2, m_longestRetryMs);
    m_errorText = m_pipe.GetErrorText();
    if (restored) {
        LinkEvent event;
        event.kind = LinkEvent::Restored;
        Tell(event);
        return;
    }
    if (TraceLevel() & TRACE_IPC)
        CTraceLog::TraceF("IPC_ERROR ReconnectToServer after %d ms failed; next in %d ms", used,
                          m_retryDelayMs);
    m_retryTimer.start(m_retryDelayMs);
}

void CIPCCommandHandler::Tell(const LinkEvent& event)
{
    if (m_observer)
        m_observer(event);
}

int CIPCCommandHandler::CreateInvitation(const QString& nickname, const QString& password,
                                         const QString& sessionName, const QString& sessionTypeText,
                                         quint64 expiry, const QString& invitationPath,
                                         const QByteArray& appData)
{
    // Counted even when the write breaks the link: the loss then reports it
    // as a request that will not be answered.
    const bool linked = m_linked;
    IRPCProxyStub::CreateInvitation(nickname, password, sessionName, sessionTypeText, expiry,
                                    invitationPath, appData);
    if (linked)
        ++m_pendingCreates;
    return 0;
}

int CIPCCommandHandler::JoinInvitation(const QString& nickname, const QString& invitationPath,
                                       const QString& password)
{
    const bool linked = m_linked;
    IRPCProxyStub::JoinInvitation(nickname, invitationPath, password);
    if (linked)
        ++m_pendingJoins;
    return 0;
}

int CIPCCommandHandler::SendCommand(const CXmlSerializer& document)
{
    const QByteArray wire = EncodeMessage(document.GetXml());
    const bool sent = m_pipe.WriteMessage(wire.constData(), static_cast<quint32>(wire.size()));
    m_errorText = m_pipe.GetErrorText();
    if (!sent && m_linked) {
        // The link broke under this write (the service went, or stopped
        // reading). The send may come from anywhere, a handler halfway
        // through included, so the loss is handled from the event loop; only
        // if this connection is still the current one by then.
        QMetaObject::invokeMethod(
            &m_retryTimer,
            [this, connection = m_connection] {
                if (connection == m_connection)
                    LinkLost();
            },
            Qt::QueuedConnection);
    }
    return 0;
}

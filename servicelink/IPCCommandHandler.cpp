#include "servicelink/IPCCommandHandler.h"

#include "foundation/TraceLog.h"
#include "foundation/XmlSerializer.h"

#include <sys/epoll.h>
#include <unistd.h>

CIPCCommandHandler::CIPCCommandHandler() = default;

CIPCCommandHandler::~CIPCCommandHandler()
{
    // The worker waits on the read event: it must be gone before the event is.
    StopNotifier();
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

bool CIPCCommandHandler::StartClient(QObject* window, IRPCExecute* target)
{
    return StartClient(window, [this, target] { OnPipeEvent(target); });
}

bool CIPCCommandHandler::StartClient(QObject* window, std::function<void()> ipcNotify)
{
    StopNotifier();
    if (m_readEvent < 0) {
        m_readEvent = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_readEvent < 0) {
            FormatErrorText(ErrorCode::System(errno), m_errorText, 10005);
            return false;
        }
    }
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
    return true;
}

bool CIPCCommandHandler::OnPipeEvent(IRPCExecute* target)
{
    bool result = true;
    bool reconnect = m_pipe.GetState() != CIPCPipe::Reading;
    if (!reconnect) {
        const char* data = nullptr;
        quint32 count = 0;
        if (m_pipe.GetReadResult(data, count)) {
            if (count > 0) {
                ExecuteCommand(target, DecodeMessage(data, count));
                result = m_pipe.PostRead();
            }
        } else {
            reconnect = true;
        }
    }
    if (reconnect) {
        if (TraceLevel() & TRACE_IPC)
            CTraceLog::Trace(QStringLiteral("IPC_ERROR ReconnectToServer"));
        result = m_pipe.ConnectToServer(m_readEvent);
        // Without a posted read nothing would ever announce the service again.
        if (result)
            result = m_pipe.PostRead();
    }
    m_errorText = m_pipe.GetErrorText();
    return result;
}

int CIPCCommandHandler::SendCommand(const CXmlSerializer& document)
{
    const QByteArray wire = EncodeMessage(document.GetXml());
    m_pipe.WriteMessage(wire.constData(), static_cast<quint32>(wire.size()));
    m_errorText = m_pipe.GetErrorText();
    return 0;
}

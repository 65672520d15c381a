#pragma once

#include "servicelink/EventNotify.h"
#include "servicelink/IPCPipe.h"
#include "servicelink/RPCExecute.h"

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

class QObject;

// The program's proxy of the service: every IRPCExecute operation sends its
// command over the channel; received commands are dispatched by OnPipeEvent.
//
// A lost link (the service closed the connection, a read failed, or a write
// was not taken in time) is reconnected once at once. When that fails, or
// when the connection that was lost had not lasted, the proxy keeps trying
// with a growing delay (first retry delay, doubling up to the longest) from a
// timer, and starts again from an immediate reconnect once a connection has
// lasted. The owner hears of every change through the link observer.
//
// Status commands are answers: a join or create status, and the application
// data of a join, reach the target only while a request of that kind sent on
// this connection is still unanswered. Anything else is an impostor's or a
// restarted service's and is dropped.
class CIPCCommandHandler : public IRPCProxyStub
{
public:
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kLongestRetryMs = 30000;
    // A connection that lost after this long was a working one: the next
    // loss is reconnected at once again and the delay starts over.
    static constexpr int kLastedMs = 10000;

    struct LinkEvent
    {
        enum Kind
        {
            // The connection is gone; any request still unanswered on it will
            // never be answered (the counts say how many).
            Lost,
            // No connection could be made now; retries follow from the timer.
            Down,
            // A new connection is up (after Lost, at once or from a retry).
            Restored,
        };
        Kind kind = Lost;
        // Lost and Down: the channel's error text.
        QString reason;
        // Down: the first since the link last worked (the owner tells the
        // user once per outage, not at every retry).
        bool firstOfOutage = false;
        int joinsLost = 0;
        int createsLost = 0;
    };
    using LinkObserver = std::function<void(const LinkEvent&)>;

    CIPCCommandHandler();
    // Stops the notifier, then closes the read event and the channel.
    ~CIPCCommandHandler() override;

    // Connects and starts watching: each time a message can be collected,
    // ipcNotify runs on window's thread (it is the window's "IpcNotify"
    // handler and normally calls OnPipeEvent). On failure the error text
    // holds the reason.
    bool StartClient(QObject* window, std::function<void()> ipcNotify);
    // The usual wiring: "IpcNotify" runs OnPipeEvent(target).
    bool StartClient(QObject* window, IRPCExecute* target);
    // The "IpcNotify" step: collect, dispatch to target and post the next
    // read; a failed channel is handled as a lost link (see above).
    bool OnPipeEvent(IRPCExecute* target);

    // Runs on the proxy's thread, after the proxy's own state has settled;
    // it must not wait for the user (show messages from the event loop).
    void SetLinkObserver(LinkObserver observer) { m_observer = std::move(observer); }
    // A connection is up (it may still turn out to be lost).
    bool IsLinkUp() const { return m_linked; }
    // Waiting for the next retry.
    bool IsRetrying() const { return m_retryTimer.isActive(); }
    // The delay of the next retry; 0 while a loss would be reconnected at once.
    int RetryDelayMs() const { return m_retryDelayMs; }
    // Connections tried since StartClient (for tests and diagnostics).
    int ConnectAttempts() const { return m_connectAttempts; }
    int PendingJoins() const { return m_pendingJoins; }
    int PendingCreates() const { return m_pendingCreates; }
    // Tests only: shorter timings than the defaults above.
    void SetRetryTiming(int firstMs, int longestMs, int lastedMs);

    int CreateInvitation(const QString& nickname, const QString& password,
                         const QString& sessionName, const QString& sessionTypeText, quint64 expiry,
                         const QString& invitationPath, const QByteArray& appData) override;
    int JoinInvitation(const QString& nickname, const QString& invitationPath,
                       const QString& password) override;
    int SendCommand(const CXmlSerializer& document) override;

    const CIPCPipe& Pipe() const { return m_pipe; }
    CIPCPipe& Pipe() { return m_pipe; }
    CEventNotify& Notifier() { return m_notify; }

private:
    class AnswerFilter;

    void StopNotifier();
    bool Connect(bool waitWhileBusy);
    void LinkLost();
    void Retry();
    void Tell(const LinkEvent& event);

    int m_readEvent = -1;
    CIPCPipe m_pipe;
    CEventNotify m_notify;
    LinkObserver m_observer;

    // The state of the current connection: whether it is up (a loss is
    // handled once), and a number that changes with every new one.
    bool m_linked = false;
    quint64 m_connection = 0;
    QElapsedTimer m_connectedFor;
    int m_pendingJoins = 0;
    int m_pendingCreates = 0;

    int m_retryDelayMs = 0;
    bool m_outage = false;
    int m_connectAttempts = 0;
    int m_firstRetryMs = kFirstRetryMs;
    int m_longestRetryMs = kLongestRetryMs;
    int m_lastedMs = kLastedMs;
    // Also the context of the deferred loss handling: whatever is queued dies
    // with the proxy.
    QTimer m_retryTimer;
};

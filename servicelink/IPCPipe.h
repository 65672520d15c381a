#pragma once

#include <QString>

#include <memory>
#include <sys/types.h>

// Client end of the service's message channel: a SOCK_SEQPACKET Unix socket
// in the runtime folder. Reads never block: the read event is an epoll
// descriptor (made by the owner) that becomes readable when a posted read can
// be collected; writes wait until the service has taken the whole message, but
// never longer than the write deadline: a service that stops reading must not
// freeze the window that writes to it.
//
// Only a socket served by root or by this user is taken for the service:
// anyone may create a socket at the path while no service listens.
class CIPCPipe
{
public:
    enum State
    {
        Broken = 3,
        Connected = 4,
        Reading = 2
    };
    enum Role
    {
        NoRole = 0,
        Client = 2
    };
    static constexpr int kReceiveBufferSize = 20480;
    static constexpr int kBusyWaitMs = 30000;
    static constexpr int kConnectAttempts = 3;
    static constexpr int kWriteTimeoutMs = 3000;

    CIPCPipe();
    ~CIPCPipe();
    CIPCPipe(const CIPCPipe&) = delete;
    CIPCPipe& operator=(const CIPCPipe&) = delete;

    // <runtime folder>/{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC
    static QString SocketPath();

    // Connects (closing an earlier connection) and registers the socket with
    // readEvent, disarmed until PostRead. A missing or dead service fails at
    // once with text 10005; a busy one (full backlog) is retried for up to
    // the busy wait, unless waitWhileBusy is false (busy then fails at once).
    // A socket served by any user but root or this one is refused (10005
    // with the peer's uid as the reason).
    bool ConnectToServer(int readEvent, bool waitWhileBusy = true);
    // Arms the read event for the next message.
    bool PostRead();
    // Collects a posted read: true with count 0 when nothing has arrived yet
    // (the read stays posted); true with data pointing at the receive buffer
    // for a message; false (Broken, text 10006) when the service closed the
    // connection, the read failed, or the message did not fit the buffer.
    bool GetReadResult(const char*& data, quint32& count);
    // Sends one message and waits until it is taken, at most the write
    // deadline; a message not taken by then breaks the channel (10006, timed
    // out). Fails at once, keeping the error text, unless Connected or Reading.
    bool WriteMessage(const void* data, quint32 count);
    void ClosePipe();

    State GetState() const { return m_state; }
    Role GetRole() const { return m_role; }
    const QString& GetErrorText() const { return m_errorText; }
    int Descriptor() const { return m_fd; }

    // Tests only: the busy wait per attempt (default kBusyWaitMs) and the
    // write deadline (default kWriteTimeoutMs).
    void SetBusyWaitMs(int ms) { m_busyWaitMs = ms; }
    void SetWriteTimeoutMs(int ms) { m_writeTimeoutMs = ms; }

    // Whose socket may be taken for the service's: root's or the user's own.
    static bool IsTrustedPeer(uid_t peer, uid_t self) { return peer == 0 || peer == self; }

private:
    void SetError(int err, quint32 stringId);
    bool Arm();

    QString m_errorText;
    int m_fd = -1;
    int m_readEvent = -1;
    std::unique_ptr<char[]> m_buffer;
    State m_state = Broken;
    Role m_role = NoRole;
    int m_busyWaitMs = kBusyWaitMs;
    int m_writeTimeoutMs = kWriteTimeoutMs;
};

// Kernel objects carry no integrity label on Linux: nothing to do.
inline bool SetLowIntegrityLabel(int /*descriptor*/)
{
    return true;
}

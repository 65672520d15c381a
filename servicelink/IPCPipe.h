#pragma once

#include <QString>

#include <memory>

// Client end of the service's message channel: a SOCK_SEQPACKET Unix socket
// in the runtime folder. Reads never block: the read event is an epoll
// descriptor (made by the owner) that becomes readable when a posted read can
// be collected; writes wait until the service has taken the whole message.
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

    CIPCPipe();
    ~CIPCPipe();
    CIPCPipe(const CIPCPipe&) = delete;
    CIPCPipe& operator=(const CIPCPipe&) = delete;

    // <runtime folder>/{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC
    static QString SocketPath();

    // Connects (closing an earlier connection) and registers the socket with
    // readEvent, disarmed until PostRead. A missing or dead service fails at
    // once with text 10005; a busy one (full backlog) is retried for up to
    // the busy wait.
    bool ConnectToServer(int readEvent);
    // Arms the read event for the next message.
    bool PostRead();
    // Collects a posted read: true with count 0 when nothing has arrived yet
    // (the read stays posted); true with data pointing at the receive buffer
    // for a message; false (Broken, text 10006) when the service closed the
    // connection, the read failed, or the message did not fit the buffer.
    bool GetReadResult(const char*& data, quint32& count);
    // Sends one message and waits until it is taken. Fails at once, keeping
    // the error text, unless Connected or Reading.
    bool WriteMessage(const void* data, quint32 count);
    void ClosePipe();

    State GetState() const { return m_state; }
    Role GetRole() const { return m_role; }
    const QString& GetErrorText() const { return m_errorText; }
    int Descriptor() const { return m_fd; }

    // Tests only: the busy wait per attempt (default kBusyWaitMs).
    void SetBusyWaitMs(int ms) { m_busyWaitMs = ms; }

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
};

// Kernel objects carry no integrity label on Linux: nothing to do.
inline bool SetLowIntegrityLabel(int /*descriptor*/)
{
    return true;
}

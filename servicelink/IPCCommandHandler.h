#pragma once

#include "servicelink/EventNotify.h"
#include "servicelink/IPCPipe.h"
#include "servicelink/RPCExecute.h"

#include <functional>

class QObject;

// The program's proxy of the service: every IRPCExecute operation sends its
// command over the channel; received commands are dispatched by OnPipeEvent.
class CIPCCommandHandler : public IRPCProxyStub
{
public:
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
    // read; a failed channel is reconnected once (and read again).
    bool OnPipeEvent(IRPCExecute* target);

    int SendCommand(const CXmlSerializer& document) override;

    const CIPCPipe& Pipe() const { return m_pipe; }
    CIPCPipe& Pipe() { return m_pipe; }
    CEventNotify& Notifier() { return m_notify; }

private:
    void StopNotifier();

    int m_readEvent = -1;
    CIPCPipe m_pipe;
    CEventNotify m_notify;
};

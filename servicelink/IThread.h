#pragma once

#include <QtGlobal>

#include <deque>
#include <mutex>
#include <thread>

// A worker thread with a private request queue. The queue has a pollable
// wake-up descriptor (an eventfd) so that a subclass's Run can wait on it and
// on its own descriptors at once.
class IThread
{
public:
    // Message number of the request that ends the worker.
    static constexpr quint32 kQuitMessage = 0x12;

    IThread();
    // Stops the worker. A subclass whose Run uses its own members must stop
    // the worker in its own destructor: by the time this one runs, they are gone.
    virtual ~IThread();
    IThread(const IThread&) = delete;
    IThread& operator=(const IThread&) = delete;

    // Asks the worker to end. On the worker itself, OnThreadMessage sees the
    // quit request at once.
    void PostQuit();
    // Queues a request for the worker and wakes it.
    void PostThreadMessage(quint32 message, quintptr wParam, qintptr lParam);
    // Drains the queue (OnThreadMessage runs under the queue lock); quit is
    // set when a quit request was taken, and the requests behind it stay queued.
    void ProcessThreadMessages(bool& quit);

    bool IsRunning() const { return m_thread.joinable(); }
    // The worker's thread id (gettid), 0 while none runs.
    qint64 ThreadId() const { return m_threadId; }

protected:
    virtual int OnThreadMessage(quint32 message, quintptr wParam, qintptr lParam);
    virtual int Run();

    // Starts a worker running Run (stopping a running one first).
    bool StartThread();
    // PostQuit, wait for the worker unless called on it, forget it.
    void StopThread();
    bool IsWorkerThread() const;
    // Readable while requests are queued.
    int WakeDescriptor() const { return m_wakeFd; }
    int ExitCode() const { return m_exitCode; }

private:
    struct Request
    {
        quint32 message;
        quintptr wParam;
        qintptr lParam;
    };
    void Entry();

    std::thread m_thread;
    qint64 m_threadId = 0;
    std::deque<Request> m_queue;
    int m_wakeFd = -1;
    std::mutex m_queueLock;
    int m_exitCode = 0;
};

#include "servicelink/IThread.h"

#include <sys/eventfd.h>
#include <unistd.h>

IThread::IThread()
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

IThread::~IThread()
{
    StopThread();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

int IThread::OnThreadMessage(quint32, quintptr, qintptr)
{
    return 0;
}

int IThread::Run()
{
    return 0;
}

bool IThread::IsWorkerThread() const
{
    return m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id();
}

void IThread::PostQuit()
{
    if (IsWorkerThread()) {
        OnThreadMessage(kQuitMessage, 0, 0);
        return;
    }
    PostThreadMessage(kQuitMessage, 0, 0);
}

void IThread::PostThreadMessage(quint32 message, quintptr wParam, qintptr lParam)
{
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queue.push_back({message, wParam, lParam});
    const quint64 one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void IThread::ProcessThreadMessages(bool& quit)
{
    quit = false;
    std::lock_guard<std::mutex> lock(m_queueLock);
    quint64 count = 0;
    // The eventfd only says "something was queued"; the queue is the truth.
    [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    while (!m_queue.empty()) {
        const Request request = m_queue.front();
        OnThreadMessage(request.message, request.wParam, request.lParam);
        m_queue.pop_front();
        if (request.message == kQuitMessage) {
            quit = true;
            return;
        }
    }
}

bool IThread::StartThread()
{
    StopThread();
    if (m_wakeFd < 0)
        return false;
    {
        // Requests left over from the previous worker (a second quit request
        // above all) would end the new one at once.
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.clear();
        quint64 count = 0;
        [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
    m_thread = std::thread([this] { Entry(); });
    return true;
}

void IThread::Entry()
{
    m_threadId = ::gettid();
    m_exitCode = Run();
}

void IThread::StopThread()
{
    if (!m_thread.joinable())
        return;
    PostQuit();
    if (IsWorkerThread()) {
        // A worker cannot wait for itself; it ends when its Run returns.
        m_thread.detach();
    } else {
        m_thread.join();
    }
    m_threadId = 0;
}

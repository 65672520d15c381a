#include "sessions/SectionReader.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {
// Attempts at a busy lock start quick (the service holds it only while it
// writes) and slow down to a few a second for a holder that stays.
constexpr int kFirstRetryMs = 2;
constexpr int kLongestRetryMs = 200;
} // namespace

CSectionReader::CSectionReader(std::function<void()> ready) : m_ready(std::move(ready)) {}

CSectionReader::~CSectionReader()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CSectionReader::Request()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_requested = true;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_all();
}

CSectionReader::Outcome CSectionReader::Take()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    Outcome taken = std::exchange(m_outcome, Outcome());
    // Staleness is a state, not an event: it lasts until a read gets through.
    m_outcome.stale = taken.stale;
    m_announced = false;
    return taken;
}

void CSectionReader::announce(std::unique_lock<std::mutex>& guard)
{
    if (m_announced)
        return;
    m_announced = true;
    guard.unlock();
    if (m_ready)
        m_ready();
    guard.lock();
}

bool CSectionReader::keepWaiting(std::chrono::steady_clock::time_point since, int& attempt)
{
    std::unique_lock<std::mutex> guard(m_mutex);
    if (m_stopping)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (!m_staleNoted && now - since >= std::chrono::milliseconds(kStaleAfterMs)) {
        m_staleNoted = true;
        m_outcome.stale = true;
        announce(guard);
    }
    const int delay = std::min(kLongestRetryMs, kFirstRetryMs << std::min(attempt, 16));
    ++attempt;
    m_wake.wait_for(guard, std::chrono::milliseconds(delay), [this] { return m_stopping; });
    return !m_stopping;
}

void CSectionReader::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(m_mutex);
            m_wake.wait(guard, [this] { return m_requested || m_stopping; });
            if (m_stopping)
                return;
            // Requests from now on ask for another read after this one.
            m_requested = false;
            m_staleNoted = false;
        }
        const auto since = std::chrono::steady_clock::now();
        int attempt = 0;
        if (!m_sessions.Refresh([&] { return keepWaiting(since, attempt); }))
            return; // stopping
        QList<_CLIENT_INFORMATION> clients = m_sessions.GetClients();

        std::unique_lock<std::mutex> guard(m_mutex);
        m_outcome.hasList = true;
        m_outcome.clients = std::move(clients);
        m_outcome.stale = false;
        ++m_outcome.reads;
        announce(guard);
    }
}

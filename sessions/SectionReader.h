#pragma once

#include "sessions/SessionContainer.h"

#include <QList>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Reads the session list on a thread of its own, so that whoever asks never
// waits for the section lock: that lock file is open to every local user, and
// a holder that never lets go must not freeze the window. The last good list
// stays what the owner shows until a read completes.
//
// Requests are merged: any number of them made while a read runs lead to
// exactly one more read. Each finished read (and the moment a read has waited
// too long for the lock) is announced through `ready`, called on the reader's
// thread; the owner then collects the outcome with Take on its own thread.
// Announcements are not queued up either: one is made only when the previous
// one has been collected.
class CSectionReader
{
public:
    // How long a read may wait for the lock before the list counts as stale.
    static constexpr int kStaleAfterMs = 1000;

    struct Outcome
    {
        bool hasList = false; // a read finished since the last Take
        QList<_CLIENT_INFORMATION> clients;
        bool stale = false; // a read is still waiting for the lock
        int reads = 0;      // reads finished since the last Take
    };

    explicit CSectionReader(std::function<void()> ready);
    // Abandons a read that waits for the lock and ends the thread.
    ~CSectionReader();
    CSectionReader(const CSectionReader&) = delete;
    CSectionReader& operator=(const CSectionReader&) = delete;

    // Asks for a read; returns at once. The thread starts on the first call.
    void Request();
    // What happened since the last call (on the owner's thread).
    Outcome Take();

private:
    void run();
    // Called between attempts at the lock: sleeps a little, notes that the
    // list has gone stale, and says whether to go on waiting.
    bool keepWaiting(std::chrono::steady_clock::time_point since, int& attempt);
    void announce(std::unique_lock<std::mutex>& guard);

    std::function<void()> m_ready;
    // Touched by the reader thread only.
    CUITVLSession m_sessions;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_stopping = false;
    bool m_announced = false; // an announcement is waiting to be collected
    Outcome m_outcome;
    bool m_staleNoted = false; // the current wait already made the list stale
    std::thread m_thread;
};

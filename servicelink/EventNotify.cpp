#include "servicelink/EventNotify.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

// State shared by one worker run and the hand-overs it queued on the
// target's thread. A hand-over may outlive the run (it sits in the target's
// event queue after a stop), so it keeps the state alive.
//
// The end of a hand-over is signalled on doneFd only when the worker has said
// that it waits for it: pending and waiting form a two-flag handshake in
// which exactly one side clears waiting, so the worker neither misses the end
// nor finds a stale signal later.
struct CEventNotify::Handover
{
    int doneFd = -1;                  // written when a waited-for hand-over is finished or dropped
    std::atomic<bool> pending{false}; // a hand-over is queued and has not ended
    std::atomic<bool> waiting{false}; // the worker blocks until it ends
    std::atomic<bool> abandoned{false};
    std::atomic<quint64> handedOver{0};
    std::atomic<quint64> delivered{0};

    Handover() { doneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
    ~Handover()
    {
        if (doneFd >= 0)
            ::close(doneFd);
    }
};

// Lives inside the queued call: its destruction (after the call ran, or when
// Qt drops the call because the target died) ends the hand-over.
struct CEventNotify::Ticket
{
    explicit Ticket(std::shared_ptr<Handover> handover) : m_handover(std::move(handover)) {}
    ~Ticket()
    {
        m_handover->pending.store(false);
        if (m_handover->waiting.exchange(false)) {
            const quint64 one = 1;
            [[maybe_unused]] ssize_t n = ::write(m_handover->doneFd, &one, sizeof one);
        }
    }
    std::shared_ptr<Handover> m_handover;
};

namespace {

int pollRetry(pollfd* fds, nfds_t n)
{
    for (;;) {
        const int r = ::poll(fds, n, -1);
        if (r >= 0 || errno != EINTR)
            return r;
    }
}
} // namespace

CEventNotify::CEventNotify() = default;

CEventNotify::~CEventNotify()
{
    Stop();
    m_target.clear();
    m_notification = nullptr;
    m_consume = nullptr;
    m_watchedFd = -1;
}

bool CEventNotify::Start(QObject* target, Notification notification, int watchedFd,
                         Consumer consume)
{
    // The old worker reads these members, so it must end before they change.
    Stop();
    m_target = target;
    m_notification = std::move(notification);
    m_consume = std::move(consume);
    m_watchedFd = watchedFd;
    m_handover = std::make_shared<Handover>();
    if (m_handover->doneFd < 0)
        return false;
    return StartThread();
}

void CEventNotify::Stop()
{
    StopThread();
}

quint64 CEventNotify::HandedOver() const
{
    return m_handover ? m_handover->handedOver.load() : 0;
}

quint64 CEventNotify::Delivered() const
{
    return m_handover ? m_handover->delivered.load() : 0;
}

bool CEventNotify::WaitForHandover(Handover& handover)
{
    handover.waiting.store(true);
    // Already over, and the waiting flag taken back: nobody will signal.
    if (!handover.pending.load() && handover.waiting.exchange(false))
        return true;
    pollfd wait[2] = {{WakeDescriptor(), POLLIN, 0}, {handover.doneFd, POLLIN, 0}};
    for (;;) {
        if (pollRetry(wait, 2) < 0)
            return false;
        if (wait[1].revents & POLLIN) {
            quint64 count = 0;
            [[maybe_unused]] ssize_t n = ::read(handover.doneFd, &count, sizeof count);
            return true;
        }
        if (wait[0].revents & POLLIN) {
            bool quit = false;
            ProcessThreadMessages(quit);
            if (quit)
                return false;
        }
    }
}

int CEventNotify::Run()
{
    const std::shared_ptr<Handover> handover = m_handover;
    Handover* h = handover.get();
    // However the worker ends, a hand-over still queued must not run: the
    // owner that stopped us may already be tearing the target down.
    struct Abandon
    {
        Handover* h;
        ~Abandon() { h->abandoned = true; }
    } abandonOnExit{h};
    for (;;) {
        pollfd fds[2] = {{WakeDescriptor(), POLLIN, 0}, {m_watchedFd, POLLIN, 0}};
        if (pollRetry(fds, 2) < 0)
            return 0;
        if (fds[0].revents & POLLIN) {
            bool quit = false;
            ProcessThreadMessages(quit);
            if (quit)
                return 0;
            continue;
        }
        if (fds[0].revents || (fds[1].revents & POLLNVAL))
            return 0;
        if (!fds[1].revents)
            continue;

        // Never more than one notification outstanding.
        if (!WaitForHandover(*h))
            return 0;
        if (m_consume)
            m_consume(m_watchedFd);

        QObject* target = m_target.data();
        if (!target) {
            // Nobody to tell. The target's owner is expected to stop us; until
            // then do not spin on a descriptor that stays readable.
            pollfd wake = {WakeDescriptor(), POLLIN, 0};
            pollRetry(&wake, 1);
            continue;
        }
        h->pending.store(true);
        auto ticket = std::make_shared<Ticket>(handover);
        Notification notification = m_notification;
        ++h->handedOver;
        const bool queued = QMetaObject::invokeMethod(
            target,
            [ticket, h, notification]() {
                if (h->abandoned.load())
                    return;
                if (notification)
                    notification();
                ++h->delivered;
            },
            Qt::QueuedConnection);
        ticket.reset();
        if (!queued)
            continue;

        // Without a consumer the descriptor stays readable until the
        // notification has run: wait for it here rather than wake up to a
        // readiness that is already being handled.
        if (!m_consume && !WaitForHandover(*h))
            return 0;
    }
}

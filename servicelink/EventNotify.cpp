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
struct CEventNotify::Handover
{
    int doneFd = -1; // written when a hand-over is finished or dropped
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

namespace {
// Lives inside the queued call: its destruction (after the call ran, or when
// Qt drops the call because the target died) releases the waiting worker.
struct Ticket
{
    explicit Ticket(std::shared_ptr<void> keep, int fd) : m_keep(std::move(keep)), m_fd(fd) {}
    ~Ticket()
    {
        const quint64 one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
    }
    std::shared_ptr<void> m_keep;
    int m_fd;
};

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
    m_watchedFd = -1;
}

bool CEventNotify::Start(QObject* target, Notification notification, int watchedFd)
{
    // The old worker reads these members, so it must end before they change.
    Stop();
    m_target = target;
    m_notification = std::move(notification);
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

int CEventNotify::Run()
{
    const std::shared_ptr<Handover> handover = m_handover;
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

        QObject* target = m_target.data();
        if (!target) {
            // Nobody to tell. The target's owner is expected to stop us; until
            // then do not spin on a descriptor that stays readable.
            pollfd wake = {WakeDescriptor(), POLLIN, 0};
            pollRetry(&wake, 1);
            continue;
        }
        auto ticket = std::make_shared<Ticket>(handover, handover->doneFd);
        Handover* h = handover.get();
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

        // Wait until the target has run the notification, or for a stop.
        pollfd wait[2] = {{WakeDescriptor(), POLLIN, 0}, {handover->doneFd, POLLIN, 0}};
        for (;;) {
            if (pollRetry(wait, 2) < 0)
                return 0;
            if (wait[1].revents & POLLIN) {
                quint64 count = 0;
                [[maybe_unused]] ssize_t n = ::read(handover->doneFd, &count, sizeof count);
                break;
            }
            if (wait[0].revents & POLLIN) {
                bool quit = false;
                ProcessThreadMessages(quit);
                if (quit) {
                    handover->abandoned = true;
                    return 0;
                }
            }
        }
    }
}

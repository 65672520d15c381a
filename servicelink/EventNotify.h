#pragma once

#include "servicelink/IThread.h"

#include <QPointer>

#include <functional>
#include <memory>

class QObject;

// Waits on a pollable descriptor and, each time it becomes readable, runs a
// notification on the thread of a target object, waiting until it has run
// before it waits again: the worker never has more than one notification
// outstanding and never outruns the target.
//
// The notification must consume what made the descriptor readable (read the
// message, drain the inotify events); a descriptor left readable is announced
// again at once.
//
// Stopping is safe from any thread, including the target's thread while a
// notification is pending: the stop wakes the worker, the worker abandons the
// pending hand-over (it will not run any more) and ends. A target that has
// been destroyed gets no notification and the worker goes on waiting.
//
// A notifier may be given a consumer that runs on the worker each time the
// descriptor turned readable, before the hand-over, and takes the readiness
// so that the descriptor stays quiet until the target re-arms it (an epoll
// set of one-shot entries). The worker then goes back to waiting at once and
// is not woken again when the notification has run; it still waits for that
// before it hands over the next one.
class CEventNotify : public IThread
{
public:
    using Notification = std::function<void()>;
    using Consumer = std::function<void(int watchedFd)>;

    CEventNotify();
    ~CEventNotify() override;

    // Records target, notification, watched descriptor (not owned, never
    // closed here) and consumer, and (re)starts the worker; a running worker
    // ends first.
    bool Start(QObject* target, Notification notification, int watchedFd,
               Consumer consume = Consumer());
    // Ends the worker if one runs; nothing happens otherwise.
    void Stop();

    // Notifications handed over and run so far (for tests and diagnostics).
    quint64 HandedOver() const;
    quint64 Delivered() const;

protected:
    int Run() override;

private:
    struct Handover;
    struct Ticket;
    // Waits until the last hand-over has run or was dropped; false when a
    // stop came first (the pending hand-over is then abandoned).
    bool WaitForHandover(Handover& handover);

    QPointer<QObject> m_target;
    Notification m_notification;
    Consumer m_consume;
    int m_watchedFd = -1;
    // One per worker run: hand-overs still queued from an earlier run find
    // their own run abandoned and do nothing.
    std::shared_ptr<Handover> m_handover;
};

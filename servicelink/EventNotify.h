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
class CEventNotify : public IThread
{
public:
    using Notification = std::function<void()>;

    CEventNotify();
    ~CEventNotify() override;

    // Records target, notification and watched descriptor (not owned, never
    // closed here) and (re)starts the worker; a running worker ends first.
    bool Start(QObject* target, Notification notification, int watchedFd);
    // Ends the worker if one runs; nothing happens otherwise.
    void Stop();

    // Notifications handed over and run so far (for tests and diagnostics).
    quint64 HandedOver() const;
    quint64 Delivered() const;

protected:
    int Run() override;

private:
    struct Handover;

    QPointer<QObject> m_target;
    Notification m_notification;
    int m_watchedFd = -1;
    // One per worker run: hand-overs still queued from an earlier run find
    // their own run abandoned and do nothing.
    std::shared_ptr<Handover> m_handover;
};

// The worker thread and its notifier: hand-overs run on the target's thread
// one at a time, and every way of stopping ends the worker without a hang.
#include "servicelink/EventNotify.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
struct EventFd
{
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~EventFd() { ::close(fd); }
    void signal() const
    {
        const quint64 one = 1;
        QCOMPARE(::write(fd, &one, sizeof one), ssize_t(sizeof one));
    }
    quint64 consume() const
    {
        quint64 value = 0;
        return ::read(fd, &value, sizeof value) == sizeof value ? value : 0;
    }
};

// Exposes the protected queue hooks of the base class.
class CountingThread : public IThread
{
public:
    ~CountingThread() override { StopThread(); }
    bool start() { return StartThread(); }
    void stop() { StopThread(); }
    int quits = 0;

protected:
    int OnThreadMessage(quint32 message, quintptr, qintptr) override
    {
        if (message == kQuitMessage)
            ++quits;
        return 0;
    }
    int Run() override
    {
        for (;;) {
            pollfd wake = {WakeDescriptor(), POLLIN, 0};
            ::poll(&wake, 1, -1);
            bool quit = false;
            ProcessThreadMessages(quit);
            if (quit)
                return 7;
        }
    }
};
} // namespace

class TestEventNotify : public QObject
{
    Q_OBJECT
private slots:
    void notificationsRunOnTargetThreadOneAtATime_data();
    void notificationsRunOnTargetThreadOneAtATime();
    void restartReplacesTheWorker();
    void stopWithPendingHandoverDoesNotDeadlock_data();
    void stopWithPendingHandoverDoesNotDeadlock();
    void stopFromInsideTheNotification();
    void destroyedTargetGetsNothing();
    void neverStartedNotifier();
    void twoQuitRequestsEndAtTheFirst();
    void churn();
};

// Without a consumer the notification takes the readiness itself; with one,
// the worker takes it before the hand-over and does not wait for the
// notification to end until the next readiness.
static void addConsumerRows()
{
    QTest::addColumn<bool>("consumeOnWorker");
    QTest::addRow("notification consumes") << false;
    QTest::addRow("worker consumes") << true;
}

void TestEventNotify::notificationsRunOnTargetThreadOneAtATime_data()
{
    addConsumerRows();
}

void TestEventNotify::notificationsRunOnTargetThreadOneAtATime()
{
    QFETCH(bool, consumeOnWorker);
    EventFd event;
    QObject target;
    CEventNotify notify;
    int calls = 0;
    bool onOwnThread = true;
    std::atomic<bool> consumerOnWorker{true};
    CEventNotify::Consumer consumer;
    if (consumeOnWorker) {
        consumer = [&](int fd) {
            if (fd != event.fd || QThread::currentThread() == target.thread())
                consumerOnWorker = false;
            event.consume();
        };
    }
    QVERIFY(notify.Start(
        &target,
        [&] {
            onOwnThread = onOwnThread && QThread::currentThread() == target.thread();
            event.consume();
            ++calls;
        },
        event.fd, consumer));
    QVERIFY(notify.IsRunning());
    for (int i = 1; i <= 5; ++i) {
        event.signal();
        QTRY_COMPARE(calls, i);
    }
    QVERIFY(onOwnThread);
    QVERIFY(consumerOnWorker);

    // The worker waits for each hand-over: however often the event is
    // signalled while the target is busy, at most one notification is queued
    // (even when the worker itself keeps taking the readiness).
    for (int i = 0; i < 20; ++i) {
        event.signal();
        QThread::msleep(1);
    }
    QTRY_COMPARE(notify.HandedOver(), quint64(6));
    QThread::msleep(50);
    QCOMPARE(notify.HandedOver(), quint64(6));
    // Once the target runs again every hand-over is delivered; signals taken
    // by the worker while it waited make one more notification, not more.
    QTRY_VERIFY(calls >= 6);
    QThread::msleep(20);
    QCoreApplication::processEvents();
    QCOMPARE(quint64(calls), notify.HandedOver());
    QVERIFY(calls <= (consumeOnWorker ? 7 : 6));
    notify.Stop();
    QVERIFY(!notify.IsRunning());
}

void TestEventNotify::restartReplacesTheWorker()
{
    EventFd first, second;
    QObject target;
    CEventNotify notify;
    QStringList seen;
    QVERIFY(notify.Start(
        &target,
        [&] {
            first.consume();
            seen << QStringLiteral("first");
        },
        first.fd));
    const qint64 oldId = notify.ThreadId();
    QTRY_VERIFY(notify.ThreadId() != 0);
    QVERIFY(notify.Start(
        &target,
        [&] {
            second.consume();
            seen << QStringLiteral("second");
        },
        second.fd));
    QTRY_VERIFY(notify.ThreadId() != 0);
    QVERIFY(oldId == 0 || notify.ThreadId() != oldId);
    first.signal();
    second.signal();
    QTRY_COMPARE(seen, QStringList{QStringLiteral("second")});
    QThread::msleep(20);
    QCoreApplication::processEvents();
    QCOMPARE(seen, QStringList{QStringLiteral("second")});
}

void TestEventNotify::stopWithPendingHandoverDoesNotDeadlock_data()
{
    addConsumerRows();
}

void TestEventNotify::stopWithPendingHandoverDoesNotDeadlock()
{
    // The target's thread stops the worker while a notification for that
    // very thread is queued (and the worker may be waiting for it): the stop
    // must return and the abandoned notification must never run.
    QFETCH(bool, consumeOnWorker);
    EventFd event;
    QObject target;
    CEventNotify notify;
    int calls = 0;
    CEventNotify::Consumer consumer;
    if (consumeOnWorker)
        consumer = [&](int) { event.consume(); };
    QVERIFY(notify.Start(
        &target, [&] { ++calls; }, event.fd, consumer));
    event.signal();
    QElapsedTimer waited;
    waited.start();
    while (notify.HandedOver() == 0 && waited.elapsed() < 5000)
        QThread::msleep(1); // no event processing here
    QCOMPARE(notify.HandedOver(), quint64(1));
    notify.Stop();
    QVERIFY(!notify.IsRunning());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(calls, 0);

    // And the same while the notifier is destroyed instead of stopped.
    auto* other = new CEventNotify;
    QVERIFY(other->Start(
        &target, [&] { ++calls; }, event.fd, consumer));
    event.signal();
    waited.restart();
    while (other->HandedOver() == 0 && waited.elapsed() < 5000)
        QThread::msleep(1);
    QCOMPARE(other->HandedOver(), quint64(1));
    delete other;
    QCoreApplication::processEvents();
    QCOMPARE(calls, 0);
}

void TestEventNotify::stopFromInsideTheNotification()
{
    EventFd event;
    QObject target;
    CEventNotify notify;
    int calls = 0;
    QVERIFY(notify.Start(
        &target,
        [&] {
            ++calls;
            notify.Stop();
        },
        event.fd));
    event.signal();
    QTRY_COMPARE(calls, 1);
    QTRY_VERIFY(!notify.IsRunning());
    // Restartable afterwards.
    QVERIFY(notify.Start(
        &target,
        [&] {
            event.consume();
            ++calls;
        },
        event.fd));
    QTRY_COMPARE(calls, 2);
}

void TestEventNotify::destroyedTargetGetsNothing()
{
    EventFd event;
    auto* target = new QObject;
    CEventNotify notify;
    int calls = 0;
    QVERIFY(notify.Start(
        target, [&] { ++calls; }, event.fd));
    delete target;
    event.signal();
    QThread::msleep(30);
    QCoreApplication::processEvents();
    QCOMPARE(calls, 0);
    QVERIFY(notify.IsRunning());

    // A target destroyed while its notification is queued drops it and
    // releases the worker.
    auto* second = new QObject;
    QVERIFY(notify.Start(
        second, [&] { ++calls; }, event.fd));
    QElapsedTimer waited;
    waited.start();
    while (notify.HandedOver() == 0 && waited.elapsed() < 5000)
        QThread::msleep(1); // no event processing here
    QCOMPARE(notify.HandedOver(), quint64(1));
    delete second;
    QCoreApplication::processEvents();
    QCOMPARE(calls, 0);
    notify.Stop();
}

void TestEventNotify::neverStartedNotifier()
{
    CEventNotify notify;
    QVERIFY(!notify.IsRunning());
    notify.Stop();
    notify.PostQuit();
}

void TestEventNotify::twoQuitRequestsEndAtTheFirst()
{
    CountingThread thread;
    thread.PostQuit();
    thread.PostQuit();
    QVERIFY(thread.start()); // a restart forgets requests queued before it
    thread.PostQuit();
    thread.PostQuit();
    thread.stop(); // queues a third
    QCOMPARE(thread.quits, 1);
    QVERIFY(!thread.IsRunning());
    // The left-over quits do not end the next worker.
    QVERIFY(thread.start());
    QThread::msleep(20);
    QVERIFY(thread.IsRunning());
    thread.stop();
    QCOMPARE(thread.quits, 2);
}

void TestEventNotify::churn()
{
    // Many starts and stops while notifications fly: no hang, no leak, no
    // notification after the last stop.
    EventFd event;
    QObject target;
    CEventNotify notify;
    int calls = 0;
    for (int i = 0; i < 200; ++i) {
        QVERIFY(notify.Start(
            &target,
            [&] {
                event.consume();
                ++calls;
            },
            event.fd));
        event.signal();
        if (i % 3 == 0)
            QCoreApplication::processEvents();
        if (i % 5 == 0)
            notify.Stop();
    }
    QTRY_VERIFY(calls > 0);
    notify.Stop();
    const int before = calls;
    event.signal();
    QThread::msleep(10);
    QCoreApplication::processEvents();
    QCOMPARE(calls, before);
}

QTEST_GUILESS_MAIN(TestEventNotify)
#include "tst_eventnotify.moc"

#include "servicelink/EventNotify.h"
#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"
#include "tests/sessions/SectionImage.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class tst_SharedSection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void names();
    void createdObjectsOpenToEveryone();
    void lockRecursiveForItsOwnerThread();
    void lockHolderKilledDoesNotBlock();
    void eventWakesNotifierOncePerWrite();
    void eventStopWithNotificationPending();
    void plantedEntriesAreRefused_data();
    void plantedEntriesAreRefused();
    void tryLockNeverWaits();

private:
    // A separate process that holds the section lock until killed.
    pid_t holdLockInOtherProcess();
    // Signals the event the way the service does: a write by another process.
    void signalFromOtherProcess();

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_SharedSection::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void tst_SharedSection::signalFromOtherProcess()
{
    const QByteArray path = QFile::encodeName(TestSection::EventFile(m_env->runtimeDir()));
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && ::pwrite(fd, "x", 1, 0) == 1;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void tst_SharedSection::names()
{
    const QString prefix = QStringLiteral("Global\\{65AFFDA5-0BE5-4d6a-85C9-997A691FDF1F}");
    QCOMPARE(SharedNames::SectionName(), prefix + QStringLiteral(".SessionList"));
    QCOMPARE(SharedNames::SectionLockName(), prefix + QStringLiteral(".SessionList.Lock"));
    QCOMPARE(SharedNames::PeerNotifyName(), prefix + QStringLiteral(".LSP.Notify"));
    QCOMPARE(SharedNames::EntryPath(SharedNames::SectionName()),
             TestSection::SectionFile(m_env->runtimeDir()));
    QCOMPARE(SharedNames::EntryPath(SharedNames::SectionLockName()),
             TestSection::LockFile(m_env->runtimeDir()));
    QCOMPARE(SharedNames::EntryPath(SharedNames::PeerNotifyName()),
             TestSection::EventFile(m_env->runtimeDir()));
}

// The service and every user's program share the lock and the event, so
// whoever creates them must not let its umask lock the others out.
void tst_SharedSection::createdObjectsOpenToEveryone()
{
    QFile::remove(TestSection::LockFile(m_env->runtimeDir()));
    QFile::remove(TestSection::EventFile(m_env->runtimeDir()));
    const mode_t previous = ::umask(077);
    {
        CSharedSection section;
        QVERIFY(section.Lock().IsValid());
        CPeerChangeEvent event;
        QVERIFY2(event.Open(), qPrintable(event.ErrorText()));
    }
    ::umask(previous);
    for (const QString& path : {TestSection::LockFile(m_env->runtimeDir()),
                                TestSection::EventFile(m_env->runtimeDir())}) {
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0666));
        QCOMPARE(info.st_size, off_t(0)); // never written by the program
    }
    // Open or created: an existing one is opened, not replaced.
    CPeerChangeEvent again;
    QVERIFY(again.Open());
}

void tst_SharedSection::lockRecursiveForItsOwnerThread()
{
    const QString path = TestSection::LockFile(m_env->runtimeDir());
    CNamedLock first;
    CNamedLock second; // another handle on the same name, as a nested refresh makes
    QVERIFY(first.Open(path));
    QVERIFY(second.Open(path));
    QVERIFY(first.Lock());
    QVERIFY(second.Lock());

    std::atomic<bool> acquired{false};
    std::thread other([&] {
        CNamedLock third;
        if (third.Open(path) && third.Lock()) {
            acquired = true;
            third.Unlock();
        }
    });
    QTest::qWait(100);
    QVERIFY(!acquired);
    second.Unlock();
    QTest::qWait(100);
    QVERIFY(!acquired); // still held once
    first.Unlock();
    QTRY_VERIFY(acquired);
    other.join();

    // An empty handle fails at once instead of blocking.
    CNamedLock empty;
    QVERIFY(!empty.Lock());
}

// The kernel drops a flock when its holder dies: a service killed in the
// middle of a write must not freeze every program's refresh.
void tst_SharedSection::lockHolderKilledDoesNotBlock()
{
    TestSection::Image image;
    image.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 1)
        .peer(QStringLiteral("p1"))
        .tunnels(0, 0);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), image.image()));

    const QByteArray lockPath = QFile::encodeName(TestSection::LockFile(m_env->runtimeDir()));
    int ready[2];
    QCOMPARE(::pipe2(ready, O_CLOEXEC), 0);
    const pid_t holder = ::fork();
    QVERIFY(holder >= 0);
    if (holder == 0) {
        const int fd = ::open(lockPath.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            ::_exit(1);
        [[maybe_unused]] ssize_t n = ::write(ready[1], "L", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    ::close(ready[0]);

    std::atomic<bool> done{false};
    CUITVLSession container;
    std::thread reader([&] {
        container.Refresh();
        done = true;
    });
    QTest::qWait(200);
    const bool blockedWhileHeld = !done;
    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    QTRY_VERIFY(done);
    reader.join();
    QVERIFY(blockedWhileHeld);
    QCOMPARE(container.GetClients().size(), 1);
}

void tst_SharedSection::eventWakesNotifierOncePerWrite()
{
    CPeerChangeEvent event;
    QVERIFY(event.Open());
    QObject target;
    int wakes = 0;
    int modifications = 0;
    CEventNotify notifier;
    QVERIFY(notifier.Start(
        &target,
        [&] {
            modifications += event.Consume();
            ++wakes;
        },
        event.Descriptor()));

    for (int i = 1; i <= 3; ++i) {
        signalFromOtherProcess();
        QTRY_COMPARE(wakes, i);
    }
    // Consumed signals are not announced again.
    QTest::qWait(150);
    QCOMPARE(wakes, 3);
    QCOMPARE(modifications, 3);

    notifier.Stop();
    QVERIFY(!notifier.IsRunning());
    signalFromOtherProcess();
    QTest::qWait(150);
    QCOMPARE(wakes, 3);
    event.Consume();
}

// A stop made on the target's thread while a hand-over waits for it returns,
// and the abandoned notification never runs.
void tst_SharedSection::eventStopWithNotificationPending()
{
    CPeerChangeEvent event;
    QVERIFY(event.Open());
    QObject target;
    int wakes = 0;
    CEventNotify notifier;
    QVERIFY(notifier.Start(
        &target,
        [&] {
            event.Consume();
            ++wakes;
        },
        event.Descriptor()));
    signalFromOtherProcess();
    // Wait without running events, so the hand-over stays pending.
    for (int i = 0; i < 500 && notifier.HandedOver() == 0; ++i)
        ::usleep(10000);
    QVERIFY(notifier.HandedOver() >= 1);
    notifier.Stop();
    QVERIFY(!notifier.IsRunning());
    QCoreApplication::processEvents();
    QTest::qWait(50);
    QCOMPARE(wakes, 0);
    event.Consume();
}

pid_t tst_SharedSection::holdLockInOtherProcess()
{
    const QByteArray lockPath = QFile::encodeName(TestSection::LockFile(m_env->runtimeDir()));
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(lockPath.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            ::_exit(1);
        [[maybe_unused]] ssize_t n = ::write(ready[1], "L", 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    const bool held = holder > 0 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return held ? holder : -1;
}

// Anyone who may write the runtime folder can put a FIFO or a link under one
// of the names. Such an entry is an object that could not be opened: nothing
// waits on it (a FIFO would hold open() for ever) and nothing goes through
// it. Without the lock the list is still read, unguarded.
void tst_SharedSection::plantedEntriesAreRefused_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("planted");
    for (const char* entry : {"section", "lock", "event"}) {
        for (const char* planted : {"fifo", "link"})
            QTest::addRow("%s at the %s", planted, entry)
                << QString::fromLatin1(entry) << QString::fromLatin1(planted);
    }
}

void tst_SharedSection::plantedEntriesAreRefused()
{
    QFETCH(QString, entry);
    QFETCH(QString, planted);
    const QString dir = m_env->runtimeDir();
    for (const QString& file :
         {TestSection::SectionFile(dir), TestSection::LockFile(dir), TestSection::EventFile(dir)})
        QFile::remove(file);
    TestSection::Image image;
    image.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 1)
        .peer(QStringLiteral("p1"))
        .tunnels(0, 0);
    const QString target = QDir(m_env->root()).filePath(QStringLiteral("target"));
    QFile::remove(target);
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image.image());
    }
    if (entry != QLatin1String("section"))
        QVERIFY(TestSection::Publish(dir, image.image()));
    const QString path = entry == QLatin1String("section") ? TestSection::SectionFile(dir)
                         : entry == QLatin1String("lock")  ? TestSection::LockFile(dir)
                                                           : TestSection::EventFile(dir);
    if (planted == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
    else
        QVERIFY(QFile::link(target, path));

    if (entry == QLatin1String("event")) {
        CPeerChangeEvent event;
        QVERIFY(!event.Open());
        QVERIFY(!event.ErrorText().isEmpty());
        return;
    }
    if (entry == QLatin1String("lock")) {
        CNamedLock lock;
        QVERIFY(!lock.Open(path));
        QVERIFY(!lock.IsValid());
    } else if (planted == QLatin1String("fifo")) {
        CSharedSection section;
        QVERIFY(!section.Open());
    }
    CUITVLSession container;
    container.Refresh();
    // A section behind a link is the service's business (it may rename files
    // into place); only a FIFO there leaves the list empty.
    const bool listed = entry == QLatin1String("lock") || planted == QLatin1String("link");
    QCOMPARE(container.GetClients().size(), listed ? 1 : 0);
    QCOMPARE(QFileInfo(target).size(), qint64(image.image().size()));
}

// The attempt that a thread which must stay responsive uses: it reports a
// busy lock at once, whoever holds it, and still nests for its own thread.
void tst_SharedSection::tryLockNeverWaits()
{
    const QString dir = m_env->runtimeDir();
    QFile::remove(TestSection::LockFile(dir));
    TestSection::Image image;
    image.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 1)
        .peer(QStringLiteral("p1"))
        .tunnels(0, 0);
    QVERIFY(TestSection::Publish(dir, image.image()));
    CUITVLSession container;
    container.Refresh();
    QCOMPARE(container.GetClients().size(), 1);

    const pid_t holder = holdLockInOtherProcess();
    QVERIFY(holder > 0);
    {
        CNamedLock lock;
        QVERIFY(lock.Open(TestSection::LockFile(dir)));
        QCOMPARE(lock.TryLock(), CNamedLock::Attempt::Busy);
    }
    // A refresh that may give up does so, and keeps the last good list.
    TestSection::Image changed;
    changed.session(QStringLiteral("beta"), QStringLiteral("Beta"), 2)
        .peer(QStringLiteral("q1"))
        .peer(QStringLiteral("q2"))
        .tunnels(0, 0);
    QVERIFY(TestSection::Publish(dir, changed.image()));
    int attempts = 0;
    QVERIFY(!container.Refresh([&] { return ++attempts < 3; }));
    QCOMPARE(attempts, 3);
    QCOMPARE(container.GetClients().size(), 1);

    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    QVERIFY(container.Refresh([] { return true; }));
    QCOMPARE(container.GetClients().size(), 2);

    // Within this process: another thread's hold is busy, the own nests.
    CNamedLock mine;
    QVERIFY(mine.Open(TestSection::LockFile(dir)));
    QCOMPARE(mine.TryLock(), CNamedLock::Attempt::Taken);
    QCOMPARE(mine.TryLock(), CNamedLock::Attempt::Taken);
    CNamedLock::Attempt other = CNamedLock::Attempt::Failed;
    std::thread([&] {
        CNamedLock theirs;
        if (theirs.Open(TestSection::LockFile(dir)))
            other = theirs.TryLock();
    }).join();
    QCOMPARE(other, CNamedLock::Attempt::Busy);
    mine.Unlock();
    mine.Unlock();
    CNamedLock empty;
    QCOMPARE(empty.TryLock(), CNamedLock::Attempt::Failed);
}

QTEST_GUILESS_MAIN(tst_SharedSection)
#include "tst_sharedsection.moc"

// The channel against a minimal in-test service on a real SOCK_SEQPACKET
// socket: absent and busy services, message sizes, a dropped connection,
// sends on a broken channel, the reconnection after a lost link, a service
// that stops reading, a socket served by another user, and answers nobody
// asked for.
#include "foundation/XmlSerializer.h"
#include "resources/StringTable.h"
#include "servicelink/IPCCommandHandler.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
sockaddr_un address()
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(CIPCPipe::SocketPath());
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return addr;
}

// The service's end, kept as small as the test needs.
class TestServer
{
public:
    ~TestServer() { close(); }
    bool listen(int backlog = 16, bool doListen = true)
    {
        close();
        ::unlink(QFile::encodeName(CIPCPipe::SocketPath()).constData());
        m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        const sockaddr_un addr = address();
        if (::bind(m_listen, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
            return false;
        return !doListen || ::listen(m_listen, backlog) == 0;
    }
    int accept(int timeoutMs = 5000)
    {
        pollfd p = {m_listen, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return -1;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            m_clients.push_back(fd);
        return fd;
    }
    static bool send(int fd, const QByteArray& wire)
    {
        return ::send(fd, wire.constData(), static_cast<size_t>(wire.size()), MSG_NOSIGNAL) ==
               wire.size();
    }
    static QByteArray receive(int fd, int timeoutMs = 5000)
    {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return QByteArray();
        QByteArray buffer(65536, '\0');
        const ssize_t n = ::recv(fd, buffer.data(), static_cast<size_t>(buffer.size()), 0);
        buffer.resize(n > 0 ? n : 0);
        return buffer;
    }
    void closeClients()
    {
        for (int fd : m_clients)
            ::close(fd);
        m_clients.clear();
    }
    void close()
    {
        closeClients();
        if (m_listen >= 0)
            ::close(m_listen);
        m_listen = -1;
        ::unlink(QFile::encodeName(CIPCPipe::SocketPath()).constData());
    }
    int listenFd() const { return m_listen; }

private:
    int m_listen = -1;
    std::vector<int> m_clients;
};

// A status message padded with blanks to exactly `bytes` bytes on the wire.
QByteArray statusOfSize(long status, int bytes)
{
    const QString head =
        QStringLiteral("<TervalaIPC><command command=\"5\"/><parameters parameters=\"%1\"/>")
            .arg(status);
    const QString tail = QStringLiteral("</TervalaIPC>");
    const qsizetype pad = bytes / 2 - 1 - head.size() - tail.size();
    return EncodeMessage(head + QString(pad, QLatin1Char(' ')) + tail);
}

QByteArray status(long value)
{
    return EncodeMessage(
        QStringLiteral(
            "<TervalaIPC><command command=\"5\"/><parameters parameters=\"%1\"/></TervalaIPC>")
            .arg(value));
}

class StatusRecorder : public IRPCExecute
{
public:
    int PostP2PStatusChange(long value) override
    {
        statuses << value;
        return 0;
    }
    int PostJoinInvitationStatus(long success, const QString&, const QString& session,
                                 const QString& address) override
    {
        answers << QStringLiteral("join %1 %2 %3").arg(success).arg(session, address);
        return 0;
    }
    int PostCreateInvitationStatus(const QString& first, long success, const QString&) override
    {
        answers << QStringLiteral("create %1 %2").arg(first).arg(success);
        return 0;
    }
    int PostInvitationAppData(const QByteArray& data) override
    {
        answers << QStringLiteral("data ") + QString::fromLatin1(data);
        return 0;
    }
    QList<long> statuses;
    QStringList answers;
};

// One command with string parameters, as the service writes it.
QByteArray command(long number, const QStringList& parameters = {})
{
    QString text = QStringLiteral("<TervalaIPC><command command=\"%1\"/>").arg(number);
    for (const QString& parameter : parameters)
        text += QStringLiteral("<parameters parameters=\"%1\"/>").arg(parameter);
    return EncodeMessage(text + QStringLiteral("</TervalaIPC>"));
}

// What the owner of a proxy hears about its link, one word per event.
class LinkLog
{
public:
    explicit LinkLog(CIPCCommandHandler& proxy)
    {
        proxy.SetLinkObserver([this](const CIPCCommandHandler::LinkEvent& event) {
            switch (event.kind) {
            case CIPCCommandHandler::LinkEvent::Lost:
                events << QStringLiteral("lost");
                joinsLost += event.joinsLost;
                createsLost += event.createsLost;
                break;
            case CIPCCommandHandler::LinkEvent::Down:
                events << (event.firstOfOutage ? QStringLiteral("down!") : QStringLiteral("down"));
                reason = event.reason;
                break;
            case CIPCCommandHandler::LinkEvent::Restored:
                events << QStringLiteral("up");
                break;
            }
        });
    }
    QStringList events;
    QString reason;
    int joinsLost = 0;
    int createsLost = 0;
};

// A service that accepts every connection and, after holding it for the
// given time, closes it; it records when it accepted each one.
class FlappingService
{
public:
    explicit FlappingService(int listenFd) : m_listen(listenFd) {}
    ~FlappingService() { stop(); }
    void start(std::function<int(int index)> holdMs)
    {
        m_thread = std::thread([this, holdMs] {
            while (!m_stop) {
                pollfd p = {m_listen, POLLIN, 0};
                if (::poll(&p, 1, 20) != 1)
                    continue;
                const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    continue;
                int index;
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    index = int(m_accepted.size());
                    m_accepted.push_back(std::chrono::steady_clock::now());
                }
                const int hold = holdMs(index);
                for (int waited = 0; waited < hold && !m_stop; waited += 10)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ::close(fd);
            }
        });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int accepted()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return int(m_accepted.size());
    }
    // Milliseconds from each accept to the next.
    QList<qint64> gaps()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        QList<qint64> result;
        for (size_t i = 1; i < m_accepted.size(); ++i)
            result << std::chrono::duration_cast<std::chrono::milliseconds>(m_accepted[i] -
                                                                            m_accepted[i - 1])
                          .count();
        return result;
    }

private:
    int m_listen;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::chrono::steady_clock::time_point> m_accepted;
};

// The program reconnects on this thread: keep its events flowing meanwhile.
int acceptWhileRunning(TestServer& server)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000) {
        const int fd = server.accept(0);
        if (fd >= 0)
            return fd;
        QTest::qWait(5);
    }
    return -1;
}

QString expectedText(quint32 id, int err)
{
    return LoadString(id) + QStringLiteral(". Reason: ") +
           QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

class TestIpcPipe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void cleanup() { m_server.close(); }

    void absentService_data();
    void absentService();
    void busyServiceReachedLater();
    void busyServiceGivesUp();
    void messagesFlowBothWays();
    void messageSizes();
    void serviceDropsConnection();
    void sendOnBrokenChannelKeepsText();
    void lostServiceIsRetriedUntilBack();
    void flappingServiceMeetsAGrowingDelay();
    void lastingConnectionResetsTheDelay();
    void stuckServiceCountsAsLost();
    void peerRule_data();
    void peerRule();
    void socketOfAnotherUserIsRefused();
    void answersNobodyAskedForAreDropped();
    void requestsUnansweredWhenTheLinkGoes();

private:
    TestEnvironment m_env;
    TestServer m_server;
};

void TestIpcPipe::absentService_data()
{
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("err");
    QTest::addRow("no socket entry") << 0 << ENOENT;
    QTest::addRow("entry without a listener") << 1 << ECONNREFUSED;
}

void TestIpcPipe::absentService()
{
    QFETCH(int, setup);
    QFETCH(int, err);
    if (setup == 1)
        QVERIFY(m_server.listen(1, false));
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!proxy.StartClient(&window, &target));
    QVERIFY(timer.elapsed() < 1000); // nothing is retried
    QCOMPARE(proxy.GetErrorText(), expectedText(10005, err));
    QCOMPARE(proxy.Pipe().GetState(), CIPCPipe::Broken);
    QCOMPARE(proxy.Pipe().GetRole(), CIPCPipe::Client);
}

void TestIpcPipe::busyServiceReachedLater()
{
    // Backlog 0 holds one pending connection; the second finds it full.
    QVERIFY(m_server.listen(0));
    const sockaddr_un addr = address();
    const int filler = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QCOMPARE(::connect(filler, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QCOMPARE(::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), -1);
    QCOMPARE(errno, EAGAIN);
    ::close(probe);

    // The service frees its backlog after a while.
    std::thread service([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        m_server.accept();
    });
    CIPCPipe pipe;
    pipe.SetBusyWaitMs(10000);
    QElapsedTimer timer;
    timer.start();
    const bool connected = pipe.ConnectToServer(-1);
    const qint64 elapsed = timer.elapsed();
    service.join();
    ::close(filler);
    QVERIFY(connected);
    QCOMPARE(pipe.GetState(), CIPCPipe::Connected);
    QVERIFY(elapsed >= 300);
    QVERIFY(pipe.GetErrorText().isEmpty());
}

void TestIpcPipe::busyServiceGivesUp()
{
    QVERIFY(m_server.listen(0));
    const sockaddr_un addr = address();
    const int filler = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QCOMPARE(::connect(filler, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    CIPCPipe pipe;
    pipe.SetBusyWaitMs(150);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!pipe.ConnectToServer(-1));
    // Three attempts, each waiting out its busy period.
    QVERIFY(timer.elapsed() >= 3 * 150 - 30);
    QCOMPARE(pipe.GetErrorText(), expectedText(10005, EAGAIN));
    QCOMPARE(pipe.GetState(), CIPCPipe::Broken);
    ::close(filler);
}

void TestIpcPipe::messagesFlowBothWays()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    QVERIFY(proxy.StartClient(&window, &target));
    QCOMPARE(proxy.Pipe().GetState(), CIPCPipe::Reading);
    const int client = m_server.accept();
    QVERIFY(client >= 0);

    // Several messages in a row: each one read whole and in order.
    for (long i = 0; i < 5; ++i)
        QVERIFY(TestServer::send(client, status(i)));
    QTRY_COMPARE(target.statuses, (QList<long>{0, 1, 2, 3, 4}));

    // One send is one message: the document text plus its zero unit.
    proxy.JoinInvitation(QStringLiteral("nick"), QStringLiteral("/p"), QStringLiteral("pw"));
    const QByteArray wire = TestServer::receive(client);
    QVERIFY(wire.size() > 2 && wire.size() % 2 == 0);
    QVERIFY(wire.endsWith(QByteArray(2, '\0')));
    const QString text = DecodeMessage(wire.constData(), wire.size());
    QCOMPARE((text.size() + 1) * 2, wire.size());
    CXmlSerializer xml;
    QVERIFY(xml.LoadXml(text, QStringLiteral("TervalaIPC")));
    QVERIFY(proxy.GetErrorText().isEmpty());
}

void TestIpcPipe::messageSizes()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    QVERIFY(proxy.StartClient(&window, &target));
    int client = m_server.accept();

    // Exactly the receive buffer, terminator included: read whole.
    const QByteArray exact = statusOfSize(7, 20480);
    QCOMPARE(exact.size(), 20480);
    QVERIFY(TestServer::send(client, exact));
    QTRY_COMPARE(target.statuses, QList<long>{7});

    // Two bytes more: the channel breaks with 10006, reconnects once and
    // reads again.
    QVERIFY(TestServer::send(client, statusOfSize(8, 20482)));
    QVERIFY((client = acceptWhileRunning(m_server)) >= 0);
    QTRY_COMPARE(proxy.GetErrorText(), expectedText(10006, EMSGSIZE));
    QVERIFY(TestServer::send(client, status(9)));
    QTRY_COMPARE(target.statuses, (QList<long>{7, 9}));
    QCOMPARE(proxy.Pipe().GetState(), CIPCPipe::Reading);
}

void TestIpcPipe::serviceDropsConnection()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    QVERIFY(proxy.StartClient(&window, &target));
    int client = m_server.accept();
    QVERIFY(TestServer::send(client, status(1)));
    QTRY_COMPARE(target.statuses, QList<long>{1});

    // The service closes the connection; the program reconnects once and
    // hears the service again on the new connection.
    m_server.closeClients();
    QVERIFY((client = acceptWhileRunning(m_server)) >= 0);
    QTRY_COMPARE(proxy.Pipe().GetState(), CIPCPipe::Reading);
    QCOMPARE(proxy.GetErrorText(), expectedText(10006, ECONNRESET));
    QVERIFY(TestServer::send(client, status(0)));
    QTRY_COMPARE(target.statuses, (QList<long>{1, 0}));
    proxy.PostUINotify();
    QVERIFY(!TestServer::receive(client).isEmpty());

    // A zero-length message reads like a closed connection.
    QVERIFY(TestServer::send(client, QByteArray()));
    QVERIFY((client = acceptWhileRunning(m_server)) >= 0);
    QVERIFY(TestServer::send(client, status(5)));
    QTRY_COMPARE(target.statuses, (QList<long>{1, 0, 5}));
}

void TestIpcPipe::sendOnBrokenChannelKeepsText()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    QVERIFY(proxy.StartClient(&window, &target));
    QVERIFY(m_server.accept() >= 0);

    // The service goes away for good: the one reconnect fails (absent) and
    // the channel stays broken.
    m_server.close();
    QTRY_COMPARE(proxy.Pipe().GetState(), CIPCPipe::Broken);
    QTRY_COMPARE(proxy.GetErrorText(), expectedText(10005, ENOENT));
    const QString before = proxy.GetErrorText();

    QCOMPARE(proxy.PostUINotify(), 0);
    QCOMPARE(proxy.JoinInvitation(QString(), QString(), QString()), 0);
    QCOMPARE(proxy.GetErrorText(), before);
    QVERIFY(!proxy.Pipe().WriteMessage("x\0", 2));
    QCOMPARE(proxy.Pipe().GetErrorText(), before);

    QVERIFY(!proxy.IsLinkUp());
    QVERIFY(proxy.IsRetrying());
}

void TestIpcPipe::lostServiceIsRetriedUntilBack()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    proxy.SetRetryTiming(40, 320, 60000);
    LinkLog link(proxy);
    QVERIFY(proxy.StartClient(&window, &target));
    QVERIFY(m_server.accept() >= 0);

    // Gone: the one reconnect fails, the owner hears it once, then the timer
    // retries with a doubling delay, no faster and no more often.
    m_server.close();
    QTRY_COMPARE(link.events, (QStringList{QStringLiteral("lost"), QStringLiteral("down!")}));
    QCOMPARE(link.reason, expectedText(10005, ENOENT));
    QTRY_COMPARE(proxy.RetryDelayMs(), 320);
    // Start, the one reconnect, and retries after 40, 80 and 160 ms.
    QVERIFY(proxy.ConnectAttempts() >= 5);
    QTRY_VERIFY(proxy.ConnectAttempts() >= 7);
    QCOMPARE(proxy.RetryDelayMs(), 320);
    // Failed retries say nothing new.
    QCOMPARE(link.events.size(), 2);

    // Back: the next retry connects and a read is posted on the new connection.
    QVERIFY(m_server.listen());
    const int client = acceptWhileRunning(m_server);
    QVERIFY(client >= 0);
    QTRY_COMPARE(link.events.size(), 3);
    QCOMPARE(link.events.last(), QStringLiteral("up"));
    QVERIFY(proxy.IsLinkUp());
    QVERIFY(!proxy.IsRetrying());
    QVERIFY(TestServer::send(client, status(1)));
    QTRY_COMPARE(target.statuses, QList<long>{1});
    proxy.PostUINotify();
    QVERIFY(!TestServer::receive(client).isEmpty());
}

void TestIpcPipe::flappingServiceMeetsAGrowingDelay()
{
    // A service that accepts and at once drops every connection: each
    // connect succeeds, so only the delay stands between the program and a
    // reconnect loop. The gaps between connections must double up to the
    // longest delay (a timer never fires early by more than its coarse slack).
    QVERIFY(m_server.listen());
    FlappingService service(m_server.listenFd());
    service.start([](int) { return 0; });
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    proxy.SetRetryTiming(40, 320, 60000);
    LinkLog link(proxy);
    QVERIFY(proxy.StartClient(&window, &target));
    QTRY_VERIFY_WITH_TIMEOUT(service.accepted() >= 8, 20000);
    service.stop();
    const QList<qint64> gaps = service.gaps();
    // The first loss is reconnected at once; from then on the delays.
    const QList<qint64> expected = {0, 40, 80, 160, 320, 320, 320};
    for (qsizetype i = 1; i < expected.size(); ++i)
        QVERIFY2(gaps.at(i) >= expected.at(i) * 9 / 10,
                 qPrintable(QStringLiteral("gap %1 of %2 ms").arg(i).arg(gaps.at(i))));
    // The user is told once, however often the service drops the link.
    QCOMPARE(link.events.count(QStringLiteral("down!")), 1);
    QVERIFY(link.events.count(QStringLiteral("down")) >= 5);
}

void TestIpcPipe::lastingConnectionResetsTheDelay()
{
    QVERIFY(m_server.listen());
    // Three short connections, then one that lasts, then short ones again.
    FlappingService service(m_server.listenFd());
    service.start([](int index) { return index == 3 ? 1500 : 0; });
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    proxy.SetRetryTiming(40, 320, 1000);
    LinkLog link(proxy);
    QVERIFY(proxy.StartClient(&window, &target));
    QTRY_VERIFY_WITH_TIMEOUT(service.accepted() >= 6, 20000);
    service.stop();
    // first loss: at once; then delays of 40 and 80 ms (the third connection
    // lasts); its loss is reconnected at once and the next delay is the first
    // one again, and it counts as a new outage.
    const QStringList expected = {
        QStringLiteral("lost"),  QStringLiteral("up"),   QStringLiteral("lost"),
        QStringLiteral("down!"), QStringLiteral("up"),   QStringLiteral("lost"),
        QStringLiteral("down"),  QStringLiteral("up"),   QStringLiteral("lost"),
        QStringLiteral("up"),    QStringLiteral("lost"), QStringLiteral("down!")};
    QCOMPARE(link.events.mid(0, expected.size()), expected);
    QVERIFY(service.gaps().at(4) >= 40 * 9 / 10);
}

void TestIpcPipe::stuckServiceCountsAsLost()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    proxy.Pipe().SetWriteTimeoutMs(300);
    LinkLog link(proxy);
    QVERIFY(proxy.StartClient(&window, &target));
    QVERIFY(m_server.accept() >= 0);

    // The service never reads: its queue fills, and the write that finds no
    // room gives up at its deadline instead of waiting for ever.
    qint64 longest = 0;
    int sends = 0;
    while (proxy.Pipe().GetState() != CIPCPipe::Broken && sends < 1000) {
        QElapsedTimer one;
        one.start();
        proxy.PostUINotify();
        longest = qMax(longest, one.elapsed());
        ++sends;
    }
    QCOMPARE(proxy.Pipe().GetState(), CIPCPipe::Broken);
    QVERIFY2(longest >= 250 && longest < 5000, qPrintable(QString::number(longest)));
    QCOMPARE(proxy.GetErrorText(), expectedText(10006, ETIMEDOUT));
    // Later sends fail at once.
    QElapsedTimer after;
    after.start();
    proxy.PostUINotify();
    QVERIFY(after.elapsed() < 250);

    // The loss is handled from the event loop like any other: the one
    // reconnect reaches the (still listening) service.
    QTRY_COMPARE(link.events, (QStringList{QStringLiteral("lost"), QStringLiteral("up")}));
    const int client = m_server.accept();
    QVERIFY(client >= 0);
    proxy.PostUINotify();
    QVERIFY(!TestServer::receive(client).isEmpty());
}

void TestIpcPipe::peerRule_data()
{
    QTest::addColumn<uint>("peer");
    QTest::addColumn<uint>("self");
    QTest::addColumn<bool>("trusted");
    QTest::addRow("root serves a user") << 0u << 1000u << true;
    QTest::addRow("the user serves himself") << 1000u << 1000u << true;
    QTest::addRow("root serves root") << 0u << 0u << true;
    QTest::addRow("another user serves a user") << 4242u << 1000u << false;
    QTest::addRow("another user serves root") << 4242u << 0u << false;
    QTest::addRow("nobody") << 65534u << 1000u << false;
}

void TestIpcPipe::peerRule()
{
    QFETCH(uint, peer);
    QFETCH(uint, self);
    QTEST(CIPCPipe::IsTrustedPeer(peer, self), "trusted");
}

namespace {
// Runs a service as uid/gid 4242 in a child process: it listens at the
// service path and reports, by its exit code, how many bytes it received.
pid_t startImpostor()
{
    ::unlink(QFile::encodeName(CIPCPipe::SocketPath()).constData());
    const sockaddr_un addr = address();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // The child: system calls only.
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        ::_exit(100);
    // The credentials a client sees are those in force at listen().
    if (::setgroups(0, nullptr) != 0 || ::setresgid(4242, 4242, 4242) != 0 ||
        ::setresuid(4242, 4242, 4242) != 0 || ::listen(fd, 16) != 0)
        ::_exit(101);
    ssize_t received = 0;
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) != 1)
            break;
        const int client = ::accept(fd, nullptr, nullptr);
        char buffer[65536];
        pollfd c = {client, POLLIN, 0};
        while (::poll(&c, 1, 200) == 1) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received += n;
        }
        ::close(client);
    }
    ::_exit(received > 99 ? 99 : int(received));
}

int impostorResult(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
} // namespace

void TestIpcPipe::socketOfAnotherUserIsRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root to serve the socket as another user (uid 4242); the rule itself is "
              "checked by peerRule");
    const QString refused =
        LoadString(10005) + QStringLiteral(". Reason: ") + LoadString(10205).arg(4242);

    // At start: refused with the reason, and nothing is written to it.
    pid_t impostor = startImpostor();
    QTRY_VERIFY(QFile::exists(CIPCPipe::SocketPath()));
    QObject window;
    StatusRecorder target;
    {
        CIPCCommandHandler proxy;
        bool started = true;
        QTRY_VERIFY((started = proxy.StartClient(&window, &target)) ||
                    proxy.GetErrorText() != expectedText(10005, ECONNREFUSED));
        QVERIFY(!started);
        QCOMPARE(proxy.GetErrorText(), refused);
        QVERIFY(!proxy.IsLinkUp());
        proxy.JoinInvitation(QStringLiteral("n"), QStringLiteral("/p"), QStringLiteral("secret"));
    }
    QCOMPARE(impostorResult(impostor), 0);

    // Later: the service goes, the impostor takes its place; every retry is
    // refused and the link stays down with the reason.
    QVERIFY(m_server.listen());
    CIPCCommandHandler proxy;
    proxy.SetRetryTiming(40, 80, 60000);
    LinkLog link(proxy);
    QVERIFY(proxy.StartClient(&window, &target));
    QVERIFY(m_server.accept() >= 0);
    m_server.close();
    QTRY_VERIFY(link.events.contains(QStringLiteral("down!")));
    impostor = startImpostor();
    const int attempts = proxy.ConnectAttempts();
    QTRY_VERIFY(proxy.ConnectAttempts() >= attempts + 3 && proxy.GetErrorText() == refused);
    QVERIFY(!proxy.IsLinkUp());
    QVERIFY(!link.events.contains(QStringLiteral("up")));
    proxy.PostUINotify();
    ::kill(impostor, SIGKILL);
    impostorResult(impostor);
}

void TestIpcPipe::answersNobodyAskedForAreDropped()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    QVERIFY(proxy.StartClient(&window, &target));
    const int client = m_server.accept();
    QVERIFY(client >= 0);
    const QByteArray joinStatus =
        command(JOIN_INVITATION_STATUS,
                {QStringLiteral("1"), QString(), QStringLiteral("Remote Desktop Access (RDP)"),
                 QStringLiteral("203.0.113.9")});
    const QByteArray createStatus =
        command(CREATE_INVITATION_STATUS, {QStringLiteral("Net"), QStringLiteral("1"), QString()});
    const QByteArray appData =
        command(INVITATION_APP_DATA, {QStringLiteral("QUJD"), QStringLiteral("3")});

    // Nothing was asked: none of them reaches the window. The status change
    // behind them shows they have been handled.
    for (const QByteArray& wire : {appData, joinStatus, createStatus})
        QVERIFY(TestServer::send(client, wire));
    QVERIFY(TestServer::send(client, status(1)));
    QTRY_COMPARE(target.statuses, QList<long>{1});
    QCOMPARE(target.answers, QStringList());

    // One join and one create asked: one answer each, with the join's data;
    // a second answer of either kind answers nothing.
    proxy.JoinInvitation(QStringLiteral("n"), QStringLiteral("/p"), QStringLiteral("pw"));
    proxy.CreateInvitation(QStringLiteral("n"), QStringLiteral("pw"), QString(), QString(), 0,
                           QStringLiteral("/q"), QByteArray());
    QCOMPARE(proxy.PendingJoins(), 1);
    QCOMPARE(proxy.PendingCreates(), 1);
    for (const QByteArray& wire : {appData, joinStatus, joinStatus, createStatus, createStatus})
        QVERIFY(TestServer::send(client, wire));
    QVERIFY(TestServer::send(client, status(0)));
    QTRY_COMPARE(target.statuses, (QList<long>{1, 0}));
    QCOMPARE(target.answers,
             (QStringList{QStringLiteral("data ABC"),
                          QStringLiteral("join 1 Remote Desktop Access (RDP) 203.0.113.9"),
                          QStringLiteral("create Net 1")}));
    QCOMPARE(proxy.PendingJoins(), 0);
    QCOMPARE(proxy.PendingCreates(), 0);
}

void TestIpcPipe::requestsUnansweredWhenTheLinkGoes()
{
    QVERIFY(m_server.listen());
    QObject window;
    StatusRecorder target;
    CIPCCommandHandler proxy;
    LinkLog link(proxy);
    QVERIFY(proxy.StartClient(&window, &target));
    QVERIFY(m_server.accept() >= 0);
    proxy.JoinInvitation(QStringLiteral("n"), QStringLiteral("/p"), QStringLiteral("pw"));
    proxy.JoinInvitation(QStringLiteral("n"), QStringLiteral("/p"), QStringLiteral("pw"));
    proxy.CreateInvitation(QStringLiteral("n"), QStringLiteral("pw"), QString(), QString(), 0,
                           QStringLiteral("/q"), QByteArray());

    // The service restarts: what was asked of the old one is reported lost,
    // and the new one's status for it answers nothing.
    m_server.closeClients();
    const int client = acceptWhileRunning(m_server);
    QVERIFY(client >= 0);
    QTRY_COMPARE(link.events, (QStringList{QStringLiteral("lost"), QStringLiteral("up")}));
    QCOMPARE(link.joinsLost, 2);
    QCOMPARE(link.createsLost, 1);
    QVERIFY(TestServer::send(
        client, command(JOIN_INVITATION_STATUS, {QStringLiteral("1"), QString(),
                                                 QStringLiteral("X"), QStringLiteral("::1")})));
    QVERIFY(TestServer::send(client, status(1)));
    QTRY_COMPARE(target.statuses, QList<long>{1});
    QCOMPARE(target.answers, QStringList());

    // Asked while the link is down: not counted, nothing can answer it.
    m_server.close();
    QTRY_VERIFY(proxy.IsRetrying());
    proxy.JoinInvitation(QStringLiteral("n"), QStringLiteral("/p"), QStringLiteral("pw"));
    QCOMPARE(proxy.PendingJoins(), 0);
}

QTEST_GUILESS_MAIN(TestIpcPipe)
#include "tst_ipcpipe.moc"

// The channel against a minimal in-test service on a real SOCK_SEQPACKET
// socket: absent and busy services, message sizes, a dropped connection and
// sends on a broken channel.
#include "foundation/XmlSerializer.h"
#include "resources/StringTable.h"
#include "servicelink/IPCCommandHandler.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
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
    QList<long> statuses;
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

    // No notification arrives any more (nothing is watched).
    QVERIFY(m_server.listen());
    QTest::qWait(100);
    QCOMPARE(proxy.Pipe().GetState(), CIPCPipe::Broken);
}

QTEST_GUILESS_MAIN(TestIpcPipe)
#include "tst_ipcpipe.moc"

// The real tervala-standin executable, driven through its control channel
// (`tervala-standin ctl ...`) and talked to by the program's own proxy.
#include "servicelink/IPCCommandHandler.h"
#include "sessions/SharedSection.h"
#include "standin/ControlChannel.h"
#include "standin/StandinService.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
class Recorder : public IRPCExecute
{
public:
    int PostP2PStatusChange(long status) override
    {
        calls << QStringLiteral("status %1").arg(status);
        return 0;
    }
    int PostCreateInvitationStatus(const QString& first, long ok, const QString& error) override
    {
        calls << QStringLiteral("create %1 [%2] [%3]").arg(ok).arg(first, error);
        return 0;
    }
    int PostJoinInvitationStatus(long ok, const QString& error, const QString& session,
                                 const QString& address) override
    {
        calls << QStringLiteral("join %1 [%2] [%3] [%4]").arg(ok).arg(error, session, address);
        return 0;
    }
    int PostInvitationAppData(const QByteArray& data) override
    {
        calls << QStringLiteral("appdata %1").arg(QString::fromLatin1(data));
        return 0;
    }
    QStringList calls;
};

// One program side: a window object, its dispatcher target and the proxy.
struct Program
{
    QObject window;
    Recorder target;
    CIPCCommandHandler proxy;
    bool start() { return proxy.StartClient(&window, &target); }
};

struct CtlResult
{
    int exitCode = -1;
    QString output;
};
} // namespace

class TestStandin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void newClientGetsStatus();
    void controlSendsToEveryClient();
    void createAnswers();
    void joinAnswers();
    void delayedAnswer();
    void dropAndListener();
    void badInputIsSurvived();
    void controlChannelErrors();
    void quitRemovesEntries();

private:
    CtlResult ctl(const QStringList& args);
    QString ctlOk(const QStringList& args);
    bool startService();
    QString log() const;

    TestEnvironment m_env;
    std::unique_ptr<QProcess> m_service;
};

void TestStandin::initTestCase()
{
    QVERIFY(m_env.isValid());
    QVERIFY(QFile::exists(TestEnvironment::binary(QStringLiteral("standin/tervala-standin"))));
}

void TestStandin::cleanupTestCase()
{
    if (m_service && m_service->state() != QProcess::NotRunning) {
        ctl({QStringLiteral("quit")});
        if (!m_service->waitForFinished(5000))
            m_service->kill();
    }
}

bool TestStandin::startService()
{
    m_service = std::make_unique<QProcess>();
    m_service->setProgram(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")));
    m_service->setProcessChannelMode(QProcess::SeparateChannels);
    m_service->start();
    if (!m_service->waitForStarted(5000))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (!m_service->canReadLine() && waited.elapsed() < 10000)
        m_service->waitForReadyRead(100);
    return m_service->readLine().trimmed() == "ready";
}

void TestStandin::init()
{
    // One service for all functions; a function that stopped it gets a new one.
    if (!m_service || m_service->state() == QProcess::NotRunning)
        QVERIFY(startService());
    // Each function starts from a listening service with no clients left.
    ctlOk({QStringLiteral("start-listener")});
    QTRY_COMPARE(ctlOk({QStringLiteral("clients")}), QStringLiteral("0"));
}

CtlResult TestStandin::ctl(const QStringList& args)
{
    QProcess process;
    process.start(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")),
                  QStringList{QStringLiteral("ctl")} + args);
    // Keep this thread's events flowing: the program side lives here.
    QElapsedTimer waited;
    waited.start();
    while (!process.waitForFinished(10) && waited.elapsed() < 10000)
        QCoreApplication::processEvents();
    CtlResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return result;
}

QString TestStandin::ctlOk(const QStringList& args)
{
    const CtlResult r = ctl(args);
    if (r.exitCode != 0 || !r.output.startsWith(QStringLiteral("ok"))) {
        qWarning() << "ctl" << args << "gave" << r.exitCode << r.output;
        return QStringLiteral("<failed>");
    }
    return r.output.mid(3);
}

QString TestStandin::log() const
{
    QFile file(StandinService::logPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith("\xFF\xFE"))
        return QStringLiteral("<no byte-order mark>");
    return DecodeMessage(bytes.constData() + 2, bytes.size() - 2);
}

void TestStandin::newClientGetsStatus()
{
    Program a, b, c;
    QVERIFY(a.start());
    QVERIFY(b.start());
    QTRY_COMPARE(a.target.calls, QStringList{QStringLiteral("status 1")});
    QTRY_COMPARE(b.target.calls, QStringList{QStringLiteral("status 1")});
    QCOMPARE(ctlOk({QStringLiteral("clients")}), QStringLiteral("2"));

    // A new client gets the current status, not always 1.
    QCOMPARE(ctlOk({QStringLiteral("status"), QStringLiteral("0")}),
             QStringLiteral("sent to 2 clients"));
    QVERIFY(c.start());
    QTRY_COMPARE(c.target.calls, QStringList{QStringLiteral("status 0")});
    ctlOk({QStringLiteral("status"), QStringLiteral("1")});
    QTRY_COMPARE(c.target.calls.size(), 2);

    a.proxy.PostUINotify();
    a.proxy.PostLSPNotify(77);
    a.proxy.CloseServerSession(QStringLiteral("My Net"));
    QTRY_VERIFY(log().contains(QStringLiteral("CLOSE_SERVER_SESSION \"My Net\"")));
    QVERIFY(log().contains(QStringLiteral("UI_NOTIFY")));
    QVERIFY(log().contains(QStringLiteral("LSP_NOTIFY 77")));
    QVERIFY(log().endsWith(QStringLiteral("\r\n")));
}

void TestStandin::controlSendsToEveryClient()
{
    Program a, b;
    QVERIFY(a.start());
    QVERIFY(b.start());
    QTRY_COMPARE(b.target.calls.size(), 1);
    // The program takes a join status and its data only as the answer to a
    // join of its own: each asks for one, whose answer the service holds back.
    for (Program* program : {&a, &b}) {
        const QString nickname =
            program == &a ? QStringLiteral("waits-a") : QStringLiteral("waits-b");
        ctlOk({QStringLiteral("delay"), QStringLiteral("60000")});
        program->proxy.JoinInvitation(nickname, QStringLiteral("/p"), QStringLiteral("pw"));
        QTRY_VERIFY(
            log().contains(QStringLiteral("JOIN_INVITATION nickname \"%1\"").arg(nickname)));
    }
    ctlOk(
        {QStringLiteral("send"), QStringLiteral("7"), QStringLiteral("QUJD"), QStringLiteral("3")});
    QCOMPARE(ctlOk({QStringLiteral("send"), QStringLiteral("2"), QStringLiteral("1"), QString(),
                    QStringLiteral("Net \"A\""), QStringLiteral("10.0.0.1")}),
             QStringLiteral("sent to 2 clients"));
    // Unknown numbers and shapeless text reach the program and call nothing.
    ctlOk({QStringLiteral("send"), QStringLiteral("9"), QStringLiteral("1")});
    ctlOk({QStringLiteral("send-text"), QStringLiteral("<not xml")});
    ctlOk({QStringLiteral("send-padded"), QStringLiteral("20480"), QStringLiteral("0")});
    const QStringList expected{QStringLiteral("status 1"), QStringLiteral("appdata ABC"),
                               QStringLiteral("join 1 [] [Net \"A\"] [10.0.0.1]"),
                               QStringLiteral("status 0")};
    QTRY_COMPARE(a.target.calls, expected);
    QTRY_COMPARE(b.target.calls, expected);
    QCOMPARE(a.proxy.Pipe().GetState(), CIPCPipe::Reading);
}

void TestStandin::createAnswers()
{
    Program p;
    QVERIFY(p.start());
    QTRY_COMPARE(p.target.calls.size(), 1);
    p.proxy.CreateInvitation(QStringLiteral("alice"), QStringLiteral("pw"), QString(),
                             QStringLiteral("<TVLSessionStringFormat/>"), 0x01D0000000000000ULL,
                             m_env.root() + QStringLiteral("/x.Tervalapro"), QByteArray());
    QTRY_COMPARE(p.target.calls.size(), 2);
    // Whatever names the network (a handler may be installed), it succeeds.
    QVERIFY(p.target.calls.at(1).startsWith(QStringLiteral("create 1 [")));
    QVERIFY(!p.target.calls.at(1).startsWith(QStringLiteral("create 1 []")));
    QVERIFY(log().contains(QStringLiteral("expiry AAAAAAAA0AE= (")));

    ctlOk({QStringLiteral("answer-create"), QStringLiteral("error"), QStringLiteral("Disk full")});
    p.proxy.CreateInvitation(QStringLiteral("bob"), QString(), QString(), QString(), 0,
                             m_env.root() + QStringLiteral("/y.Tervalapro"), QByteArray("RA", 2));
    QTRY_COMPARE(p.target.calls.size(), 3);
    QCOMPARE(p.target.calls.at(2), QStringLiteral("create 0 [] [Disk full]"));
    QVERIFY(log().contains(QStringLiteral("2 data bytes")));

    // The scripted answer was for one request only.
    ctlOk({QStringLiteral("answer-create"), QStringLiteral("ok"), QStringLiteral("Named")});
    p.proxy.CreateInvitation(QStringLiteral("c"), QString(), QString(), QString(), 0, QString(),
                             QByteArray());
    p.proxy.CreateInvitation(QStringLiteral("d"), QString(), QString(), QString(), 0, QString(),
                             QByteArray());
    QTRY_COMPARE(p.target.calls.size(), 5);
    QCOMPARE(p.target.calls.at(3), QStringLiteral("create 1 [Named] []"));
    QVERIFY(p.target.calls.at(4).startsWith(QStringLiteral("create ")));
    QVERIFY(p.target.calls.at(4) != p.target.calls.at(3));
}

void TestStandin::joinAnswers()
{
    Program p;
    QVERIFY(p.start());
    QTRY_COMPARE(p.target.calls.size(), 1);
    ctlOk({QStringLiteral("answer-join"), QStringLiteral("ok"), QStringLiteral("Net B"),
           QStringLiteral("10.1.1.1"), QStringLiteral("QUJD")});
    p.proxy.JoinInvitation(QStringLiteral("carol"), m_env.root() + QStringLiteral("/b.Tervalapro"),
                           QStringLiteral("pw"));
    QTRY_COMPARE(p.target.calls.size(), 3);
    // The application data comes before the status it belongs to.
    QCOMPARE(p.target.calls.mid(1), (QStringList{QStringLiteral("appdata ABC"),
                                                 QStringLiteral("join 1 [] [Net B] [10.1.1.1]")}));

    ctlOk(
        {QStringLiteral("answer-join"), QStringLiteral("error"), QStringLiteral("Wrong password")});
    p.proxy.JoinInvitation(QStringLiteral("carol"), m_env.root() + QStringLiteral("/b"),
                           QStringLiteral("x"));
    QTRY_COMPARE(p.target.calls.size(), 4);
    QCOMPARE(p.target.calls.at(3), QStringLiteral("join 0 [Wrong password] [] []"));
    QVERIFY(log().contains(QStringLiteral("JOIN_INVITATION nickname \"carol\"")));
}

void TestStandin::delayedAnswer()
{
    Program p;
    QVERIFY(p.start());
    QTRY_COMPARE(p.target.calls.size(), 1);
    ctlOk({QStringLiteral("delay"), QStringLiteral("400")});
    QElapsedTimer timer;
    timer.start();
    p.proxy.JoinInvitation(QStringLiteral("dan"), QStringLiteral("/p"), QStringLiteral("pw"));
    QTRY_COMPARE(p.target.calls.size(), 2);
    QVERIFY(timer.elapsed() >= 350);
    // Only the next answer was delayed.
    timer.restart();
    p.proxy.JoinInvitation(QStringLiteral("dan"), QStringLiteral("/p"), QStringLiteral("pw"));
    QTRY_COMPARE(p.target.calls.size(), 3);
}

void TestStandin::dropAndListener()
{
    Program p;
    QVERIFY(p.start());
    QTRY_COMPARE(p.target.calls.size(), 1);

    // Dropped: the program reconnects once and hears the service again.
    QCOMPARE(ctlOk({QStringLiteral("drop")}), QStringLiteral("1"));
    QTRY_COMPARE(p.target.calls,
                 (QStringList{QStringLiteral("status 1"), QStringLiteral("status 1")}));
    QCOMPARE(ctlOk({QStringLiteral("clients")}), QStringLiteral("1"));

    // Not listening: the program finds no service and keeps trying; a new
    // program cannot start.
    ctlOk({QStringLiteral("stop-listener")});
    QVERIFY(!QFile::exists(StandinService::socketPath()));
    ctlOk({QStringLiteral("drop")});
    QTRY_COMPARE(p.proxy.Pipe().GetState(), CIPCPipe::Broken);
    QTRY_VERIFY(p.proxy.GetErrorText().contains(QStringLiteral("Unable to establish connection")));
    QVERIFY(p.proxy.IsRetrying());
    Program late;
    QVERIFY(!late.start());

    ctlOk({QStringLiteral("start-listener")});
    QVERIFY(late.start());
    QTRY_COMPARE(late.target.calls.size(), 1);
    // The first program finds the service again by itself.
    QTRY_COMPARE_WITH_TIMEOUT(p.target.calls.size(), 3, 35000);
}

void TestStandin::badInputIsSurvived()
{
    Program p;
    QVERIFY(p.start());
    QTRY_COMPARE(p.target.calls.size(), 1);

    const int before = log().count(QStringLiteral(" disconnected"));
    const int raw = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(StandinService::socketPath());
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    QCOMPARE(::connect(raw, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // Accepted once its welcome status arrives.
    char welcome[20480];
    QVERIFY(::recv(raw, welcome, sizeof welcome, 0) > 0);
    auto sendRaw = [raw](const QByteArray& wire) {
        return ::send(raw, wire.constData(), static_cast<size_t>(wire.size()), MSG_NOSIGNAL) ==
               wire.size();
    };
    QVERIFY(sendRaw(EncodeMessage(QStringLiteral("<TervalaIPC><command command="))));
    QVERIFY(sendRaw(EncodeMessage(QStringLiteral("<Other/>"))));
    QVERIFY(sendRaw(
        EncodeMessage(QStringLiteral("<TervalaIPC><command command=\"42\"/></TervalaIPC>"))));
    QVERIFY(sendRaw(QByteArray(30000, 'x')));
    QVERIFY(sendRaw(QByteArray("\x01", 1)));
    ::close(raw);

    QTRY_COMPARE(log().count(QStringLiteral(" disconnected")), before + 1);
    const QString text = log();
    QCOMPARE(text.count(QStringLiteral("malformed message ignored")), 3);
    QVERIFY(text.contains(QStringLiteral("unknown command 42 ignored")));
    QVERIFY(text.contains(QStringLiteral("message of 30000 bytes is larger than 20480 bytes")));
    QVERIFY(!text.contains(QStringLiteral("CREATE_INVITATION nickname \"\"")));

    // The others are served on.
    ctlOk({QStringLiteral("status"), QStringLiteral("0")});
    QTRY_COMPARE(p.target.calls.size(), 2);
    p.proxy.PostUINotify();
    QCOMPARE(ctlOk({QStringLiteral("clients")}), QStringLiteral("1"));
}

void TestStandin::controlChannelErrors()
{
    CtlResult r = ctl({QStringLiteral("status")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.output.startsWith(QStringLiteral("error usage")));
    r = ctl({QStringLiteral("no-such-command")});
    QCOMPARE(r.exitCode, 1);
    r = ctl({QStringLiteral("help")});
    QCOMPARE(r.exitCode, 0);
    for (const char* name : {"status", "send", "answer-create", "answer-join", "delay", "drop",
                             "stop-listener", "start-listener", "clients", "log-tail", "quit"})
        QVERIFY2(r.output.contains(QLatin1String("\n") + QLatin1String(name)) ||
                     r.output.startsWith(QStringLiteral("ok ") + QLatin1String(name)),
                 name);
    r = ctl({QStringLiteral("log-tail"), QStringLiteral("2")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.output.count(QLatin1Char('\n')), 1);

    // The quoting of the line protocol.
    bool ok = false;
    QCOMPARE(ControlChannel::splitLine(QStringLiteral("a  \"b c\" \"\" \"x\\\"y\\\\\""), &ok),
             (QStringList{QStringLiteral("a"), QStringLiteral("b c"), QString(),
                          QStringLiteral("x\"y\\")}));
    QVERIFY(ok);
    ControlChannel::splitLine(QStringLiteral("a \"b"), &ok);
    QVERIFY(!ok);
    const QString odd = QStringLiteral("say \"hi\" \\ now");
    QCOMPARE(ControlChannel::splitLine(ControlChannel::quote(odd)), QStringList{odd});
}

void TestStandin::quitRemovesEntries()
{
    QCOMPARE(ctl({QStringLiteral("quit")}).exitCode, 0);
    // ctl() keeps this thread's events flowing, so the process may have been
    // seen to finish already; waitForFinished() is false for a process that
    // is no longer running.
    QVERIFY(m_service->state() == QProcess::NotRunning || m_service->waitForFinished(5000));
    QCOMPARE(m_service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_service->exitCode(), 0);
    QVERIFY(!QFile::exists(StandinService::socketPath()));
    QVERIFY(!QFile::exists(ControlChannel::socketPath()));
    QCOMPARE(ctl({QStringLiteral("clients")}).exitCode, 2);

    // A second stand-in refuses to start beside a running one, and leaves
    // everything of the running one as it was: its published list, its
    // socket, its control channel.
    QVERIFY(startService());
    QCOMPARE(ctl({QStringLiteral("add-network"), QStringLiteral("kept"), QStringLiteral("Kept")})
                 .exitCode,
             0);
    const QString section = SharedNames::EntryPath(SharedNames::SectionName());
    const auto sectionBytes = [&section] {
        QFile file(section);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray published = sectionBytes();
    QVERIFY(!published.isEmpty());
    QProcess second;
    second.start(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")), {});
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("already"));
    QCOMPARE(sectionBytes(), published);
    QCOMPARE(ctlOk({QStringLiteral("clients")}), QStringLiteral("0"));
    QCOMPARE(ctlOk({QStringLiteral("list-networks")}).count(QStringLiteral("kept")), 1);
}

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"

#include "LoopbackHttpServer.h"
#include "foundation/Paths.h"
#include "resources/StringTable.h"
#include "support/ContactSupport.h"
#include "support/URLEncode.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

#include <memory>
#include <optional>

using namespace std::chrono_literals;

namespace {
const QByteArray kTarget = "/chat/module.php?module=HelpCenter";
// Generous: the machine running the tests may be busy.
constexpr int kWaitMs = 20000;

void setMachineValue(const QString& key, const QString& value)
{
    std::unique_ptr<QSettings> store(Settings::NewMachineStore());
    if (value.isNull())
        store->remove(key);
    else
        store->setValue(key, value);
    store->sync();
}

QString logPath()
{
    return Paths::LogFolder() + QStringLiteral("servicelog.txt");
}

// A service log as the service writes it: the mark, then UTF-16LE lines.
void writeLog(const QString& text)
{
    Paths::MakePath(Paths::LogFolder());
    QFile f(logPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    QCOMPARE(f.write(bytes), bytes.size());
}

// Runs one send to completion and returns its outcome.
struct Run
{
    CContactSupport logic;
    std::optional<CContactSupport::Outcome> outcome;
    Run()
    {
        QObject::connect(&logic, &CContactSupport::finished, &logic,
                         [this](const CContactSupport::Outcome& o) { outcome = o; });
    }
};

SupportForm sampleForm()
{
    return {QStringLiteral("Ann Lee"), QStringLiteral("ann@example.com"), QStringLiteral("a+b=c?"),
            QStringLiteral("It stopped.\nTwice.")};
}
} // namespace

class TestSupportSender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void exactRequest();
    void serverAnswer_data();
    void serverAnswer();
    void redirectFollowed_data();
    void redirectFollowed();
    void redirectLoopFails();
    void timeOut_data();
    void timeOut();
    void closedPort();
    void cancelDuringSlowReply();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void withoutLogSaysSo();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<LoopbackHttpServer> m_server;
};

void TestSupportSender::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    // The sender follows the system's proxy settings; a proxy of the machine
    // running the tests must not get between the test and its own server.
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(name);
}

void TestSupportSender::init()
{
    m_server = std::make_unique<LoopbackHttpServer>();
    QVERIFY(m_server->listen());
    setMachineValue(QStringLiteral("SupportHost"), QString::fromLatin1(m_server->hostAndPort()));
    writeLog(QStringLiteral("XX12:00 started\r\n12:01 peer \u00e9 joined\r\n"));
}

void TestSupportSender::exactRequest()
{
    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QVERIFY(refusal.isEmpty());
    QVERIFY(run.logic.IsSending());
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Sent);
    QCOMPARE(run.outcome->text, LoadString(145));
    QVERIFY(!run.logic.IsSending());

    QCOMPARE(int(m_server->requests().size()), 1);
    const LoopbackHttpServer::Request& r = m_server->requests().first();
    QCOMPARE(r.requestLine, QByteArray("POST /chat/module.php?module=HelpCenter HTTP/1.1"));
    QCOMPARE(r.header("Host"), m_server->hostAndPort());
    QCOMPARE(r.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(r.header("Content-Length"), QByteArray::number(r.body.size()));
    // The typed line break goes as CR LF; the log follows the message with
    // nothing in between, from its fifth byte on ("XX" is the first
    // character after the mark and is skipped with it).
    QCOMPARE(r.body, QByteArray("departmentid=1&name=Ann%20Lee&email=ann%40example.com"
                                "&subject=a%2Bb%3Dc%3F&message=It%20stopped.%0D%0ATwice."
                                "X12%3A00%20started%0D%0A12%3A01%20peer%20%C3%A9%20joined%0D%0A"
                                "&email_send=Submit"));
    QCOMPARE(run.logic.SentTail().status, ServiceLogTail::Status::Attached);
}

void TestSupportSender::serverAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<bool>("sent");
    QTest::addRow("200") << 200 << QByteArray("OK") << true;
    QTest::addRow("204") << 204 << QByteArray("No Content") << true;
    QTest::addRow("404") << 404 << QByteArray("Not Found") << false;
    QTest::addRow("403") << 403 << QByteArray("Forbidden") << false;
    QTest::addRow("500") << 500 << QByteArray("Internal Server Error") << false;
    QTest::addRow("503") << 503 << QByteArray("Service Unavailable") << false;
}

void TestSupportSender::serverAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    QFETCH(bool, sent);
    LoopbackHttpServer::Answer answer;
    answer.status = status;
    answer.reason = reason;
    answer.body = status == 204 ? QByteArray() : QByteArray("page");
    m_server->setAnswer(kTarget, answer);

    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(int(m_server->requests().size()), 1);
    if (sent) {
        QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Sent);
        QCOMPARE(run.outcome->text, LoadString(145));
        return;
    }
    // An error page is not a delivered report.
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Failed);
    QVERIFY2(run.outcome->text.startsWith(LoadString(147)), qPrintable(run.outcome->text));
    QVERIFY2(run.outcome->text.contains(QString::number(status)), qPrintable(run.outcome->text));
}

void TestSupportSender::redirectFollowed_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("method"); // of the request that follows the redirect
    QTest::addRow("302 Found") << 302 << QByteArray("GET");
    QTest::addRow("303 See Other") << 303 << QByteArray("GET");
    QTest::addRow("307 Temporary Redirect") << 307 << QByteArray("POST");
    QTest::addRow("308 Permanent Redirect") << 308 << QByteArray("POST");
}

void TestSupportSender::redirectFollowed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, method);
    LoopbackHttpServer::Answer moved;
    moved.status = status;
    moved.reason = "Moved";
    moved.headers = {{"Location", "/thanks"}};
    m_server->setAnswer(kTarget, moved);

    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Sent);
    QCOMPARE(int(m_server->requests().size()), 2);
    const LoopbackHttpServer::Request& second = m_server->requests().at(1);
    QCOMPARE(second.requestLine, method + " /thanks HTTP/1.1");
    if (method == "POST")
        QCOMPARE(second.body, m_server->requests().first().body);
}

void TestSupportSender::redirectLoopFails()
{
    LoopbackHttpServer::Answer loop;
    loop.status = 307;
    loop.reason = "Temporary Redirect";
    loop.headers = {{"Location", kTarget}};
    m_server->setAnswer(kTarget, loop);

    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Failed);
    QVERIFY(run.outcome->text.startsWith(LoadString(147)));
    // The first request and a few redirects, then it gives up.
    QCOMPARE(int(m_server->requests().size()), CSupportSender::kMaxRedirects + 1);
}

void TestSupportSender::timeOut_data()
{
    QTest::addColumn<int>("mode");
    QTest::addRow("no answer at all") << int(LoopbackHttpServer::Answer::Mode::Silent);
    QTest::addRow("answer stops half-way")
        << int(LoopbackHttpServer::Answer::Mode::StallAfterHeaders);
}

void TestSupportSender::timeOut()
{
    QFETCH(int, mode);
    LoopbackHttpServer::Answer answer;
    answer.mode = LoopbackHttpServer::Answer::Mode(mode);
    m_server->setAnswer(kTarget, answer);

    Run run;
    QCOMPARE(run.logic.Sender().Timeout(), 30000ms);
    run.logic.Sender().SetTimeout(300ms);
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), 30000);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Failed);
    QVERIFY(run.outcome->text.startsWith(LoadString(147)));
    QVERIFY2(run.outcome->text.contains(QStringLiteral("did not answer")),
             qPrintable(run.outcome->text));
    QCOMPARE(int(m_server->requests().size()), 1);
    // The abandoned connection is closed, not left hanging.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, kWaitMs);
}

void TestSupportSender::closedPort()
{
    // A port that was just in use and is now closed: the connection is refused.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    setMachineValue(QStringLiteral("SupportHost"), QStringLiteral("127.0.0.1:%1").arg(port));
    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Failed);
    QVERIFY(run.outcome->text.startsWith(LoadString(147)));
}

void TestSupportSender::cancelDuringSlowReply()
{
    LoopbackHttpServer::Answer slow;
    slow.mode = LoopbackHttpServer::Answer::Mode::StallAfterHeaders;
    slow.body = QByteArray(4000, 'x');
    m_server->setAnswer(kTarget, slow);

    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_COMPARE_WITH_TIMEOUT(int(m_server->requests().size()), 1, kWaitMs);
    QVERIFY(!run.outcome.has_value());
    // A second send while one runs is refused without a word.
    QVERIFY(!run.logic.Send(sampleForm(), refusal));
    QVERIFY(refusal.isEmpty());

    run.logic.Cancel();
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Cancelled);
    QVERIFY(!run.logic.IsSending());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, kWaitMs);

    // The form can be sent again afterwards.
    m_server->setAnswer(kTarget, LoopbackHttpServer::Answer());
    run.outcome.reset();
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Sent);
}

void TestSupportSender::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("host"); // null: not set
    QTest::addColumn<QString>("expected");
    const QString needEmail = LoadString(102);
    QTest::addRow("empty e-mail") << QString() << QStringLiteral("127.0.0.1:1") << needEmail;
    QTest::addRow("e-mail without @")
        << QStringLiteral("ann.example.com") << QStringLiteral("127.0.0.1:1") << needEmail;
    // The user's own mistake comes first.
    QTest::addRow("bad e-mail, no host") << QStringLiteral("ann") << QString() << needEmail;
    QTest::addRow("SupportHost not set")
        << QStringLiteral("ann@example.com") << QString() << QStringLiteral("SupportHost");
    QTest::addRow("SupportHost empty")
        << QStringLiteral("ann@example.com") << QStringLiteral("") << QStringLiteral("SupportHost");
    QTest::addRow("SupportHost with a bad port")
        << QStringLiteral("ann@example.com") << QStringLiteral("127.0.0.1:99999")
        << QStringLiteral("SupportHost");
}

void TestSupportSender::refusedBeforeSending()
{
    QFETCH(QString, email);
    QFETCH(QString, host);
    QFETCH(QString, expected);
    setMachineValue(QStringLiteral("SupportHost"), host);
    SupportForm form = sampleForm();
    form.email = email;

    Run run;
    QString refusal;
    QVERIFY(!run.logic.Send(form, refusal));
    QVERIFY(!run.logic.IsSending());
    if (expected == QLatin1String("SupportHost")) {
        QVERIFY2(refusal.contains(QStringLiteral("SupportHost")), qPrintable(refusal));
        // Names the file the value is read from.
        QVERIFY2(refusal.contains(SupportReport::MachineSettingsFile()), qPrintable(refusal));
        QVERIFY(SupportReport::MachineSettingsFile().startsWith(m_env->configDirs()));
    } else {
        QCOMPARE(refusal, expected);
    }
    QTest::qWait(0);
    QVERIFY(!run.outcome.has_value());
    QVERIFY(m_server->requests().isEmpty());
}

void TestSupportSender::withoutLogSaysSo()
{
    QVERIFY(QFile::remove(logPath()));
    Run run;
    QString refusal;
    QVERIFY(run.logic.Send(sampleForm(), refusal));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome.has_value(), kWaitMs);
    QCOMPARE(run.outcome->kind, CContactSupport::Outcome::Kind::Sent);
    // The report went without the log, and the user is told.
    QVERIFY(run.outcome->text.startsWith(LoadString(145)));
    QVERIFY2(run.outcome->text.contains(logPath()), qPrintable(run.outcome->text));
    QVERIFY(run.outcome->text.contains(QStringLiteral("not attached")));
    QCOMPARE(int(m_server->requests().size()), 1);
    QVERIFY(m_server->requests().first().body.contains(
        "&message=It%20stopped.%0D%0ATwice.&email_send=Submit"));
}

QTEST_GUILESS_MAIN(TestSupportSender)
#include "tst_supportsender.moc"

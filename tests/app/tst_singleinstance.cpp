#include "app/SingleInstance.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

// The lock and the hand-over, with two objects in this process and with the
// real program started as a later launch.
class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void secondLockFails();
    void crashedHolderDoesNotBlock();
    void unreadableLockCountsAsRunning();
    void requestsQueuedUntilReady();
    void staleSocketIsReplaced();
    void foreignBytesAreDropped();
    void laterLaunch_data();
    void laterLaunch();
    void helpLeavesLockAlone();

private:
    QString program() const { return TestEnvironment::binary(QStringLiteral("app/tervalapro")); }
    std::unique_ptr<TestEnvironment> m_env;
};

void TestSingleInstance::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestSingleInstance::secondLockFails()
{
    CInstanceLock first;
    QVERIFY(first.Path().startsWith(m_env->userRuntime()));
    QVERIFY(first.Path().endsWith(
        QStringLiteral("{7AA95431-3E28-40fd-B8E2-EC4DDA64F1AA}.Tervalapro.instance")));
    QVERIFY(first.Acquire());
    QVERIFY(first.IsHeld());
    CInstanceLock second;
    QVERIFY(!second.Acquire());
    QVERIFY(!second.IsHeld());
}

void TestSingleInstance::crashedHolderDoesNotBlock()
{
    const QString path = QDir(m_env->root()).filePath(QStringLiteral("crash.instance"));
    QProcess holder;
    // The shell takes the lock on its own descriptor and becomes "sleep", so
    // the one process that holds it is the one killed below.
    holder.start(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("exec 9>\"$0\"; flock 9; exec sleep 60"), path});
    QVERIFY(holder.waitForStarted());
    CInstanceLock probe(path);
    QTRY_VERIFY(QFile::exists(path) && !CInstanceLock(path).Acquire());
    holder.kill();
    holder.waitForFinished();
    QVERIFY(probe.Acquire());
}

void TestSingleInstance::unreadableLockCountsAsRunning()
{
    if (::geteuid() == 0)
        QSKIP("root may open any file");
    const QString path = QDir(m_env->root()).filePath(QStringLiteral("denied.instance"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    QVERIFY(!CInstanceLock(path).Acquire());
}

void TestSingleInstance::requestsQueuedUntilReady()
{
    const QString name = QDir(m_env->root()).filePath(QStringLiteral("queue.socket"));
    CInstanceServer server;
    QVERIFY(server.Listen(name));
    QSignalSpy shows(&server, &CInstanceServer::showRequested);
    QSignalSpy opens(&server, &CInstanceServer::openRequested);
    QSignalSpy lsp(&server, &CInstanceServer::lspNotifyRequested);

    const QString longPath = QStringLiteral("/tmp/") + QString(400, QLatin1Char('x'));
    QVERIFY(CInstanceClient::Send(name, {{CHandOverRequest::Kind::Show, QString(), 0},
                                         {CHandOverRequest::Kind::Open, longPath, 0},
                                         {CHandOverRequest::Kind::LspNotify, QString(), -7}}));
    // Nothing reaches a window that is not ready yet...
    QTest::qWait(100);
    QCOMPARE(shows.size() + opens.size() + lsp.size(), 0);
    // ...and everything arrives, in order, once it is.
    server.SetReady();
    QCOMPARE(shows.size(), 1);
    QCOMPARE(opens.size(), 1);
    QCOMPARE(opens.first().first().toString(), longPath);
    QCOMPARE(lsp.size(), 1);
    QCOMPARE(lsp.first().first().toInt(), -7);

    QVERIFY(CInstanceClient::Send(name, {{CHandOverRequest::Kind::Show, QString(), 0}}));
    QTRY_COMPARE(shows.size(), 2);
}

void TestSingleInstance::staleSocketIsReplaced()
{
    const QString name = QDir(m_env->root()).filePath(QStringLiteral("stale.socket"));
    {
        QFile leftover(name);
        QVERIFY(leftover.open(QIODevice::WriteOnly));
    }
    CInstanceServer server;
    QVERIFY(server.Listen(name));
    server.SetReady();
    QSignalSpy shows(&server, &CInstanceServer::showRequested);
    QVERIFY(CInstanceClient::Send(name, {{CHandOverRequest::Kind::Show, QString(), 0}}));
    QTRY_COMPARE(shows.size(), 1);
}

void TestSingleInstance::foreignBytesAreDropped()
{
    const QString name = QDir(m_env->root()).filePath(QStringLiteral("foreign.socket"));
    CInstanceServer server;
    QVERIFY(server.Listen(name));
    server.SetReady();
    QSignalSpy shows(&server, &CInstanceServer::showRequested);
    QSignalSpy opens(&server, &CInstanceServer::openRequested);
    {
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(2000));
        socket.write(QByteArray(64, '\x01'));
        QVERIFY(socket.waitForBytesWritten(2000));
        socket.disconnectFromServer();
    }
    QTest::qWait(200);
    QCOMPARE(shows.size() + opens.size(), 0);
    // The server still serves a proper request afterwards.
    QVERIFY(CInstanceClient::Send(name, {{CHandOverRequest::Kind::Show, QString(), 0}}));
    QTRY_COMPARE(shows.size(), 1);
}

void TestSingleInstance::laterLaunch_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("shows");
    QTest::addColumn<QString>("opened");

    QTest::addRow("bare") << QStringList() << 1 << QString();
    QTest::addRow("startup") << QStringList{QStringLiteral("-startup")} << 0 << QString();
    QTest::addRow("relative file")
        << QStringList{QStringLiteral("n.Tervalapro")} << 0 << QStringLiteral("n.Tervalapro");
    QTest::addRow("other-case switch and a file")
        << QStringList{QStringLiteral("-STARTUP"), QStringLiteral("m.Tervalapro")} << 0
        << QStringLiteral("m.Tervalapro");
}

void TestSingleInstance::laterLaunch()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, shows);
    QFETCH(QString, opened);

    CInstanceLock lock;
    QVERIFY(lock.Acquire());
    CInstanceServer server;
    QVERIFY(server.Listen(lock.ServerName()));
    server.SetReady();
    QSignalSpy showSpy(&server, &CInstanceServer::showRequested);
    QSignalSpy openSpy(&server, &CInstanceServer::openRequested);

    // A later launch needs no display, and must not touch the service: the
    // runtime folder holds no service socket, and it must still succeed
    // silently.
    const QString workDir = QDir(m_env->root()).filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(workDir);
    QProcess later;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    later.setProcessEnvironment(env);
    later.setWorkingDirectory(workDir);
    later.start(program(), arguments);
    QVERIFY(later.waitForFinished(10000));
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
    QCOMPARE(later.readAllStandardError(), QByteArray());

    if (shows)
        QTRY_COMPARE(showSpy.size(), shows);
    if (!opened.isEmpty()) {
        QTRY_COMPARE(openSpy.size(), 1);
        QCOMPARE(openSpy.first().first().toString(), QDir(workDir).filePath(opened));
    }
    QTest::qWait(100);
    QCOMPARE(showSpy.size(), shows);
    QCOMPARE(openSpy.size(), opened.isEmpty() ? 0 : 1);
    QVERIFY(QDir(m_env->runtimeDir()).isEmpty());
}

void TestSingleInstance::helpLeavesLockAlone()
{
    TestEnvironment fresh;
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
        QProcess process;
        process.start(program(), {option});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(!process.readAllStandardOutput().isEmpty());
    }
    QVERIFY(QDir(fresh.userRuntime()).isEmpty());
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"

#include "app/SingleInstance.h"
#include "foundation/Paths.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
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
    void privateFallbackFolder_data();
    void privateFallbackFolder();
    void laterLaunchWithoutXdgRuntimeDir();

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

namespace {
// Runs the rest of a test with XDG_RUNTIME_DIR unset and TMPDIR at `tmp`,
// as in a shell without a login session; puts both back afterwards.
class WithoutXdgRuntimeDir
{
public:
    explicit WithoutXdgRuntimeDir(const QString& tmp)
        : m_xdg(qgetenv("XDG_RUNTIME_DIR")), m_tmp(qgetenv("TMPDIR"))
    {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(tmp));
    }
    ~WithoutXdgRuntimeDir()
    {
        qputenv("XDG_RUNTIME_DIR", m_xdg);
        if (m_tmp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_tmp);
    }

private:
    QByteArray m_xdg;
    QByteArray m_tmp;
};
} // namespace

// Without XDG_RUNTIME_DIR every per-user entry goes to one folder of this
// user's alone in the temporary folder. Anyone may have made that name
// first; only a real folder, ours, closed to others, is used.
void TestSingleInstance::privateFallbackFolder_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("used");
    QTest::addRow("nothing there: made") << QString() << true;
    QTest::addRow("our own 0700 folder") << QStringLiteral("0700") << true;
    QTest::addRow("our folder, open to others") << QStringLiteral("0755") << false;
    QTest::addRow("our folder, sticky and shared") << QStringLiteral("1777") << false;
    QTest::addRow("another user's folder") << QStringLiteral("other") << false;
    QTest::addRow("a link to a folder of ours") << QStringLiteral("link") << false;
    QTest::addRow("a file") << QStringLiteral("file") << false;
}

void TestSingleInstance::privateFallbackFolder()
{
    QFETCH(QString, planted);
    QFETCH(bool, used);
    if (planted == QLatin1String("other") && ::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    const QString tmp =
        QDir(m_env->root())
            .filePath(QStringLiteral("tmp-") + QString::fromLatin1(QTest::currentDataTag()));
    QDir(tmp).removeRecursively();
    QVERIFY(QDir().mkpath(tmp));
    const QString expected = QDir(tmp).filePath(QStringLiteral("tervalapro-%1").arg(::geteuid()));
    const QByteArray native = QFile::encodeName(expected);
    if (planted == QLatin1String("file")) {
        QFile file(expected);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (planted == QLatin1String("link")) {
        const QString mine = QDir(tmp).filePath(QStringLiteral("mine"));
        QVERIFY(QDir().mkpath(mine));
        QCOMPARE(::chmod(QFile::encodeName(mine).constData(), 0700), 0);
        QVERIFY(QFile::link(mine, expected));
    } else if (!planted.isEmpty()) {
        QVERIFY(QDir().mkpath(expected));
        const bool other = planted == QLatin1String("other");
        QCOMPARE(::chmod(native.constData(), other ? 0700 : planted.toUInt(nullptr, 8)), 0);
        if (other)
            QCOMPARE(::chown(native.constData(), 4242, 4242), 0);
    }

    WithoutXdgRuntimeDir shell(tmp);
    QCOMPARE(Paths::UserRuntimeFolder(), used ? expected : QString());
    const QString lockPath = CInstanceLock::DefaultPath();
    if (!used) {
        // Neither the working folder nor anything shared stands in.
        QCOMPARE(lockPath, QString());
        CInstanceLock lock;
        QCOMPARE(lock.ServerName(), QString());
        QVERIFY(lock.Acquire()); // the only copy, without a lock
        QVERIFY(!lock.IsHeld());
        CInstanceServer server;
        QVERIFY(!server.Listen(lock.ServerName()));
        return;
    }
    struct stat info;
    QCOMPARE(::lstat(native.constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_mode & 07777, mode_t(0700));
    QVERIFY(lockPath.startsWith(expected + QLatin1Char('/')));
}

// A second launch from a shell without XDG_RUNTIME_DIR finds the first copy,
// and scripts learn the same folder from the program itself.
void TestSingleInstance::laterLaunchWithoutXdgRuntimeDir()
{
    // Short: the hand-over socket's path must fit a socket address.
    QTemporaryDir shortTmp(QStringLiteral("/tmp/tv-XXXXXX"));
    QVERIFY(shortTmp.isValid());
    const QString tmp = shortTmp.path();
    WithoutXdgRuntimeDir shell(tmp);
    CInstanceLock lock;
    QVERIFY(lock.Acquire());
    QVERIFY(lock.IsHeld());
    CInstanceServer server;
    QVERIFY(server.Listen(lock.ServerName()));
    server.SetReady();
    QSignalSpy shows(&server, &CInstanceServer::showRequested);

    const QString workDir = QDir(m_env->root()).filePath(QStringLiteral("elsewhere-too"));
    QDir().mkpath(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess later;
    later.setProcessEnvironment(env);
    later.setWorkingDirectory(workDir);
    later.start(program(), {});
    QVERIFY(later.waitForFinished(10000));
    QCOMPARE(later.exitCode(), 0);
    QTRY_COMPARE(shows.size(), 1);
    QVERIFY(QDir(workDir).isEmpty());

    QProcess ask;
    ask.setProcessEnvironment(env);
    ask.start(program(), {QStringLiteral("--runtime-folder")});
    QVERIFY(ask.waitForFinished(10000));
    QCOMPARE(ask.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(ask.readAllStandardOutput()).trimmed(),
             QFileInfo(lock.Path()).path());

    // A folder that is not ours alone: the program says so and names no
    // folder at all.
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(lock.Path()).path()).constData(), 0777), 0);
    ask.start(program(), {QStringLiteral("--runtime-folder")});
    QVERIFY(ask.waitForFinished(10000));
    QCOMPARE(ask.exitCode(), 1);
    QCOMPARE(ask.readAllStandardOutput(), QByteArray());
    QVERIFY(ask.readAllStandardError().contains("0700"));
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(lock.Path()).path()).constData(), 0700), 0);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"

// The stand-in runs as root on demonstration machines and accepts every local
// user. Paths its clients name must be opened with the client's rights: a
// client played by another uid (this executable started again under setpriv)
// may not write into a folder it could not write itself, nor learn what a
// folder it cannot read holds.
#include "invitations/Certificate.h"
#include "servicelink/IPCCommandHandler.h"
#include "standin/StandinService.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr uid_t kOtherUser = 4242;
const char* const kClientSwitch = "--as-client";

// The client side: connect, send one create or join, print the answer as
// "<flag>|<error text>" and end.
int runClient(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    struct Answer : IRPCExecute
    {
        int PostCreateInvitationStatus(const QString&, long ok, const QString& error) override
        {
            return record(ok, error);
        }
        int PostJoinInvitationStatus(long ok, const QString& error, const QString&,
                                     const QString&) override
        {
            return record(ok, error);
        }
        int record(long ok, const QString& error)
        {
            text = QStringLiteral("%1|%2").arg(ok).arg(error);
            return 0;
        }
        QString text;
    } answer;
    QObject window;
    CIPCCommandHandler proxy;
    if (!proxy.StartClient(&window, &answer)) {
        std::puts("no service");
        return 3;
    }
    const QString path = args.at(3);
    if (args.at(2) == QLatin1String("create"))
        proxy.CreateInvitation(QStringLiteral("eve"), QStringLiteral("secret99"), QString(),
                               QStringLiteral("<TVLSessionStringFormat/>"),
                               FileTime::Now() + 86400ULL * FileTime::kTicksPerSecond, path,
                               QByteArray());
    else
        proxy.JoinInvitation(QStringLiteral("eve"), path, QStringLiteral("secret99"));
    QElapsedTimer waited;
    waited.start();
    while (answer.text.isEmpty() && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    std::puts(answer.text.isEmpty() ? "no answer" : qPrintable(answer.text));
    return 0;
}
} // namespace

class TestClientIdentity : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void createWritesOnlyWhereTheClientMay_data();
    void createWritesOnlyWhereTheClientMay();
    void joinRevealsNothingOfHiddenFolders();

private:
    // Runs one request as kOtherUser; returns the answer line.
    QString asOtherUser(const QString& request, const QString& path);
    static QByteArray contents(const QString& path);

    std::unique_ptr<TestEnvironment> m_env;
    QProcess m_service;
    QString m_secret; // root's, 0700
    QString m_mine;   // the other user's, 0700
};

void TestClientIdentity::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: a client is played by uid 4242 through setpriv");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("needs setpriv (util-linux) to run a client as another uid");
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    // The other user must reach the service socket inside the test folder.
    QCOMPARE(::chmod(QFile::encodeName(m_env->root()).constData(), 0711), 0);
    QCOMPARE(::chmod(QFile::encodeName(m_env->runtimeDir()).constData(), 0755), 0);

    m_secret = QDir(m_env->root()).filePath(QStringLiteral("secret"));
    m_mine = QDir(m_env->root()).filePath(QStringLiteral("mine"));
    QVERIFY(QDir().mkpath(m_secret));
    QVERIFY(QDir().mkpath(m_mine));
    QCOMPARE(::chmod(QFile::encodeName(m_secret).constData(), 0700), 0);
    QCOMPARE(::chown(QFile::encodeName(m_mine).constData(), kOtherUser, kOtherUser), 0);
    QCOMPARE(::chmod(QFile::encodeName(m_mine).constData(), 0700), 0);
    for (const char* name : {"victim.Tervalapro", "exists.Tervalapro"}) {
        QFile file(QDir(m_secret).filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }

    m_service.setProgram(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")));
    m_service.start();
    QVERIFY(m_service.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!m_service.canReadLine() && waited.elapsed() < 20000)
        m_service.waitForReadyRead(100);
    QCOMPARE(m_service.readLine().trimmed(), QByteArray("ready"));
}

void TestClientIdentity::cleanupTestCase()
{
    if (m_service.state() != QProcess::NotRunning) {
        m_service.terminate();
        if (!m_service.waitForFinished(10000))
            m_service.kill();
    }
}

QByteArray TestClientIdentity::contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString TestClientIdentity::asOtherUser(const QString& request, const QString& path)
{
    QProcess client;
    client.start(QStringLiteral("setpriv"),
                 {QStringLiteral("--reuid=%1").arg(kOtherUser),
                  QStringLiteral("--regid=%1").arg(kOtherUser), QStringLiteral("--clear-groups"),
                  QCoreApplication::applicationFilePath(), QString::fromLatin1(kClientSwitch),
                  request, path});
    if (!client.waitForFinished(60000))
        return QStringLiteral("client did not end");
    const QString answer = QString::fromLocal8Bit(client.readAllStandardOutput()).trimmed();
    return answer.isEmpty() ? QStringLiteral("nothing said; stderr: ") +
                                  QString::fromLocal8Bit(client.readAllStandardError())
                            : answer;
}

void TestClientIdentity::createWritesOnlyWhereTheClientMay_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("written");
    QTest::addRow("new file in root's folder")
        << QStringLiteral("secret") << QStringLiteral("new.Tervalapro") << false;
    QTest::addRow("root's file overwritten")
        << QStringLiteral("secret") << QStringLiteral("victim.Tervalapro") << false;
    QTest::addRow("the client's own folder")
        << QStringLiteral("mine") << QStringLiteral("own.Tervalapro") << true;
}

void TestClientIdentity::createWritesOnlyWhereTheClientMay()
{
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QFETCH(bool, written);
    const QString path = QDir(folder == QLatin1String("secret") ? m_secret : m_mine).filePath(file);
    const QByteArray before = contents(path);
    const QString answer = asOtherUser(QStringLiteral("create"), path);
    QVERIFY2(answer.startsWith(written ? QStringLiteral("1|") : QStringLiteral("0|")),
             qPrintable(answer));
    if (!written) {
        QCOMPARE(contents(path), before);
        QVERIFY2(answer.contains(QStringLiteral("Permission denied")), qPrintable(answer));
        return;
    }
    // Made by the client, as if it had written the file itself.
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_uid, kOtherUser);
    QCOMPARE(info.st_gid, gid_t(kOtherUser));
}

void TestClientIdentity::joinRevealsNothingOfHiddenFolders()
{
    const QString present = asOtherUser(
        QStringLiteral("join"), QDir(m_secret).filePath(QStringLiteral("exists.Tervalapro")));
    const QString absent = asOtherUser(QStringLiteral("join"),
                                       QDir(m_secret).filePath(QStringLiteral("none.Tervalapro")));
    QVERIFY2(present.startsWith(QStringLiteral("0|")), qPrintable(present));
    QCOMPARE(present, absent);
    // Where the client may look, the answers differ as they always did.
    const QString own = asOtherUser(QStringLiteral("join"),
                                    QDir(m_mine).filePath(QStringLiteral("none.Tervalapro")));
    QVERIFY2(own.contains(QStringLiteral("No such file")), qPrintable(own));
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], kClientSwitch) == 0)
        return runClient(argc, argv);
    QCoreApplication app(argc, argv);
    TestClientIdentity test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clientidentity.moc"

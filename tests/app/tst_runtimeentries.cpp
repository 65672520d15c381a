// The real program started against entries of the runtime folder that
// another local user has planted or holds.
#include "sessions/SharedSection.h"
#include "standin/StandinService.h"
#include "tests/app/SectionWriter.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

class TestRuntimeEntries : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void programComesUpPastPlantedEntries_data();
    void programComesUpPastPlantedEntries();

private:
    QString dump() const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<StandinService> m_service;
    QString m_dumps;
    QProcess m_program;
};

void TestRuntimeEntries::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    m_dumps = QDir(m_env->root()).filePath(QStringLiteral("dump"));
    QVERIFY(QDir().mkpath(m_dumps));
}

void TestRuntimeEntries::init()
{
    QDir runtime(m_env->runtimeDir());
    runtime.removeRecursively();
    QVERIFY(QDir().mkpath(m_env->runtimeDir()));
    QFile::remove(QDir(m_dumps).filePath(QStringLiteral("tree.txt")));
    m_service = std::make_unique<StandinService>();
    QVERIFY(m_service->start());
}

void TestRuntimeEntries::cleanup()
{
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished();
    }
    m_service.reset();
}

QString TestRuntimeEntries::dump() const
{
    QFile file(QDir(m_dumps).filePath(QStringLiteral("tree.txt")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                          : QStringLiteral("<none>");
}

// A FIFO opened for reading blocks until a writer comes: at the event's name
// it kept the tray from ever coming up. Each entry is tried on its own and
// all together; the program must come up, talk to the service and show the
// networks it can read.
void TestRuntimeEntries::programComesUpPastPlantedEntries_data()
{
    QTest::addColumn<QStringList>("fifos");
    QTest::addColumn<bool>("published");
    QTest::addColumn<QString>("shown");
    const QString section = SharedNames::SectionName();
    const QString lock = SharedNames::SectionLockName();
    const QString event = SharedNames::PeerNotifyName();
    const QString listed = QStringLiteral("Net\n\tpeer\n");
    QTest::addRow("section") << QStringList{section} << false << QString();
    QTest::addRow("lock: read unguarded") << QStringList{lock} << true << listed;
    QTest::addRow("event") << QStringList{event} << true << listed;
    QTest::addRow("all three") << QStringList{section, lock, event} << false << QString();
}

void TestRuntimeEntries::programComesUpPastPlantedEntries()
{
    QFETCH(QStringList, fifos);
    QFETCH(bool, published);
    QFETCH(QString, shown);
    if (published)
        QVERIFY(SectionWriter::Publish(
            {{QStringLiteral("net"), QStringLiteral("Net"), {QStringLiteral("peer")}}}));
    for (const QString& name : std::as_const(fifos)) {
        // Publishing made a lock file of its own first.
        QFile::remove(SharedNames::EntryPath(name));
        QCOMPARE(::mkfifo(QFile::encodeName(SharedNames::EntryPath(name)).constData(), 0666), 0);
    }

    QSignalSpy commands(m_service.get(), &StandinService::commandReceived);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TERVALA_DEBUG_DUMP_DIR"), m_dumps);
    m_program.setProcessEnvironment(environment);
    m_program.setWorkingDirectory(TestEnvironment::sourceDir());
    m_program.start(TestEnvironment::binary(QStringLiteral("app/tervalapro")),
                    {QStringLiteral("-startup")});
    QVERIFY(m_program.waitForStarted());
    // UI_NOTIFY follows the start of the peer-change watch.
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(commands.cbegin(), commands.cend(),
                                         [](const QList<QVariant>& call) {
                                             return call.value(1).toLongLong() == UI_NOTIFY;
                                         }),
                             30000);
    QTRY_COMPARE_WITH_TIMEOUT(dump(), shown, 30000);
    QCOMPARE(m_program.state(), QProcess::Running);
    // Nothing was put in the entries' place.
    for (const QString& name : std::as_const(fifos)) {
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(SharedNames::EntryPath(name)).constData(), &info), 0);
        QVERIFY(S_ISFIFO(info.st_mode));
    }
}

QTEST_GUILESS_MAIN(TestRuntimeEntries)
#include "tst_runtimeentries.moc"

// servicelog.txt lies in the log folder that every local user may write, and
// the stand-in runs as root on demonstration machines.
#include "foundation/Paths.h"
#include "standin/StandinService.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestServiceLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void plantedEntriesAreLeftAlone_data();
    void plantedEntriesAreLeftAlone();
    void limitHoldsWhileWriting();

private:
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::unique_ptr<TestEnvironment> m_env;
};

void TestServiceLog::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestServiceLog::init()
{
    QVERIFY(QDir().mkpath(Paths::LogFolder()));
    QFile::remove(StandinService::logPath());
}

void TestServiceLog::plantedEntriesAreLeftAlone_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addRow("link to a file of the service's") << QStringLiteral("link");
    QTest::addRow("file of another user") << QStringLiteral("owner");
    QTest::addRow("second name of a file") << QStringLiteral("hardlink");
}

void TestServiceLog::plantedEntriesAreLeftAlone()
{
    QFETCH(QString, planted);
    if (planted == QLatin1String("owner") && ::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    const QString victim = QDir(m_env->root()).filePath(QStringLiteral("victim"));
    QFile::remove(victim);
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    const QString log = StandinService::logPath();
    const QByteArray native = QFile::encodeName(log);
    if (planted == QLatin1String("link")) {
        QVERIFY(QFile::link(victim, log));
    } else if (planted == QLatin1String("hardlink")) {
        QCOMPARE(::link(QFile::encodeName(victim).constData(), native.constData()), 0);
    } else {
        QVERIFY(QFile::copy(victim, log));
        QCOMPARE(::chmod(native.constData(), 0666), 0);
        QCOMPARE(::chown(native.constData(), 4242, 4242), 0);
    }
    {
        StandinService service;
        service.log(QStringLiteral("a line the planter wants to see"));
        // Nor is anything read back through it.
        QCOMPARE(service.logTail(5).join(QString()).contains(QStringLiteral("precious")), false);
    }
    QCOMPARE(contents(victim), QByteArray("precious"));
    if (planted == QLatin1String("owner"))
        QCOMPARE(contents(log), QByteArray("precious"));
}

void TestServiceLog::limitHoldsWhileWriting()
{
    StandinService service;
    const QString text(500, QLatin1Char('s'));
    qint64 largest = 0;
    for (int i = 0; i < 2500; ++i) { // about 2.6 MB
        service.log(QStringLiteral("%1 %2").arg(i, 4, 10, QLatin1Char('0')).arg(text));
        largest = qMax(largest, QFileInfo(StandinService::logPath()).size());
    }
    QVERIFY2(largest <= 1048576, qPrintable(QString::number(largest)));
    QVERIFY(largest > 1048576 - 2048);
    const QByteArray bytes = contents(StandinService::logPath());
    QVERIFY(bytes.startsWith("\xFF\xFE"));
    const QStringList tail = service.logTail(1);
    QCOMPARE(tail.size(), 1);
    QVERIFY2(tail.first().contains(QStringLiteral(" 2499 ")), qPrintable(tail.first()));
}

QTEST_GUILESS_MAIN(TestServiceLog)
#include "tst_servicelog.moc"

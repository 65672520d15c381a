// The real tervala-standin writes a catalogue of session types on its first
// start, and never touches one that is there.
#include "foundation/XmlSerializer.h"
#include "sessions/SessionTypeCatalog.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>

namespace {
QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString ports(const QString& sessionType)
{
    CXmlSerializer reader;
    if (!reader.LoadXml(sessionType, s("TVLSessionStringFormat")))
        return s("<unreadable>");
    QStringList items;
    while (reader.NextChild(s("PortRange"))) {
        QString start;
        QString stop;
        QString service;
        reader.GetAttribute(s("PortStart"), start);
        reader.GetAttribute(s("PortStop"), stop);
        reader.GetAttribute(s("PortService"), service);
        items << (service == s("true") ? s("S") : QString()) + start + QLatin1Char('-') + stop;
        reader.LeaveChild();
    }
    return items.join(QLatin1Char(','));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
} // namespace

class TestStandinSessionTypes : public QObject
{
    Q_OBJECT

    TestEnvironment m_env;
    int m_run = 0;
    QString m_appData;

    QString sessionsFolder() const { return m_appData + s("/quornix/TervalaPro/sessions"); }
    QString catalogPath() const { return sessionsFolder() + s("/SessionTypes.dat"); }

    // Starts the stand-in on this test's own application-data and runtime
    // folders, waits for "ready" and stops it again.
    bool runStandin()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(s("TERVALA_COMMON_APPDATA"), m_appData);
        env.insert(s("TERVALA_RUNTIME_DIR"), m_env.root() + s("/run-%1").arg(m_run));
        QProcess standin;
        standin.setProcessEnvironment(env);
        standin.setProgram(TestEnvironment::binary(s("standin/tervala-standin")));
        standin.start();
        if (!standin.waitForStarted(5000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!standin.canReadLine() && waited.elapsed() < 20000 &&
               standin.state() == QProcess::Running)
            standin.waitForReadyRead(100);
        const bool ready = standin.readLine().trimmed() == "ready";
        standin.terminate();
        if (!standin.waitForFinished(10000))
            standin.kill();
        return ready;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.isValid());
        QVERIFY(QFile::exists(TestEnvironment::binary(s("standin/tervala-standin"))));
    }

    void init()
    {
        m_appData = m_env.root() + s("/appdata-%1").arg(++m_run);
        QVERIFY(QDir().mkpath(m_appData));
        qputenv("TERVALA_COMMON_APPDATA", m_appData.toUtf8());
    }

    void firstStartWritesTheDefaults()
    {
        QVERIFY(runStandin());
        QFileInfo info(catalogPath());
        QVERIFY(info.isFile());
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(catalogPath()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0644);
        QCOMPARE(QDir(sessionsFolder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{s("SessionTypes.dat")});

        // Read back as the program reads it.
        CSessionTypeCatalog catalog;
        QVERIFY2(catalog.LoadError().isEmpty(), qPrintable(catalog.LoadError()));
        QCOMPARE(catalog.Names(),
                 (QStringList{s("Remote Desktop Access (RDP)"), s("Remote Assistance"),
                              s("Web (HTTP, HTTPS)"), s("Secure Shell (SSH)")}));
        QCOMPARE(ports(catalog.Lookup(s("Remote Desktop Access (RDP)"))), s("S3389-3389"));
        QCOMPARE(ports(catalog.Lookup(s("Remote Assistance"))), s("S3389-3389"));
        QCOMPARE(ports(catalog.Lookup(s("Web (HTTP, HTTPS)"))), s("80-80,443-443"));
        QCOMPARE(ports(catalog.Lookup(s("Secure Shell (SSH)"))), s("S22-22"));
    }

    // Whatever stands at the path stays as it is: the user's own catalogue,
    // an empty or damaged one, or a link planted there.
    void presentEntryIsNeverReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addRow("catalogue") << s("catalogue");
        QTest::addRow("empty file") << s("empty");
        QTest::addRow("dangling link") << s("link");
    }
    void presentEntryIsNeverReplaced()
    {
        QFETCH(QString, kind);
        QVERIFY(QDir().mkpath(sessionsFolder()));
        const QString target = m_env.root() + s("/not-there-%1").arg(m_run);
        QByteArray bytes;
        if (kind == s("link")) {
            QVERIFY(QFile::link(target, catalogPath()));
        } else {
            if (kind == s("catalogue"))
                bytes = CSessionTypeCatalog::Serialize({{s("Mine"), s("<mine/>")}});
            QFile f(catalogPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), bytes.size());
        }

        QVERIFY(runStandin());
        if (kind == s("link")) {
            QVERIFY(QFileInfo(catalogPath()).isSymLink());
            QVERIFY(!QFile::exists(target));
        } else {
            QCOMPARE(readFile(catalogPath()), bytes);
        }
        QCOMPARE(QDir(sessionsFolder())
                     .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{s("SessionTypes.dat")});
    }

    // The defaults are written once; a type the user added since survives
    // the next start.
    void secondStartKeepsWhatWasAdded()
    {
        QVERIFY(runStandin());
        {
            CSessionTypeCatalog catalog;
            QVERIFY(catalog.Add(s("Game"), s("<game/>")));
        }
        const QByteArray before = readFile(catalogPath());
        QVERIFY(runStandin());
        QCOMPARE(readFile(catalogPath()), before);
        QCOMPARE(CSessionTypeCatalog().Lookup(s("Game")), s("<game/>"));
    }
};

QTEST_GUILESS_MAIN(TestStandinSessionTypes)
#include "tst_standinsessiontypes.moc"

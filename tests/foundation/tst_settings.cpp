#include "foundation/Paths.h"
#include "foundation/RegOperations.h"
#include "resources/StringTable.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <memory>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_env;

    QString userFile() const
    {
        return m_env.configHome() + QStringLiteral("/Quornix/Tervala Pro.conf");
    }
    QString machineFile() const
    {
        return m_env.configDirs() + QStringLiteral("/Quornix/Tervala Pro.conf");
    }
    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        // QSettings keeps a parsed copy while size and time stay the same.
        f.flush();
        static int tick = 0;
        f.setFileTime(QDateTime::currentDateTime().addSecs(++tick),
                      QFileDevice::FileModificationTime);
    }

private slots:
    void init()
    {
        QFile::remove(userFile());
        QFile::remove(machineFile());
    }

    void folders()
    {
        const QString a = m_env.appData();
        QCOMPARE(Paths::CommonAppData(), a);
        QCOMPARE(Paths::LogFolder(), a + QStringLiteral("/quornix/log/"));
        QCOMPARE(Paths::StoreFolder(), a + QStringLiteral("/quornix/TervalaPro/store"));
        QCOMPARE(Paths::LocalStoreFolder(), a + QStringLiteral("/quornix/TervalaPro/store/local"));
        QCOMPARE(Paths::SessionsFolder(), a + QStringLiteral("/quornix/TervalaPro/sessions"));
        QCOMPARE(Paths::RemoteAssistFolder(),
                 a + QStringLiteral("/quornix/TervalaPro/RemoteAssist"));
        QCOMPARE(Paths::RuntimeEntry(
                     QStringLiteral("{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC")),
                 m_env.runtimeDir() +
                     QStringLiteral("/{3FAB0660-208D-4898-AA25-14D0DD1B5E3B}.TervalaIPC"));
        QCOMPARE(Paths::UserRuntimeFolder(), m_env.userRuntime());
        QVERIFY(Paths::MakePath(Paths::LocalStoreFolder()));
        QVERIFY(Paths::MakePath(Paths::LocalStoreFolder())); // existing is fine
        QVERIFY(!Paths::MakePath(QString()));
    }

    void defaultFoldersWithoutOverrides()
    {
        const QByteArray appData = qgetenv("TERVALA_COMMON_APPDATA");
        const QByteArray runtime = qgetenv("TERVALA_RUNTIME_DIR");
        qunsetenv("TERVALA_COMMON_APPDATA");
        qputenv("TERVALA_RUNTIME_DIR", "");
        QCOMPARE(Paths::LogFolder(), QStringLiteral("/var/lib/quornix/log/"));
        QCOMPARE(Paths::RuntimeFolder(), QStringLiteral("/run/tervala"));
        qputenv("TERVALA_COMMON_APPDATA", appData);
        qputenv("TERVALA_RUNTIME_DIR", runtime);
    }

    void storesFollowTheEnvironment()
    {
        std::unique_ptr<QSettings> user(Settings::NewUserStore());
        std::unique_ptr<QSettings> machine(Settings::NewMachineStore());
        QCOMPARE(user->fileName(), userFile());
        QCOMPARE(machine->fileName(), machineFile());
    }

    void nickNameRoundTrip()
    {
        CRegOperations reg;
        QCOMPARE(reg.GetNickName(), QString());
        reg.SetNickName(QStringLiteral("alice, the 1st"));
        QCOMPARE(CRegOperations().GetNickName(), QStringLiteral("alice, the 1st"));
        reg.SetNickName(QString()); // not written: the old one stays
        QCOMPARE(CRegOperations().GetNickName(), QStringLiteral("alice, the 1st"));
        QVERIFY(QFile::exists(userFile()));
    }

    void storedNickName_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("nick");
        QTest::addRow("text") << QByteArray("[General]\nNickName=bob\n") << QStringLiteral("bob");
        QTest::addRow("digits are text")
            << QByteArray("[General]\nNickName=42\n") << QStringLiteral("42");
        QTest::addRow("list") << QByteArray("[General]\nNickName=a, b\n") << QString();
        QTest::addRow("typed number")
            << QByteArray("[General]\nNickName=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n")
            << QString();
        QTest::addRow("byte array")
            << QByteArray("[General]\nNickName=@ByteArray(bob)\n") << QString();
        QTest::addRow("zero inside")
            << QByteArray("[General]\nNickName=bo\\0b\n") << QStringLiteral("bo");
        QTest::addRow("long") << QByteArray("[General]\nNickName=" + QByteArray(300, 'n') + "\n")
                              << QString(259, QLatin1Char('n'));
        QTest::addRow("other section") << QByteArray("[Other]\nNickName=bob\n") << QString();
        QTest::addRow("damaged") << QByteArray("\x00\xFF[[[=\n\x01NickName\n=\n", 19) << QString();
    }
    void storedNickName()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QString, nick);
        writeFile(userFile(), conf);
        QCOMPARE(CRegOperations().GetNickName(), nick);
    }

    void userStoreDoesNotSeeMachineValues()
    {
        writeFile(machineFile(), "[General]\nNickName=machine\n");
        QCOMPARE(CRegOperations().GetNickName(), QString());
    }

    void traceLevel_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<uint>("level");
        QTest::addRow("absent") << QByteArray() << 0u;
        QTest::addRow("decimal") << QByteArray("[General]\nLogTraceLevel=5\n") << 5u;
        QTest::addRow("blanks") << QByteArray("[General]\nLogTraceLevel= 4 \n") << 4u;
        QTest::addRow("hex") << QByteArray("[General]\nLogTraceLevel=0xFFFFFFFF\n") << 0xFFFFFFFFu;
        QTest::addRow("typed")
            << QByteArray("[General]\nLogTraceLevel=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n") << 5u;
        QTest::addRow("words") << QByteArray("[General]\nLogTraceLevel=all\n") << 0u;
        QTest::addRow("too big") << QByteArray("[General]\nLogTraceLevel=4294967296\n") << 0u;
        QTest::addRow("damaged") << QByteArray("\xFF\xFE\x00garbage", 10) << 0u;
    }
    void traceLevel()
    {
        QFETCH(QByteArray, conf);
        QFETCH(uint, level);
        if (!conf.isEmpty())
            writeFile(machineFile(), conf);
        QCOMPARE(CRegOperations::ReadLogTraceLevel(), level);
    }

    void machineValues()
    {
        writeFile(machineFile(), "[General]\nSupportHost=support.example:8080\n"
                                 "SupportEmail=help@example.org\n"
                                 "RemoteDesktopCommand=xfreerdp, /v:%s, /cert:ignore\n");
        QCOMPARE(CRegOperations::SupportHost(), QStringLiteral("support.example:8080"));
        QCOMPARE(CRegOperations::SupportEmail(), QStringLiteral("help@example.org"));
        QCOMPARE(CRegOperations::RemoteDesktopCommand(),
                 QStringList({QStringLiteral("xfreerdp"), QStringLiteral("/v:%s"),
                              QStringLiteral("/cert:ignore")}));
        writeFile(machineFile(), "[General]\nRemoteDesktopCommand=\\\"my rdp\\\" -v %s\n");
        QCOMPARE(
            CRegOperations::RemoteDesktopCommand(),
            QStringList({QStringLiteral("my rdp"), QStringLiteral("-v"), QStringLiteral("%s")}));
        QFile::remove(machineFile());
        QCOMPARE(CRegOperations::SupportHost(), QString());
        QCOMPARE(CRegOperations::RemoteDesktopCommand(), QStringList());
    }

    void trayIconStyle_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<bool>("monochrome");
        QTest::addRow("nothing set") << QByteArray() << QByteArray() << false;
        QTest::addRow("per user") << QByteArray("monochrome") << QByteArray() << true;
        QTest::addRow("machine-wide") << QByteArray() << QByteArray("Monochrome") << true;
        QTest::addRow("the user's colour wins")
            << QByteArray("colour") << QByteArray("monochrome") << false;
        QTest::addRow("the user's choice wins")
            << QByteArray("monochrome") << QByteArray("colour") << true;
        QTest::addRow("unknown word") << QByteArray("mono") << QByteArray() << false;
    }

    void trayIconStyle()
    {
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, machine);
        if (!user.isEmpty())
            writeFile(userFile(), "[General]\nTrayIconStyle=" + user + "\n");
        if (!machine.isEmpty())
            writeFile(machineFile(), "[General]\nTrayIconStyle=" + machine + "\n");
        QTEST(CRegOperations::MonochromeTrayIcon(), "monochrome");
    }

    void remoteAssistanceSwitchesDoNothing()
    {
        CRegOperations reg;
        QCOMPARE(reg.EnableGetHelp(), 0u);
        QCOMPARE(reg.EnableUnsolicitedHelp(), 0u);
        QVERIFY(!QFile::exists(machineFile()));
    }

    void stringTable_data()
    {
        QTest::addColumn<uint>("id");
        QTest::addColumn<QString>("text");
        QTest::addRow("title") << 57344u << QStringLiteral("Tervala Pro");
        QTest::addRow("settings key") << 107u << QStringLiteral("Software\\Quornix\\Tervala Pro");
        QTest::addRow("log name") << 108u << QStringLiteral("uilog.txt");
        QTest::addRow("spelling kept")
            << 102u
            << QStringLiteral("Please provide your e-mail address for providing assitance.");
        QTest::addRow("trailing blank")
            << 10012u << QStringLiteral("Failed to export certificate ");
        QTest::addRow("post body")
            << 148u
            << QStringLiteral(
                   "departmentid=1&name=%hs&email=%hs&subject=%hs&message=%hs&email_send=Submit");
        QTest::addRow("menu") << 32789u << QStringLiteral("Close Server");
        QTest::addRow("unknown") << 4711u << QString();
    }
    void stringTable()
    {
        QFETCH(uint, id);
        QFETCH(QString, text);
        QCOMPARE(LoadString(id), text);
        QCOMPARE(HasString(id), !text.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"

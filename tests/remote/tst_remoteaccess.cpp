#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "remote/RemoteAccess.h"
#include "tests/support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtTest>

Q_DECLARE_METATYPE(RemoteSession)

// The clients are fakes in a private folder that is the whole of PATH, so no
// real client of this machine is ever started and each run is recorded.
class TestRemoteAccess : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_env;
    QByteArray m_savedPath;

    QString binDir() const { return m_env.root() + QStringLiteral("/bin"); }
    QString recordDir() const { return m_env.root() + QStringLiteral("/records"); }
    QString record(const QString& name) const { return recordDir() + QLatin1Char('/') + name; }
    QString machineFile() const
    {
        return m_env.configDirs() + QStringLiteral("/Quornix/Tervala Pro.conf");
    }
    QString invitationPath() const
    {
        return m_env.appData() +
               QStringLiteral("/quornix/TervalaPro/RemoteAssist/RAInvitation.msrcincident");
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
        f.flush();
        // QSettings keeps a parsed copy while size and time stay the same.
        static int tick = 0;
        f.setFileTime(QDateTime::currentDateTime().addSecs(++tick),
                      QFileDevice::FileModificationTime);
    }
    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    static void makeExecutable(const QString& path, const QByteArray& script)
    {
        writeFile(path, script);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
    }

    // A client that writes its arguments, NUL-separated, to records/<name>;
    // the rename makes the record appear whole.
    void installFake(const QString& name)
    {
        const QByteArray rec = record(name).toUtf8();
        makeExecutable(binDir() + QLatin1Char('/') + name, "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" +
                                                               rec + ".part'\nexec /bin/mv -f '" +
                                                               rec + ".part' '" + rec + "'\n");
    }
    void installFakes(const QStringList& names)
    {
        for (const QString& name : names)
            installFake(name);
    }
    // Found on PATH, but the system cannot run it.
    void installBroken(const QString& name)
    {
        makeExecutable(binDir() + QLatin1Char('/') + name, "#!/nonexistent/interpreter\n");
    }

    QStringList recordedArguments(const QString& name) const
    {
        QByteArray bytes = readFile(record(name));
        if (bytes.endsWith('\0'))
            bytes.chop(1);
        QStringList args;
        for (const QByteArray& part : bytes.split('\0'))
            args.append(QString::fromUtf8(part));
        return args;
    }
    bool anyRecord() const { return !QDir(recordDir()).isEmpty(QDir::Files | QDir::Hidden); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.isValid());
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", binDir().toUtf8());
    }
    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void init()
    {
        QDir(binDir()).removeRecursively();
        QDir(recordDir()).removeRecursively();
        QVERIFY(QDir().mkpath(binDir()));
        QVERIFY(QDir().mkpath(recordDir()));
        QFile::remove(machineFile());
        QDir(m_env.appData() + QStringLiteral("/quornix")).removeRecursively();
    }

    void match_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<RemoteSession>("session");
        QTest::addRow("netmeeting") << QStringLiteral("Netmeeting") << RemoteSession::Netmeeting;
        QTest::addRow("rdp") << QStringLiteral("Remote Desktop Access (RDP)")
                             << RemoteSession::RemoteDesktop;
        QTest::addRow("rdp any case")
            << QStringLiteral("remote desktop access (rdp)") << RemoteSession::RemoteDesktop;
        QTest::addRow("assistance")
            << QStringLiteral("Remote Assistance") << RemoteSession::RemoteAssistance;
        QTest::addRow("assistance capitals")
            << QStringLiteral("REMOTE ASSISTANCE") << RemoteSession::RemoteAssistance;
        QTest::addRow("streaming")
            << QStringLiteral("Streaming Session (MP3,AVI,WebCAM)") << RemoteSession::Streaming;
        QTest::addRow("suffix") << QStringLiteral("Remote Assistance 2") << RemoteSession::None;
        QTest::addRow("prefix only") << QStringLiteral("Remote Desktop") << RemoteSession::None;
        QTest::addRow("leading blank")
            << QStringLiteral(" Remote Assistance") << RemoteSession::None;
        QTest::addRow("trailing blank") << QStringLiteral("Netmeeting ") << RemoteSession::None;
        QTest::addRow("empty") << QString() << RemoteSession::None;
        QTest::addRow("catalogue type") << QStringLiteral("Web Server") << RemoteSession::None;
    }
    void match()
    {
        QFETCH(QString, name);
        QFETCH(RemoteSession, session);
        QCOMPARE(CRemoteAccess::Match(name), session);
    }

    void prepareReportsNotPrepared_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("assistance") << QStringLiteral("Remote Assistance");
        QTest::addRow("capitals") << QStringLiteral("REMOTE ASSISTANCE");
        QTest::addRow("rdp") << QStringLiteral("Remote Desktop Access (RDP)");
        QTest::addRow("other") << QStringLiteral("FTP");
    }
    void prepareReportsNotPrepared()
    {
        QFETCH(QString, name);
        CRemoteAccess::Prepared out{QStringLiteral("kept"), QByteArray("kept")};
        QVERIFY(!CRemoteAccess::PrepareRemoteAssistance(name, QStringLiteral("bob"),
                                                        QStringLiteral("secret"), out));
        QCOMPARE(out.sessionType, QStringLiteral("kept"));
        QCOMPARE(out.appData, QByteArray("kept"));
        QVERIFY(!QFile::exists(invitationPath()));
    }

    void invitationPathMakesItsFolder()
    {
        QVERIFY(!QFileInfo::exists(QFileInfo(invitationPath()).path()));
        QCOMPARE(CRemoteAccess::InvitationFilePath(), invitationPath());
        QVERIFY(QFileInfo(QFileInfo(invitationPath()).path()).isDir());
        QVERIFY(!QFile::exists(invitationPath()));
    }

    // What would be run, without running it. A program starting with '@'
    // stands for the fake of that name in the PATH folder.
    void remoteDesktopCommand_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");

        const QStringList all = {QStringLiteral("xfreerdp"), QStringLiteral("xfreerdp3"),
                                 QStringLiteral("remmina"), QStringLiteral("myrdp")};
        const QString ip4 = QStringLiteral("10.0.0.5");
        QTest::addRow("xfreerdp first") << all << QByteArray() << ip4 << QStringLiteral("@xfreerdp")
                                        << QStringList{QStringLiteral("/v:10.0.0.5")};
        QTest::addRow("then xfreerdp3")
            << QStringList{QStringLiteral("xfreerdp3"), QStringLiteral("remmina")} << QByteArray()
            << ip4 << QStringLiteral("@xfreerdp3") << QStringList{QStringLiteral("/v:10.0.0.5")};
        QTest::addRow("then remmina")
            << QStringList{QStringLiteral("remmina")} << QByteArray() << ip4
            << QStringLiteral("@remmina")
            << QStringList{QStringLiteral("-c"), QStringLiteral("rdp://10.0.0.5")};
        QTest::addRow("none") << QStringList() << QByteArray() << ip4 << QString() << QStringList();
        QTest::addRow("ipv6 xfreerdp")
            << all << QByteArray() << QStringLiteral("fe80::1") << QStringLiteral("@xfreerdp")
            << QStringList{QStringLiteral("/v:[fe80::1]")};
        QTest::addRow("ipv6 remmina")
            << QStringList{QStringLiteral("remmina")} << QByteArray() << QStringLiteral("::1")
            << QStringLiteral("@remmina")
            << QStringList{QStringLiteral("-c"), QStringLiteral("rdp://[::1]")};
        QTest::addRow("bracketed kept")
            << all << QByteArray() << QStringLiteral("[fe80::1]:3390")
            << QStringLiteral("@xfreerdp") << QStringList{QStringLiteral("/v:[fe80::1]:3390")};
        QTest::addRow("host and port kept")
            << all << QByteArray() << QStringLiteral("pc1.example:3390")
            << QStringLiteral("@xfreerdp") << QStringList{QStringLiteral("/v:pc1.example:3390")};

        QTest::addRow("configured list")
            << all << QByteArray("[General]\nRemoteDesktopCommand=myrdp, /v:%s, /title:%s@rdp\n")
            << QStringLiteral("fe80::1") << QStringLiteral("@myrdp")
            << QStringList{QStringLiteral("/v:fe80::1"), QStringLiteral("/title:fe80::1@rdp")};
        QTest::addRow("configured without mark")
            << all << QByteArray("[General]\nRemoteDesktopCommand=myrdp, --fullscreen\n") << ip4
            << QStringLiteral("@myrdp")
            << QStringList{QStringLiteral("--fullscreen"), QStringLiteral("10.0.0.5")};
        QTest::addRow("configured program only")
            << all << QByteArray("[General]\nRemoteDesktopCommand=myrdp\n") << ip4
            << QStringLiteral("@myrdp") << QStringList{QStringLiteral("10.0.0.5")};
        QTest::addRow("configured text")
            << all << QByteArray("[General]\nRemoteDesktopCommand=myrdp -f \\\"/v:%s\\\"\n") << ip4
            << QStringLiteral("@myrdp")
            << QStringList{QStringLiteral("-f"), QStringLiteral("/v:10.0.0.5")};
        QTest::addRow("configured path not looked up")
            << all << QByteArray("[General]\nRemoteDesktopCommand=/opt/rdp/client, %s\n") << ip4
            << QStringLiteral("/opt/rdp/client") << QStringList{QStringLiteral("10.0.0.5")};
        QTest::addRow("configured but missing")
            << all << QByteArray("[General]\nRemoteDesktopCommand=nordp, %s\n") << ip4
            << QStringLiteral("nordp") << QStringList{QStringLiteral("10.0.0.5")};
        QTest::addRow("configured empty")
            << all << QByteArray("[General]\nRemoteDesktopCommand=\n") << ip4
            << QStringLiteral("@xfreerdp") << QStringList{QStringLiteral("/v:10.0.0.5")};
        QTest::addRow("mark in address not expanded")
            << all << QByteArray("[General]\nRemoteDesktopCommand=myrdp, /v:%s\n")
            << QStringLiteral("a%sb") << QStringLiteral("@myrdp")
            << QStringList{QStringLiteral("/v:a%sb")};
    }
    void remoteDesktopCommand()
    {
        QFETCH(QStringList, installed);
        QFETCH(QByteArray, conf);
        QFETCH(QString, address);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        installFakes(installed);
        if (!conf.isEmpty())
            writeFile(machineFile(), conf);
        if (program.startsWith(QLatin1Char('@')))
            program = binDir() + QLatin1Char('/') + program.mid(1);

        const CRemoteAccess::Command command = CRemoteAccess::RemoteDesktopCommand(address);
        QCOMPARE(command.program, program);
        QCOMPARE(command.arguments, arguments);
    }

    // The address comes from the network: it must reach the client as one
    // argument, untouched by any shell. A fake rm and touch would record a
    // shell that split the text.
    void remoteDesktopStartsTheClient_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("client");
        QTest::addColumn<QStringList>("arguments");

        const QStringList rdp = {QStringLiteral("xfreerdp"), QStringLiteral("rm"),
                                 QStringLiteral("touch")};
        QTest::addRow("xfreerdp") << rdp << QByteArray() << QStringLiteral("10.0.0.5")
                                  << QStringLiteral("xfreerdp")
                                  << QStringList{QStringLiteral("/v:10.0.0.5")};
        const struct
        {
            const char* row;
            QString address;
        } hostile[] = {
            {"command list", QStringLiteral("x; rm -rf ~")},
            {"substitution", QStringLiteral("$(touch pwned)")},
            {"backquotes", QStringLiteral("`touch pwned` && rm -rf ~")},
            {"blanks and line break", QStringLiteral("a b\tc\nd")},
            {"quotes and glob", QStringLiteral("'\"\\ *")},
            {"non-ascii", QStringLiteral("h\u00e9te")},
        };
        for (const auto& h : hostile) {
            QTest::addRow("hostile %s", h.row)
                << rdp << QByteArray() << h.address << QStringLiteral("xfreerdp")
                << QStringList{QStringLiteral("/v:") + h.address};
        }
        QTest::addRow("remmina ipv6")
            << QStringList{QStringLiteral("remmina")} << QByteArray() << QStringLiteral("fe80::1")
            << QStringLiteral("remmina")
            << QStringList{QStringLiteral("-c"), QStringLiteral("rdp://[fe80::1]")};
        QTest::addRow("configured hostile")
            << QStringList{QStringLiteral("myrdp"), QStringLiteral("rm")}
            << QByteArray("[General]\nRemoteDesktopCommand=myrdp, --host, %s\n")
            << QStringLiteral("x; rm -rf ~") << QStringLiteral("myrdp")
            << QStringList{QStringLiteral("--host"), QStringLiteral("x; rm -rf ~")};
    }
    void remoteDesktopStartsTheClient()
    {
        QFETCH(QStringList, installed);
        QFETCH(QByteArray, conf);
        QFETCH(QString, address);
        QFETCH(QString, client);
        QFETCH(QStringList, arguments);
        installFakes(installed);
        if (!conf.isEmpty())
            writeFile(machineFile(), conf);
        const QString canary = m_env.root() + QStringLiteral("/home/canary");
        writeFile(canary, "alive");

        const CRemoteAccess::StartResult result = CRemoteAccess::StartRemoteTool(
            QStringLiteral("Remote Desktop Access (RDP)"), QByteArray("ignored"), address);
        QVERIFY(result.started);
        QCOMPARE(result.errorText, QString());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record(client)), 10000);
        QCOMPARE(recordedArguments(client), arguments);
        QVERIFY(!QFile::exists(record(QStringLiteral("rm"))));
        QVERIFY(!QFile::exists(record(QStringLiteral("touch"))));
        QCOMPARE(readFile(canary), QByteArray("alive"));
        QVERIFY(!QFile::exists(invitationPath()));
    }

    // The join succeeded in every case, so the caller must not show a plain
    // success message; it shows the text instead.
    void remoteDesktopFailures_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("broken");
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("mentions");

        const QStringList fakes = {QStringLiteral("xfreerdp"), QStringLiteral("remmina")};
        QTest::addRow("no client")
            << QStringList() << QStringList() << QByteArray() << QStringLiteral("10.0.0.5")
            << QStringList{QStringLiteral("joined"),
                           QStringLiteral("10.0.0.5"),
                           QStringLiteral("xfreerdp"),
                           QStringLiteral("Remmina"),
                           QStringLiteral("RemoteDesktopCommand"),
                           machineFile()};
        QTest::addRow("no address")
            << fakes << QStringList() << QByteArray() << QString()
            << QStringList{QStringLiteral("joined"), QStringLiteral("no address")};
        QTest::addRow("blank address")
            << fakes << QStringList() << QByteArray() << QStringLiteral("  ")
            << QStringList{QStringLiteral("no address")};
        QTest::addRow("option as address")
            << fakes << QStringList() << QByteArray("[General]\nRemoteDesktopCommand=xfreerdp\n")
            << QStringLiteral("--help") << QStringList{QStringLiteral("\"--help\"")};
        QTest::addRow("client cannot run")
            << QStringList() << QStringList{QStringLiteral("xfreerdp")} << QByteArray()
            << QStringLiteral("10.0.0.5")
            << QStringList{binDir() + QStringLiteral("/xfreerdp"), QStringLiteral("10.0.0.5")};
        QTest::addRow("configured missing")
            << fakes << QStringList() << QByteArray("[General]\nRemoteDesktopCommand=nordp, %s\n")
            << QStringLiteral("10.0.0.5") << QStringList{QStringLiteral("nordp")};
    }
    void remoteDesktopFailures()
    {
        QFETCH(QStringList, installed);
        QFETCH(QStringList, broken);
        QFETCH(QByteArray, conf);
        QFETCH(QString, address);
        QFETCH(QStringList, mentions);
        installFakes(installed);
        for (const QString& name : broken)
            installBroken(name);
        if (!conf.isEmpty())
            writeFile(machineFile(), conf);

        const CRemoteAccess::StartResult result = CRemoteAccess::StartRemoteTool(
            QStringLiteral("remote desktop access (rdp)"), QByteArray(), address);
        QVERIFY(result.started);
        for (const QString& text : mentions)
            QVERIFY2(result.errorText.contains(text), qPrintable(result.errorText));
        // A client started anyway would have recorded by now.
        QTest::qWait(300);
        QVERIFY(!anyRecord());
    }

    void assistanceWritesAndOpensTheInvitation_data()
    {
        QTest::addColumn<int>("size");
        QTest::addRow("one byte") << 1;
        QTest::addRow("ticket size") << 20000;
        QTest::addRow("above the usual limit") << 20481;
        QTest::addRow("large") << (1 << 20);
    }
    void assistanceWritesAndOpensTheInvitation()
    {
        QFETCH(int, size);
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char(i % 251); // zero bytes included
        installFake(QStringLiteral("xdg-open"));
        // An older, longer invitation must not leave a tail behind.
        writeFile(invitationPath(), QByteArray(size + 4096, 'o'));

        const CRemoteAccess::StartResult result = CRemoteAccess::StartRemoteTool(
            QStringLiteral("Remote Assistance"), data, QStringLiteral("10.0.0.5"));
        QVERIFY(result.started);
        QCOMPARE(result.errorText, QString());
        QCOMPARE(readFile(invitationPath()), QByteArray("\xFF\xFE", 2) + data);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record(QStringLiteral("xdg-open"))), 10000);
        QCOMPARE(recordedArguments(QStringLiteral("xdg-open")), QStringList{invitationPath()});
    }

    // The folder is shared by all users of the machine: a link planted at the
    // invitation's path must not redirect the write.
    void assistanceDoesNotWriteThroughALink()
    {
        installFake(QStringLiteral("xdg-open"));
        const QString victim = m_env.root() + QStringLiteral("/home/victim");
        writeFile(victim, "precious");
        QDir().mkpath(QFileInfo(invitationPath()).path());
        QVERIFY(QFile::link(victim, invitationPath()));

        const CRemoteAccess::StartResult result = CRemoteAccess::StartRemoteTool(
            QStringLiteral("Remote Assistance"), QByteArray("ticket"), QString());
        QVERIFY(result.started);
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(invitationPath()).isSymLink());
        QCOMPARE(readFile(invitationPath()), QByteArray("\xFF\xFEticket", 8));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record(QStringLiteral("xdg-open"))), 10000);
    }

    // When the file cannot be written nothing is started and the caller shows
    // its plain success message; only the trace log keeps the reason.
    void assistanceCannotWrite_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addRow("file instead of folder")
            << QStringLiteral("/quornix/TervalaPro/RemoteAssist");
        QTest::addRow("file instead of parent") << QStringLiteral("/quornix/TervalaPro");
        QTest::addRow("folder instead of file")
            << QStringLiteral("/quornix/TervalaPro/RemoteAssist/RAInvitation.msrcincident/");
    }
    void assistanceCannotWrite()
    {
        QFETCH(QString, blocker);
        installFake(QStringLiteral("xdg-open"));
        const QString path = m_env.appData() + blocker;
        if (path.endsWith(QLatin1Char('/')))
            QVERIFY(QDir().mkpath(path));
        else
            writeFile(path, "in the way");
        writeFile(machineFile(), "[General]\nLogTraceLevel=1\n");
        OpenTraceLog();

        const CRemoteAccess::StartResult result = CRemoteAccess::StartRemoteTool(
            QStringLiteral("Remote Assistance"), QByteArray("ticket"), QStringLiteral("10.0.0.5"));
        CloseTraceLog();
        QVERIFY(!result.started);
        QCOMPARE(result.errorText, QString());
        QVERIFY(!QFileInfo(invitationPath()).isFile());

        const QByteArray log = readFile(Paths::LogFolder() + QStringLiteral("uilog.txt"));
        const QString text = QStringDecoder(QStringDecoder::Utf16LE).decode(log);
        QVERIFY2(text.contains(QStringLiteral("Remote Assistance: cannot")), qPrintable(text));
        QTest::qWait(300);
        QVERIFY(!anyRecord());
    }

    // The invitation is on disk even when nothing can open it; the user is
    // told where.
    void assistanceWithoutOpener_data()
    {
        QTest::addColumn<bool>("brokenOpener");
        QTest::addRow("missing") << false;
        QTest::addRow("cannot run") << true;
    }
    void assistanceWithoutOpener()
    {
        QFETCH(bool, brokenOpener);
        if (brokenOpener)
            installBroken(QStringLiteral("xdg-open"));

        const CRemoteAccess::StartResult result = CRemoteAccess::StartRemoteTool(
            QStringLiteral("remote assistance"), QByteArray("ticket"), QString());
        QVERIFY(result.started);
        QVERIFY2(result.errorText.contains(invitationPath()), qPrintable(result.errorText));
        QCOMPARE(readFile(invitationPath()), QByteArray("\xFF\xFEticket", 8));
    }

    void nothingStarted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("appData");
        QTest::addRow("assistance without data")
            << QStringLiteral("Remote Assistance") << QByteArray();
        QTest::addRow("netmeeting") << QStringLiteral("Netmeeting") << QByteArray("ticket");
        QTest::addRow("streaming")
            << QStringLiteral("STREAMING SESSION (MP3,AVI,WEBCAM)") << QByteArray("ticket");
        QTest::addRow("near name") << QStringLiteral("Remote Assistance 2") << QByteArray("ticket");
        QTest::addRow("other type") << QStringLiteral("Web Server") << QByteArray("ticket");
        QTest::addRow("empty") << QString() << QByteArray("ticket");
    }
    void nothingStarted()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, appData);
        installFakes(
            {QStringLiteral("xdg-open"), QStringLiteral("xfreerdp"), QStringLiteral("remmina")});

        const CRemoteAccess::StartResult result =
            CRemoteAccess::StartRemoteTool(name, appData, QStringLiteral("10.0.0.5"));
        QVERIFY(!result.started);
        QCOMPARE(result.errorText, QString());
        QVERIFY(!QFile::exists(invitationPath()));
        QTest::qWait(300);
        QVERIFY(!anyRecord());
    }
};

QTEST_GUILESS_MAIN(TestRemoteAccess)
#include "tst_remoteaccess.moc"

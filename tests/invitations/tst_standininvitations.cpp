#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "invitations/InvitationInfo.h"
#include "invitations/TVLCertParam.h"
#include "resources/StringTable.h"
#include "standin/ControlChannel.h"
#include "standin/InvitationAuthority.h"
#include "standin/StandinService.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <openssl/x509.h>

// The stand-in's invitations read back by the program's own code, through
// real files: the service's handlers in-process and its command-line mode as
// a process.
class TestStandinInvitations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void createWritesInvitationAndStoredTwin();
    void joinAnswers_data();
    void joinAnswers();
    void createFailsOnUnwritablePath();
    void exportedInvitationJoins();
    void writeInvitationCommand_data();
    void writeInvitationCommand();
    void writeInvitationUsage();

private:
    CreateRequest request(const QString& file, const QString& password, qint64 lifeSeconds,
                          const QByteArray& appData = {}) const;
    QString out(const QString& name) const { return QDir(m_env.root()).filePath(name); }
    static QString storedPath(const QString& name)
    {
        return QDir(Paths::LocalStoreFolder()).filePath(name + QStringLiteral(".cert"));
    }
    static bool signedByCa(const CCertificate& cert);

    TestEnvironment m_env;
    StandinService m_service;
    ControlChannel m_control;
};

void TestStandinInvitations::initTestCase()
{
    QVERIFY(m_env.isValid());
    registerInvitationCommands(m_service, m_control);
    QVERIFY(m_service.createHandler);
    QVERIFY(m_service.joinHandler);
}

CreateRequest TestStandinInvitations::request(const QString& file, const QString& password,
                                              qint64 lifeSeconds, const QByteArray& appData) const
{
    CreateRequest r;
    r.nickname = QStringLiteral("Ann");
    r.sessionName = QStringLiteral("Remote Desktop Access (RDP)");
    r.sessionType = QStringLiteral("<TVLSessionStringFormat/>");
    r.path = out(file);
    r.password = password;
    r.expiry = FileTime::Now() + quint64(lifeSeconds) * FileTime::kTicksPerSecond;
    r.appData = appData;
    // As the service fills it in for a client of this same user.
    r.client = ClientIdentity::Self();
    return r;
}

bool TestStandinInvitations::signedByCa(const CCertificate& cert)
{
    CTVLCertParam ca;
    if (!ca.LoadInvitation(CInvitationAuthority::CaPath()))
        return false;
    return X509_verify(cert.Cert(), X509_get0_pubkey(ca.Certificate().Cert())) == 1;
}

void TestStandinInvitations::createWritesInvitationAndStoredTwin()
{
    const QByteArray appData("ra ticket", 9);
    const CreateRequest r =
        request(QStringLiteral("a.Tervalapro"), QStringLiteral("secret1"), 7 * 86400, appData);
    const CreateResult result = m_service.createHandler(r);
    QVERIFY2(result.ok, qPrintable(result.errorText));
    QCOMPARE(result.displayText, r.sessionName);
    QVERIFY(result.sessionName.startsWith(QStringLiteral("Remote-Desktop-Access-RDP-")));
    QVERIFY(CInvitationInfo::IsSafeStoredName(result.sessionName));
    QVERIFY(QFileInfo::exists(CInvitationAuthority::CaPath()));

    // The stored twin, as the Existing Networks list reads it.
    CInvitationInfo stored;
    QVERIFY2(stored.ReadInvitationFile(storedPath(result.sessionName)),
             qPrintable(stored.ErrorText()));
    QCOMPARE(stored.GetSubjectName(), result.sessionName);
    QCOMPARE(stored.GetCertificateName(), result.sessionName);
    QCOMPARE(stored.GetSessionDisplayName(), r.sessionName);
    QCOMPARE(stored.GetNickname(), r.nickname);
    QCOMPARE(stored.GetSessionInfo(), r.sessionType);
    QCOMPARE(stored.GetAppData(), appData);
    QCOMPARE(stored.GetAddress(), CInvitationAuthority::InviterAddressBytes());
    QCOMPARE(stored.GetPort(), CInvitationAuthority::InviterPortBytes());
    QVERIFY(!stored.IsExpired());
    // NotAfter is the expiry sent, to the second.
    QCOMPARE(stored.GetExpiry() / FileTime::kTicksPerSecond, r.expiry / FileTime::kTicksPerSecond);

    // The invitation file, keyed by the password, certificate under it too.
    CTVLCertParam invitation;
    QVERIFY2(invitation.LoadInvitation(r.path, r.password), qPrintable(invitation.ErrorText()));
    QCOMPARE(invitation.GetSubjectName(), result.sessionName);
    QVERIFY(invitation.Certificate().HasPrivateKey());
    QVERIFY(!invitation.GetXml().contains(QStringLiteral("SessionInfo")));
    QVERIFY(signedByCa(invitation.Certificate()));

    // A second network gets its own name under the same authority.
    const CreateResult second = m_service.createHandler(
        request(QStringLiteral("b.Tervalapro"), QStringLiteral("secret2"), 60));
    QVERIFY(second.ok);
    QVERIFY(second.sessionName != result.sessionName);
    CInvitationInfo secondStored;
    QVERIFY(secondStored.ReadInvitationFile(storedPath(second.sessionName)));
    QVERIFY(secondStored.GetAppData().isEmpty());
}

void TestStandinInvitations::joinAnswers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("errorStart");

    const QString invalid = LoadString(10003);
    auto make = [this](const QString& name, const QString& password, qint64 life) {
        const CreateResult result =
            m_service.createHandler(request(name, password, life, QByteArray("app", 3)));
        QVERIFY2(result.ok, qPrintable(result.errorText));
    };
    make(QStringLiteral("join.Tervalapro"), QStringLiteral("secret1"), 3600);
    make(QStringLiteral("expired.Tervalapro"), QStringLiteral("secret1"), -3600);
    QFile good(out(QStringLiteral("join.Tervalapro")));
    QVERIFY(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    QFile cut(out(QStringLiteral("cut.Tervalapro")));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() / 2));
    cut.close();

    QTest::addRow("right password")
        << QStringLiteral("join.Tervalapro") << QStringLiteral("secret1") << true << QString();
    QTest::addRow("wrong password")
        << QStringLiteral("join.Tervalapro") << QStringLiteral("secret2") << false << invalid;
    QTest::addRow("empty password")
        << QStringLiteral("join.Tervalapro") << QString() << false << invalid;
    QTest::addRow("damaged file") << QStringLiteral("cut.Tervalapro") << QStringLiteral("secret1")
                                  << false << invalid;
    QTest::addRow("expired network")
        << QStringLiteral("expired.Tervalapro") << QStringLiteral("secret1") << false
        << QStringLiteral("The invitation to the network Remote Desktop Access (RDP) expired on ");
    QTest::addRow("no such file") << QStringLiteral("missing.Tervalapro")
                                  << QStringLiteral("secret1") << false
                                  << LoadString(10002) + QStringLiteral(". Reason: ");
}

void TestStandinInvitations::joinAnswers()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(bool, ok);
    QFETCH(QString, errorStart);
    JoinRequest join;
    join.nickname = QStringLiteral("Bob");
    join.path = out(file);
    join.password = password;
    join.client = ClientIdentity::Self();
    const JoinResult result = m_service.joinHandler(join);
    QCOMPARE(result.ok, ok);
    if (!ok) {
        QVERIFY2(result.errorText.startsWith(errorStart), qPrintable(result.errorText));
        return;
    }
    QCOMPARE(result.sessionName, QStringLiteral("Remote Desktop Access (RDP)"));
    QCOMPARE(result.displayText, result.sessionName);
    QCOMPARE(result.inviterAddress, QStringLiteral("::1"));
    QCOMPARE(result.inviterNickname, QStringLiteral("Ann"));
    QCOMPARE(result.appData, QByteArray("app", 3));
    QVERIFY(QFileInfo::exists(storedPath(result.networkName)));
}

void TestStandinInvitations::createFailsOnUnwritablePath()
{
    const QStringList before = QDir(Paths::LocalStoreFolder()).entryList(QDir::Files);
    const CreateResult result = m_service.createHandler(
        request(QStringLiteral("no/such/folder/x.Tervalapro"), QStringLiteral("secret1"), 60));
    QVERIFY(!result.ok);
    QCOMPARE(result.errorText, LoadString(10001) + QStringLiteral(". Reason: ") +
                                   QString::fromUtf8(strerror(ENOENT)));
    // No network without its invitation: the store is unchanged.
    QCOMPARE(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files), before);
}

void TestStandinInvitations::exportedInvitationJoins()
{
    // Existing Networks re-invites under a new password; the service joins it.
    const CreateResult created = m_service.createHandler(
        request(QStringLiteral("orig.Tervalapro"), QStringLiteral("first1"), 3600));
    QVERIFY(created.ok);
    CInvitationInfo info;
    const QString exported = out(QStringLiteral("again.Tervalapro"));
    QVERIFY2(info.CreateInvitationFile(created.sessionName, exported, QStringLiteral("second2")),
             qPrintable(info.ErrorText()));
    JoinRequest join;
    join.nickname = QStringLiteral("Cy");
    join.path = exported;
    join.password = QStringLiteral("second2");
    join.client = ClientIdentity::Self();
    const JoinResult result = m_service.joinHandler(join);
    QVERIFY2(result.ok, qPrintable(result.errorText));
    QCOMPARE(result.networkName, created.sessionName);
}

void TestStandinInvitations::writeInvitationCommand_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("expired");
    QTest::addColumn<QByteArray>("appData");
    QTest::addRow("defaults") << QStringList() << false << QByteArray();
    QTest::addRow("expired, with application data")
        << QStringList{QStringLiteral("--expiry-days"), QStringLiteral("-1"),
                       QStringLiteral("--appdata-file"), out(QStringLiteral("app.bin"))}
        << true << QByteArray(30000, 'z');
}

void TestStandinInvitations::writeInvitationCommand()
{
    QFETCH(QStringList, extra);
    QFETCH(bool, expired);
    QFETCH(QByteArray, appData);
    if (!appData.isEmpty()) {
        QFile file(out(QStringLiteral("app.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(appData);
    }
    const QString path = out(QStringLiteral("cli.Tervalapro"));
    QProcess process;
    process.start(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")),
                  QStringList{QStringLiteral("write-invitation"), QStringLiteral("--path"), path,
                              QStringLiteral("--password"), QStringLiteral("cli-pass"),
                              QStringLiteral("--nickname"), QStringLiteral("Dee"),
                              QStringLiteral("--session-type"), QStringLiteral("Games")} +
                      extra);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QStringList lines =
        QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty() && lines.first().startsWith(QStringLiteral("network Games-")));
    const QString name = lines.first().mid(8);

    CInvitationInfo stored;
    QVERIFY2(stored.ReadInvitationFile(storedPath(name)), qPrintable(stored.ErrorText()));
    QCOMPARE(stored.GetNickname(), QStringLiteral("Dee"));
    QCOMPARE(stored.GetSessionDisplayName(), QStringLiteral("Games"));
    QCOMPARE(stored.IsExpired(), expired);
    QCOMPARE(stored.GetAppData(), appData);
    CTVLCertParam invitation;
    QVERIFY(invitation.LoadInvitation(path, QStringLiteral("cli-pass")));
    QCOMPARE(invitation.GetSubjectName(), name);
    QVERIFY(signedByCa(invitation.Certificate()));
}

void TestStandinInvitations::writeInvitationUsage()
{
    QProcess process;
    process.start(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")),
                  {QStringLiteral("write-invitation"), QStringLiteral("--path")});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().contains("usage: tervala-standin write-invitation"));
}

QTEST_GUILESS_MAIN(TestStandinInvitations)
#include "tst_standininvitations.moc"

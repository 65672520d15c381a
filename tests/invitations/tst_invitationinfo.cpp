#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "invitations/InvitationInfo.h"
#include "invitations/TVLCertParam.h"
#include "resources/StringTable.h"
#include "tests/invitations/TestCertificates.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

struct StoredValues
{
    QString nickname = QStringLiteral("Ann");
    QString displayName = QStringLiteral("Remote Desktop Access (RDP)");
    QString ddnsName = QStringLiteral("ann-pc.example.net");
    QByteArray address = QByteArray::fromHex("20010db8000000000000000000000042");
    QByteArray port = QByteArray::fromHex("bab8");
    QByteArray appData;
    QString sessionInfo = QStringLiteral("<session type text>");
};

// What the service writes for a network it created: the container under
// key with the document of the format's table.
bool WriteInvitation(const QString& path, const CCertificate& cert, const StoredValues& values,
                     const QString& key = CEncryptFile::FixedKey())
{
    CTVLCertParam param(cert);
    param.AddString(QStringLiteral("Nickname"), values.nickname);
    param.AddString(QStringLiteral("SessionDisplayName"), values.displayName);
    param.AddString(QStringLiteral("DDNSNAME"), values.ddnsName);
    param.AddBinary(QStringLiteral("IPV6Addr"), values.address);
    param.AddBinary(QStringLiteral("IPV6Port"), values.port);
    if (!values.appData.isEmpty())
        param.AddBinary(QStringLiteral("Appdata"), values.appData);
    if (!values.sessionInfo.isNull())
        param.AddString(QStringLiteral("SessionInfo"), values.sessionInfo);
    return param.SaveInvitation(path, key);
}

// A container whose body is text of our choosing (for damaged documents).
bool WriteContainer(const QString& path, const QString& key, const QString& body)
{
    CEncryptFile file;
    return file.Create(path, key) && file.WriteBody(body);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestInvitationInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void constructionMakesStoreFolders();
    void readsStoredInvitation();
    void exportRoundTrip_data();
    void exportRoundTrip();
    void exportedFileNeedsItsPassword();
    void validity_data();
    void validity();
    void unreadableStoredInvitation_data();
    void unreadableStoredInvitation();
    void exportFailures();
    void largeValuesReadWhole();
    void unsafeNamesTouchNothing_data();
    void unsafeNamesTouchNothing();
    void mismatchedNameDeletesOnlyItsOwnFile();
    void deleteStoredInvitation();

private:
    QString storedPath(const QString& name) const
    {
        return QDir(Paths::LocalStoreFolder()).filePath(name + QStringLiteral(".cert"));
    }
    QString outPath(const QString& name) const { return QDir(m_out.path()).filePath(name); }

    TestEnvironment m_env;
    QTemporaryDir m_out;
    CCertificate m_cert;
};

void TestInvitationInfo::initTestCase()
{
    QVERIFY(m_env.isValid());
    QVERIFY(m_out.isValid());
    m_cert = TestCertificates::MakeValid(QStringLiteral("Net-0001"));
}

void TestInvitationInfo::init()
{
    QDir(Paths::StoreFolder()).removeRecursively();
    Paths::MakePath(Paths::LocalStoreFolder());
}

void TestInvitationInfo::constructionMakesStoreFolders()
{
    QVERIFY(QDir(Paths::StoreFolder()).removeRecursively());
    QVERIFY(!QFileInfo::exists(Paths::StoreFolder()));
    {
        CInvitationInfo info;
        QCOMPARE(info.LocalFolder(), Paths::LocalStoreFolder());
        QVERIFY(QFileInfo(Paths::LocalStoreFolder()).isDir());
    }
    QVERIFY(QDir(Paths::LocalStoreFolder()).removeRecursively());
    CInvitationInfo again;
    QVERIFY(QFileInfo(Paths::LocalStoreFolder()).isDir());
}

void TestInvitationInfo::readsStoredInvitation()
{
    CInvitationInfo info;
    StoredValues values;
    values.appData = QByteArray("ticket\0data", 11);
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, values));

    QVERIFY2(info.ReadInvitationFile(storedPath(QStringLiteral("Net-0001"))),
             qPrintable(info.ErrorText()));
    QCOMPARE(info.GetNickname(), values.nickname);
    QCOMPARE(info.GetSessionDisplayName(), values.displayName);
    QCOMPARE(info.GetDdnsName(), values.ddnsName);
    QCOMPARE(info.GetAddress(), values.address);
    QCOMPARE(info.GetPort(), values.port);
    QCOMPARE(info.GetAppData(), values.appData);
    QCOMPARE(info.GetSessionInfo(), values.sessionInfo);
    QCOMPARE(info.GetSubjectName(), QStringLiteral("Net-0001"));
    QCOMPARE(info.GetExpiry(), m_cert.NotAfter());
    QVERIFY(!info.IsExpired());
    QCOMPARE(info.GetExpiryText(), FormatExpiryText(m_cert.NotAfter()));

    // A second read of a file without Appdata drops the old data.
    StoredValues bare;
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, bare));
    QVERIFY(info.ReadInvitationFile(storedPath(QStringLiteral("Net-0001"))));
    QVERIFY(info.GetAppData().isEmpty());
}

void TestInvitationInfo::exportRoundTrip_data()
{
    QTest::addColumn<QByteArray>("appData");
    QTest::addRow("with application data") << QByteArray(3000, 'R');
    QTest::addRow("without application data") << QByteArray();
}

void TestInvitationInfo::exportRoundTrip()
{
    QFETCH(QByteArray, appData);
    StoredValues values;
    values.appData = appData;
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, values));

    const QString path = outPath(QStringLiteral("export.Tervalapro"));
    const QString password = QStringLiteral("fresh-password");
    {
        CInvitationInfo info;
        QVERIFY2(info.CreateInvitationFile(QStringLiteral("Net-0001"), path, password),
                 qPrintable(info.ErrorText()));
    }
    // The stored invitation stays in place.
    QVERIFY(QFileInfo::exists(storedPath(QStringLiteral("Net-0001"))));

    CTVLCertParam exported;
    QVERIFY2(exported.LoadInvitation(path, password), qPrintable(exported.ErrorText()));
    QCOMPARE(exported.GetString(QStringLiteral("Nickname")), values.nickname);
    QCOMPARE(exported.GetString(QStringLiteral("SessionDisplayName")), values.displayName);
    QCOMPARE(exported.GetString(QStringLiteral("DDNSNAME")), values.ddnsName);
    QByteArray bytes;
    QVERIFY(exported.GetBinary(QStringLiteral("IPV6Addr"), bytes));
    QCOMPARE(bytes, values.address);
    QVERIFY(exported.GetBinary(QStringLiteral("IPV6Port"), bytes));
    QCOMPARE(bytes, values.port);
    QByteArray exportedAppData;
    QCOMPARE(exported.GetBinary(QStringLiteral("Appdata"), exportedAppData), !appData.isEmpty());
    QCOMPARE(exportedAppData, appData);
    QCOMPARE(exported.GetSubjectName(), QStringLiteral("Net-0001"));
    QVERIFY(exported.Certificate().HasPrivateKey());
    const QString xml = exported.GetXml();
    QVERIFY(!xml.contains(QStringLiteral("SessionInfo")));
    QCOMPARE(xml.contains(QStringLiteral("<Appdata")), !appData.isEmpty());
}

void TestInvitationInfo::exportedFileNeedsItsPassword()
{
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, StoredValues()));
    const QString path = outPath(QStringLiteral("keyed.Tervalapro"));
    CInvitationInfo info;
    QVERIFY(info.CreateInvitationFile(QStringLiteral("Net-0001"), path, QStringLiteral("first1")));

    CTVLCertParam wrong;
    QVERIFY(!wrong.LoadInvitation(path, QStringLiteral("second2")));
    QCOMPARE(wrong.ErrorText(), LoadString(10003));
    // An invitation file is not a stored invitation: the fixed key fails too.
    CInvitationInfo asStored;
    QVERIFY(!asStored.ReadInvitationFile(path));
    QCOMPARE(asStored.ErrorText(), LoadString(10003));

    // The container and the certificate inside share the password: take the
    // certificate out and offer it another password.
    CTVLCertParam right;
    QVERIFY(right.LoadInvitation(path, QStringLiteral("first1")));
    QByteArray pfx;
    QVERIFY(right.GetBinary(QStringLiteral("CertData"), pfx));
    CTVLCertParam importer;
    QVERIFY(importer.ImportCertificate(pfx, QStringLiteral("second2")).IsNull());
    QVERIFY(importer.ErrorText().startsWith(LoadString(10013) + QStringLiteral(". Reason: ")));
    QVERIFY(!importer.ImportCertificate(pfx, QStringLiteral("first1")).IsNull());
}

void TestInvitationInfo::validity_data()
{
    QTest::addColumn<qint64>("notBefore");
    QTest::addColumn<qint64>("notAfter");
    QTest::addColumn<bool>("expired");
    const qint64 now = TestCertificates::NowUnix();
    QTest::addRow("expired yesterday") << now - 10 * 86400 << now - 86400 << true;
    QTest::addRow("expired a second ago") << now - 86400 << now - 1 << true;
    QTest::addRow("valid for a minute") << now - 86400 << now + 60 << false;
    QTest::addRow("not yet valid is not expired") << now + 86400 << now + 2 * 86400 << false;
}

void TestInvitationInfo::validity()
{
    QFETCH(qint64, notBefore);
    QFETCH(qint64, notAfter);
    QFETCH(bool, expired);
    const CCertificate cert = TestCertificates::Make(QStringLiteral("Net-T"), notBefore, notAfter);
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-T")), cert, StoredValues()));
    CInvitationInfo info;
    QVERIFY(info.ReadInvitationFile(storedPath(QStringLiteral("Net-T"))));
    QCOMPARE(info.IsExpired(), expired);
    QCOMPARE(info.GetExpiry(), FileTime::FromUnixSeconds(notAfter));
}

void TestInvitationInfo::unreadableStoredInvitation_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("errorText");

    const QString name = QStringLiteral("sample.cert");
    const QString sample = QDir(m_out.path()).filePath(name);
    QVERIFY(WriteInvitation(sample, m_cert, StoredValues()));
    const QByteArray good = ReadAll(sample);
    const QString invalid = LoadString(10003);
    const QString importFailed = LoadString(10013) + QStringLiteral(". Reason: ");

    QTest::addRow("empty file") << QByteArray() << QString();
    QTest::addRow("cut inside the header") << good.left(20) << invalid;
    QTest::addRow("foreign file") << QByteArray("PK\x03\x04 a zip archive, not an invitation")
                                  << invalid;
    QVERIFY(WriteInvitation(sample, m_cert, StoredValues(), QStringLiteral("other-key")));
    QTest::addRow("keyed by a password") << ReadAll(sample) << invalid;
    // A body cut short loses its CertData (or its end): no certificate.
    QTest::addRow("cut inside the body") << good.left(good.size() * 2 / 3) << QString();

    QVERIFY(WriteContainer(sample, CEncryptFile::FixedKey(), QStringLiteral("<<not xml")));
    QTest::addRow("body is not XML") << ReadAll(sample) << QString();
    QVERIFY(WriteContainer(sample, CEncryptFile::FixedKey(),
                           QStringLiteral("<?xml version=\"1.0\"?><Other><CertData "
                                          "CertData=\"AAAA\"/></Other>")));
    QTest::addRow("another root") << ReadAll(sample) << QString();
    QVERIFY(WriteContainer(sample, CEncryptFile::FixedKey(),
                           QStringLiteral("<?xml version=\"1.0\"?><TVLCertParam><Nickname "
                                          "Nickname=\"x\"/></TVLCertParam>")));
    QTest::addRow("no CertData") << ReadAll(sample) << importFailed;
    QVERIFY(WriteContainer(sample, CEncryptFile::FixedKey(),
                           QStringLiteral("<?xml version=\"1.0\"?><TVLCertParam><CertData "
                                          "CertData=\"bm90IGEgY2VydA==\"/></TVLCertParam>")));
    QTest::addRow("CertData not a certificate") << ReadAll(sample) << importFailed;
}

void TestInvitationInfo::unreadableStoredInvitation()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, errorText);
    CInvitationInfo info;
    const QString path = storedPath(QStringLiteral("Broken"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    QVERIFY(!info.ReadInvitationFile(path));
    if (errorText.endsWith(QStringLiteral("Reason: ")))
        QVERIFY2(info.ErrorText().startsWith(errorText), qPrintable(info.ErrorText()));
    else if (errorText.isEmpty())
        QVERIFY2(info.ErrorText().isEmpty() || info.ErrorText().startsWith(LoadString(10013)),
                 qPrintable(info.ErrorText()));
    else
        QCOMPARE(info.ErrorText(), errorText);
    QVERIFY(!info.IsExpired());
    QVERIFY(info.LoadStoredCertificate(QStringLiteral("Broken")).IsNull());
    QVERIFY(!info.CreateInvitationFile(QStringLiteral("Broken"), outPath(QStringLiteral("x")),
                                       QStringLiteral("secret1")));
    QVERIFY(!QFileInfo::exists(outPath(QStringLiteral("x"))));
}

void TestInvitationInfo::exportFailures()
{
    CInvitationInfo info;
    // No such stored invitation.
    QVERIFY(!info.CreateInvitationFile(QStringLiteral("Missing"), outPath(QStringLiteral("m")),
                                       QStringLiteral("secret1")));
    QVERIFY2(info.ErrorText().startsWith(LoadString(10002) + QStringLiteral(". Reason: ")),
             qPrintable(info.ErrorText()));

    // A target folder that does not exist: the container's own text.
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, StoredValues()));
    const QString unreachable = outPath(QStringLiteral("no/such/folder/file.Tervalapro"));
    QVERIFY(!info.CreateInvitationFile(QStringLiteral("Net-0001"), unreachable,
                                       QStringLiteral("secret1")));
    QCOMPARE(info.ErrorText(), LoadString(10001) + QStringLiteral(". Reason: ") +
                                   QString::fromUtf8(strerror(ENOENT)));
}

void TestInvitationInfo::largeValuesReadWhole()
{
    // Above the format's read limits: read whole, never cut or overrun, and
    // exported whole again.
    StoredValues values;
    values.appData = QByteArray(CInvitationInfo::kAppDataLimit + 5000, 'A');
    values.address = QByteArray(40, 'x');
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, values));
    CInvitationInfo info;
    QVERIFY(info.ReadInvitationFile(storedPath(QStringLiteral("Net-0001"))));
    QCOMPARE(info.GetAppData(), values.appData);
    QCOMPARE(info.GetAddress(), QByteArray(16, 'x'));

    const QString path = outPath(QStringLiteral("large.Tervalapro"));
    QVERIFY(info.CreateInvitationFile(QStringLiteral("Net-0001"), path, QStringLiteral("pw1234")));
    CTVLCertParam exported;
    QVERIFY(exported.LoadInvitation(path, QStringLiteral("pw1234")));
    QByteArray appData;
    QVERIFY(exported.GetBinary(QStringLiteral("Appdata"), appData));
    QCOMPARE(appData, values.appData);
}

void TestInvitationInfo::unsafeNamesTouchNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addRow("parent reference") << QStringLiteral("../victim");
    QTest::addRow("two levels up") << QStringLiteral("../../victim");
    QTest::addRow("only dots") << QStringLiteral("..");
    QTest::addRow("absolute path") << QDir(m_out.path()).filePath(QStringLiteral("victim"));
    QTest::addRow("sub folder") << QStringLiteral("sub/victim");
    QTest::addRow("backslash") << QStringLiteral("..\\victim");
    QTest::addRow("control character") << QStringLiteral("vic\ntim");
    QTest::addRow("escape character") << QStringLiteral("vic\x1btim");
}

void TestInvitationInfo::unsafeNamesTouchNothing()
{
    QFETCH(QString, name);
    CInvitationInfo info;
    // Valid stored invitations wherever a careless join of folder and name
    // would land.
    QDir().mkpath(QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("sub")));
    const QStringList victims = {
        QDir(Paths::StoreFolder()).filePath(QStringLiteral("victim.cert")),
        QDir(Paths::ProductFolder()).filePath(QStringLiteral("victim.cert")),
        QDir(m_out.path()).filePath(QStringLiteral("victim.cert")),
        QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("sub/victim.cert")),
        QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral(".cert")),
        QDir(Paths::StoreFolder()).filePath(QStringLiteral(".cert"))};
    for (const QString& victim : victims)
        QVERIFY(WriteInvitation(victim, m_cert, StoredValues()));

    QVERIFY(!CInvitationInfo::IsSafeStoredName(name));
    QVERIFY(info.StoredInvitationPath(name).isEmpty());
    QVERIFY(!info.DeleteStoredInvitation(name));
    QVERIFY(info.LoadStoredCertificate(name).IsNull());
    QVERIFY(!info.ErrorText().isEmpty());
    const QString out = outPath(QStringLiteral("unsafe.Tervalapro"));
    QVERIFY(!info.CreateInvitationFile(name, out, QStringLiteral("secret1")));
    QVERIFY(!QFileInfo::exists(out));
    for (const QString& victim : victims)
        QVERIFY2(QFileInfo::exists(victim), qPrintable(victim));
    QVERIFY(QFileInfo(Paths::LocalStoreFolder()).isDir());
}

void TestInvitationInfo::mismatchedNameDeletesOnlyItsOwnFile()
{
    // A.cert holds an expired certificate that names B; B.cert is a live
    // network of its own. Listing deletes the expired one by the name it
    // reports, which must be A.
    const qint64 now = TestCertificates::NowUnix();
    const CCertificate expiredB =
        TestCertificates::Make(QStringLiteral("B"), now - 20 * 86400, now - 86400);
    const CCertificate liveB = TestCertificates::MakeValid(QStringLiteral("B"));
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("A")), expiredB, StoredValues()));
    StoredValues bValues;
    bValues.nickname = QStringLiteral("Bea");
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("B")), liveB, bValues));

    CInvitationInfo info;
    QVERIFY(info.ReadInvitationFile(storedPath(QStringLiteral("A"))));
    QVERIFY(info.IsExpired());
    QCOMPARE(info.GetSubjectName(), QStringLiteral("A"));
    QCOMPARE(info.GetCertificateName(), QStringLiteral("B"));
    QVERIFY(info.DeleteStoredInvitation(info.GetSubjectName()));
    QVERIFY(!QFileInfo::exists(storedPath(QStringLiteral("A"))));
    QVERIFY(QFileInfo::exists(storedPath(QStringLiteral("B"))));

    // The same holds for a certificate name that would be a path.
    const CCertificate pathName = TestCertificates::MakeValid(QStringLiteral("../../victim"));
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("C")), pathName, StoredValues()));
    CInvitationInfo other;
    QVERIFY(other.ReadInvitationFile(storedPath(QStringLiteral("C"))));
    QCOMPARE(other.GetSubjectName(), QStringLiteral("C"));
    QCOMPARE(other.GetCertificateName(), QStringLiteral("../../victim"));
    const QString out = outPath(QStringLiteral("c.Tervalapro"));
    QVERIFY(other.CreateInvitationFile(other.GetSubjectName(), out, QStringLiteral("secret1")));
    CTVLCertParam exported;
    QVERIFY(exported.LoadInvitation(out, QStringLiteral("secret1")));
    QCOMPARE(exported.GetSubjectName(), QStringLiteral("../../victim"));

    // Read from outside the local folder, the certificate's own name stands.
    CInvitationInfo outside;
    const QString elsewhere = outPath(QStringLiteral("A.cert"));
    QVERIFY(WriteInvitation(elsewhere, expiredB, StoredValues()));
    QVERIFY(outside.ReadInvitationFile(elsewhere));
    QCOMPARE(outside.GetSubjectName(), QStringLiteral("B"));
}

void TestInvitationInfo::deleteStoredInvitation()
{
    QVERIFY(WriteInvitation(storedPath(QStringLiteral("Net-0001")), m_cert, StoredValues()));
    CInvitationInfo info;
    QVERIFY(!info.DeleteStoredInvitation(QString()));
    QCOMPARE(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files).size(), 1);
    // A folder of that name is not a stored invitation.
    QVERIFY(QDir().mkpath(storedPath(QStringLiteral("Folder"))));
    QVERIFY(!info.DeleteStoredInvitation(QStringLiteral("Folder")));
    QVERIFY(QFileInfo(storedPath(QStringLiteral("Folder"))).isDir());
    QVERIFY(!info.DeleteStoredInvitation(QStringLiteral("Missing")));
    QVERIFY(info.DeleteStoredInvitation(QStringLiteral("Net-0001")));
    QVERIFY(!QFileInfo::exists(storedPath(QStringLiteral("Net-0001"))));
}

QTEST_GUILESS_MAIN(TestInvitationInfo)
#include "tst_invitationinfo.moc"

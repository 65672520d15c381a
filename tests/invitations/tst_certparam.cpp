#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "invitations/TVLCertParam.h"
#include "resources/StringTable.h"
#include "tests/invitations/TestCertificates.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

#include <openssl/pkcs12.h>

#include <memory>

class TestCertParam : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exportImport_data();
    void exportImport();
    void wrongPasswordFails();
    void unreadableImageFails_data();
    void unreadableImageFails();
    void legacyFormsImport_data();
    void legacyFormsImport();
    void iterationCountsAreLimited_data();
    void iterationCountsAreLimited();
    void noPrivateKeyCannotExport();
    void subjectNameWithoutCertificate();
    void namedValues();
    void getBinaryReportsFullLength();
    void failuresAreTraced();

private:
    static QString prefix(quint32 id) { return LoadString(id) + QStringLiteral(". Reason: "); }

    TestEnvironment m_env;
    CCertificate m_cert;
};

void TestCertParam::initTestCase()
{
    QVERIFY(m_env.isValid());
    m_cert = TestCertificates::MakeValid(QStringLiteral("alpha-net"));
    QVERIFY(m_cert.HasPrivateKey());
}

void TestCertParam::exportImport_data()
{
    QTest::addColumn<QString>("password");
    QTest::addRow("ascii") << QStringLiteral("secret1");
    QTest::addRow("fixed key") << QStringLiteral("qz");
    QTest::addRow("non-ascii") << QString::fromUtf8("pässwörd€ 密码");
}

void TestCertParam::exportImport()
{
    QFETCH(QString, password);
    CTVLCertParam writer;
    const QByteArray pfx = writer.ExportCertificate(m_cert, password);
    QVERIFY2(!pfx.isEmpty(), qPrintable(writer.ErrorText()));
    QVERIFY(writer.ErrorText().isEmpty());

    CTVLCertParam reader;
    const CCertificate imported = reader.ImportCertificate(pfx, password);
    QVERIFY2(!imported.IsNull(), qPrintable(reader.ErrorText()));
    QVERIFY(imported.HasPrivateKey());
    QCOMPARE(reader.GetSubjectName(), QStringLiteral("alpha-net"));
    QCOMPARE(imported.NotAfter(), m_cert.NotAfter());
    QCOMPARE(X509_cmp(imported.Cert(), m_cert.Cert()), 0);

    // The imported key may be exported again (an existing network re-invited).
    QVERIFY(!reader.ExportCertificate(imported, QStringLiteral("another1")).isEmpty());

    // The password reaches PKCS #12 as UTF-8, so OpenSSL itself reads it.
    const QByteArray utf8 = password.toUtf8();
    const auto* cursor = reinterpret_cast<const unsigned char*>(pfx.constData());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, pfx.size());
    QVERIFY(p12);
    QCOMPARE(PKCS12_verify_mac(p12, utf8.constData(), static_cast<int>(utf8.size())), 1);
    PKCS12_free(p12);
}

void TestCertParam::wrongPasswordFails()
{
    CTVLCertParam param;
    const QByteArray pfx = param.ExportCertificate(m_cert, QStringLiteral("right-one"));
    const CCertificate imported = param.ImportCertificate(pfx, QStringLiteral("wrong-one"));
    QVERIFY(imported.IsNull());
    QVERIFY(param.Certificate().IsNull());
    QVERIFY2(param.ErrorText().startsWith(prefix(10013)), qPrintable(param.ErrorText()));
    // OpenSSL's reason, not the bare hexadecimal form.
    QVERIFY2(param.ErrorText().contains(QStringLiteral("mac verify")),
             qPrintable(param.ErrorText()));
}

void TestCertParam::unreadableImageFails_data()
{
    QTest::addColumn<QByteArray>("image");
    CTVLCertParam param;
    const QByteArray pfx = param.ExportCertificate(m_cert, QStringLiteral("secret1"));
    QTest::addRow("empty") << QByteArray();
    QTest::addRow("garbage") << QByteArray("this is not a PKCS #12 image at all");
    QTest::addRow("truncated") << pfx.left(pfx.size() / 2);
}

void TestCertParam::unreadableImageFails()
{
    QFETCH(QByteArray, image);
    CTVLCertParam param;
    QVERIFY(param.ImportCertificate(image, QStringLiteral("secret1")).IsNull());
    QVERIFY2(param.ErrorText().startsWith(prefix(10013)), qPrintable(param.ErrorText()));
    QVERIFY(!param.ErrorText().endsWith(prefix(10013)));
}

void TestCertParam::legacyFormsImport_data()
{
    QTest::addColumn<int>("keyNid");
    QTest::addColumn<int>("certNid");
    QTest::addRow("3DES key, RC2-40 certificates")
        << int(NID_pbe_WithSHA1And3_Key_TripleDES_CBC) << int(NID_pbe_WithSHA1And40BitRC2_CBC);
    QTest::addRow("3DES throughout") << int(NID_pbe_WithSHA1And3_Key_TripleDES_CBC)
                                     << int(NID_pbe_WithSHA1And3_Key_TripleDES_CBC);
}

void TestCertParam::legacyFormsImport()
{
    QFETCH(int, keyNid);
    QFETCH(int, certNid);
    EnsurePkcs12Providers();
    // What older tools (and "openssl pkcs12 -legacy") write: PKCS #12 PBEs
    // and a SHA-1 MAC.
    PKCS12* p12 = PKCS12_create("legacy1", "old", m_cert.PrivateKey(), m_cert.Cert(), nullptr,
                                keyNid, certNid, 2048, -1, 0);
    QVERIFY(p12);
    QCOMPARE(PKCS12_set_mac(p12, "legacy1", -1, nullptr, 0, 2048, EVP_sha1()), 1);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    QVERIFY(length > 0);
    const QByteArray pfx(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);

    CTVLCertParam param;
    const CCertificate imported = param.ImportCertificate(pfx, QStringLiteral("legacy1"));
    QVERIFY2(!imported.IsNull(), qPrintable(param.ErrorText()));
    QVERIFY(imported.HasPrivateKey());
    QCOMPARE(param.GetSubjectName(), QStringLiteral("alpha-net"));
}

namespace {
// Iteration counts of a crafted image. The counts are written into the
// algorithm parameters after the image is built with small ones, so making
// it derives nothing: a count that the reader actually ran would take minutes.
struct Counts
{
    qint64 mac = 1000;
    qint64 certificateSafe = 1000;
    qint64 key = 1000;
    bool keyInEncryptedSafe = false;
    bool olderKeyForm = false; // PBES1 (3DES) instead of PBES2
};

// Puts `iterations` into a password-based encryption algorithm in place.
void SetIterations(X509_ALGOR* algorithm, qint64 iterations, bool olderForm)
{
    X509_ALGOR* replacement =
        olderForm
            ? PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, int(iterations), nullptr, 0)
            : PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), int(iterations), nullptr, 0, nullptr,
                                NID_hmacWithSHA256);
    std::swap(algorithm->algorithm, replacement->algorithm);
    std::swap(algorithm->parameter, replacement->parameter);
    X509_ALGOR_free(replacement);
}

QByteArray Craft(const CCertificate& certificate, const char* password, const Counts& counts)
{
    // Counts up to this are written honestly; larger ones are patched in.
    constexpr qint64 kHonest = 1 << 20;
    constexpr int kSmall = 1000;
    auto honest = [](qint64 count) { return count <= kHonest ? int(count) : kSmall; };
    STACK_OF(PKCS12_SAFEBAG)* keyBags = nullptr;
    PKCS12_SAFEBAG* keyBag = PKCS12_add_key(
        &keyBags, certificate.PrivateKey(), 0, honest(counts.key),
        counts.olderKeyForm ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : NID_aes_256_cbc, password);
    if (counts.key > kHonest) {
        X509_ALGOR* algorithm = nullptr;
        X509_SIG_getm(const_cast<X509_SIG*>(PKCS12_SAFEBAG_get0_pkcs8(keyBag)), &algorithm,
                      nullptr);
        SetIterations(algorithm, counts.key, counts.olderKeyForm);
    }
    STACK_OF(PKCS12_SAFEBAG)* certificateBags = nullptr;
    PKCS12_add_cert(&certificateBags, certificate.Cert());

    STACK_OF(PKCS7)* safes = nullptr;
    PKCS12_add_safe(&safes, certificateBags, NID_aes_256_cbc, honest(counts.certificateSafe),
                    password);
    PKCS7* certificateSafe = sk_PKCS7_value(safes, 0);
    if (counts.certificateSafe > kHonest)
        SetIterations(certificateSafe->d.encrypted->enc_data->algorithm, counts.certificateSafe,
                      false);
    if (counts.keyInEncryptedSafe)
        PKCS12_add_safe(&safes, keyBags, NID_aes_256_cbc, kSmall, password);
    else
        PKCS12_add_safe(&safes, keyBags, -1, 0, nullptr);
    PKCS12* p12 = PKCS12_add_safes(safes, 0);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    sk_PKCS12_SAFEBAG_pop_free(keyBags, PKCS12_SAFEBAG_free);
    sk_PKCS12_SAFEBAG_pop_free(certificateBags, PKCS12_SAFEBAG_free);
    // An honest MAC where the count is small; a count that is not is only
    // recorded, with an empty MAC the reader never gets to compute.
    if (counts.mac <= kHonest)
        PKCS12_set_mac(p12, password, -1, nullptr, 0, int(counts.mac), EVP_sha256());
    else
        PKCS12_setup_mac(p12, int(counts.mac), nullptr, 0, EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    QByteArray image(reinterpret_cast<const char*>(der), qMax(length, 0));
    OPENSSL_free(der);
    return image;
}
} // namespace

Q_DECLARE_METATYPE(Counts)

void TestCertParam::iterationCountsAreLimited_data()
{
    QTest::addColumn<Counts>("counts");
    QTest::addColumn<bool>("accepted");
    constexpr qint64 kHuge = 0x7FFFFFFF;
    Counts c;
    QTest::addRow("small counts") << c << true;
    c.mac = c.certificateSafe = c.key = 100000;
    c.keyInEncryptedSafe = true;
    QTest::addRow("100,000 everywhere") << c << true;

    c = Counts();
    c.mac = kHuge;
    QTest::addRow("MAC 2^31-1") << c << false;
    c.mac = (1 << 20) + 1;
    QTest::addRow("MAC just past the limit") << c << false;
    c = Counts();
    c.certificateSafe = kHuge;
    QTest::addRow("encrypted safe 2^31-1") << c << false;
    c = Counts();
    c.key = kHuge;
    QTest::addRow("key 2^31-1") << c << false;
    c.olderKeyForm = true;
    QTest::addRow("key in the older form 2^31-1") << c << false;
    c = Counts();
    c.key = kHuge;
    c.keyInEncryptedSafe = true;
    QTest::addRow("key 2^31-1 inside a safe of 1,000") << c << false;
}

void TestCertParam::iterationCountsAreLimited()
{
    QFETCH(Counts, counts);
    QFETCH(bool, accepted);
    EnsurePkcs12Providers();
    const QByteArray image = Craft(m_cert, "crafted1", counts);
    QVERIFY(!image.isEmpty());
    // A refused image returns at once; one whose counts were run would hold
    // this test far past its time limit.
    CTVLCertParam param;
    const CCertificate imported = param.ImportCertificate(image, QStringLiteral("crafted1"));
    if (accepted) {
        QVERIFY2(!imported.IsNull(), qPrintable(param.ErrorText()));
        QVERIFY(imported.HasPrivateKey());
        return;
    }
    QVERIFY(imported.IsNull());
    QVERIFY2(param.ErrorText().startsWith(prefix(10013)) &&
                 param.ErrorText().contains(QStringLiteral("iteration")),
             qPrintable(param.ErrorText()));
}

void TestCertParam::noPrivateKeyCannotExport()
{
    const std::int64_t now = TestCertificates::NowUnix();
    const CCertificate keyless =
        TestCertificates::Make(QStringLiteral("keyless"), now, now + 86400, false);
    // A key that belongs to another certificate is no key for this one.
    const CCertificate mismatched =
        CCertificate::Adopt(X509_dup(keyless.Cert()), EVP_PKEY_dup(m_cert.PrivateKey()));
    for (const CCertificate& cert : {keyless, mismatched, CCertificate()}) {
        CTVLCertParam param;
        QVERIFY(param.ExportCertificate(cert, QStringLiteral("secret1")).isEmpty());
        QVERIFY2(param.ErrorText().startsWith(QStringLiteral("Failed to export certificate . "
                                                             "Reason: ")),
                 qPrintable(param.ErrorText()));
    }
    // Saving needs the export, so nothing is written either.
    const QString path = QDir(m_env.root()).filePath(QStringLiteral("keyless.Tervalapro"));
    CTVLCertParam param(keyless);
    QVERIFY(!param.SaveInvitation(path, QStringLiteral("secret1")));
    QVERIFY(!QFile::exists(path));
}

void TestCertParam::subjectNameWithoutCertificate()
{
    CTVLCertParam param;
    QCOMPARE(param.GetSubjectName(), QString());
    QVERIFY2(param.ErrorText().startsWith(prefix(10015)), qPrintable(param.ErrorText()));
}

void TestCertParam::namedValues()
{
    CTVLCertParam param;
    param.AddString(QStringLiteral("Nickname"), QStringLiteral("Ann & \"Bob\" <x>"));
    param.AddBinary(QStringLiteral("IPV6Port"), QByteArray("\x1f\x90", 2));
    // The convention: element X holding attribute X, data in attributes only.
    QVERIFY(param.GetXml().contains(QStringLiteral("<Nickname Nickname=")));
    QVERIFY(param.GetXml().contains(QStringLiteral("<TVLCertParam")));

    QCOMPARE(param.GetString(QStringLiteral("Nickname")), QStringLiteral("Ann & \"Bob\" <x>"));
    QCOMPARE(param.GetString(QStringLiteral("Missing")), QString());
    QByteArray port;
    QVERIFY(param.GetBinary(QStringLiteral("IPV6Port"), port));
    QCOMPARE(port, QByteArray("\x1f\x90", 2));
    // Named values read in any order, and again.
    QCOMPARE(param.GetString(QStringLiteral("Nickname")), QStringLiteral("Ann & \"Bob\" <x>"));
    QVERIFY(param.GetBinary(QStringLiteral("IPV6Port"), port));
    QByteArray untouched("keep");
    QVERIFY(!param.GetBinary(QStringLiteral("Missing"), untouched));
    QCOMPARE(untouched, QByteArray("keep"));
}

void TestCertParam::getBinaryReportsFullLength()
{
    CTVLCertParam param;
    const QByteArray value(100, 'v');
    param.AddBinary(QStringLiteral("Appdata"), value);
    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    std::uint32_t size = 10;
    QVERIFY(param.GetBinary(QStringLiteral("Appdata"), buffer, size));
    QCOMPARE(size, 100u);
    QCOMPARE(QByteArray(buffer, 16), QByteArray(10, 'v') + QByteArray(6, 'x'));

    std::uint32_t missingSize = 7;
    QVERIFY(!param.GetBinary(QStringLiteral("Nothing"), buffer, missingSize));
    QCOMPARE(missingSize, 7u);
}

void TestCertParam::failuresAreTraced()
{
    {
        std::unique_ptr<QSettings> machine(Settings::NewMachineStore());
        machine->setValue(QStringLiteral("LogTraceLevel"), 1);
    }
    OpenTraceLog();
    QVERIFY(TraceLevel() & TRACE_ERROR);
    CTVLCertParam param;
    QVERIFY(param.ImportCertificate(QByteArray("junk"), QStringLiteral("pw")).IsNull());
    CloseTraceLog();

    QFile log(QDir(GetLogFolder()).filePath(QStringLiteral("uilog.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    QVERIFY2(text.contains(param.ErrorText()), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestCertParam)
#include "tst_certparam.moc"

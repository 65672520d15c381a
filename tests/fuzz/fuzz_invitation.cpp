// Invitation files and stored invitations: the enciphered container, the
// certificate-parameter document inside it and the PKCS #12 image it
// carries.
//
// Input: one control byte, then the payload.
// - bit 2 clear: the payload is a container. Bit 1 set: it is the document
//   as UTF-8 text, which the harness puts behind the header in the file's
//   UTF-16LE form; clear: it is the whole file as the cipher sees it (the
//   38 header bytes, then the body). The harness enciphers it and writes it
//   to disk. Bit 0 set: a stored invitation of the local folder, read with
//   the fixed key by CInvitationInfo; clear: an invitation file read with
//   its password by CTVLCertParam.
// - bit 2 set: the payload is a PKCS #12 image for ImportCertificate; bit 3
//   set: its MAC is made again first (one iteration, fixed salt), so that
//   changes reach the parts behind the MAC.
//
// Properties:
// - no crash, leak or undefined behaviour on any file, and no file costs
//   more than a moment (an image asking for millions of key-derivation
//   iterations is refused before any runs);
// - a binary value is never copied beyond the buffer offered, and the size
//   reported is the whole value;
// - a stored invitation whose certificate has its private key exports to an
//   invitation file that reads back with the same values; an imported
//   certificate with its key exports and imports again as the same one.
#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "invitations/InvitationInfo.h"
#include "invitations/TVLCertParam.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstring>

namespace {

const QString kPassword = QStringLiteral("s3cret");
const QString kStoredName = QStringLiteral("Fuzzed Network");

TestEnvironment* g_environment = nullptr;

// The container as written to disk: header and body each enciphered with a
// fresh keystream of the key's UTF-16LE bytes.
QByteArray Encipher(QByteArray plain, const QString& key)
{
    QByteArray keyBytes;
    for (QChar c : key) {
        keyBytes.append(static_cast<char>(c.unicode() & 0xFF));
        keyBytes.append(static_cast<char>(c.unicode() >> 8));
    }
    const auto* k = reinterpret_cast<const std::uint8_t*>(keyBytes.constData());
    auto* p = reinterpret_cast<std::uint8_t*>(plain.data());
    const std::size_t header =
        std::min<std::size_t>(std::size_t(plain.size()), std::size_t(CEncryptFile::kHeaderBytes));
    CRc4(k, std::size_t(keyBytes.size())).Apply(p, header);
    CRc4(k, std::size_t(keyBytes.size())).Apply(p + header, std::size_t(plain.size()) - header);
    return plain;
}

QByteArray Utf16(const QString& text)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Asks for a binary value with a buffer of `offered` bytes and checks that
// nothing beyond it was touched.
void CheckBinary(CTVLCertParam& param, const QString& name, std::uint32_t offered)
{
    constexpr std::uint8_t kGuard = 0xA5;
    QByteArray buffer(qsizetype(offered) + 16, char(kGuard));
    std::uint32_t size = offered;
    QByteArray whole;
    const bool found = param.GetBinary(name, whole);
    const bool copied = param.GetBinary(name, buffer.data(), size);
    FUZZ_CHECK(found == copied, name);
    if (!copied) {
        FUZZ_CHECK(size == offered, name);
        return;
    }
    FUZZ_CHECK(size == std::uint32_t(whole.size()), name);
    const std::uint32_t used = std::min(size, offered);
    FUZZ_CHECK(buffer.left(used) == whole.left(used), name);
    for (qsizetype i = offered; i < buffer.size(); ++i)
        FUZZ_CHECK(static_cast<std::uint8_t>(buffer.at(i)) == kGuard,
                   QStringLiteral("%1: byte %2 written past %3").arg(name).arg(i).arg(offered));
}

void ReadInvitationFile(const QString& path)
{
    CTVLCertParam param;
    if (!param.LoadInvitation(path, kPassword)) {
        param.GetSubjectName();
        return;
    }
    for (const char* name : {"Nickname", "SessionDisplayName", "DDNSNAME", "SessionInfo"})
        param.GetString(QString::fromLatin1(name));
    CheckBinary(param, QStringLiteral("IPV6Addr"), CInvitationInfo::kAddressBytes);
    CheckBinary(param, QStringLiteral("IPV6Port"), CInvitationInfo::kPortBytes);
    CheckBinary(param, QStringLiteral("Appdata"), 0);
    CheckBinary(param, QStringLiteral("CertData"), 3);
    const CCertificate cert = param.Certificate();
    FUZZ_CHECK(!cert.IsNull(), path);
    param.GetSubjectName();
    FormatExpiryText(cert.NotAfter());
}

void ReadStoredInvitation(const QString& path)
{
    CInvitationInfo info;
    if (!info.ReadInvitationFile(path))
        return;
    FUZZ_CHECK(info.GetSubjectName() == kStoredName, info.GetSubjectName());
    FUZZ_CHECK(info.GetAddress().size() == CInvitationInfo::kAddressBytes, QString());
    FUZZ_CHECK(info.GetPort().size() == CInvitationInfo::kPortBytes, QString());
    info.GetExpiryText();

    CTVLCertParam stored;
    const bool loaded = stored.LoadInvitation(path);
    FUZZ_CHECK(loaded, stored.ErrorText());
    if (!stored.Certificate().HasPrivateKey())
        return;

    // What the user hands out must say what the stored invitation says.
    const QString exported = QDir(g_environment->root()).filePath(QStringLiteral("out.Tervalapro"));
    FUZZ_CHECK(info.CreateInvitationFile(kStoredName, exported, QStringLiteral("pw")),
               info.ErrorText());
    CTVLCertParam back;
    FUZZ_CHECK(back.LoadInvitation(exported, QStringLiteral("pw")), back.ErrorText());
    FUZZ_CHECK(back.GetString(QStringLiteral("Nickname")) == info.GetNickname(),
               info.GetNickname());
    FUZZ_CHECK(back.GetString(QStringLiteral("SessionDisplayName")) == info.GetSessionDisplayName(),
               info.GetSessionDisplayName());
    FUZZ_CHECK(back.GetString(QStringLiteral("DDNSNAME")) == info.GetDdnsName(),
               info.GetDdnsName());
    QByteArray value;
    FUZZ_CHECK(back.GetBinary(QStringLiteral("IPV6Addr"), value) && value == info.GetAddress(),
               Fuzz::Hex(value));
    value.clear();
    FUZZ_CHECK(back.GetBinary(QStringLiteral("IPV6Port"), value) && value == info.GetPort(),
               Fuzz::Hex(value));
    value.clear();
    back.GetBinary(QStringLiteral("Appdata"), value);
    FUZZ_CHECK(value == info.GetAppData(), Fuzz::Hex(value));
    FUZZ_CHECK(back.GetSubjectName() == info.GetCertificateName(), info.GetCertificateName());
    QFile::remove(exported);
}

// The image with its MAC made again over whatever the payload holds.
QByteArray Remac(const QByteArray& der)
{
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.constData());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, der.size());
    if (!p12)
        return der;
    unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const QByteArray password = kPassword.toUtf8();
    QByteArray result = der;
    if (PKCS12_set_mac(p12, password.constData(), -1, salt, sizeof salt, 1, EVP_sha256()) == 1) {
        unsigned char* out = nullptr;
        const int length = i2d_PKCS12(p12, &out);
        if (length > 0)
            result = QByteArray(reinterpret_cast<const char*>(out), length);
        OPENSSL_free(out);
    }
    PKCS12_free(p12);
    ERR_clear_error();
    return result;
}

void ImportImage(const QByteArray& der)
{
    CTVLCertParam param;
    const CCertificate cert = param.ImportCertificate(der, kPassword);
    if (cert.IsNull()) {
        FUZZ_CHECK(!param.ErrorText().isEmpty(), QString());
        return;
    }
    const QString name = param.GetSubjectName();
    const std::uint64_t notAfter = cert.NotAfter();
    FormatExpiryText(notAfter);
    cert.VerifyTimeValidity(FileTime::Now());
    if (!cert.HasPrivateKey())
        return;
    const QByteArray again = param.ExportCertificate(cert, QStringLiteral("pw"));
    FUZZ_CHECK(!again.isEmpty(), param.ErrorText());
    CTVLCertParam back;
    const CCertificate reread = back.ImportCertificate(again, QStringLiteral("pw"));
    FUZZ_CHECK(!reread.IsNull() && reread.HasPrivateKey(), back.ErrorText());
    FUZZ_CHECK(back.GetSubjectName() == name, name);
    FUZZ_CHECK(reread.NotAfter() == notAfter, name);
    FUZZ_CHECK(X509_cmp(reread.Cert(), cert.Cert()) == 0, name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_environment = new TestEnvironment;
    if (!g_environment->isValid() || !Paths::MakePath(Paths::LocalStoreFolder()))
        Fuzz::Fail(__FILE__, __LINE__, "temporary folders", QString());
    EnsurePkcs12Providers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    QByteArray payload(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if (control & 4) {
        ImportImage((control & 8) ? Remac(payload) : payload);
        ERR_clear_error();
        return 0;
    }

    if (control & 2) {
        QByteArray header;
        for (char16_t c : u"Encrypt.header.1.0") {
            header.append(static_cast<char>(c & 0xFF));
            header.append(static_cast<char>(c >> 8));
        }
        payload = header + Utf16(QString::fromUtf8(payload)) + QByteArray(2, '\0');
    }
    const bool stored = control & 1;
    const QString path =
        stored ? QDir(Paths::LocalStoreFolder()).filePath(kStoredName + QStringLiteral(".cert"))
               : QDir(g_environment->root()).filePath(QStringLiteral("in.Tervalapro"));
    FUZZ_CHECK(WriteFile(path, Encipher(payload, stored ? CEncryptFile::FixedKey() : kPassword)),
               path);
    if (stored)
        ReadStoredInvitation(path);
    else
        ReadInvitationFile(path);
    QFile::remove(path);
    ERR_clear_error();
    return 0;
}

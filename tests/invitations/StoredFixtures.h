#pragma once

// Hand-made stored invitations for the tests of the Existing Networks list:
// good ones with any certificate, and the damaged kinds a local folder may
// hold.

#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "invitations/TVLCertParam.h"
#include "tests/invitations/TestCertificates.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <openssl/pkcs12.h>

#include <algorithm>

namespace StoredFixtures {

inline QString StoredPath(const QString& name)
{
    return QDir(Paths::LocalStoreFolder()).filePath(name + QStringLiteral(".cert"));
}

inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A stored invitation as the service writes it (the fixed key unless told).
inline bool Write(const QString& path, const CCertificate& cert, const QString& displayName,
                  const QString& key = CEncryptFile::FixedKey())
{
    CTVLCertParam param(cert);
    param.AddString(QStringLiteral("Nickname"), QStringLiteral("Ann"));
    param.AddString(QStringLiteral("SessionDisplayName"), displayName);
    param.AddString(QStringLiteral("DDNSNAME"), QStringLiteral("ann-pc.example.net"));
    param.AddBinary(QStringLiteral("IPV6Addr"), QByteArray(16, '\1'));
    param.AddBinary(QStringLiteral("IPV6Port"), QByteArray::fromHex("bab8"));
    param.AddString(QStringLiteral("SessionInfo"), QStringLiteral("<session type>"));
    return param.SaveInvitation(path, key);
}

// local/<name>.cert for a network of that name ending after `seconds` (in
// the past when negative).
inline bool WriteNetwork(const QString& name, const QString& displayName, qint64 seconds,
                         const QString& commonName = QString())
{
    const qint64 now = TestCertificates::NowUnix();
    const CCertificate cert =
        TestCertificates::Make(commonName.isEmpty() ? name : commonName,
                               std::min(now, now + seconds) - 86400, now + seconds);
    return Write(StoredPath(name), cert, displayName);
}

// A container whose body is text of our choosing.
inline bool WriteContainer(const QString& path, const QString& key, const QString& body)
{
    CEncryptFile file;
    return file.Create(path, key) && file.WriteBody(body);
}

// The certificate under the PKCS #12 algorithms of older tools (3DES key,
// RC2-40 certificates, SHA-1 MAC), as a stored invitation.
inline bool WriteLegacy(const QString& path, const CCertificate& cert, const QString& displayName)
{
    EnsurePkcs12Providers();
    const QByteArray key = CEncryptFile::FixedKey().toUtf8();
    PKCS12* p12 = PKCS12_create(key.constData(), "legacy", cert.PrivateKey(), cert.Cert(), nullptr,
                                NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                NID_pbe_WithSHA1And40BitRC2_CBC, 2048, -1, 0);
    if (!p12)
        return false;
    PKCS12_set_mac(p12, key.constData(), -1, nullptr, 0, 2048, EVP_sha1());
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    if (length <= 0)
        return false;
    const QByteArray pfx(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    const QString body =
        QStringLiteral("<?xml version=\"1.0\"?><TVLCertParam><Nickname Nickname=\"Old\"/>"
                       "<SessionDisplayName SessionDisplayName=\"%1\"/>"
                       "<CertData CertData=\"%2\"/></TVLCertParam>")
            .arg(displayName, QString::fromLatin1(pfx.toBase64()));
    return WriteContainer(path, CEncryptFile::FixedKey(), body);
}

struct BadInput
{
    const char* what;
    QByteArray bytes;
};

// Stored invitations that cannot be read, each as the bytes of a file.
// `sample` is a scratch path outside the local folder.
inline QList<BadInput> BadInputs(const QString& sample)
{
    QList<BadInput> inputs;
    const CCertificate cert = TestCertificates::MakeValid(QStringLiteral("Bad-net"));
    Write(sample, cert, QStringLiteral("Bad"));
    const QByteArray good = ReadAll(sample);
    inputs.append({"truncated", good.left(good.size() * 2 / 3)});
    inputs.append({"cut inside the header", good.left(20)});
    inputs.append({"empty", QByteArray()});
    Write(sample, cert, QStringLiteral("Bad"), QStringLiteral("another key"));
    inputs.append({"another key", ReadAll(sample)});
    WriteContainer(sample, CEncryptFile::FixedKey(), QStringLiteral("<<this is not XML"));
    inputs.append({"body not XML", ReadAll(sample)});
    WriteContainer(sample, CEncryptFile::FixedKey(),
                   QStringLiteral("<?xml version=\"1.0\"?><TVLCertParam><SessionDisplayName "
                                  "SessionDisplayName=\"Bad\"/></TVLCertParam>"));
    inputs.append({"no certificate data", ReadAll(sample)});
    WriteContainer(sample, CEncryptFile::FixedKey(),
                   QStringLiteral("<?xml version=\"1.0\"?><TVLCertParam><CertData "
                                  "CertData=\"bm90IGEgY2VydA==\"/></TVLCertParam>"));
    inputs.append({"certificate data not PKCS #12", ReadAll(sample)});
    QFile::remove(sample);
    return inputs;
}

} // namespace StoredFixtures

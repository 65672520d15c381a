#pragma once

#include "invitations/Certificate.h"

#include <QString>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>

// Self-signed P-256 certificates for the tests: quick even under the
// sanitizers, and carried by PKCS #12 like any other key.
namespace TestCertificates {

inline CCertificate Make(const QString& commonName, std::int64_t notBeforeUnix,
                         std::int64_t notAfterUnix, bool withKey = true)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    ASN1_TIME_set(X509_getm_notBefore(cert), static_cast<time_t>(notBeforeUnix));
    ASN1_TIME_set(X509_getm_notAfter(cert), static_cast<time_t>(notAfterUnix));
    const QByteArray cn = commonName.toUtf8();
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()),
                               static_cast<int>(cn.size()), -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    if (!withKey) {
        EVP_PKEY_free(key);
        key = nullptr;
    }
    return CCertificate::Adopt(cert, key);
}

inline std::int64_t NowUnix()
{
    return FileTime::ToUnixSeconds(FileTime::Now());
}

// Valid from an hour ago for the given number of days.
inline CCertificate MakeValid(const QString& commonName, int days = 30)
{
    const std::int64_t now = NowUnix();
    return Make(commonName, now - 3600, now + std::int64_t(days) * 86400);
}

} // namespace TestCertificates

#include "invitations/Certificate.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>

struct CCertificate::Data
{
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    ~Data()
    {
        EVP_PKEY_free(key);
        X509_free(cert);
    }
};

namespace {

// ASN1 time -> file time; 0 when it cannot be read or lies before 1601.
std::uint64_t ToFileTime(const ASN1_TIME* time)
{
    if (!time)
        return 0;
    struct tm fields = {};
    if (ASN1_TIME_to_tm(time, &fields) != 1)
        return 0;
    const std::int64_t seconds = timegm(&fields);
    if (seconds < -FileTime::kUnixEpochSeconds)
        return 0;
    return FileTime::FromUnixSeconds(seconds);
}

QString NameEntry(X509_NAME* name, int nid)
{
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return {};
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0)
        return {};
    QString text = QString::fromUtf8(reinterpret_cast<const char*>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

} // namespace

CCertificate CCertificate::Adopt(X509* cert, EVP_PKEY* key)
{
    CCertificate result;
    if (!cert) {
        EVP_PKEY_free(key);
        return result;
    }
    result.m_d = std::make_shared<Data>();
    result.m_d->cert = cert;
    result.m_d->key = key;
    return result;
}

X509* CCertificate::Cert() const
{
    return m_d ? m_d->cert : nullptr;
}

EVP_PKEY* CCertificate::PrivateKey() const
{
    return m_d ? m_d->key : nullptr;
}

bool CCertificate::HasPrivateKey() const
{
    return m_d && m_d->key && X509_check_private_key(m_d->cert, m_d->key) == 1;
}

QString CCertificate::SimpleDisplayName() const
{
    if (!m_d)
        return {};
    X509_NAME* subject = X509_get_subject_name(m_d->cert);
    if (!subject)
        return {};
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                    NID_pkcs9_emailAddress}) {
        QString text = NameEntry(subject, nid);
        if (!text.isEmpty())
            return text;
    }
    return {};
}

std::uint64_t CCertificate::NotBefore() const
{
    return m_d ? ToFileTime(X509_get0_notBefore(m_d->cert)) : 0;
}

std::uint64_t CCertificate::NotAfter() const
{
    return m_d ? ToFileTime(X509_get0_notAfter(m_d->cert)) : 0;
}

int CCertificate::VerifyTimeValidity(std::uint64_t fileTime) const
{
    if (fileTime < NotBefore())
        return -1;
    if (fileTime > NotAfter())
        return 1;
    return 0;
}

namespace FileTime {

std::uint64_t Now()
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return FromUnixSeconds(now.tv_sec) + static_cast<std::uint64_t>(now.tv_nsec / 100);
}

std::uint64_t FromUnixSeconds(std::int64_t seconds)
{
    return static_cast<std::uint64_t>(seconds + kUnixEpochSeconds) * kTicksPerSecond;
}

std::int64_t ToUnixSeconds(std::uint64_t fileTime)
{
    return static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kUnixEpochSeconds;
}

} // namespace FileTime

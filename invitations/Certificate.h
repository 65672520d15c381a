#pragma once

#include <QString>

#include <openssl/types.h>

#include <cstdint>
#include <memory>

// One certificate, with its private key when it has one. Copies share the
// same OpenSSL objects, so passing one around is cheap and the objects live
// as long as the last copy (the counted certificate context of the design).
class CCertificate
{
public:
    CCertificate() = default;
    // Takes over one reference of each; key may be null.
    static CCertificate Adopt(X509* cert, EVP_PKEY* key);

    bool IsNull() const { return !m_d; }
    explicit operator bool() const { return !IsNull(); }

    X509* Cert() const;
    EVP_PKEY* PrivateKey() const;
    // True when the certificate carries a private key that belongs to it.
    bool HasPrivateKey() const;

    // The subject's simple display name: its common name, or failing that the
    // first organisational unit, organisation or e-mail address.
    QString SimpleDisplayName() const;
    // Validity bounds as file times (100 ns units since 1601-01-01 UTC); 0
    // when the certificate has none that can be read.
    std::uint64_t NotBefore() const;
    std::uint64_t NotAfter() const;
    // -1 before NotBefore, +1 after NotAfter, 0 inside the validity period.
    int VerifyTimeValidity(std::uint64_t fileTime) const;

private:
    struct Data;
    std::shared_ptr<Data> m_d;
};

// File-time helpers shared by the invitation code.
namespace FileTime {
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochSeconds = 11644473600LL;
std::uint64_t Now();
std::uint64_t FromUnixSeconds(std::int64_t seconds);
// Whole seconds; the sub-second part is dropped, never rounded.
std::int64_t ToUnixSeconds(std::uint64_t fileTime);
} // namespace FileTime

#include "invitations/TVLCertParam.h"

#include "foundation/EncryptFile.h"
#include "foundation/TraceLog.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/proverr.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

QString RootName()
{
    return QString::fromLatin1(CTVLCertParam::kRootName);
}

// The earliest error of the queue names the cause (a MAC failure, a bad
// encoding); later entries only say which layer passed it on.
unsigned long TakeOpenSslError()
{
    const unsigned long first = ERR_get_error();
    ERR_clear_error();
    return first;
}

// Key derivations of an image are repeated as often as the image asks: a
// crafted invitation with 2^31 iterations costs minutes of CPU per attempt,
// without any password. OpenSSL writes 2,048; anything above this is refused
// before any derivation runs.
constexpr std::int64_t kMaxIterations = std::int64_t(1) << 20;

bool CountWithinLimit(const ASN1_INTEGER* count)
{
    std::int64_t value = 0;
    // An absent count means one iteration.
    if (!count)
        return true;
    return ASN1_INTEGER_get_int64(&value, count) == 1 && value >= 1 && value <= kMaxIterations;
}

// The password-based encryption of one bag or safe: PBES1 (the older 3DES
// and RC2 forms) or PBES2 with PBKDF2 (what OpenSSL 3 writes). Other key
// derivations are not accepted.
bool EncryptionWithinLimit(const X509_ALGOR* algorithm)
{
    if (!algorithm || !algorithm->parameter)
        return false;
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2) {
        auto* pbe = static_cast<PBEPARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter));
        const bool ok = pbe && CountWithinLimit(pbe->iter);
        PBEPARAM_free(pbe);
        return ok;
    }
    auto* pbes2 = static_cast<PBE2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter));
    bool ok = false;
    if (pbes2 && pbes2->keyfunc && pbes2->keyfunc->parameter &&
        OBJ_obj2nid(pbes2->keyfunc->algorithm) == NID_id_pbkdf2) {
        auto* kdf = static_cast<PBKDF2PARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbes2->keyfunc->parameter));
        ok = kdf && kdf->iter && CountWithinLimit(kdf->iter);
        PBKDF2PARAM_free(kdf);
    }
    PBE2PARAM_free(pbes2);
    return ok;
}

bool BagsWithinLimit(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth)
{
    // Bags may nest; a real image nests one level at most.
    if (depth > 4)
        return false;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_pkcs8ShroudedKeyBag: {
            const X509_ALGOR* algorithm = nullptr;
            X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
            if (!EncryptionWithinLimit(algorithm))
                return false;
            break;
        }
        case NID_safeContentsBag:
            if (!BagsWithinLimit(PKCS12_SAFEBAG_get0_safes(bag), depth + 1))
                return false;
            break;
        default:
            break; // nothing derived from the password
        }
    }
    return true;
}

// Every iteration count of the image, before PKCS12_parse uses any of them:
// the MAC's, each encrypted safe's, and each shrouded key's, including those
// inside an encrypted safe (which is opened here with its count checked).
bool IterationsWithinLimit(PKCS12* p12, const QByteArray& utf8Password)
{
    const ASN1_INTEGER* macIterations = nullptr;
    const ASN1_OCTET_STRING* mac = nullptr;
    PKCS12_get0_mac(&mac, nullptr, nullptr, &macIterations, p12);
    if (mac && !CountWithinLimit(macIterations))
        return false;
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    if (!safes)
        return true; // unreadable: PKCS12_parse says why, deriving nothing
    bool ok = true;
    for (int i = 0; ok && i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        if (PKCS7_type_is_data(safe)) {
            bags = PKCS12_unpack_p7data(safe);
        } else if (PKCS7_type_is_encrypted(safe)) {
            const PKCS7_ENCRYPT* encrypted = safe->d.encrypted;
            ok = encrypted && encrypted->enc_data &&
                 EncryptionWithinLimit(encrypted->enc_data->algorithm);
            if (ok)
                bags = PKCS12_unpack_p7encdata(safe, utf8Password.constData(),
                                               int(utf8Password.size()));
            // PKCS12_parse tries an empty password both ways.
            if (ok && !bags && utf8Password.isEmpty())
                bags = PKCS12_unpack_p7encdata(safe, nullptr, 0);
        }
        // A safe that does not open (a wrong password) is not read by
        // PKCS12_parse either, so what it holds costs nothing.
        if (ok && bags)
            ok = BagsWithinLimit(bags, 0);
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    ERR_clear_error();
    return ok;
}

} // namespace

namespace {
OSSL_PROVIDER* g_defaultProvider = nullptr;
OSSL_PROVIDER* g_legacyProvider = nullptr;

// The legacy provider keeps a child library context that only its own
// unloading frees; OpenSSL's exit handler runs after this one.
void UnloadProviders()
{
    if (g_legacyProvider)
        OSSL_PROVIDER_unload(g_legacyProvider);
    if (g_defaultProvider)
        OSSL_PROVIDER_unload(g_defaultProvider);
    g_legacyProvider = g_defaultProvider = nullptr;
}
} // namespace

void EnsurePkcs12Providers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Loading any provider explicitly stops the default one from being
        // loaded on demand, so the default goes first. Without the legacy
        // module only the RC2 forms are lost.
        g_defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        g_legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        if (!g_legacyProvider)
            ERR_clear_error();
        std::atexit(UnloadProviders);
    });
}

CTVLCertParam::CTVLCertParam()
{
    m_document.CreateDocument(RootName());
}

CTVLCertParam::CTVLCertParam(const CCertificate& certificate) : CTVLCertParam()
{
    m_certificate = certificate;
}

CTVLCertParam::~CTVLCertParam() = default;

void CTVLCertParam::SetError(quint32 stringId, unsigned long opensslError)
{
    FormatErrorText(ErrorCode::OpenSsl(opensslError), m_errorText, stringId);
    if (TraceLevel() & TRACE_ERROR)
        CTraceLog::Trace(m_errorText);
}

bool CTVLCertParam::AddString(const QString& name, const QString& value)
{
    m_document.AddChild(name);
    m_document.SetAttribute(name, value);
    m_document.EndChild();
    return true;
}

bool CTVLCertParam::AddBinary(const QString& name, const QByteArray& value)
{
    m_document.AddChild(name);
    m_document.SetAttributeBinary(name, value.constData(), static_cast<quint32>(value.size()));
    m_document.EndChild();
    return true;
}

bool CTVLCertParam::EnterValue(const QString& name)
{
    // The serializer walks repeated names one after the other; a named value
    // is looked up afresh each time, so values read in any order and again.
    if (m_document.Depth() == 0)
        m_document.LeaveChild();
    return m_document.NextChild(name);
}

QString CTVLCertParam::GetString(const QString& name)
{
    if (!EnterValue(name))
        return {};
    QString value;
    if (!m_document.GetAttribute(name, value))
        value.clear();
    m_document.LeaveChild();
    return value;
}

bool CTVLCertParam::GetBinary(const QString& name, QByteArray& value)
{
    if (!EnterValue(name))
        return false;
    QByteArray decoded;
    const bool found = m_document.GetAttributeBinary(name, decoded) && !decoded.isEmpty();
    m_document.LeaveChild();
    if (found)
        value = decoded;
    return found;
}

bool CTVLCertParam::GetBinary(const QString& name, void* buffer, std::uint32_t& size)
{
    QByteArray decoded;
    if (!GetBinary(name, decoded))
        return false;
    const auto full = static_cast<std::uint32_t>(decoded.size());
    if (buffer && size > 0)
        memcpy(buffer, decoded.constData(), std::min(size, full));
    size = full;
    return true;
}

QByteArray CTVLCertParam::ExportCertificate(const CCertificate& certificate,
                                            const QString& password)
{
    ERR_clear_error();
    if (certificate.IsNull() || !certificate.HasPrivateKey()) {
        // The certificate library reports the missing key itself; OpenSSL
        // would happily write a key-less image, so say it here.
        ERR_clear_error();
        SetError(10012, ERR_PACK(ERR_LIB_CMS, 0, CMS_R_NO_PRIVATE_KEY));
        return {};
    }
    EnsurePkcs12Providers();
    const QByteArray utf8Password = password.toUtf8();
    const QByteArray friendlyName = certificate.SimpleDisplayName().toUtf8();
    // Zero NIDs, iteration and MAC counts choose OpenSSL 3's defaults
    // (AES-256-CBC with PBKDF2 and a SHA-256 MAC).
    PKCS12* p12 = PKCS12_create(
        utf8Password.constData(), friendlyName.isEmpty() ? nullptr : friendlyName.constData(),
        certificate.PrivateKey(), certificate.Cert(), nullptr, 0, 0, 0, 0, 0);
    if (!p12) {
        SetError(10012, TakeOpenSslError());
        return {};
    }
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    if (length <= 0) {
        SetError(10012, TakeOpenSslError());
        return {};
    }
    QByteArray result(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return result;
}

CCertificate CTVLCertParam::ImportCertificate(const QByteArray& pfx, const QString& password)
{
    ERR_clear_error();
    EnsurePkcs12Providers();
    const auto* cursor = reinterpret_cast<const unsigned char*>(pfx.constData());
    PKCS12* p12 = pfx.isEmpty() ? nullptr : d2i_PKCS12(nullptr, &cursor, pfx.size());
    if (!p12) {
        unsigned long error = TakeOpenSslError();
        if (!error)
            error = ERR_PACK(ERR_LIB_PKCS12, 0, PKCS12_R_DECODE_ERROR);
        SetError(10013, error);
        return {};
    }
    const QByteArray utf8Password = password.toUtf8();
    if (!IterationsWithinLimit(p12, utf8Password)) {
        PKCS12_free(p12);
        SetError(10013, ERR_PACK(ERR_LIB_PROV, 0, PROV_R_INVALID_ITERATION_COUNT));
        return {};
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* others = nullptr;
    const int ok = PKCS12_parse(p12, utf8Password.constData(), &key, &cert, &others);
    PKCS12_free(p12);
    if (ok != 1) {
        SetError(10013, TakeOpenSslError());
        return {};
    }
    // A key-less image still holds certificates; the first one stands for it.
    if (!cert && others && sk_X509_num(others) > 0)
        cert = sk_X509_shift(others);
    sk_X509_pop_free(others, X509_free);
    if (!cert) {
        EVP_PKEY_free(key);
        SetError(10013, ERR_PACK(ERR_LIB_X509, 0, X509_R_NO_CERTIFICATE_FOUND));
        return {};
    }
    m_certificate = CCertificate::Adopt(cert, key);
    return m_certificate;
}

QString CTVLCertParam::GetSubjectName()
{
    if (m_certificate.IsNull()) {
        SetError(10015, ERR_PACK(ERR_LIB_X509, 0, X509_R_NO_CERTIFICATE_FOUND));
        return {};
    }
    return m_certificate.SimpleDisplayName();
}

QString CTVLCertParam::GetXml() const
{
    return m_document.GetXml();
}

bool CTVLCertParam::SaveInvitation(const QString& path, const QString& password)
{
    if (m_certificate.IsNull())
        return false;
    const QByteArray pfx = ExportCertificate(m_certificate, password);
    if (pfx.isEmpty())
        return false;
    AddBinary(QStringLiteral("CertData"), pfx);

    CEncryptFile file;
    if (!file.Create(path, password) || !file.WriteBody(m_document.GetXml())) {
        m_errorText = file.ErrorText();
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(m_errorText);
        return false;
    }
    return true;
}

bool CTVLCertParam::LoadInvitation(const QString& path)
{
    return LoadImpl(path, CEncryptFile::FixedKey(), true);
}

bool CTVLCertParam::LoadInvitation(const QString& path, const QString& password)
{
    return LoadImpl(path, password, false);
}

bool CTVLCertParam::LoadImpl(const QString& path, const QString& key, bool fixedKey)
{
    CEncryptFile file;
    QString text;
    const bool opened = fixedKey ? file.Open(path) : file.OpenWithKey(path, key);
    if (!opened || !file.ReadBody(text)) {
        m_errorText = file.ErrorText();
        if (!m_errorText.isEmpty() && (TraceLevel() & TRACE_ERROR))
            CTraceLog::Trace(m_errorText);
        return false;
    }
    m_certificate = CCertificate();
    if (!m_document.LoadXml(text, RootName()))
        return false;
    // A missing CertData still goes through the import, which then reports
    // string 10013 like any unreadable certificate.
    QByteArray pfx;
    GetBinary(QStringLiteral("CertData"), pfx);
    ImportCertificate(pfx, key);
    return !m_certificate.IsNull();
}

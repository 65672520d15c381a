#include "invitations/TVLCertParam.h"

#include "foundation/EncryptFile.h"
#include "foundation/TraceLog.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

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

#include "invitations/InvitationInfo.h"

#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "invitations/TVLCertParam.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <locale.h>

namespace {

const QString kCertSuffix = QStringLiteral(".cert");

bool SameFolder(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

} // namespace

CInvitationInfo::CInvitationInfo()
    : m_localFolder(Paths::LocalStoreFolder()), m_storeFolder(Paths::StoreFolder())
{
    // The local folder lies inside the store folder, so one call makes both.
    Paths::MakePath(m_localFolder);
}

CInvitationInfo::~CInvitationInfo() = default;

void CInvitationInfo::SetError(const QString& text)
{
    m_errorText = text;
    if (!text.isEmpty() && (TraceLevel() & TRACE_ERROR))
        CTraceLog::Trace(text);
}

QByteArray CInvitationInfo::GetAddress() const
{
    return QByteArray(reinterpret_cast<const char*>(m_address.data()), kAddressBytes);
}

QByteArray CInvitationInfo::GetPort() const
{
    return QByteArray(reinterpret_cast<const char*>(m_port.data()), kPortBytes);
}

bool CInvitationInfo::IsSafeStoredName(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QString CInvitationInfo::StoredInvitationPath(const QString& name) const
{
    if (!IsSafeStoredName(name))
        return {};
    return QDir(m_localFolder).filePath(name + kCertSuffix);
}

bool CInvitationInfo::ReadInvitationFile(const QString& path)
{
    CTVLCertParam param;
    if (!param.LoadInvitation(path)) {
        SetError(param.ErrorText());
        return false;
    }

    m_nickname = param.GetString(QStringLiteral("Nickname"));
    m_sessionDisplayName = param.GetString(QStringLiteral("SessionDisplayName"));
    m_ddnsName = param.GetString(QStringLiteral("DDNSNAME"));
    // Only the field's own size is ever copied; a longer value does not carry
    // its length anywhere.
    std::uint32_t size = kAddressBytes;
    param.GetBinary(QStringLiteral("IPV6Addr"), m_address.data(), size);
    size = kPortBytes;
    param.GetBinary(QStringLiteral("IPV6Port"), m_port.data(), size);
    // Sized to the decoded value: nothing of a long value is lost or overrun.
    m_appData.clear();
    param.GetBinary(QStringLiteral("Appdata"), m_appData);
    m_sessionInfo = param.GetString(QStringLiteral("SessionInfo"));
    m_certificateName = param.GetSubjectName();

    // A stored invitation is filed under its own file name; listing, deleting
    // and exporting all go by that name, so a file whose certificate names
    // another network never leads to the other network's file.
    const QFileInfo info(path);
    m_subjectName = m_certificateName;
    if (info.fileName().endsWith(kCertSuffix) && SameFolder(info.path(), m_localFolder)) {
        m_subjectName = info.fileName().chopped(kCertSuffix.size());
        if (m_subjectName != m_certificateName && (TraceLevel() & TRACE_ERROR))
            CTraceLog::Trace(QStringLiteral("Stored invitation %1 holds the certificate of %2")
                                 .arg(info.fileName(), m_certificateName));
    }

    const CCertificate& certificate = param.Certificate();
    m_expired = false;
    if (!certificate.IsNull()) {
        m_expiry = certificate.NotAfter();
        m_expired = certificate.VerifyTimeValidity(FileTime::Now()) > 0;
    }
    return true;
}

CCertificate CInvitationInfo::LoadStoredCertificate(const QString& name)
{
    const QString path = StoredInvitationPath(name);
    if (path.isEmpty()) {
        FormatErrorText(ErrorCode::System(EINVAL), m_errorText, 10002);
        SetError(m_errorText);
        return {};
    }
    if (!ReadInvitationFile(path))
        return {};
    CTVLCertParam param;
    if (!param.LoadInvitation(path)) {
        SetError(param.ErrorText());
        return {};
    }
    return param.Certificate();
}

bool CInvitationInfo::CreateInvitationFile(const QString& name, const QString& path,
                                           const QString& password)
{
    const CCertificate certificate = LoadStoredCertificate(name);
    if (certificate.IsNull())
        return false;
    CTVLCertParam param(certificate);
    param.AddString(QStringLiteral("Nickname"), m_nickname);
    param.AddString(QStringLiteral("SessionDisplayName"), m_sessionDisplayName);
    param.AddString(QStringLiteral("DDNSNAME"), m_ddnsName);
    param.AddBinary(QStringLiteral("IPV6Addr"), GetAddress());
    param.AddBinary(QStringLiteral("IPV6Port"), GetPort());
    if (!m_appData.isEmpty())
        param.AddBinary(QStringLiteral("Appdata"), m_appData);
    if (!param.SaveInvitation(path, password)) {
        SetError(param.ErrorText());
        return false;
    }
    return true;
}

bool CInvitationInfo::DeleteStoredInvitation(const QString& name)
{
    const QString path = StoredInvitationPath(name);
    if (path.isEmpty()) {
        if (!name.isEmpty() && (TraceLevel() & TRACE_ERROR))
            CTraceLog::Trace(
                QStringLiteral("Refused to delete the stored invitation named %1").arg(name));
        return false;
    }
    // A folder of that name is left alone; a link is removed itself, never
    // what it points to.
    const QFileInfo info(path);
    if (!info.isSymLink() && !info.isFile())
        return false;
    return QFile::remove(path);
}

QString CInvitationInfo::GetExpiryText() const
{
    return FormatExpiryText(m_expiry);
}

QString FormatExpiryText(std::uint64_t fileTime)
{
    const QString invalid = QStringLiteral("Invalid DateTime");
    // Whole seconds only: the milliseconds are dropped, never rounded up.
    const time_t seconds = static_cast<time_t>(FileTime::ToUnixSeconds(fileTime));
    // localtime_r does not look at TZ again by itself.
    tzset();
    struct tm local = {};
    if (!localtime_r(&seconds, &local))
        return invalid;
    const long year = static_cast<long>(local.tm_year) + 1900;
    if (year < 100 || year > 9999)
        return invalid;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char text[256] = {};
    const size_t length =
        strftime_l(text, sizeof text, "%A, %B %d, %Y %I:%M:%S %p", &local, cLocale);
    if (length == 0)
        return invalid;
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

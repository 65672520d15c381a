#pragma once

#include "invitations/Certificate.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// The program's view of one invitation (a stored invitation of the local
// folder, or an invitation file). Made for one listing, deletion or export.
class CInvitationInfo
{
public:
    static constexpr int kAddressBytes = 16;
    static constexpr int kPortBytes = 2;
    // Read limits of the format's table. Values above them are read whole
    // into buffers of their own size; nothing is cut.
    static constexpr std::uint32_t kAppDataLimit = 20480;
    static constexpr std::uint32_t kCertDataLimit = 61440;

    // Fills the folder paths and creates the store and local folders.
    CInvitationInfo();
    ~CInvitationInfo();
    CInvitationInfo(const CInvitationInfo&) = delete;
    CInvitationInfo& operator=(const CInvitationInfo&) = delete;

    // Reads a stored invitation (fixed key) into the fields.
    bool ReadInvitationFile(const QString& path);
    // Reads local/<name>.cert and returns its certificate (null on failure).
    CCertificate LoadStoredCertificate(const QString& name);
    // Writes an invitation file for the stored invitation name, keyed by
    // password.
    bool CreateInvitationFile(const QString& name, const QString& path, const QString& password);
    // Deletes local/<name>.cert. An empty or unsafe name touches nothing;
    // returns whether a file was removed.
    bool DeleteStoredInvitation(const QString& name);

    // The name the invitation is listed and filed under: the stored file's
    // name (without folder and ".cert") for a file of the local folder, else
    // the certificate's subject name.
    QString GetSubjectName() const { return m_subjectName; }
    // The subject name as the certificate itself says it.
    QString GetCertificateName() const { return m_certificateName; }
    QString GetSessionDisplayName() const { return m_sessionDisplayName; }
    QString GetNickname() const { return m_nickname; }
    QString GetSessionInfo() const { return m_sessionInfo; }
    QString GetDdnsName() const { return m_ddnsName; }
    QByteArray GetAddress() const;
    QByteArray GetPort() const;
    const QByteArray& GetAppData() const { return m_appData; }
    // NotAfter of the certificate as a file time; 0 until read.
    std::uint64_t GetExpiry() const { return m_expiry; }
    // The expiry in local time, "Friday, March 07, 2025 01:05:09 PM".
    QString GetExpiryText() const;
    bool IsExpired() const { return m_expired; }

    const QString& ErrorText() const { return m_errorText; }
    QString LocalFolder() const { return m_localFolder; }
    QString StoreFolder() const { return m_storeFolder; }

    // A name from a certificate may become a file name of the local folder
    // only when it cannot reach outside it: not empty, no path separator, no
    // "..", no control character.
    static bool IsSafeStoredName(const QString& name);
    // local/<name>.cert, or empty for an unsafe name.
    QString StoredInvitationPath(const QString& name) const;

private:
    void SetError(const QString& text);

    QString m_errorText;
    QString m_nickname;
    QString m_sessionDisplayName;
    QString m_sessionInfo;
    QString m_ddnsName;
    std::array<std::uint8_t, kAddressBytes> m_address{};
    std::array<std::uint8_t, kPortBytes> m_port{};
    QString m_localFolder;
    QString m_storeFolder;
    QString m_subjectName;
    QString m_certificateName;
    std::uint64_t m_expiry = 0;
    QByteArray m_appData;
    bool m_expired = false;
};

// "%A, %B %d, %Y %I:%M:%S %p" of the file time in the local time zone (TZ),
// English names whatever the locale; "Invalid DateTime" outside years 100 to
// 9999.
QString FormatExpiryText(std::uint64_t fileTime);

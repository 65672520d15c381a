#include "standin/InvitationAuthority.h"

#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "invitations/InvitationInfo.h"
#include "invitations/TVLCertParam.h"
#include "resources/StringTable.h"
#include "standin/ControlChannel.h"
#include "standin/StandinService.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>
#include <QTextStream>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint16 kInviterPort = 47800;
// 9999-12-31 23:59:59 UTC, the last instant a certificate time can hold.
constexpr std::int64_t kLastCertSecond = 253402300799LL;

QString OpenSslReason()
{
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    const char* reason = error ? ERR_reason_error_string(error) : nullptr;
    return reason ? QString::fromUtf8(reason) : QStringLiteral("unknown OpenSSL error");
}

EVP_PKEY* NewKey()
{
    // P-256 keys: quick to make, and PKCS #12 carries them like any other.
    return EVP_EC_gen("P-256");
}

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const int ok = X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
    return ok == 1;
}

bool SetRandomSerial(X509* cert)
{
    unsigned char bytes[8];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7f; // positive
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    const bool ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
    BN_free(number);
    return ok;
}

bool SetName(X509_NAME* name, const QString& commonName, const char* organisation)
{
    const QByteArray cn = commonName.toUtf8();
    return X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(organisation), -1, -1,
                                      0) == 1 &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(cn.constData()),
                                      static_cast<int>(cn.size()), -1, 0) == 1;
}

// Builds and signs one certificate; signer null means self-signed.
CCertificate Issue(const QString& commonName, const char* organisation, std::int64_t notBefore,
                   std::int64_t notAfter, const CCertificate* signer, bool authority,
                   QString& reason)
{
    EVP_PKEY* key = NewKey();
    X509* cert = X509_new();
    bool ok = key && cert && X509_set_version(cert, 2) == 1 && SetRandomSerial(cert) &&
              ASN1_TIME_set(X509_getm_notBefore(cert), static_cast<time_t>(notBefore)) &&
              ASN1_TIME_set(X509_getm_notAfter(cert), static_cast<time_t>(notAfter)) &&
              SetName(X509_get_subject_name(cert), commonName, organisation) &&
              X509_set_pubkey(cert, key) == 1;
    X509* issuer = signer ? signer->Cert() : cert;
    EVP_PKEY* signingKey = signer ? signer->PrivateKey() : key;
    ok = ok && X509_set_issuer_name(cert, X509_get_subject_name(issuer)) == 1;
    if (authority) {
        ok = ok && AddExtension(cert, issuer, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(cert, issuer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             AddExtension(cert, issuer, NID_subject_key_identifier, "hash");
    } else {
        ok = ok && AddExtension(cert, issuer, NID_basic_constraints, "critical,CA:FALSE") &&
             AddExtension(cert, issuer, NID_key_usage, "critical,digitalSignature") &&
             AddExtension(cert, issuer, NID_ext_key_usage, "serverAuth,clientAuth") &&
             AddExtension(cert, issuer, NID_authority_key_identifier, "keyid");
    }
    ok = ok && X509_sign(cert, signingKey, EVP_sha256()) > 0;
    if (!ok) {
        reason = OpenSslReason();
        X509_free(cert);
        EVP_PKEY_free(key);
        return {};
    }
    return CCertificate::Adopt(cert, key);
}

QString HexSuffix()
{
    unsigned char bytes[4] = {};
    RAND_bytes(bytes, sizeof bytes);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), 4).toHex());
}

// Writes a container next to its final place and renames it over, so a
// reader never meets half a file.
bool SaveAtomically(CTVLCertParam& param, const QString& path, const QString& key,
                    QString& errorText)
{
    const QString temporary = path + QStringLiteral(".new");
    if (!param.SaveInvitation(temporary, key)) {
        errorText = param.ErrorText();
        QFile::remove(temporary);
        return false;
    }
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) !=
        0) {
        FormatErrorText(ErrorCode::System(errno), errorText, 10001);
        QFile::remove(temporary);
        return false;
    }
    return true;
}

void FillDocument(CTVLCertParam& param, const CInvitationAuthority::NewNetwork& request,
                  const QString& displayName)
{
    param.AddString(QStringLiteral("Nickname"), request.nickname);
    param.AddString(QStringLiteral("SessionDisplayName"), displayName);
    param.AddString(QStringLiteral("DDNSNAME"), QSysInfo::machineHostName());
    param.AddBinary(QStringLiteral("IPV6Addr"), CInvitationAuthority::InviterAddressBytes());
    param.AddBinary(QStringLiteral("IPV6Port"), CInvitationAuthority::InviterPortBytes());
    if (!request.appData.isEmpty())
        param.AddBinary(QStringLiteral("Appdata"), request.appData);
}

QString NotForThisUser()
{
    return QStringLiteral("The service cannot open files for this user.");
}

QString AddressText(const QByteArray& bytes)
{
    if (bytes.size() != 16)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, bytes.constData(), text, sizeof text))
        return {};
    return QString::fromLatin1(text);
}

} // namespace

QString CInvitationAuthority::CaPath()
{
    return QDir(Paths::StoreFolder()).filePath(QStringLiteral("TervalaCA.cert"));
}

QByteArray CInvitationAuthority::InviterAddressBytes()
{
    QByteArray bytes(16, '\0');
    bytes[15] = 1; // ::1
    return bytes;
}

QByteArray CInvitationAuthority::InviterPortBytes()
{
    QByteArray bytes(2, '\0');
    bytes[0] = static_cast<char>(kInviterPort >> 8);
    bytes[1] = static_cast<char>(kInviterPort & 0xff);
    return bytes;
}

bool CInvitationAuthority::EnsureCa(QString& errorText)
{
    if (!m_ca.IsNull())
        return true;
    if (!Paths::MakePath(Paths::LocalStoreFolder())) {
        FormatErrorText(ErrorCode::System(errno), errorText, 10001);
        return false;
    }
    // The service and the command-line mode may both be first.
    QLockFile lock(QDir(Paths::StoreFolder()).filePath(QStringLiteral("TervalaCA.lock")));
    lock.lock();
    const QString path = CaPath();
    CTVLCertParam stored;
    if (stored.LoadInvitation(path)) {
        m_ca = stored.Certificate();
        return true;
    }
    if (QFileInfo::exists(path)) {
        // Never replace an authority that exists: its networks would be lost.
        errorText = QStringLiteral("The certificate authority %1 cannot be read: %2")
                        .arg(path, stored.ErrorText());
        return false;
    }
    const std::int64_t now = FileTime::ToUnixSeconds(FileTime::Now());
    QString reason;
    const CCertificate ca = Issue(QStringLiteral("Tervala Pro CA"), "Quornix", now - 3600,
                                  now + 20LL * 365 * 86400, nullptr, true, reason);
    if (ca.IsNull()) {
        errorText = QStringLiteral("Creating the certificate authority failed: %1").arg(reason);
        return false;
    }
    CTVLCertParam param(ca);
    if (!SaveAtomically(param, path, CEncryptFile::FixedKey(), errorText))
        return false;
    m_ca = ca;
    return true;
}

QString CInvitationAuthority::UniqueNetworkName(const QString& sessionName) const
{
    QString base;
    bool gap = false;
    for (const QChar c : sessionName) {
        if (c.isLetterOrNumber() && c.unicode() < 0x80) {
            if (gap && !base.isEmpty())
                base += u'-';
            base += c;
            gap = false;
        } else {
            gap = true;
        }
        if (base.size() >= 40)
            break;
    }
    if (base.isEmpty())
        base = QStringLiteral("Network");
    const QDir local(Paths::LocalStoreFolder());
    for (;;) {
        const QString name = base + u'-' + HexSuffix();
        if (!local.exists(name + QStringLiteral(".cert")))
            return name;
    }
}

bool CInvitationAuthority::CreateNetwork(const NewNetwork& request, Network& network,
                                         QString& errorText)
{
    if (request.password.isEmpty()) {
        errorText = QStringLiteral("The invitation password must not be empty.");
        return false;
    }
    if (!EnsureCa(errorText))
        return false;

    network = Network();
    network.displayName =
        request.sessionName.isEmpty() ? QStringLiteral("Tervala network") : request.sessionName;
    network.networkName = UniqueNetworkName(network.displayName);
    network.inviterNickname = request.nickname;
    network.inviterAddress = AddressText(InviterAddressBytes());
    network.appData = request.appData;

    // Certificate times end in 9999; a NotAfter before NotBefore is not
    // allowed, so an already past expiry starts the validity there too.
    const std::int64_t notAfter =
        std::min(FileTime::ToUnixSeconds(request.expiry), kLastCertSecond);
    const std::int64_t now = FileTime::ToUnixSeconds(FileTime::Now());
    QString reason;
    const CCertificate certificate =
        Issue(network.networkName, "Tervala Pro network", std::min(now - 60, notAfter), notAfter,
              &m_ca, false, reason);
    if (certificate.IsNull()) {
        errorText = QStringLiteral("Issuing the network certificate failed: %1").arg(reason);
        return false;
    }
    network.expiry = certificate.NotAfter();

    CTVLCertParam invitation(certificate);
    FillDocument(invitation, request, network.displayName);
    // Everything OpenSSL loads from disk is loaded with the service's rights.
    EnsurePkcs12Providers();
    {
        const ClientFileAccess access(request.client);
        if (!access.Granted()) {
            errorText = NotForThisUser();
            return false;
        }
        if (!invitation.SaveInvitation(request.path, request.password)) {
            errorText = invitation.ErrorText();
            return false;
        }
    }

    CTVLCertParam stored(certificate);
    FillDocument(stored, request, network.displayName);
    stored.AddString(QStringLiteral("SessionInfo"), request.sessionTypeText);
    const QString storedPath =
        QDir(Paths::LocalStoreFolder()).filePath(network.networkName + QStringLiteral(".cert"));
    if (!SaveAtomically(stored, storedPath, CEncryptFile::FixedKey(), errorText)) {
        // Without its stored twin the network does not exist here; the file
        // just written would invite to nothing.
        const ClientFileAccess access(request.client);
        if (access.Granted())
            QFile::remove(request.path);
        return false;
    }
    return true;
}

bool CInvitationAuthority::JoinNetwork(const QString& path, const QString& password,
                                       Network& network, QString& errorText,
                                       const ClientIdentity& client)
{
    network = Network();
    CTVLCertParam param;
    EnsurePkcs12Providers();
    // The file is opened, and looked at for the error text, only as the
    // client could: a path in a folder the client may not read tells it
    // nothing about what that folder holds.
    const ClientFileAccess access(client);
    if (!access.Granted()) {
        errorText = NotForThisUser();
        return false;
    }
    if (password.isEmpty() || !param.LoadInvitation(path, password)) {
        // A missing file keeps its own reason; every other failure (wrong key,
        // foreign or damaged content) reads as a bad password or file. The
        // checks are the system's own calls, which go by the client's file
        // identity (QFileInfo may ask access(), which goes by the service's).
        const QByteArray native = QFile::encodeName(path);
        struct stat info;
        const bool exists = ::stat(native.constData(), &info) == 0;
        const bool readable =
            exists && ::faccessat(AT_FDCWD, native.constData(), R_OK, AT_EACCESS) == 0;
        if (!exists || S_ISDIR(info.st_mode) || !readable)
            errorText = param.ErrorText().isEmpty() ? LoadString(10003) : param.ErrorText();
        else
            errorText = LoadString(10003);
        return false;
    }
    network.inviterNickname = param.GetString(QStringLiteral("Nickname"));
    network.displayName = param.GetString(QStringLiteral("SessionDisplayName"));
    QByteArray address;
    param.GetBinary(QStringLiteral("IPV6Addr"), address);
    network.inviterAddress = AddressText(address);
    param.GetBinary(QStringLiteral("Appdata"), network.appData);
    const CCertificate& certificate = param.Certificate();
    network.networkName = certificate.SimpleDisplayName();
    network.expiry = certificate.NotAfter();
    if (certificate.VerifyTimeValidity(FileTime::Now()) > 0) {
        errorText = QStringLiteral("The invitation to the network %1 expired on %2.")
                        .arg(network.displayName, FormatExpiryText(network.expiry));
        return false;
    }
    return true;
}

namespace {

QString OptionValue(const QStringList& args, const QString& name, bool& missing)
{
    const auto index = args.indexOf(name);
    if (index < 0)
        return {};
    if (index + 1 >= args.size()) {
        missing = true;
        return {};
    }
    return args.at(index + 1);
}

} // namespace

void registerInvitationCommands(StandinService& service, ControlChannel& control)
{
    auto authority = std::make_shared<CInvitationAuthority>();
    service.createHandler = [authority, &service](const CreateRequest& request) {
        CreateResult result;
        CInvitationAuthority::NewNetwork network;
        network.nickname = request.nickname;
        network.sessionName = request.sessionName;
        network.sessionTypeText = request.sessionType;
        network.expiry = request.expiry;
        network.path = request.path;
        network.password = request.password;
        network.appData = request.appData;
        network.client = request.client;
        CInvitationAuthority::Network created;
        QString error;
        if (!authority->CreateNetwork(network, created, error)) {
            result.ok = false;
            result.errorText = error;
            service.log(QStringLiteral("CREATE_INVITATION failed: %1").arg(error));
            return result;
        }
        result.sessionName = created.networkName;
        result.displayText = created.displayName;
        service.log(QStringLiteral("Network %1 (%2) created, invitation %3")
                        .arg(created.networkName, created.displayName, request.path));
        return result;
    };
    service.joinHandler = [authority, &service](const JoinRequest& request) {
        JoinResult result;
        CInvitationAuthority::Network joined;
        QString error;
        if (!authority->JoinNetwork(request.path, request.password, joined, error,
                                    request.client)) {
            result.ok = false;
            result.errorText = error;
            service.log(QStringLiteral("JOIN_INVITATION failed: %1").arg(error));
            return result;
        }
        result.sessionName = joined.displayName;
        result.inviterAddress = joined.inviterAddress;
        result.appData = joined.appData;
        result.networkName = joined.networkName;
        result.displayText = joined.displayName;
        result.inviterNickname = joined.inviterNickname;
        service.log(QStringLiteral("Joined network %1 (%2) invited by %3")
                        .arg(joined.networkName, joined.displayName, joined.inviterNickname));
        return result;
    };
    control.registerCommand(QStringLiteral("invitation-ca"), QStringLiteral("invitation-ca"),
                            [authority](const QStringList&, QString& error) -> QString {
                                if (!authority->EnsureCa(error))
                                    return {};
                                return CInvitationAuthority::CaPath();
                            });
}

int runWriteInvitation(const QStringList& args)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString usage = QStringLiteral(
        "usage: tervala-standin write-invitation --path P --password W [--nickname N] "
        "[--session-type T] [--expiry-days D] [--appdata-file F]");
    bool missing = false;
    CInvitationAuthority::NewNetwork request;
    request.path = OptionValue(args, QStringLiteral("--path"), missing);
    request.password = OptionValue(args, QStringLiteral("--password"), missing);
    request.nickname = OptionValue(args, QStringLiteral("--nickname"), missing);
    request.sessionName = OptionValue(args, QStringLiteral("--session-type"), missing);
    const QString days = OptionValue(args, QStringLiteral("--expiry-days"), missing);
    const QString appDataFile = OptionValue(args, QStringLiteral("--appdata-file"), missing);
    if (missing || request.path.isEmpty() || request.password.isEmpty()) {
        err << usage << Qt::endl;
        return 2;
    }
    if (request.nickname.isEmpty())
        request.nickname = QStringLiteral("Inviter");
    if (request.sessionName.isEmpty())
        request.sessionName = QStringLiteral("Demo network");
    bool numeric = true;
    const double expiryDays = days.isEmpty() ? 30.0 : days.toDouble(&numeric);
    if (!numeric || expiryDays < -36500 || expiryDays > 36500) {
        err << "write-invitation: --expiry-days takes a number of days" << Qt::endl;
        return 2;
    }
    const auto offset = static_cast<std::int64_t>(expiryDays * 86400.0 * 1e7);
    request.expiry =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(FileTime::Now()) + offset);
    if (!appDataFile.isEmpty()) {
        QFile file(appDataFile);
        if (!file.open(QIODevice::ReadOnly)) {
            err << "write-invitation: cannot read " << appDataFile << ": " << file.errorString()
                << Qt::endl;
            return 1;
        }
        request.appData = file.readAll();
    }
    CInvitationAuthority authority;
    CInvitationAuthority::Network network;
    QString error;
    if (!authority.CreateNetwork(request, network, error)) {
        err << "write-invitation: " << error << Qt::endl;
        return 1;
    }
    out << "network " << network.networkName << Qt::endl;
    out << "display " << network.displayName << Qt::endl;
    out << "expires " << FormatExpiryText(network.expiry) << Qt::endl;
    out << "stored "
        << QDir(Paths::LocalStoreFolder()).filePath(network.networkName + QStringLiteral(".cert"))
        << Qt::endl;
    return 0;
}

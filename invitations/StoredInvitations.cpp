#include "invitations/StoredInvitations.h"

#include "foundation/TraceLog.h"
#include "invitations/Certificate.h"
#include "invitations/InvitationInfo.h"
#include "resources/StringTable.h"

#include <QDir>
#include <QHash>
#include <QPromise>
#include <QThreadPool>

#include <openssl/crypto.h>

#include <memory>
#include <utility>

namespace {
constexpr quint32 IDS_UNREADABLE = 20101;
constexpr quint32 IDS_EXPIRES_IN = 20103;
constexpr quint32 IDS_HAS_EXPIRED = 20104;
constexpr quint32 IDS_UNDER_A_MINUTE = 20105;
constexpr quint32 IDS_ONE_MINUTE = 20106;
constexpr quint32 IDS_MINUTES = 20107;
constexpr quint32 IDS_ONE_HOUR = 20108;
constexpr quint32 IDS_HOURS = 20109;
constexpr quint32 IDS_DAYS = 20110;
constexpr quint32 IDS_MORE_UNREADABLE = 20115;

// A message box with a thousand lines helps nobody; the rest are counted.
constexpr int kUnreadableNamesShown = 20;

const QString kCertSuffix = QStringLiteral(".cert");

// A file name is anything but "/" and NUL: a line break or an escape inside it
// must not rearrange the message it is shown in.
QString Printable(QString name)
{
    for (QChar& c : name) {
        if (c.category() == QChar::Other_Control)
            c = u'?';
    }
    return name;
}

void Trace(const QString& text)
{
    if (TraceLevel() & TRACE_ERROR)
        CTraceLog::Trace(text);
}
} // namespace

namespace StoredInvitations {

CStoredScanResult Scan(const Progress& progress, bool deleteExpired)
{
    CStoredScanResult result;
    // Also makes sure the store folders exist.
    CInvitationInfo info;
    // Exactly ".cert": the name before it is what the file is deleted and
    // exported by, so a file that only looks alike (".CERT") is not one.
    const QStringList files =
        QDir(info.LocalFolder())
            .entryList({QStringLiteral("*") + kCertSuffix},
                       QDir::Files | QDir::Hidden | QDir::CaseSensitive, QDir::Unsorted);
    const int total = static_cast<int>(files.size());
    for (int i = 0; i < total; ++i) {
        if (progress && !progress(i, total)) {
            result.stopped = true;
            return result;
        }
        const QString& fileName = files.at(i);
        const QString name = fileName.chopped(kCertSuffix.size());
        // A file of the folder whose name could not be used to reach it again
        // ("a..b.cert", ".cert") can be neither exported nor deleted by name.
        if (!CInvitationInfo::IsSafeStoredName(name)) {
            Trace(QStringLiteral("Stored invitation %1: unusable file name").arg(fileName));
            result.unreadable << fileName;
            continue;
        }
        // An unreadable file costs only itself: the others are read on, and
        // it stays in place for whoever can repair it.
        if (!info.ReadInvitationFile(QDir(info.LocalFolder()).filePath(fileName)) ||
            info.GetSubjectName() != name) {
            Trace(QStringLiteral("Stored invitation %1 could not be read: %2")
                      .arg(fileName, info.ErrorText()));
            result.unreadable << fileName;
            continue;
        }
        // Only a certificate known to have ended costs its file: one whose
        // end cannot be read is listed rather than lost.
        if (info.IsExpired()) {
            if (deleteExpired && info.DeleteStoredInvitation(name))
                result.deleted << name;
            continue;
        }
        CStoredNetwork network;
        network.subjectName = name;
        network.displayName = info.GetSessionDisplayName();
        network.expiry = info.GetExpiry();
        network.expiryText = info.GetExpiryText();
        result.networks << std::move(network);
    }
    if (progress)
        progress(total, total);
    return result;
}

QFuture<CStoredScanResult> StartScan(bool deleteExpired)
{
    auto promise = std::make_shared<QPromise<CStoredScanResult>>();
    QFuture<CStoredScanResult> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, deleteExpired] {
        CStoredScanResult result = Scan(
            [&promise](int done, int total) {
                promise->setProgressRange(0, total);
                promise->setProgressValue(done);
                return !promise->isCanceled();
            },
            deleteExpired);
        promise->addResult(std::move(result));
        promise->finish();
        // The pool's threads are not ours: they keep no OpenSSL state of
        // this task (its error queue would outlive the library at exit).
        OPENSSL_thread_stop();
    });
    return future;
}

QStringList ListTexts(const QList<CStoredNetwork>& networks)
{
    QHash<QString, int> uses;
    for (const CStoredNetwork& network : networks)
        ++uses[network.displayName];
    QStringList texts;
    texts.reserve(networks.size());
    for (const CStoredNetwork& network : networks) {
        if (network.displayName.isEmpty())
            texts << network.subjectName;
        else if (uses.value(network.displayName) > 1)
            texts << QStringLiteral("%1 (%2)").arg(network.displayName, network.subjectName);
        else
            texts << network.displayName;
    }
    return texts;
}

bool ExpiresSoon(std::uint64_t expiry, std::uint64_t now)
{
    return expiry > now && expiry - now <= kSoonTicks;
}

QString RemainingText(std::uint64_t expiry, std::uint64_t now)
{
    if (expiry <= now)
        return LoadString(IDS_HAS_EXPIRED);
    const std::uint64_t seconds = (expiry - now) / FileTime::kTicksPerSecond;
    QString span;
    // Whole units, rounded down: "1 day" would hide that most of a second
    // day may be gone, so days start at two.
    if (seconds >= 2 * 86400)
        span = LoadString(IDS_DAYS).arg(seconds / 86400);
    else if (seconds >= 2 * 3600)
        span = LoadString(IDS_HOURS).arg(seconds / 3600);
    else if (seconds >= 3600)
        span = LoadString(IDS_ONE_HOUR);
    else if (seconds >= 2 * 60)
        span = LoadString(IDS_MINUTES).arg(seconds / 60);
    else if (seconds >= 60)
        span = LoadString(IDS_ONE_MINUTE);
    else
        span = LoadString(IDS_UNDER_A_MINUTE);
    return LoadString(IDS_EXPIRES_IN).arg(span);
}

QString UnreadableText(const QStringList& fileNames)
{
    QString text = LoadString(IDS_UNREADABLE);
    const int shown = std::min(static_cast<int>(fileNames.size()), kUnreadableNamesShown);
    for (int i = 0; i < shown; ++i)
        text += u'\n' + Printable(fileNames.at(i));
    if (fileNames.size() > shown)
        text += u'\n' + LoadString(IDS_MORE_UNREADABLE).arg(fileNames.size() - shown);
    return text;
}

} // namespace StoredInvitations

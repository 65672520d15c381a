#include "invitations/ExpiryReminder.h"

#include "foundation/Paths.h"
#include "invitations/Certificate.h"
#include "invitations/InvitationInfo.h"
#include "resources/StringTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QSet>
#include <QSettings>
#include <QThreadPool>

#include <openssl/crypto.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include <sys/stat.h>

namespace {
constexpr quint32 IDS_REMINDER_TITLE = 20112;
constexpr quint32 IDS_REMINDER_ONE = 20113;
constexpr quint32 IDS_REMINDER_MANY = 20114;

const QString kCertSuffix = QStringLiteral(".cert");

// A stored invitation is read again only when one of these has changed.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const QString& path)
{
    FileStamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.inode = st.st_ino;
    return stamp;
}
} // namespace

struct CExpiryReminder::Cache
{
    struct Entry
    {
        FileStamp stamp;
        bool readable = false;
        CStoredNetwork network;
    };
    // One check at a time uses it; the lock only guards against a check that
    // outlives its reminder object while a new one starts.
    std::mutex lock;
    QHash<QString, Entry> entries;
};

namespace {

// The valid networks of the local folder, read through the cache. Expired
// and unreadable stored invitations are left out and left alone: deleting
// them is the Existing Networks list's business.
CStoredScanResult ReadNetworks(CExpiryReminder::Cache& cache, QPromise<CStoredScanResult>& promise)
{
    std::lock_guard<std::mutex> guard(cache.lock);
    CStoredScanResult result;
    CInvitationInfo info;
    const QDir folder(info.LocalFolder());
    const QFileInfoList files =
        folder.entryInfoList({QStringLiteral("*") + kCertSuffix},
                             QDir::Files | QDir::Hidden | QDir::CaseSensitive, QDir::Unsorted);
    QHash<QString, CExpiryReminder::Cache::Entry> seen;
    for (const QFileInfo& file : files) {
        if (promise.isCanceled()) {
            result.stopped = true;
            break;
        }
        const QString fileName = file.fileName();
        const QString name = fileName.chopped(kCertSuffix.size());
        if (!CInvitationInfo::IsSafeStoredName(name))
            continue;
        CExpiryReminder::Cache::Entry entry;
        entry.stamp = StampOf(file.filePath());
        const auto cached = cache.entries.constFind(fileName);
        if (cached != cache.entries.constEnd() && cached->stamp == entry.stamp) {
            entry = *cached;
        } else if (info.ReadInvitationFile(file.filePath()) && info.GetSubjectName() == name) {
            entry.readable = true;
            entry.network.subjectName = name;
            entry.network.displayName = info.GetSessionDisplayName();
            entry.network.expiry = info.GetExpiry();
            entry.network.expiryText = info.GetExpiryText();
        }
        seen.insert(fileName, entry);
        if (entry.readable)
            result.networks << entry.network;
        else
            result.unreadable << fileName;
    }
    // Files that went away are forgotten.
    if (!result.stopped)
        cache.entries = std::move(seen);
    return result;
}

QHash<QString, QDate> ReadTold(QSettings& settings)
{
    QHash<QString, QDate> told;
    settings.beginGroup(QLatin1String(CExpiryReminder::kSettingsGroup));
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys)
        told.insert(key, QDate::fromString(settings.value(key).toString(), Qt::ISODate));
    settings.endGroup();
    return told;
}

} // namespace

CExpiryReminder::CExpiryReminder(QObject* parent)
    : QObject(parent), m_cache(std::make_shared<Cache>())
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire minutes late on an hour's interval; the check
    // planned for a network's last day should come when it is due.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CExpiryReminder::CheckNow);
    connect(&m_watcher, &QFutureWatcher<CStoredScanResult>::finished, this,
            &CExpiryReminder::onCheckDone);
}

CExpiryReminder::~CExpiryReminder()
{
    // A check under way finishes on its own with the cache it shares; its
    // result goes nowhere.
    m_watcher.cancel();
}

void CExpiryReminder::Start(std::chrono::milliseconds interval)
{
    m_interval = std::max(interval, std::chrono::milliseconds(1));
    m_started = true;
    CheckNow();
}

void CExpiryReminder::Stop()
{
    m_started = false;
    m_timer.stop();
    m_watcher.cancel();
}

void CExpiryReminder::CheckNow()
{
    if (m_watcher.isRunning())
        return;
    m_timer.stop();
    auto promise = std::make_shared<QPromise<CStoredScanResult>>();
    QFuture<CStoredScanResult> future = promise->future();
    promise->start();
    std::shared_ptr<Cache> cache = m_cache;
    QThreadPool::globalInstance()->start([promise, cache] {
        promise->addResult(ReadNetworks(*cache, *promise));
        promise->finish();
        // No OpenSSL state of this task stays with the pool's thread.
        OPENSSL_thread_stop();
    });
    m_watcher.setFuture(future);
}

QList<CStoredNetwork> CExpiryReminder::Due(const QList<CStoredNetwork>& networks, std::uint64_t now,
                                           const QHash<QString, QDate>& told, QDate today)
{
    QList<CStoredNetwork> due;
    for (const CStoredNetwork& network : networks) {
        if (StoredInvitations::ExpiresSoon(network.expiry, now) &&
            told.value(network.subjectName) != today)
            due << network;
    }
    return due;
}

QString CExpiryReminder::ReminderTitle()
{
    return LoadString(IDS_REMINDER_TITLE);
}

QString CExpiryReminder::ReminderText(const QList<CStoredNetwork>& due, std::uint64_t now)
{
    const QStringList names = StoredInvitations::ListTexts(due);
    if (due.size() == 1) {
        return LoadString(IDS_REMINDER_ONE)
            .arg(names.first(), StoredInvitations::RemainingText(due.first().expiry, now),
                 due.first().expiryText);
    }
    return LoadString(IDS_REMINDER_MANY)
        .arg(QString::number(due.size()), names.join(QStringLiteral(", ")));
}

void CExpiryReminder::onCheckDone()
{
    if (m_watcher.isCanceled() || m_watcher.future().resultCount() == 0)
        return;
    const CStoredScanResult result = m_watcher.result();
    if (result.stopped)
        return;
    const std::uint64_t now = FileTime::Now();
    const QDate today = QDate::currentDate();

    std::unique_ptr<QSettings> settings(Settings::NewUserStore());
    const QHash<QString, QDate> told = ReadTold(*settings);
    const QList<CStoredNetwork> due = Due(result.networks, now, told, today);

    // Only what reached the user counts as told; without a tray the next
    // check tries again.
    const bool shown =
        !due.isEmpty() && m_notifier && m_notifier(ReminderTitle(), ReminderText(due, now));

    // Remember who was told today; forget networks that are gone, so the
    // settings never collect the names of long-dead networks.
    settings->beginGroup(QLatin1String(kSettingsGroup));
    QSet<QString> present;
    for (const CStoredNetwork& network : result.networks)
        present.insert(network.subjectName);
    for (auto it = told.cbegin(); it != told.cend(); ++it) {
        if (!present.contains(it.key()))
            settings->remove(it.key());
    }
    if (shown) {
        for (const CStoredNetwork& network : due)
            settings->setValue(network.subjectName, today.toString(Qt::ISODate));
    }
    settings->endGroup();
    settings->sync();

    if (m_started)
        planNext(result.networks, now);
    emit checked();
}

void CExpiryReminder::planNext(const QList<CStoredNetwork>& networks, std::uint64_t now)
{
    std::chrono::milliseconds next = m_interval;
    for (const CStoredNetwork& network : networks) {
        if (network.expiry <= now + StoredInvitations::kSoonTicks)
            continue;
        // The moment the network enters its last day, plus a second so that
        // the check finds it inside.
        const std::uint64_t ticks = network.expiry - StoredInvitations::kSoonTicks - now;
        const auto until = std::chrono::milliseconds(ticks / 10000 + 1000);
        next = std::min(next, until);
    }
    m_timer.start(next);
}

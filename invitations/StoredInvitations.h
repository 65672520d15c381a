#pragma once

#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// One network of the local folder whose stored invitation is still valid.
struct CStoredNetwork
{
    // The stored file's name without ".cert": what Delete and the export go by.
    QString subjectName;
    // SessionDisplayName: what the user named the network.
    QString displayName;
    // NotAfter of the network's certificate (file time, UTC).
    std::uint64_t expiry = 0;
    // The expiry in local time, "Friday, March 07, 2025 01:05:09 PM".
    QString expiryText;
};

// What one pass over the local folder found.
struct CStoredScanResult
{
    // In the order the folder gave the files.
    QList<CStoredNetwork> networks;
    // File names (without folder) that could not be read; they are left alone.
    QStringList unreadable;
    // Subject names of the expired stored invitations removed by the pass.
    QStringList deleted;
    // The pass was stopped before the end; the lists hold what came before.
    bool stopped = false;
};

namespace StoredInvitations {

// Called after each file with the number of files done and the total; the
// pass stops when it returns false.
using Progress = std::function<bool(int done, int total)>;

// Reads every "*.cert" of the local folder. A file that cannot be read is
// skipped and named in the result, never deleted, and the files after it are
// read as usual. With deleteExpired, an expired stored invitation is removed
// (only its own file inside the local folder) and not listed; without it,
// expired ones are simply left out.
CStoredScanResult Scan(const Progress& progress = {}, bool deleteExpired = true);

// Scan() on a pool thread, so that a folder of a thousand stored invitations
// never holds up the window. The future reports the progress (files done out
// of the total) and is cancelled between two files by QFuture::cancel().
QFuture<CStoredScanResult> StartScan(bool deleteExpired = true);

// The texts the network list shows, index for index: the display names, with
// the subject name added to each one that another entry shares (or that is
// empty), so two networks of the same name can be told apart. What is
// exported is unaffected.
QStringList ListTexts(const QList<CStoredNetwork>& networks);

// A network needs re-inviting soon: it ends within a day from now.
constexpr std::uint64_t kSoonTicks = 24ULL * 3600ULL * 10000000ULL;
bool ExpiresSoon(std::uint64_t expiry, std::uint64_t now);

// "expires in 3 days" (whole days from two days on), "expires in 30 hours",
// "expires in 1 minute", "expires in less than a minute", "has expired".
QString RemainingText(std::uint64_t expiry, std::uint64_t now);

// The message listing the files that could not be read, one per line.
QString UnreadableText(const QStringList& fileNames);

} // namespace StoredInvitations

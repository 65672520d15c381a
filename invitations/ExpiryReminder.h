#pragma once

#include "invitations/StoredInvitations.h"

#include <QDate>
#include <QFutureWatcher>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

// Watches the networks created on this computer and asks, through its
// notifier, for a desktop notification when one of them ends within a day,
// so that its creator can invite people again in time. Each network is
// mentioned at most once per calendar day, also across restarts (the days
// are kept in the per-user settings); nothing is said when none is close.
//
// The stored invitations are read on a pool thread, and a file is read again
// only when it has changed since the last check, so an hourly check of a
// large folder costs next to nothing. The folder is never changed here.
class CExpiryReminder : public QObject
{
    Q_OBJECT
public:
    // Per-user settings group: network name -> day of its last reminder.
    static constexpr const char* kSettingsGroup = "ExpiryReminders";

    // Shows one notification; false when it could not be shown (no tray), in
    // which case the networks count as not yet mentioned.
    using Notifier = std::function<bool(const QString& title, const QString& text)>;

    explicit CExpiryReminder(QObject* parent = nullptr);
    ~CExpiryReminder() override;

    void SetNotifier(Notifier notifier) { m_notifier = std::move(notifier); }

    // Checks now and again after interval, or earlier when a network enters
    // its last day before that.
    void Start(std::chrono::milliseconds interval = std::chrono::hours(1));
    void Stop();
    // One check now unless one is under way.
    void CheckNow();
    bool IsChecking() const { return m_watcher.isRunning(); }
    // Time until the next planned check (negative when none is planned).
    int RemainingTimeMs() const { return m_timer.isActive() ? m_timer.remainingTime() : -1; }

    // The networks to mention now: ending within a day from now and not yet
    // mentioned today.
    static QList<CStoredNetwork> Due(const QList<CStoredNetwork>& networks, std::uint64_t now,
                                     const QHash<QString, QDate>& told, QDate today);
    // Notification title and text for the networks due.
    static QString ReminderTitle();
    static QString ReminderText(const QList<CStoredNetwork>& due, std::uint64_t now);

    // What the last check read, by file; shared with a check under way.
    struct Cache;

signals:
    // A check has finished (whether or not it found anything).
    void checked();

private:
    void onCheckDone();
    void planNext(const QList<CStoredNetwork>& networks, std::uint64_t now);

    Notifier m_notifier;
    QTimer m_timer;
    QFutureWatcher<CStoredScanResult> m_watcher;
    std::shared_ptr<Cache> m_cache;
    std::chrono::milliseconds m_interval{std::chrono::hours(1)};
    bool m_started = false;
};

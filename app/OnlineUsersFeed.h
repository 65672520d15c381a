#pragma once

#include "servicelink/EventNotify.h"
#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"

#include <QList>
#include <QObject>
#include <QString>

// The running networks and their peers as the service publishes them,
// followed live: re-read on every peer-change signal and on request. Kept
// apart from the tree widget so that a program living only in the tray
// follows the service without building any widget.
class COnlineUsersFeed : public QObject
{
    Q_OBJECT
public:
    explicit COnlineUsersFeed(QObject* parent = nullptr);
    ~COnlineUsersFeed() override;

    // Opens the peer-change event and starts watching it; a running watch is
    // left as it is. Does not read the shared state: Refresh does.
    void Start();
    // Ends the watch and closes the event.
    void Stop();
    bool IsWatching() const { return m_event.IsOpen(); }

    // Re-reads the shared state and announces the new list.
    void Refresh();
    QList<_CLIENT_INFORMATION> Clients() const { return m_clients; }
    int RefreshCount() const { return m_refreshCount; }

    // The text form the tree's debug dump uses ("network\n\tpeer\n..."): one
    // network line per network name, in order of first appearance, with the
    // display text of its first record, then its peers.
    static QString DumpText(const QList<_CLIENT_INFORMATION>& clients);

signals:
    void changed();

private:
    CUITVLSession m_sessions;
    CPeerChangeEvent m_event;
    CEventNotify m_notify;
    QList<_CLIENT_INFORMATION> m_clients;
    int m_refreshCount = 0;
};

#pragma once

#include "servicelink/EventNotify.h"
#include "sessions/SectionReader.h"
#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"

#include <QList>
#include <QObject>
#include <QString>

// The running networks and their peers as the service publishes them,
// followed live: re-read on every peer-change signal and on request. Kept
// apart from the tree widget so that a program living only in the tray
// follows the service without building any widget.
//
// The reading itself happens on a thread of its own (CSectionReader): this
// object's thread, the window's, never waits for the section lock. Until a
// read gets through, Clients() is the last good list.
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

    // Asks for the shared state to be read again and returns at once;
    // changed() follows when the new list is in. Requests made meanwhile are
    // merged into one more read.
    void Refresh();
    QList<_CLIENT_INFORMATION> Clients() const { return m_clients; }
    // Reads of the shared state finished so far (several that finish before
    // the window gets to them are taken in as one list).
    int RefreshCount() const { return m_refreshCount; }
    // True while a read has been waiting too long for the section lock: the
    // list shown may be out of date.
    bool IsStale() const { return m_stale; }

    // The text form the tree's debug dump uses ("network\n\tpeer\n..."): one
    // network line per network name, in order of first appearance, with the
    // display text of its first record, then its peers.
    static QString DumpText(const QList<_CLIENT_INFORMATION>& clients);

signals:
    void changed();
    void staleChanged(bool stale);

private:
    void takeReaderOutcome();

    CPeerChangeEvent m_event;
    CEventNotify m_notify;
    QList<_CLIENT_INFORMATION> m_clients;
    int m_refreshCount = 0;
    bool m_stale = false;
    // Last: it ends (and stops calling back) before the members above go.
    CSectionReader m_reader;
};

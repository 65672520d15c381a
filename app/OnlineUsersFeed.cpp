#include "app/OnlineUsersFeed.h"

#include "foundation/TraceLog.h"

#include <QHash>

COnlineUsersFeed::COnlineUsersFeed(QObject* parent)
    : QObject(parent), m_reader([this] {
          // On the reader's thread: the outcome is collected on ours. A call
          // still queued when this object goes is dropped with it.
          QMetaObject::invokeMethod(this, &COnlineUsersFeed::takeReaderOutcome,
                                    Qt::QueuedConnection);
      })
{
}

COnlineUsersFeed::~COnlineUsersFeed()
{
    Stop();
}

void COnlineUsersFeed::Start()
{
    if (m_event.IsOpen())
        return;
    if (!m_event.Open()) {
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(QStringLiteral("Peer-change event not available: ") +
                             m_event.ErrorText());
        return;
    }
    m_notify.Start(
        this,
        [this] {
            m_event.Consume();
            Refresh();
        },
        m_event.Descriptor());
}

void COnlineUsersFeed::Stop()
{
    m_notify.Stop();
    m_event.Close();
}

void COnlineUsersFeed::Refresh()
{
    m_reader.Request();
}

void COnlineUsersFeed::takeReaderOutcome()
{
    CSectionReader::Outcome outcome = m_reader.Take();
    if (outcome.stale != m_stale) {
        m_stale = outcome.stale;
        // Once per wait: the list shown is the last good one.
        if (m_stale && (TraceLevel() & TRACE_ERROR))
            CTraceLog::Trace(QStringLiteral("Session list lock held by another process; "
                                            "showing the last list read"));
        emit staleChanged(m_stale);
    }
    if (!outcome.hasList)
        return;
    m_clients = std::move(outcome.clients);
    // Reads that finished before this call are taken in as one list.
    m_refreshCount += outcome.reads;
    emit changed();
}

QString COnlineUsersFeed::DumpText(const QList<_CLIENT_INFORMATION>& clients)
{
    QList<QString> order;
    QHash<QString, QString> networkLine;
    QHash<QString, QString> peerLines;
    for (const _CLIENT_INFORMATION& client : clients) {
        const QString name = client.NetworkName();
        if (!networkLine.contains(name)) {
            order.append(name);
            networkLine.insert(name, client.NetworkDisplayText() + QLatin1Char('\n'));
        }
        peerLines[name] += QLatin1Char('\t') + client.PeerName() + QLatin1Char('\n');
    }
    QString text;
    for (const QString& name : std::as_const(order))
        text += networkLine.value(name) + peerLines.value(name);
    return text;
}

#include "app/OnlineUsersFeed.h"

#include "foundation/TraceLog.h"

#include <QHash>

COnlineUsersFeed::COnlineUsersFeed(QObject* parent) : QObject(parent) {}

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
    m_sessions.Refresh();
    m_clients = m_sessions.GetClients();
    ++m_refreshCount;
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

#pragma once

#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"

#include <QFile>
#include <QStringList>

// Publishes a session list into the test's runtime folder the way the service
// does (whole file, then a write to the peer-change event).
struct SectionWriter
{
    struct Network
    {
        QString name;
        QString display;
        QStringList peers;
    };

    static bool Publish(const QList<Network>& networks)
    {
        ISessionContainerWriter container;
        for (const Network& network : networks) {
            CTVLSession* session = container.GetOrCreateSession(network.name);
            session->SetDisplayText(network.display);
            for (const QString& peer : network.peers) {
                PeerRecord record;
                record.SetFlag(1);
                record.SetPeerName(peer);
                session->Peers().Append(record);
            }
        }
        CSharedSection image(CSharedSection::WriteTag{},
                             static_cast<quint32>(container.RequiredPayloadBytes()));
        if (!container.WriteSessions(image))
            return false;
        const QString path = SharedNames::EntryPath(SharedNames::SectionName());
        QFile file(path + QStringLiteral(".new"));
        if (!file.open(QIODevice::WriteOnly) || file.write(image.Image()) != image.Image().size())
            return false;
        file.close();
        QFile::remove(path);
        return QFile::rename(path + QStringLiteral(".new"), path);
    }

    static bool Signal()
    {
        QFile event(SharedNames::EntryPath(SharedNames::PeerNotifyName()));
        if (!event.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        return event.write("x", 1) == 1;
    }

private:
    class ISessionContainerWriter : public ISessionContainer
    {
    };
};

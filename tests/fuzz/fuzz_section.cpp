// The session list that the service publishes: the input is the whole
// section file, which the tree's container maps and reads as the program
// does on every peer change.
//
// Properties:
// - the client list holds every peer of every session, at most 65535, and
//   only records the writer marked as peers;
// - what was read, written back by the program's own writer and read again,
//   gives the same sessions, peers and tunnels (reading is stable: nothing
//   of a damaged list is half-taken).
#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QStringList>

#include <cstdint>
#include <cstring>

namespace {

TestEnvironment* g_environment = nullptr;

bool Publish(const QByteArray& image)
{
    QFile file(SharedNames::EntryPath(SharedNames::SectionName()));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(image) == image.size();
}

QString Hex(const void* bytes, std::size_t size)
{
    return QString::fromLatin1(
        QByteArray(static_cast<const char*>(bytes), qsizetype(size)).toHex());
}

// Everything the container holds, as comparable text.
class Snapshot : public CUITVLSession
{
public:
    // One line per session, in the order of the names as a writer stores
    // them: a field of 260 units that the reader took whole comes back as
    // 259 and its terminator, and a high surrogate at the cut goes, so the
    // key (and with it the map's order) of such a name may change.
    QStringList Describe() const
    {
        QStringList lines;
        for (const auto& [key, session] : m_sessions) {
            unsigned char name[SectionLayout::kTextFieldBytes];
            EncodeTextField(session->Name(), name);
            QString line = QStringLiteral("session name=%1 display=%2 header=%3")
                               .arg(Hex(name, sizeof name),
                                    Hex(session->DisplayField(), SectionLayout::kTextFieldBytes),
                                    QString::fromLatin1(session->Peers().Header().toHex()));
            for (const PeerRecord& peer : session->Peers().GetPeers())
                line += QStringLiteral(" peer ") + Hex(peer.bytes.data(), peer.bytes.size());
            for (const TunnelRecord& tunnel : session->Tunnels().GetTunnels())
                line += QStringLiteral(" tunnel ") + Hex(tunnel.bytes.data(), tunnel.bytes.size());
            lines << line;
        }
        lines.sort();
        return lines;
    }

    // The written image of the sessions held.
    QByteArray Write() const
    {
        CSharedSection section(CSharedSection::WriteTag{}, quint32(RequiredPayloadBytes()));
        FUZZ_CHECK(WriteSessions(section), QStringLiteral("sessions did not fit the capacity"));
        return section.Image();
    }

    qsizetype PeerTotal() const
    {
        qsizetype total = 0;
        for (const auto& [key, session] : m_sessions) {
            for (const PeerRecord& peer : session->Peers().GetPeers()) {
                FUZZ_CHECK(peer.Flag() != 0, session->Name());
                ++total;
            }
        }
        return total;
    }
};

// Where two descriptions part, shortened to what can be read.
QString FirstDifference(const QStringList& a, const QStringList& b)
{
    qsizetype line = 0;
    while (line < a.size() && line < b.size() && a[line] == b[line])
        ++line;
    auto excerpt = [line](const QStringList& lines, const QStringList& other) {
        if (line >= lines.size())
            return QStringLiteral("(nothing)");
        const QString& text = lines[line];
        const QString other_ = line < other.size() ? other[line] : QString();
        qsizetype at = 0;
        while (at < text.size() && at < other_.size() && text[at] == other_[at])
            ++at;
        return QStringLiteral("%1 ...[%2] %3").arg(text.left(40)).arg(at).arg(text.mid(at, 80));
    };
    return QStringLiteral("line %1 of %2/%3\n  read:  %4\n  again: %5")
        .arg(line)
        .arg(a.size())
        .arg(b.size())
        .arg(excerpt(a, b), excerpt(b, a));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_environment = new TestEnvironment;
    if (!g_environment->isValid())
        Fuzz::Fail(__FILE__, __LINE__, "temporary folders", QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray image(reinterpret_cast<const char*>(data), qsizetype(size));
    FUZZ_CHECK(Publish(image), QString());

    // The reading thread's way: never waiting on the lock (nobody else
    // holds it here).
    const auto giveUp = [] { return false; };
    Snapshot first;
    FUZZ_CHECK(first.Refresh(giveUp), QStringLiteral("section lock busy"));
    const QList<_CLIENT_INFORMATION> clients = first.GetClients();
    const qsizetype peers = first.PeerTotal();
    FUZZ_CHECK(clients.size() == qMin<qsizetype>(peers, CUITVLSession::kMaxClients),
               QStringLiteral("%1 clients for %2 peers").arg(clients.size()).arg(peers));
    for (const _CLIENT_INFORMATION& client : clients) {
        FUZZ_CHECK(client.peer.Flag() != 0, client.PeerName());
        // The network name is the session's key: a session of that name
        // must exist.
        FUZZ_CHECK(first.FindSession(client.NetworkName()) != nullptr, client.NetworkName());
    }
    if (size < 4)
        return 0;

    const QStringList described = first.Describe();
    const QByteArray rewritten = first.Write();
    FUZZ_CHECK(Publish(rewritten), QString());
    Snapshot second;
    FUZZ_CHECK(second.Refresh(giveUp), QStringLiteral("section lock busy"));
    const QStringList again = second.Describe();
    FUZZ_CHECK(again == described, FirstDifference(described, again));
    return 0;
}

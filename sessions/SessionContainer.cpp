#include "sessions/SessionContainer.h"

#include <QtEndian>

#include <chrono>
#include <cstring>

using namespace SectionLayout;

// Client records carry the section's UTF-16LE text as char16_t unchanged.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);

namespace {
// A count as stored: signed 32-bit, where 0 or less means none.
qint32 ReadCount(CSharedSection& section)
{
    unsigned char raw[kCountBytes];
    if (!section.Read(raw, kCountBytes))
        return 0;
    return qFromLittleEndian<qint32>(raw);
}

void WriteCount(CSharedSection& section, qsizetype count)
{
    unsigned char raw[kCountBytes];
    qToLittleEndian<qint32>(qint32(qMin<qsizetype>(count, 0x7FFFFFFF)), raw);
    section.Write(raw, kCountBytes);
}

// The records are large and numerous: the C library's copy, chosen at run
// time for this processor, is much faster than the string instructions the
// compiler inlines for a copy of known size. (clang has no noipa; keeping
// the call out of line is what matters there.)
#if defined(__clang__)
__attribute__((noinline))
#else
__attribute__((noipa))
#endif
void CopyBytes(void* destination, const void* source, std::size_t bytes)
{
    std::memcpy(destination, source, bytes);
}

// How many records of `recordBytes` can still fit: a reservation never
// trusts the count, which may be damaged.
qsizetype RecordsThatFit(const CSharedSection& section, qint32 count, quint32 recordBytes)
{
    const quint64 room = section.Capacity() - qMin(section.Cursor(), section.Capacity());
    return qsizetype(qMin<quint64>(quint64(count), room / recordBytes));
}
} // namespace

// ---------------------------------------------------------------------------

quint32 PeerRecord::Flag() const
{
    return qFromLittleEndian<quint32>(bytes.data() + kPeerFlagOffset);
}

QString PeerRecord::PeerName() const
{
    return DecodeTextField(bytes.data() + kPeerNameOffset);
}

QString PeerRecord::SecondText() const
{
    return DecodeTextField(bytes.data() + kPeerSecondTextOffset);
}

void PeerRecord::SetFlag(quint32 value)
{
    qToLittleEndian<quint32>(value, bytes.data() + kPeerFlagOffset);
}

void PeerRecord::SetPeerName(const QString& name)
{
    EncodeTextField(name, bytes.data() + kPeerNameOffset);
}

void PeerRecord::SetSecondText(const QString& text)
{
    EncodeTextField(text, bytes.data() + kPeerSecondTextOffset);
}

QString _CLIENT_INFORMATION::NetworkDisplayText() const
{
    return DecodeTextField(networkDisplayText);
}

QString _CLIENT_INFORMATION::NetworkName() const
{
    return DecodeTextField(networkName);
}

// ---------------------------------------------------------------------------

void CConnectedPeerListConf::Serialize(CSharedSection& section)
{
    CNamedLockGuard sectionLock(section.Lock());
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!section.IsReading()) {
        WriteCount(section, m_peers.size());
        section.Write(m_header.data(), kPeerHeaderBytes);
        for (const PeerRecord& peer : std::as_const(m_peers)) {
            if (!section.Write(peer.bytes.data(), kPeerRecordBytes))
                break;
        }
        return;
    }

    m_peers.clear();
    const qint32 count = ReadCount(section);
    section.Read(m_header.data(), kPeerHeaderBytes);
    if (count <= 0)
        return;
    m_peers.reserve(RecordsThatFit(section, count, kPeerRecordBytes));
    // The used length cannot change while the section lock is held.
    const quint64 used = section.UsedLength();
    for (qint32 i = 0; i < count; ++i) {
        // Read straight into the list: a session list can hold many
        // thousands of records, and each extra copy shows.
        PeerRecord& record = m_peers.emplaceBack();
        // A record read only partly is no record; once one does not fit,
        // none behind it can.
        if (!section.Read(record.bytes.data(), kPeerRecordBytes)) {
            m_peers.removeLast();
            break;
        }
        // Records written after the used length was last moved, and slots
        // the writer marks as empty, advance the cursor but are not peers.
        if (section.Cursor() > used || record.Flag() == 0)
            m_peers.removeLast();
    }
}

QList<PeerRecord> CConnectedPeerListConf::GetPeers() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_peers;
}

int CConnectedPeerListConf::Count() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return int(m_peers.size());
}

void CConnectedPeerListConf::Append(const PeerRecord& record)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_peers.append(record);
}

bool CConnectedPeerListConf::RemoveByName(const QString& peerName)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_peers.removeIf([&](const PeerRecord& peer) { return peer.PeerName() == peerName; }) >
           0;
}

void CConnectedPeerListConf::Clear()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_peers.clear();
}

QByteArray CConnectedPeerListConf::Header() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return QByteArray(reinterpret_cast<const char*>(m_header.data()), kPeerHeaderBytes);
}

void CConnectedPeerListConf::SetHeader(const QByteArray& header16)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_header.fill(0);
    std::memcpy(m_header.data(), header16.constData(),
                std::size_t(qMin<qsizetype>(header16.size(), kPeerHeaderBytes)));
}

// ---------------------------------------------------------------------------

void CTunnelPortConf::Serialize(CSharedSection& section)
{
    CNamedLockGuard sectionLock(section.Lock());
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!section.IsReading()) {
        WriteCount(section, m_tunnels.size());
        for (const TunnelRecord& tunnel : std::as_const(m_tunnels)) {
            if (!section.Write(tunnel.bytes.data(), kTunnelRecordBytes))
                break;
        }
        return;
    }

    m_tunnels.clear();
    const qint32 count = ReadCount(section);
    if (count <= 0)
        return;
    m_tunnels.reserve(RecordsThatFit(section, count, kTunnelRecordBytes));
    const quint64 used = section.UsedLength();
    TunnelRecord record;
    for (qint32 i = 0; i < count; ++i) {
        if (!section.Read(record.bytes.data(), kTunnelRecordBytes))
            break;
        if (section.Cursor() > used)
            continue;
        m_tunnels.append(record);
    }
}

QList<TunnelRecord> CTunnelPortConf::GetTunnels() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_tunnels;
}

int CTunnelPortConf::Count() const
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return int(m_tunnels.size());
}

void CTunnelPortConf::Append(const TunnelRecord& record)
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_tunnels.append(record);
}

void CTunnelPortConf::Clear()
{
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_tunnels.clear();
}

// ---------------------------------------------------------------------------

CTVLSession::CTVLSession(ISessionContainer* owner)
    : m_owner(owner), m_created(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count())
{
}

CTVLSession::~CTVLSession() = default;

void CTVLSession::Serialize(CSharedSection& section)
{
    CNamedLockGuard sectionLock(section.Lock());
    if (section.IsReading()) {
        unsigned char field[kTextFieldBytes];
        // A display text cut off by the capacity leaves the previous one.
        if (section.Read(field, kTextFieldBytes))
            std::memcpy(m_display, field, kTextFieldBytes);
    } else {
        section.Write(m_display, kTextFieldBytes);
    }
    m_peers.Serialize(section);
    m_tunnels.Serialize(section);
}

QString CTVLSession::DisplayText() const
{
    return DecodeTextField(m_display);
}

void CTVLSession::SetDisplayText(const QString& text)
{
    EncodeTextField(text, m_display);
}

// ---------------------------------------------------------------------------

ISessionContainer::~ISessionContainer()
{
    RemoveAllSessions();
}

QByteArray ISessionContainer::NarrowKey(const QString& name)
{
    constexpr qsizetype kMaxKeyBytes = kTextFieldUnits - 1;
    QByteArray key = name.toUtf8();
    if (key.size() > kMaxKeyBytes) {
        qsizetype cut = kMaxKeyBytes;
        // Back up to the first byte of the character the cut falls into.
        while (cut > 0 && (static_cast<unsigned char>(key.at(cut)) & 0xC0) == 0x80)
            --cut;
        key.truncate(cut);
    }
    return key;
}

CTVLSession* ISessionContainer::GetOrCreateSession(const QString& name)
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    const QByteArray key = NarrowKey(name);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    auto it = m_sessions.find(key);
    if (it != m_sessions.end()) {
        it->second->AddRef();
        it->second->SetName(name);
        return it->second.get();
    }
    auto session = std::make_unique<CTVLSession>(this);
    session->SetName(name);
    CTVLSession* result = session.get();
    m_sessions.emplace(key, std::move(session));
    return result;
}

CTVLSession* ISessionContainer::FindSession(const QString& name) const
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    auto it = m_sessions.find(NarrowKey(name));
    return it == m_sessions.end() ? nullptr : it->second.get();
}

bool ISessionContainer::RemoveSession(const QString& name)
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    return m_sessions.erase(NarrowKey(name)) > 0;
}

void ISessionContainer::RemoveAllSessions()
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    m_sessions.clear();
}

int ISessionContainer::SessionCount() const
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    return int(m_sessions.size());
}

void ISessionContainer::ReadSessions(CSharedSection& section)
{
    CNamedLockGuard sectionLock(section.Lock());
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    RemoveAllSessions();
    section.Rewind();
    if (section.UsedLength() == 0)
        return;
    unsigned char name[kTextFieldBytes];
    for (;;) {
        if (!section.Read(name, kTextFieldBytes))
            break;
        // A name that ends past the used length was never completed.
        if (section.Cursor() > section.UsedLength())
            break;
        GetOrCreateSession(DecodeTextField(name))->Serialize(section);
    }
}

bool ISessionContainer::WriteSessions(CSharedSection& section) const
{
    CNamedLockGuard sectionLock(section.Lock());
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    section.Rewind();
    unsigned char name[kTextFieldBytes];
    for (const auto& [key, session] : m_sessions) {
        EncodeTextField(session->Name(), name);
        if (!section.Write(name, kTextFieldBytes))
            break;
        session->Serialize(section);
        if (section.Overflowed())
            break;
    }
    return !section.Overflowed();
}

quint64 ISessionContainer::RequiredPayloadBytes() const
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    quint64 bytes = 0;
    for (const auto& [key, session] : m_sessions) {
        bytes += 2 * kTextFieldBytes + kCountBytes + kPeerHeaderBytes + kCountBytes;
        bytes += quint64(session->Peers().Count()) * kPeerRecordBytes;
        bytes += quint64(session->Tunnels().Count()) * kTunnelRecordBytes;
    }
    return bytes;
}

// ---------------------------------------------------------------------------

CUITVLSession::~CUITVLSession() = default;

void CUITVLSession::Refresh()
{
    Refresh(KeepWaiting());
}

bool CUITVLSession::Refresh(const KeepWaiting& keepWaiting)
{
    CSharedSection section;
    CNamedLock& lock = section.Lock();
    // Held for the whole pass; the reads inside take it again (counted).
    bool held = false;
    if (!keepWaiting) {
        held = lock.Lock();
    } else {
        for (;;) {
            const CNamedLock::Attempt attempt = lock.TryLock();
            if (attempt == CNamedLock::Attempt::Taken) {
                held = true;
                break;
            }
            if (attempt == CNamedLock::Attempt::Failed)
                break; // no usable lock: read unguarded
            if (!keepWaiting())
                return false;
        }
    }
    // Opened under the lock, so a file renamed into place meanwhile is the
    // one read. A missing section keeps the sessions of the last good read.
    if (section.Open())
        ReadSessions(section);
    if (held)
        lock.Unlock();
    rebuildClients();
    return true;
}

void CUITVLSession::rebuildClients()
{
    std::lock_guard<std::recursive_mutex> container(m_containerLock);
    std::lock_guard<std::recursive_mutex> map(m_mapLock);
    std::lock_guard<std::recursive_mutex> clients(m_clientLock);
    m_clients.clear();
    qsizetype total = 0;
    for (const auto& [key, session] : m_sessions)
        total += session->Peers().Count();
    m_clients.reserve(qMin<qsizetype>(total, kMaxClients));

    // The network part is the same for every peer of a session: made once,
    // then copied beside each peer record straight into the list.
    constexpr std::size_t kNetworkPart = sizeof(_CLIENT_INFORMATION) - sizeof(PeerRecord);
    char16_t network[2 * kTextFieldUnits];
    for (const auto& [key, session] : m_sessions) {
        const QList<PeerRecord> peers = session->Peers().GetPeers();
        if (peers.isEmpty())
            continue;
        std::memset(network, 0, sizeof network);
        std::memcpy(network, session->DisplayField(), (kTextFieldUnits - 1) * sizeof(char16_t));
        const QString networkName = QString::fromUtf8(key);
        const qsizetype nameUnits = qMin<qsizetype>(networkName.size(), kTextFieldUnits - 1);
        std::memcpy(network + kTextFieldUnits, networkName.utf16(), std::size_t(nameUnits) * 2);
        for (const PeerRecord& peer : peers) {
            if (m_clients.size() >= kMaxClients)
                return;
            _CLIENT_INFORMATION& client = m_clients.emplaceBack();
            CopyBytes(client.peer.bytes.data(), peer.bytes.data(), sizeof(PeerRecord));
            CopyBytes(client.networkDisplayText, network, kNetworkPart);
        }
    }
}

QList<_CLIENT_INFORMATION> CUITVLSession::GetClients() const
{
    std::lock_guard<std::recursive_mutex> clients(m_clientLock);
    return m_clients;
}

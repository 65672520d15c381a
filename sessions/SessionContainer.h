#pragma once

#include "sessions/SharedSection.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// One peer as the service writes it (1068 bytes, kept byte for byte).
struct PeerRecord
{
    std::array<unsigned char, SectionLayout::kPeerRecordBytes> bytes{};

    quint32 Flag() const; // first 32-bit field; 0 = not a peer
    QString PeerName() const;
    QString SecondText() const;
    void SetFlag(quint32 value);
    void SetPeerName(const QString& name);
    void SetSecondText(const QString& text);
};
static_assert(sizeof(PeerRecord) == SectionLayout::kPeerRecordBytes);

// One tunnelled port (536 bytes, not interpreted by the program).
struct TunnelRecord
{
    std::array<unsigned char, SectionLayout::kTunnelRecordBytes> bytes{};
};
static_assert(sizeof(TunnelRecord) == SectionLayout::kTunnelRecordBytes);

// One peer of one network as the tree shows it (2108 bytes).
struct _CLIENT_INFORMATION
{
    PeerRecord peer;                                             // offset 0
    char16_t networkDisplayText[SectionLayout::kTextFieldUnits]; // offset 1068
    char16_t networkName[SectionLayout::kTextFieldUnits];        // offset 1588

    QString PeerName() const { return peer.PeerName(); }
    QString NetworkDisplayText() const;
    QString NetworkName() const;
};
static_assert(sizeof(_CLIENT_INFORMATION) == 2108);
static_assert(offsetof(_CLIENT_INFORMATION, networkDisplayText) == 1068);
static_assert(offsetof(_CLIENT_INFORMATION, networkName) == 1588);

// Plain bytes: lists of them are copied with memcpy, not member by member.
Q_DECLARE_TYPEINFO(PeerRecord, Q_PRIMITIVE_TYPE);
Q_DECLARE_TYPEINFO(TunnelRecord, Q_PRIMITIVE_TYPE);
Q_DECLARE_TYPEINFO(_CLIENT_INFORMATION, Q_PRIMITIVE_TYPE);

// Reads or writes an object at the section's cursor, as the section's
// direction says.
class ISerialize
{
public:
    virtual ~ISerialize() = default;
    virtual void Serialize(CSharedSection& section) = 0;
};

class CConnectedPeerListConf : public ISerialize
{
public:
    void Serialize(CSharedSection& section) override;

    // A copy of every record in list order (implicitly shared, so handing it
    // out costs nothing until someone changes the list).
    QList<PeerRecord> GetPeers() const;
    int Count() const;

    // Used by the writing side (the stand-in service).
    void Append(const PeerRecord& record);
    bool RemoveByName(const QString& peerName); // every record of that name
    void Clear();
    QByteArray Header() const;
    void SetHeader(const QByteArray& header16);

private:
    mutable std::recursive_mutex m_lock;
    QList<PeerRecord> m_peers;
    std::array<unsigned char, SectionLayout::kPeerHeaderBytes> m_header{};
};

class CTunnelPortConf : public ISerialize
{
public:
    void Serialize(CSharedSection& section) override;

    QList<TunnelRecord> GetTunnels() const;
    int Count() const;
    void Append(const TunnelRecord& record);
    void Clear();

private:
    mutable std::recursive_mutex m_lock;
    QList<TunnelRecord> m_tunnels;
};

class ISessionContainer;

class CTVLSession
{
public:
    explicit CTVLSession(ISessionContainer* owner);
    virtual ~CTVLSession();
    CTVLSession(const CTVLSession&) = delete;
    CTVLSession& operator=(const CTVLSession&) = delete;

    // Everything of the entry after its name: display text, peers, tunnels.
    void Serialize(CSharedSection& section);

    CConnectedPeerListConf& Peers() { return m_peers; }
    const CConnectedPeerListConf& Peers() const { return m_peers; }
    CTunnelPortConf& Tunnels() { return m_tunnels; }
    const CTunnelPortConf& Tunnels() const { return m_tunnels; }

    QString DisplayText() const;
    void SetDisplayText(const QString& text);
    // The name as it was read or given (the map key is its cut UTF-8 form).
    QString Name() const { return m_name; }
    void SetName(const QString& name) { m_name = name; }

    int ReferenceCount() const { return m_refCount.load(); }
    void AddRef() { m_refCount.fetch_add(1); }
    ISessionContainer* Owner() const { return m_owner; }
    qint64 CreationTime() const { return m_created; }

    // The raw 520-byte field as stored (kept so copies stay exact).
    const char16_t* DisplayField() const { return m_display; }

private:
    CConnectedPeerListConf m_peers;
    CTunnelPortConf m_tunnels;
    char16_t m_display[SectionLayout::kTextFieldUnits] = {};
    std::atomic<int> m_refCount{1};
    ISessionContainer* m_owner;
    qint64 m_created;
    QString m_name;
};

class ISessionChangeNotify
{
public:
    virtual ~ISessionChangeNotify() = default;
    // Not called by the program; kept for the service side of the design.
    virtual void OnSessionChange() {}
};

class ISessionContainer : public ISessionChangeNotify
{
public:
    ISessionContainer() = default;
    ~ISessionContainer() override;
    ISessionContainer(const ISessionContainer&) = delete;
    ISessionContainer& operator=(const ISessionContainer&) = delete;

    // The map key of a session name: UTF-8, cut to 259 bytes without
    // splitting a character.
    static QByteArray NarrowKey(const QString& name);

    // Finds the session by narrow key (and takes a reference) or creates it.
    CTVLSession* GetOrCreateSession(const QString& name);
    CTVLSession* FindSession(const QString& name) const;
    bool RemoveSession(const QString& name);
    void RemoveAllSessions();
    int SessionCount() const;

    // The reading pass over an open section, under its lock.
    void ReadSessions(CSharedSection& section);
    // The writing direction: every session in map order; false when not
    // everything fitted into the capacity.
    bool WriteSessions(CSharedSection& section) const;
    // Bytes that WriteSessions needs for the current sessions.
    quint64 RequiredPayloadBytes() const;

protected:
    mutable std::recursive_mutex m_containerLock;
    mutable std::recursive_mutex m_mapLock;
    // Ordered by plain byte comparison of the UTF-8 keys.
    std::map<QByteArray, std::unique_ptr<CTVLSession>> m_sessions;
};

// The container the tree uses: sessions plus the flattened client list.
class CUITVLSession : public ISessionContainer
{
public:
    CUITVLSession() = default;
    ~CUITVLSession() override;

    // Re-reads the section (keeping the last good sessions when it is
    // missing) and rebuilds the client list. Waits for the section lock
    // without time-out.
    void Refresh();
    // The same, but never blocks on the section lock: while another holder
    // keeps it, keepWaiting is called between attempts (it may sleep) and
    // the refresh is abandoned, with nothing changed, once it returns false.
    using KeepWaiting = std::function<bool()>;
    bool Refresh(const KeepWaiting& keepWaiting);
    // A copy of the client list (implicitly shared), at most 65535 records.
    QList<_CLIENT_INFORMATION> GetClients() const;

    static constexpr int kMaxClients = 65535;

private:
    void rebuildClients();

    mutable std::recursive_mutex m_clientLock;
    QList<_CLIENT_INFORMATION> m_clients;
};

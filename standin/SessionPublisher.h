#pragma once

#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"

#include <QObject>
#include <QString>

class ControlChannel;
class StandinService;
struct CreateRequest;
struct CreateResult;
struct JoinRequest;
struct JoinResult;

// The service's side of the shared state: keeps the running networks, their
// peers and tunnels, writes them into the session-list section with the
// writing direction of the program's own serializers (holding the section
// lock), and signals the peer-change event after each change.
//
// The section file is created at its full size and never shrinks; a larger
// capacity is a new file renamed over the old one, so a reader's open view
// always keeps valid pages.
class SessionPublisher : public QObject
{
    Q_OBJECT
public:
    static constexpr quint32 kInitialCapacity = 64 * 1024;

    explicit SessionPublisher(QObject* parent = nullptr);
    // Removes the section: with the service gone, readers find it missing.
    ~SessionPublisher() override;

    // Opens the lock and the event and publishes the (empty) list.
    bool start(QString* error = nullptr);
    // Follows the service's creates, joins and close requests.
    void attach(StandinService& service);
    void registerCommands(ControlChannel& control);

    bool addNetwork(const QString& name, const QString& display, QString* error = nullptr);
    bool removeNetwork(const QString& name, QString* error = nullptr);
    bool addPeer(const QString& session, const QString& name, const QString& secondText,
                 QString* error = nullptr);
    bool removePeer(const QString& session, const QString& name, QString* error = nullptr);
    bool addTunnel(const QString& session, quint32 port, const QString& protocol,
                   const QString& application, QString* error = nullptr);
    bool clearTunnels(const QString& session, QString* error = nullptr);
    // Puts the bytes of `file` in place of the section as they are (damaged
    // images included) and signals; the next change writes the model again.
    bool writeRaw(const QString& file, QString* error = nullptr);
    // Takes the section lock now and releases it after ms (event loop runs).
    bool holdLock(int ms, QString* error = nullptr);
    // Ends every hold now (their timers then do nothing); the number ended.
    int releaseLocks();
    bool signal(QString* error = nullptr);
    // One line per network: name, display text and peers.
    QString describe() const;

    quint64 capacity() const { return m_capacity; }
    quint64 signalsSent() const { return m_signals; }

    // A simulated peer record: flag set, an address-like second text.
    static PeerRecord makePeer(const QString& name, const QString& secondText, quint32 index);
    // A tunnel record: port (32-bit), protocol number (32-bit), 8 bytes
    // reserved, then the application name as a 520-byte text field.
    static TunnelRecord makeTunnel(quint32 port, quint32 protocol, const QString& application);

private:
    void onCreated(const CreateRequest& request, const CreateResult& result);
    void onJoined(const JoinRequest& request, const JoinResult& result);
    void onCloseRequested(const QString& sessionName);
    // Writes the model into the section, then signals.
    bool publish(QString* error);
    bool replaceSectionFile(const QByteArray& bytes, QString* error);
    bool writeInPlace(const QByteArray& bytes, QString* error);

    ISessionContainer m_model;
    CNamedLock m_lock;
    int m_eventFd = -1;
    quint64 m_capacity = kInitialCapacity;
    // False after a raw image replaced the file: the next publish makes a
    // full-size file again instead of writing into the raw one.
    bool m_fileIsOurs = false;
    int m_heldLocks = 0;
    int m_holdGeneration = 0;
    quint64 m_signals = 0;
    quint32 m_nextPeerIndex = 1;
};

// Creates the publisher (owned by the service), starts it, follows the
// service's signals and registers the control commands.
void registerSessionCommands(StandinService& service, ControlChannel& control);

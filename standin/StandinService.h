#pragma once

#include "foundation/SharedLogFile.h"
#include "servicelink/RPCExecute.h"
#include "standin/ClientIdentity.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

struct CreateRequest
{
    QString nickname, sessionType, path, password, expiryText /*12 chars*/;
    QByteArray appData;
    QString sessionName;   // the session name the program sent (usually empty)
    quint64 expiry = 0;    // the same expiry as a FILETIME
    ClientIdentity client; // whose rights the path is written with
};
struct CreateResult
{
    bool ok = true;
    QString errorText;
    QString sessionName;
    QString displayText;
};
struct JoinRequest
{
    QString nickname, path, password;
    ClientIdentity client; // whose rights the path is read with
};
struct JoinResult
{
    bool ok = true;
    QString errorText;
    QString sessionName;
    QString inviterAddress;
    QByteArray appData;
    // Session-list key, display text and inviter's name when the handler knows them.
    QString networkName, displayText, inviterNickname;
};

// The service's side of the channel, played on one machine: listens on the
// contract socket, speaks the message format with the program's own encoder
// and dispatcher, answers creates and joins, and logs every event to
// <log folder>/servicelog.txt. Bad input from a client is logged and
// survived; the other clients are served on.
class StandinService : public QObject
{
    Q_OBJECT
public:
    // Largest message the service takes, like the program's receive buffer.
    static constexpr int kMessageCapacity = 20480;
    // Messages queued for a client that does not read any more.
    static constexpr size_t kMaxQueuedMessages = 100000;

    explicit StandinService(QObject* parent = nullptr);
    ~StandinService() override;

    // Extension points; set before start(). No handler: success, nothing written.
    std::function<CreateResult(const CreateRequest&)> createHandler;
    std::function<JoinResult(const JoinRequest&)> joinHandler;

    // Creates the runtime folder and listens. Fails when another service
    // already listens on the socket.
    bool start(QString* error = nullptr);
    // Stops listening and drops every client.
    void stop();

    bool startListener(QString* error = nullptr);
    // Closes the listening socket and removes its entry, so that new clients
    // find no service; connected clients stay.
    void stopListener();
    bool isListening() const { return m_listenFd >= 0; }
    int clientCount() const { return static_cast<int>(m_clients.size()); }
    // Closes every client connection.
    void dropClients();

    // The peer-to-peer status: sent to every client now and to each new one.
    long status() const { return m_status; }
    int setStatus(long status);
    // Sends command with the given attribute values as its "parameters"
    // elements; returns the number of clients it went to.
    int broadcastCommand(long command, const QStringList& parameters);
    // Sends text as one message (wire form), whatever it holds.
    int broadcastText(const QString& text);
    // Sends exact bytes as one message.
    int broadcastWire(const QByteArray& wire);

    // Scripted answers take precedence over the handlers, for one request.
    void scriptNextCreate(const CreateResult& result) { m_nextCreate = result; }
    void scriptNextJoin(const JoinResult& result) { m_nextJoin = result; }
    // Delays the next answer (create or join) by ms.
    void setNextDelay(int ms) { m_nextDelayMs = ms; }

    // One line of servicelog.txt (UTF-16LE with a byte-order mark). The log
    // folder is shared with every user: see CSharedLogFile for what is
    // refused there and for the 1 MiB limit.
    void log(const QString& text);
    static QString logPath();
    QStringList logTail(int lines) const;

    static QString socketPath();

    // Claims the runtime folder for this process before anything in it is
    // touched: false, with the reason, when another stand-in holds it or any
    // service answers on the socket. The claim lasts as long as the process.
    static bool claimRuntimeFolder(QString* error);

signals:
    void created(const CreateRequest& request, const CreateResult& result);
    void joined(const JoinRequest& request, const JoinResult& result);
    void closeSessionRequested(const QString& sessionName);
    void clientConnected(int clientId);
    void clientDisconnected(int clientId);
    // Every message that was dispatched (after logging), by command number.
    void commandReceived(int clientId, long command);

private:
    struct Client;
    class Receiver;
    class Sender;
    friend class Receiver;
    friend class Sender;

    void onAccept();
    void onReadable(int clientId);
    void onWritable(int clientId);
    void handleMessage(int clientId, const char* data, qsizetype size);
    bool sendWire(int clientId, const QByteArray& wire);
    void removeClient(int clientId, const QString& reason);
    void answerCreate(int clientId, const CreateRequest& request);
    void answerJoin(int clientId, const JoinRequest& request);
    ClientIdentity identityOf(int clientId) const;
    void deliver(const std::function<void()>& answer);
    int takeDelay();

    int m_listenFd = -1;
    QSocketNotifier* m_acceptNotifier = nullptr;
    std::map<int, std::unique_ptr<Client>> m_clients;
    // Removed clients wait here until control is back in the event loop (the
    // removal may run inside one of their own notifiers); the destructor frees
    // whatever is still waiting.
    std::vector<std::unique_ptr<Client>> m_retired;
    int m_nextClientId = 1;
    long m_status = 1;
    int m_creates = 0;
    int m_joins = 0;
    std::optional<CreateResult> m_nextCreate;
    std::optional<JoinResult> m_nextJoin;
    int m_nextDelayMs = 0;
    CSharedLogFile m_log;
    bool m_logTried = false;
};

#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The per-session instance lock: a file in the user's runtime folder held with
// flock. The kernel drops the lock when its holder dies, so a crashed instance
// never blocks the next start.
class CInstanceLock
{
public:
    // Default: <user runtime folder>/{7AA95431-3E28-40fd-B8E2-EC4DDA64F1AA}.Tervalapro.instance
    explicit CInstanceLock(const QString& path = DefaultPath());
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // True when this process is the first instance. A lock file that this user
    // may not open counts as another instance; any other failure to open it
    // counts as the first (then without a lock to hold).
    bool Acquire();
    bool IsHeld() const { return m_fd >= 0; }
    QString Path() const { return m_path; }
    // Name of the hand-over socket that lives next to the lock (empty when
    // the lock has no path).
    QString ServerName() const;

    // Empty when there is no private per-user folder for it.
    static QString DefaultPath();

private:
    QString m_path;
    int m_fd = -1;
};

// One request from a later launch.
struct CHandOverRequest
{
    enum class Kind
    {
        Show,
        Open,
        LspNotify
    };
    Kind kind = Kind::Show;
    QString path;     // Open: an absolute path
    qint32 value = 0; // LspNotify: the value to forward
};

// The running instance's end of the hand-over. Requests that arrive before the
// main window is ready are kept and delivered in order once SetReady is called.
class CInstanceServer : public QObject
{
    Q_OBJECT
public:
    explicit CInstanceServer(QObject* parent = nullptr);
    ~CInstanceServer() override;

    // Only the holder of the instance lock calls this, so a socket file left
    // by a crashed instance can be removed safely.
    bool Listen(const QString& name);
    void SetReady();

signals:
    void showRequested();
    void openRequested(const QString& path);
    void lspNotifyRequested(qint32 value);

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);
    void deliver(const CHandOverRequest& request);

    QLocalServer* m_server = nullptr;
    bool m_ready = false;
    QList<CHandOverRequest> m_pending;
};

// A later launch's end: sends the requests and returns whether they were
// written. Retries for a while, because the running instance may still be
// starting. Needs no window and no display.
namespace CInstanceClient {
bool Send(const QString& serverName, const QList<CHandOverRequest>& requests, int timeoutMs = 5000);
}

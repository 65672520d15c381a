#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

// Posts one support report to the help centre and says how it went. The post
// runs on the event loop: the window stays responsive, can show that it is
// busy and can call it off.
class CSupportSender : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        enum class Kind
        {
            Sent,      // the server answered with a 2xx status
            Failed,    // no connection, a network error, or any other status
            TimedOut,  // no complete answer in time
            Cancelled, // Cancel() was called
        };
        Kind kind = Kind::Failed;
        int httpStatus = 0; // 0 when no status line arrived
        QString detail;     // for the user: what went wrong
    };

    // A redirect to a "thank you" page is normal; a chain longer than this is
    // a misconfigured server.
    static constexpr int kMaxRedirects = 5;
    static constexpr std::chrono::milliseconds kDefaultTimeout{30000};

    explicit CSupportSender(QObject* parent = nullptr);
    ~CSupportSender() override;

    // The whole exchange must end within this time (not just each read).
    void SetTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds Timeout() const { return m_timeout; }

    // POST body to url as a form submission. False (and nothing sent) when
    // a post is still running.
    bool Send(const QUrl& url, const QByteArray& body);
    // Aborts the running post; finished() reports Cancelled.
    void Cancel();
    bool IsSending() const { return !m_reply.isNull(); }

signals:
    // Emitted once for every successful Send().
    void finished(const CSupportSender::Result& result);

private:
    void onReplyFinished();
    void onTimeout();

    QNetworkAccessManager* m_manager = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer m_timer;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    bool m_timedOut = false;
    bool m_cancelled = false;
};

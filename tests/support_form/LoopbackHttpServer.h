#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTcpServer>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for the support tests: it records every
// request exactly as it arrived and answers as told, per request target.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray requestLine; // "POST /path?query HTTP/1.1"
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray header(const QByteArray& name) const; // first one, case-insensitive
        QByteArray target() const;                       // the path and query
    };

    struct Answer
    {
        enum class Mode
        {
            Reply,            // status line, headers and the whole body
            Silent,           // read the request, never answer
            StallAfterHeaders // status line, headers and half the body, then nothing
        };
        Mode mode = Mode::Reply;
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body = "Thank you";
        QList<QPair<QByteArray, QByteArray>> headers; // e.g. Location
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    // "127.0.0.1:<port>", as the SupportHost setting names it.
    QByteArray hostAndPort() const;

    // Answer for requests to target ("/chat/module.php?module=HelpCenter");
    // requests to other targets get setDefaultAnswer's (a 200 unless set).
    void setAnswer(const QByteArray& target, const Answer& answer);
    void setDefaultAnswer(const Answer& answer) { m_default = answer; }

    const QList<Request>& requests() const { return m_requests; }
    // Connections the server still holds open.
    int openConnections() const;

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QByteArray, Answer> m_answers;
    Answer m_default;
    QList<Request> m_requests;
};

#include "LoopbackHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

QByteArray LoopbackHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QByteArray LoopbackHttpServer::Request::target() const
{
    const QList<QByteArray> parts = requestLine.split(' ');
    return parts.size() == 3 ? parts[1] : QByteArray();
}

LoopbackHttpServer::LoopbackHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // The sockets belong to m_server, which outlives the members their
    // handlers use: take them down first, without their handlers.
    const QList<QTcpSocket*> sockets = m_buffers.keys();
    m_buffers.clear();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        delete socket;
    }
    m_server.close();
}

bool LoopbackHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QByteArray LoopbackHttpServer::hostAndPort() const
{
    return "127.0.0.1:" + QByteArray::number(port());
}

void LoopbackHttpServer::setAnswer(const QByteArray& target, const Answer& answer)
{
    m_answers.insert(target, answer);
}

int LoopbackHttpServer::openConnections() const
{
    int open = 0;
    for (auto it = m_buffers.cbegin(); it != m_buffers.cend(); ++it)
        open += it.key()->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return open;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    // One connection may carry several requests (a followed redirect).
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        request.requestLine = lines.value(0).trimmed();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        const qsizetype length = request.header("Content-Length").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        buffer.remove(0, end + 4 + length);
        m_requests.append(request);

        const Answer answer = m_answers.value(request.target(), m_default);
        if (answer.mode != Answer::Mode::Silent) {
            QByteArray out =
                "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason + "\r\n";
            for (const auto& [key, value] : answer.headers)
                out += key + ": " + value + "\r\n";
            out += "Content-Type: text/plain\r\nContent-Length: " +
                   QByteArray::number(answer.body.size()) + "\r\n\r\n";
            if (answer.mode == Answer::Mode::StallAfterHeaders)
                out += answer.body.left(answer.body.size() / 2);
            else
                out += answer.body;
            socket->write(out);
        }
        emit requestReceived();
    }
}

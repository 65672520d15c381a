#include "standin/ControlChannel.h"

#include "foundation/Paths.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

#include <cstdio>

namespace {
// A stuck stand-in must not hang a test forever.
constexpr int kClientTimeoutMs = 30000;
constexpr qsizetype kMaxLine = 1024 * 1024;
} // namespace

ControlChannel::ControlChannel(QObject* parent) : QObject(parent)
{
    registerCommand(QStringLiteral("help"), QStringLiteral("help: this list"),
                    [this](const QStringList&, QString&) {
                        QStringList lines;
                        for (const auto& entry : m_commands)
                            lines << entry.second.usage;
                        return lines.join(QLatin1Char('\n'));
                    });
    registerCommand(QStringLiteral("quit"),
                    QStringLiteral("quit: end the stand-in (its socket entries are removed)"),
                    [this](const QStringList&, QString&) {
                        emit quitRequested();
                        return QString();
                    });
}

ControlChannel::~ControlChannel()
{
    stop();
}

QString ControlChannel::socketPath()
{
    return Paths::RuntimeEntry(QStringLiteral("tervala-standin.control"));
}

void ControlChannel::registerCommand(const QString& name, const QString& usage, Handler handler)
{
    m_commands[name] = Command{usage, std::move(handler)};
}

bool ControlChannel::start(QString* error)
{
    stop();
    Paths::MakePath(Paths::RuntimeFolder());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Only one stand-in runs per runtime folder (the service socket decides),
    // so an entry here is left from a dead one.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath())) {
        if (error)
            *error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &ControlChannel::onNewConnection);
    return true;
}

void ControlChannel::stop()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
}

void ControlChannel::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void ControlChannel::onReadyRead(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray raw = socket->readLine();
        QString line = QString::fromUtf8(raw);
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        socket->write(escapeReply(execute(line)).toUtf8() + '\n');
        socket->flush();
    }
    if (socket->bytesAvailable() > kMaxLine) {
        socket->write("error request line too long\n");
        socket->disconnectFromServer();
    }
}

QString ControlChannel::execute(const QString& line)
{
    bool ok = true;
    const QStringList words = splitLine(line, &ok);
    if (!ok)
        return QStringLiteral("error unterminated quote");
    if (words.isEmpty())
        return QStringLiteral("error empty request; try help");
    const auto it = m_commands.find(words.first());
    if (it == m_commands.end())
        return QStringLiteral("error unknown command %1; try help").arg(words.first());
    QString error;
    const QString reply = it->second.handler(words.mid(1), error);
    if (!error.isEmpty())
        return QStringLiteral("error ") + error;
    return reply.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok ") + reply;
}

QStringList ControlChannel::splitLine(const QString& line, bool* ok)
{
    QStringList words;
    QString word;
    bool inWord = false, quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < line.size() &&
                (line.at(i + 1) == QLatin1Char('"') || line.at(i + 1) == QLatin1Char('\\'))) {
                word += line.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    if (ok)
        *ok = !quoted;
    return words;
}

QString ControlChannel::quote(const QString& argument)
{
    if (!argument.isEmpty() && !argument.contains(QLatin1Char(' ')) &&
        !argument.contains(QLatin1Char('\t')) && !argument.contains(QLatin1Char('"')))
        return argument;
    QString text = argument;
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString ControlChannel::escapeReply(const QString& reply)
{
    QString text = reply;
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text.remove(QLatin1Char('\r'));
    return text;
}

QString ControlChannel::unescapeReply(const QString& line)
{
    QString text;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('\\') && i + 1 < line.size()) {
            const QChar next = line.at(++i);
            text += next == QLatin1Char('n') ? QChar(u'\n') : next;
        } else {
            text += line.at(i);
        }
    }
    return text;
}

int ControlChannel::runClient(const QStringList& args)
{
    QStringList words;
    for (const QString& arg : args)
        words << quote(arg);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kClientTimeoutMs)) {
        // Nothing listening (no entry, or one left by a stand-in that died):
        // say so in the user's terms rather than the socket layer's.
        if (socket.error() == QLocalSocket::ServerNotFoundError ||
            socket.error() == QLocalSocket::ConnectionRefusedError) {
            std::fprintf(stderr, "tervala-standin: no stand-in service runs in %s\n",
                         qPrintable(Paths::RuntimeFolder()));
            return 2;
        }
        std::fprintf(stderr, "tervala-standin: cannot reach the stand-in at %s: %s\n",
                     qPrintable(socketPath()), qPrintable(socket.errorString()));
        return 2;
    }
    socket.write(words.join(QLatin1Char(' ')).toUtf8() + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kClientTimeoutMs)) {
            std::fprintf(stderr, "tervala-standin: no reply from the stand-in\n");
            return 2;
        }
    }
    QString reply = QString::fromUtf8(socket.readLine());
    while (reply.endsWith(QLatin1Char('\n')))
        reply.chop(1);
    reply = unescapeReply(reply);
    std::fprintf(stdout, "%s\n", qPrintable(reply));
    std::fflush(stdout);
    return reply == QStringLiteral("ok") || reply.startsWith(QStringLiteral("ok ")) ? 0 : 1;
}

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>

class QLocalServer;
class QLocalSocket;

// Line-based control of the stand-in on <runtime folder>/tervala-standin.control
// (a SOCK_STREAM Unix socket): one request line, arguments separated by
// blanks, an argument with blanks in double quotes with \" and \\ escapes;
// one reply line, "ok[ <text>]" or "error <text>". A newline inside a reply
// travels as \n (and a backslash as \\).
class ControlChannel : public QObject
{
    Q_OBJECT
public:
    // Returns the reply text (without "ok"); setting error makes an error reply.
    using Handler = std::function<QString(const QStringList& args, QString& error)>;

    explicit ControlChannel(QObject* parent = nullptr);
    ~ControlChannel() override;

    void registerCommand(const QString& name, const QString& usage, Handler handler);
    bool start(QString* error = nullptr);
    void stop();

    // Runs one request line and gives the reply line (unescaped).
    QString execute(const QString& line);

    static QString socketPath();
    // Splits a request line; ok is false for an unterminated quote.
    static QStringList splitLine(const QString& line, bool* ok = nullptr);
    static QString quote(const QString& argument);
    static QString escapeReply(const QString& reply);
    static QString unescapeReply(const QString& line);

    // The `ctl` client: sends args as one line, prints the reply, returns 0 on
    // ok, 1 on error and 2 when the stand-in cannot be reached.
    static int runClient(const QStringList& args);

signals:
    void quitRequested();

private:
    struct Command
    {
        QString usage;
        Handler handler;
    };
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);

    QLocalServer* m_server = nullptr;
    std::map<QString, Command> m_commands;
};

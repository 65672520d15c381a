#include "standin/StandinCommands.h"

#include "foundation/Base64.h"
#include "foundation/XmlSerializer.h"
#include "servicelink/RPCExecute.h"
#include "standin/ControlChannel.h"
#include "standin/StandinService.h"

namespace {
bool toLong(const QString& text, long& value)
{
    bool ok = false;
    value = text.toLong(&ok);
    return ok;
}

QString sentTo(int clients)
{
    return QStringLiteral("sent to %1 clients").arg(clients);
}
} // namespace

void registerServiceCommands(StandinService& service, ControlChannel& control)
{
    StandinService* s = &service;

    control.registerCommand(
        QStringLiteral("status"),
        QStringLiteral("status <0|1>: P2P_STATUS_CHANGE to every client (and each new one)"),
        [s](const QStringList& args, QString& error) {
            long value = 0;
            if (args.size() != 1 || !toLong(args[0], value)) {
                error = QStringLiteral("usage: status <number>");
                return QString();
            }
            return sentTo(s->setStatus(value));
        });

    control.registerCommand(
        QStringLiteral("send"),
        QStringLiteral("send <command-number> [parameter...]: each parameter is the attribute text "
                       "of one \"parameters\" element (Base64 for bytes)"),
        [s](const QStringList& args, QString& error) {
            long command = 0;
            if (args.isEmpty() || !toLong(args[0], command)) {
                error = QStringLiteral("usage: send <command-number> [parameter...]");
                return QString();
            }
            return sentTo(s->broadcastCommand(command, args.mid(1)));
        });

    control.registerCommand(
        QStringLiteral("send-text"),
        QStringLiteral("send-text <text>: the text as one message, whatever it holds"),
        [s](const QStringList& args, QString& error) {
            if (args.size() != 1) {
                error = QStringLiteral("usage: send-text <text>");
                return QString();
            }
            return sentTo(s->broadcastText(args[0]));
        });

    control.registerCommand(
        QStringLiteral("send-padded"),
        QStringLiteral("send-padded <bytes> <status>: a P2P_STATUS_CHANGE padded with blanks to "
                       "exactly <bytes> bytes on the wire (terminator included)"),
        [s](const QStringList& args, QString& error) {
            long bytes = 0, status = 0;
            if (args.size() != 2 || !toLong(args[0], bytes) || !toLong(args[1], status)) {
                error = QStringLiteral("usage: send-padded <bytes> <status>");
                return QString();
            }
            const QString head =
                QStringLiteral(
                    "<TervalaIPC><command command=\"5\"/><parameters parameters=\"%1\"/>")
                    .arg(status);
            const QString tail = QStringLiteral("</TervalaIPC>");
            const long units = bytes / 2 - 1 - head.size() - tail.size();
            if (bytes % 2 != 0 || units < 0 || bytes > 1024 * 1024) {
                error = QStringLiteral("cannot pad to %1 bytes").arg(bytes);
                return QString();
            }
            return sentTo(s->broadcastText(head + QString(units, QLatin1Char(' ')) + tail));
        });

    control.registerCommand(
        QStringLiteral("answer-create"),
        QStringLiteral("answer-create ok [session-name] | error <text>: answer the next "
                       "CREATE_INVITATION so"),
        [s](const QStringList& args, QString& error) {
            CreateResult result;
            if (args.value(0) == QStringLiteral("ok") && args.size() <= 2) {
                result.sessionName = args.value(1);
            } else if (args.value(0) == QStringLiteral("error") && args.size() == 2) {
                result.ok = false;
                result.errorText = args[1];
            } else {
                error = QStringLiteral("usage: answer-create ok [session-name] | error <text>");
                return QString();
            }
            s->scriptNextCreate(result);
            return QString();
        });

    control.registerCommand(
        QStringLiteral("answer-join"),
        QStringLiteral(
            "answer-join ok <session> <address> [app-data-base64] | error <text>: answer "
            "the next JOIN_INVITATION so"),
        [s](const QStringList& args, QString& error) {
            JoinResult result;
            if (args.value(0) == QStringLiteral("ok") && (args.size() == 3 || args.size() == 4)) {
                result.sessionName = args[1];
                result.inviterAddress = args[2];
                if (args.size() == 4)
                    result.appData = CBase64::DecodeString(args[3]);
            } else if (args.value(0) == QStringLiteral("error") && args.size() == 2) {
                result.ok = false;
                result.errorText = args[1];
            } else {
                error = QStringLiteral(
                    "usage: answer-join ok <session> <address> [app-data-base64] | error <text>");
                return QString();
            }
            s->scriptNextJoin(result);
            return QString();
        });

    control.registerCommand(QStringLiteral("delay"),
                            QStringLiteral("delay <ms>: delay the next answer (create or join)"),
                            [s](const QStringList& args, QString& error) {
                                long ms = 0;
                                if (args.size() != 1 || !toLong(args[0], ms) || ms < 0 ||
                                    ms > 3600000) {
                                    error = QStringLiteral("usage: delay <ms>");
                                    return QString();
                                }
                                s->setNextDelay(static_cast<int>(ms));
                                return QString();
                            });

    control.registerCommand(QStringLiteral("drop"),
                            QStringLiteral("drop: close every client connection"),
                            [s](const QStringList&, QString&) {
                                const int count = s->clientCount();
                                s->dropClients();
                                return QString::number(count);
                            });

    control.registerCommand(QStringLiteral("stop-listener"),
                            QStringLiteral("stop-listener: stop accepting (the socket entry goes "
                                           "away; connected clients stay)"),
                            [s](const QStringList&, QString&) {
                                s->stopListener();
                                return QString();
                            });

    control.registerCommand(QStringLiteral("start-listener"),
                            QStringLiteral("start-listener: accept again"),
                            [s](const QStringList&, QString& error) {
                                s->startListener(&error);
                                return QString();
                            });

    control.registerCommand(
        QStringLiteral("clients"), QStringLiteral("clients: number of connected clients"),
        [s](const QStringList&, QString&) { return QString::number(s->clientCount()); });

    control.registerCommand(
        QStringLiteral("log-tail"),
        QStringLiteral("log-tail [lines]: the last lines of servicelog.txt"),
        [s](const QStringList& args, QString& error) {
            long lines = 10;
            if (args.size() > 1 || (args.size() == 1 && !toLong(args[0], lines))) {
                error = QStringLiteral("usage: log-tail [lines]");
                return QString();
            }
            return s->logTail(static_cast<int>(qBound(1L, lines, 10000L))).join(QLatin1Char('\n'));
        });
}

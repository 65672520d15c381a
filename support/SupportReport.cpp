#include "support/SupportReport.h"

#include "foundation/Paths.h"
#include "resources/StringTable.h"
#include "support/URLEncode.h"

#include <QCoreApplication>
#include <QSettings>

#include <memory>

namespace {
constexpr quint32 IDS_SUPPORT_BODY = 148;

QByteArray field(const QString& value)
{
    if (value.isEmpty())
        return QByteArray(SupportReport::kNotEntered);
    return CURLEncode::Encode(value);
}
} // namespace

namespace SupportReport {
bool EmailAcceptable(const QString& email)
{
    return !email.isEmpty() && email.contains(QLatin1Char('@'));
}

QString WithCrLf(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    out.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return out;
}

QByteArray BuildBody(const SupportForm& form, const QString& logText)
{
    const QByteArray fields[] = {field(form.name), field(form.email), field(form.subject),
                                 field(form.message + logText)};
    // The fields are plain ASCII after encoding; the template is ASCII too.
    const QByteArray format = LoadString(IDS_SUPPORT_BODY).toLatin1();
    QByteArray body;
    body.reserve(format.size() + fields[3].size() + 256);
    qsizetype from = 0;
    for (const QByteArray& value : fields) {
        const qsizetype slot = format.indexOf("%hs", from);
        if (slot < 0)
            break;
        body += format.mid(from, slot - from);
        body += value;
        from = slot + 3;
    }
    body += format.mid(from);
    return body;
}

Endpoint EndpointFromSetting(const QString& supportHost, const QString& settingsFile)
{
    Endpoint result;
    const QString value = supportHost.trimmed();
    const QString where =
        QCoreApplication::translate("SupportReport",
                                    " Set SupportHost (\"host\" or \"host:port\") in %1.")
            .arg(settingsFile);
    if (value.isEmpty()) {
        result.errorText = QCoreApplication::translate(
                               "SupportReport", "The support web server is not configured.") +
                           where;
        return result;
    }

    QString host = value;
    QString portText;
    bool hasPort = false;
    bool valid = true;
    if (value.startsWith(QLatin1Char('['))) {
        // [IPv6 address] or [IPv6 address]:port
        const qsizetype close = value.indexOf(QLatin1Char(']'));
        const QString rest = close > 0 ? value.mid(close + 1) : QString();
        host = close > 0 ? value.mid(1, close - 1) : QString();
        hasPort = rest.startsWith(QLatin1Char(':'));
        portText = rest.mid(1);
        valid = close > 0 && (rest.isEmpty() || hasPort);
    } else if (value.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = value.indexOf(QLatin1Char(':'));
        host = value.left(colon);
        portText = value.mid(colon + 1);
        hasPort = true;
    }
    // Otherwise a name, or a bare IPv6 address (several colons) without a port.

    int port = -1;
    if (valid && hasPort) {
        bool digits = !portText.isEmpty() && portText.size() <= 5;
        for (const QChar c : portText)
            digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        port = digits ? portText.toInt() : 0;
        valid = port >= 1 && port <= 65535;
    }
    valid = valid && !host.isEmpty();

    QUrl url;
    if (valid) {
        url.setScheme(QStringLiteral("http"));
        url.setHost(host, QUrl::StrictMode);
        if (port > 0)
            url.setPort(port);
        url.setPath(QStringLiteral("/chat/module.php"));
        url.setQuery(QStringLiteral("module=HelpCenter"));
        valid = url.isValid() && !url.host().isEmpty();
    }
    if (!valid) {
        result.errorText =
            QCoreApplication::translate("SupportReport",
                                        "The support web server \"%1\" is not a valid address.")
                .arg(value) +
            where;
        return result;
    }
    result.url = url;
    return result;
}

QString MachineSettingsFile()
{
    std::unique_ptr<QSettings> store(Settings::NewMachineStore());
    return store->fileName();
}
} // namespace SupportReport

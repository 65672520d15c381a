#include "remote/RemoteAssistanceTicket.h"

#include "foundation/XmlSerializer.h"
#include "resources/StringTable.h"
#include "sessions/SessionTypeCatalog.h"

#include <QStringList>

namespace {
constexpr quint16 kRemoteDesktopPort = 3389;

// printf-style %s substitution in order ("%%" is a percent sign); a "%s" in
// an argument stays as it is.
QString formatTemplate(const QString& pattern, const QStringList& arguments)
{
    QString out;
    out.reserve(pattern.size() + 256);
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) == u'%' && i + 1 < pattern.size()) {
            const QChar kind = pattern.at(i + 1);
            if (kind == u's') {
                out += arguments.value(next++);
                ++i;
                continue;
            }
            if (kind == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += pattern.at(i);
    }
    return out;
}

// The ticket stands inside an attribute value in double quotes.
QString escapeForAttribute(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QStringLiteral("&amp;");
            break;
        case u'<':
            out += QStringLiteral("&lt;");
            break;
        case u'>':
            out += QStringLiteral("&gt;");
            break;
        case u'"':
            out += QStringLiteral("&quot;");
            break;
        default:
            out += c;
        }
    }
    return out;
}
} // namespace

QString CRemoteAssistanceTicket::Marker()
{
    return QStringLiteral("65538,1,");
}

QString CRemoteAssistanceTicket::DecodeIncidentFile(const QByteArray& bytes)
{
    const QByteArray read = bytes.left(kMaxIncidentBytes);
    QString text;
    if (!read.isEmpty() && uchar(read.at(0)) == 0xFF) {
        // An odd last byte is half a character and is dropped.
        const qsizetype units = read.size() / 2;
        text.reserve(units);
        for (qsizetype i = 0; i < units; ++i) {
            const auto unit = char16_t(uchar(read.at(2 * i)) | (uchar(read.at(2 * i + 1)) << 8));
            if (unit == 0)
                break;
            text += QChar(unit);
        }
        return text;
    }
    text.reserve(read.size());
    for (char byte : read) {
        if (byte == 0)
            break;
        text += QChar(char16_t(uchar(byte)));
    }
    return text;
}

bool CRemoteAssistanceTicket::ExtractPortText(const QString& text, Route route,
                                              const QString& hostName, QString& portText)
{
    QStringView rest;
    if (route == Route::IncidentFile) {
        const qsizetype marker = text.indexOf(Marker());
        if (marker < 0)
            return false;
        rest = QStringView(text).mid(marker + Marker().size());
        const qsizetype colon = rest.indexOf(u':');
        if (colon < 0)
            return false;
        rest = rest.mid(colon + 1);
    } else {
        const QString host = hostName + QLatin1Char(':');
        const qsizetype found = hostName.isEmpty() ? -1 : text.indexOf(host);
        if (found < 0)
            return false;
        rest = QStringView(text).mid(found + host.size());
    }
    const qsizetype comma = rest.indexOf(u',');
    portText = (comma < 0 ? rest : rest.left(comma)).toString();
    return true;
}

quint16 CRemoteAssistanceTicket::PortFromText(const QString& portText)
{
    return quint16(static_cast<unsigned long>(WtoL(portText)) & 0xFFFF);
}

bool CRemoteAssistanceTicket::Rewrite(const QString& nickname, const QString& text, Route route,
                                      const QString& hostName, qint64 unixSeconds,
                                      QString& document, QString* portText)
{
    const qsizetype marker = text.indexOf(Marker());
    QString port;
    if (marker < 0 || !ExtractPortText(text, route, hostName, port))
        return false;
    const QString ticket = Marker() + escapeForAttribute(nickname) + QLatin1Char(':') + port +
                           QLatin1Char(';') + text.mid(marker + Marker().size());
    if (route == Route::IncidentFile)
        document = formatTemplate(LoadString(10023), {ticket});
    else
        document = formatTemplate(LoadString(10021), {ticket, QString::number(unixSeconds)});
    if (portText)
        *portText = port;
    return true;
}

QString CRemoteAssistanceTicket::SessionType(quint16 port)
{
    CSessionTypeFormat format;
    format.AddPortRange(port, port, true);
    format.AddPortRange(kRemoteDesktopPort, kRemoteDesktopPort, true);
    return format.GetText();
}

bool CRemoteAssistanceTicket::Prepare(const QString& nickname, const QString& text, Route route,
                                      const QString& hostName, qint64 unixSeconds,
                                      CRemoteAccess::Prepared& out)
{
    QString document;
    QString portText;
    if (!Rewrite(nickname, text, route, hostName, unixSeconds, document, &portText))
        return false;
    // The port comes from the ticket as the system wrote it: read from the
    // rewritten one, a nickname with a ":" would stand in its place.
    out.sessionType = SessionType(PortFromText(portText));
    out.appData.resize(document.size() * 2);
    for (qsizetype i = 0; i < document.size(); ++i) {
        const char16_t unit = document.at(i).unicode();
        out.appData[2 * i] = char(unit & 0xFF);
        out.appData[2 * i + 1] = char(unit >> 8);
    }
    return true;
}

#pragma once

#include "remote/RemoteAccess.h"

#include <QByteArray>
#include <QString>

// What the creating side does with a Remote Assistance ticket once the
// system's Remote Assistance program has produced one: name the creator in it
// by nickname, read the port it listens on, and build the session type and
// the application data that travel with the invitation. None of it needs the
// program, so a platform that has one only has to obtain the ticket text (the
// incident file, or the help service's connection string) and call Prepare();
// CRemoteAccess::PrepareRemoteAssistance would then return its result.
class CRemoteAssistanceTicket
{
public:
    // How the ticket was obtained, which decides where its port is found and
    // which document it is wrapped in.
    enum class Route
    {
        HelpService,  // connection string of the help service (before Vista)
        IncidentFile, // incident file written by the Remote Assistance program
    };

    // "65538,1,": begins the connection list inside a ticket.
    static QString Marker();

    // Longest incident file read; the rest is cut.
    static constexpr qsizetype kMaxIncidentBytes = 4096;

    // The text of an incident file: UTF-16LE when the first byte is 0xFF (its
    // byte-order mark stays as the first character), else 8-bit text widened
    // byte by byte; it ends at the first zero character.
    static QString DecodeIncidentFile(const QByteArray& bytes);

    // The port text of a ticket. IncidentFile: what follows the first marker,
    // then what follows the first ":" in that, up to the first ",".
    // HelpService: what follows "<hostName>:", up to the first ",". False (and
    // portText untouched) for a text that lacks the marker, the ":" after it
    // or "<hostName>:": a ticket the system would not write is not guessed at.
    static bool ExtractPortText(const QString& text, Route route, const QString& hostName,
                                QString& portText);

    // The port of a port text: decimal digits up to the first other
    // character, none giving 0, kept to 16 bits.
    static quint16 PortFromText(const QString& portText);

    // The ticket document: the marker, the nickname, ":", the port text, ";"
    // and everything after the text's first marker (what stands before it is
    // dropped), formatted into string 10023 (IncidentFile) or string 10021
    // with `unixSeconds` (HelpService). The nickname is escaped for the XML
    // attribute the ticket stands in. False when ExtractPortText() fails.
    static bool Rewrite(const QString& nickname, const QString& text, Route route,
                        const QString& hostName, qint64 unixSeconds, QString& document,
                        QString* portText = nullptr);

    // The session type that opens the ticket's port and 3389, both as
    // service ports.
    static QString SessionType(quint16 port);

    // The whole preparation from a ticket text: out.sessionType as above and
    // out.appData the ticket document's UTF-16LE units without terminator.
    // False (out untouched) when the ticket cannot be read.
    static bool Prepare(const QString& nickname, const QString& text, Route route,
                        const QString& hostName, qint64 unixSeconds, CRemoteAccess::Prepared& out);
};

#pragma once

#include <QList>
#include <QPair>
#include <QString>

// The session types a freshly installed service brings: the program writes
// none of its own, so without these a newcomer could not create a network
// before defining a session type.
namespace DefaultSessionTypes {
// Name and session-type text of each, in the order written.
QList<QPair<QString, QString>> Entries();

enum class Outcome
{
    Written,
    Present, // a catalogue (or anything else) stands at the path: left alone
    Failed,
};

// Writes <appdata>/quornix/TervalaPro/sessions/SessionTypes.dat when nothing
// stands at that path. The file appears whole or not at all, readable by
// every user, and nothing found at the path is replaced or followed.
// `message` says what was done (for the service log).
Outcome WriteIfMissing(QString* message = nullptr);
} // namespace DefaultSessionTypes

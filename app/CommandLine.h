#pragma once

#include <QString>
#include <QStringList>

// What a launch asks for, read from the arguments after the program's name.
struct CCommandLine
{
    // Exactly one argument, "-startup", case-sensitive: start hidden in the tray.
    bool startup = false;
    // The first argument that is not a switch: an invitation file to join.
    QString fileName;
    // Linux additions: print and exit without touching the instance lock.
    bool help = false;
    bool version = false;
    // Prints the private per-user folder of the instance lock and exits, so
    // that scripts use the same folder as the program.
    bool runtimeFolder = false;

    static CCommandLine Parse(const QStringList& arguments);
    static QString HelpText();
    static QString VersionText();
};

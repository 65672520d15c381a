#pragma once

#include "app/CommandLine.h"
#include "app/SingleInstance.h"

#include <QList>
#include <QStringList>

// The application object: prepares the process, keeps one instance per user
// session and runs the main window until Exit.
class CTervalaprouiApp
{
public:
    // The whole program; returns the process's exit code.
    static int Run(int argc, char** argv);

    // What a later launch hands to the running instance for its command line.
    static QList<CHandOverRequest> HandOverRequests(const CCommandLine& commandLine);
};

#include "app/CommandLine.h"

CCommandLine CCommandLine::Parse(const QStringList& arguments)
{
    CCommandLine result;
    // The start-up switch counts only as the whole command line: with anything
    // beside it, it is just an ignored switch.
    if (arguments.size() == 1 && arguments.first() == QLatin1String("-startup")) {
        result.startup = true;
        return result;
    }
    bool switchesEnded = false;
    for (const QString& token : arguments) {
        if (!switchesEnded) {
            if (token == QLatin1String("--")) {
                switchesEnded = true;
                continue;
            }
            if (token == QLatin1String("--help")) {
                result.help = true;
                continue;
            }
            if (token == QLatin1String("--version")) {
                result.version = true;
                continue;
            }
            if (token == QLatin1String("--runtime-folder")) {
                result.runtimeFolder = true;
                continue;
            }
            // Only "-" marks a switch here: on Linux a leading "/" is an
            // absolute path, the very thing a file manager hands over.
            if (token.startsWith(QLatin1Char('-')))
                continue;
        }
        if (result.fileName.isEmpty() && !token.isEmpty())
            result.fileName = token;
    }
    return result;
}

QString CCommandLine::HelpText()
{
    return QStringLiteral("Usage: tervalapro [-startup | FILE.Tervalapro]\n"
                          "\n"
                          "Tervala Pro tray program. Only one copy runs per user session; a\n"
                          "second launch hands its request to the running one and ends.\n"
                          "\n"
                          "  -startup        start hidden, with only the tray icon (must be the\n"
                          "                  only argument)\n"
                          "  FILE            join the network of this invitation file\n"
                          "  --help          show this text and exit\n"
                          "  --version       show the version and exit\n"
                          "  --runtime-folder\n"
                          "                  print the private folder that holds the\n"
                          "                  single-instance lock and exit\n");
}

QString CCommandLine::VersionText()
{
    return QStringLiteral("tervalapro " TERVALA_VERSION "\n");
}

#include "app/TervalaproApp.h"

#include "app/TervalaprouiDlg.h"
#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "resources/Translations.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

QList<CHandOverRequest> CTervalaprouiApp::HandOverRequests(const CCommandLine& commandLine)
{
    // "-startup" asks nothing of a running instance.
    if (commandLine.startup)
        return {};
    if (commandLine.fileName.isEmpty())
        return {{CHandOverRequest::Kind::Show, QString(), 0}};
    // The running instance may work in another folder: send an absolute path.
    return {{CHandOverRequest::Kind::Open, QFileInfo(commandLine.fileName).absoluteFilePath(), 0}};
}

namespace {
QString noPrivateFolderText()
{
    QString candidate;
    Paths::PrivateFallbackFolder(&candidate);
    return QStringLiteral("XDG_RUNTIME_DIR is not set and %1 is not a folder of this user's "
                          "alone (owned by this user, mode 0700); running without the "
                          "single-instance lock")
        .arg(candidate);
}
} // namespace

int CTervalaprouiApp::Run(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CCommandLine commandLine = CCommandLine::Parse(arguments);
    if (commandLine.help || commandLine.version) {
        const QString text =
            commandLine.help ? CCommandLine::HelpText() : CCommandLine::VersionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    const QString userFolder = Paths::UserRuntimeFolder();
    if (commandLine.runtimeFolder) {
        if (userFolder.isEmpty()) {
            std::fprintf(stderr, "tervalapro: %s\n", qPrintable(noPrivateFolderText()));
            return 1;
        }
        std::fprintf(stdout, "%s\n", QFile::encodeName(userFolder).constData());
        return 0;
    }

    OpenTraceLog();
    // Without a private folder there is no lock and no hand-over: this copy
    // runs alone rather than share either through a folder others control.
    if (userFolder.isEmpty())
        std::fprintf(stderr, "tervalapro: %s\n", qPrintable(noPrivateFolderText()));
    CInstanceLock lock;
    if (!lock.Acquire()) {
        // A later launch: hand the request over and end, with no window, no
        // display and no service connection.
        QCoreApplication app(argc, argv);
        const QList<CHandOverRequest> requests = HandOverRequests(commandLine);
        if (!requests.isEmpty() && !CInstanceClient::Send(lock.ServerName(), requests) &&
            (TraceLevel() & TRACE_ERROR))
            CTraceLog::Trace(QStringLiteral("Hand-over to the running instance failed"));
        CloseTraceLog();
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tervala Pro"));
    QApplication::setOrganizationName(QStringLiteral("Quornix"));
    QApplication::setApplicationVersion(QStringLiteral(TERVALA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tervalapro"));
    QStringList translationFolders;
    for (const QString& folder : Paths::DataFolders())
        translationFolders.append(folder + QStringLiteral("/translations"));
    InstallTranslations(QLocale::system(), translationFolders);
    // The window hides into the tray; only Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    CInstanceServer server;
    if (!server.Listen(lock.ServerName()) && (TraceLevel() & TRACE_ERROR))
        CTraceLog::Trace(QStringLiteral("Hand-over socket not available"));

    int exitCode = 0;
    {
        CTervalaprouiDlg dialog(commandLine);
        QObject::connect(&dialog, &CTervalaprouiDlg::ended, &app, [] { QCoreApplication::quit(); });
        if (dialog.Start()) {
            QObject::connect(&server, &CInstanceServer::showRequested, &dialog,
                             &CTervalaprouiDlg::OnShowRequested);
            QObject::connect(&server, &CInstanceServer::openRequested, &dialog,
                             &CTervalaprouiDlg::OnOpenRequested);
            QObject::connect(&server, &CInstanceServer::lspNotifyRequested, &dialog,
                             &CTervalaprouiDlg::OnLSPNotify);
            server.SetReady();
            if (!dialog.IsEnded())
                exitCode = QApplication::exec();
        } else {
            exitCode = 1;
        }
    }
    CloseTraceLog();
    return exitCode;
}

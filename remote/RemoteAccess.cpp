#include "remote/RemoteAccess.h"

#include "foundation/Paths.h"
#include "foundation/RegOperations.h"
#include "foundation/TraceLog.h"
#include "resources/StringTable.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <filesystem>
#include <memory>
#include <system_error>

namespace {
const QString kInvitationFileName = QStringLiteral("RAInvitation.msrcincident");
const QLatin1String kAddressMark("%s");

void traceError(const QString& message)
{
    if (TraceLevel() & TRACE_ERROR)
        CTraceLog::Trace(message);
}

// Both built-in clients read "host:port", so an IPv6 literal has to be
// bracketed or its last group would be taken for the port.
QString hostForClient(const QString& address)
{
    if (address.count(QLatin1Char(':')) >= 2 && !address.contains(QLatin1Char('[')))
        return QLatin1Char('[') + address + QLatin1Char(']');
    return address;
}

QString machineSettingsFile()
{
    std::unique_ptr<QSettings> store(Settings::NewMachineStore());
    return store->fileName();
}

// Starts a program without waiting for it; on failure returns false and
// the reason.
bool startProgram(const QString& program, const QStringList& arguments, QString& reason)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (process.startDetached())
        return true;
    reason = process.errorString();
    return false;
}
} // namespace

RemoteSession CRemoteAccess::Match(const QString& sessionName)
{
    static constexpr struct
    {
        quint32 id;
        RemoteSession session;
    } kNames[] = {
        {10019, RemoteSession::Netmeeting},
        {10025, RemoteSession::RemoteDesktop},
        {10020, RemoteSession::RemoteAssistance},
        {10024, RemoteSession::Streaming},
    };
    const QString name = sessionName.toLower();
    for (const auto& entry : kNames) {
        if (name == LoadString(entry.id).toLower())
            return entry.session;
    }
    return RemoteSession::None;
}

bool CRemoteAccess::PrepareRemoteAssistance(const QString& sessionName, const QString& nickname,
                                            const QString& password, Prepared& out)
{
    Q_UNUSED(nickname);
    Q_UNUSED(password);
    Q_UNUSED(out);
    switch (Match(sessionName)) {
    case RemoteSession::RemoteAssistance:
        // A ticket can only come from the system's Remote Assistance programs,
        // and this platform has none: the network is created without one.
        traceError(QStringLiteral("Remote Assistance: no ticket can be made on this system, "
                                  "the network is created without one"));
        return false;
    case RemoteSession::None:
    case RemoteSession::Netmeeting:
    case RemoteSession::RemoteDesktop:
    case RemoteSession::Streaming:
        break;
    }
    return false;
}

CRemoteAccess::StartResult CRemoteAccess::StartRemoteTool(const QString& sessionName,
                                                          const QByteArray& appData,
                                                          const QString& inviterAddress)
{
    switch (Match(sessionName)) {
    case RemoteSession::RemoteDesktop:
        return StartRemoteDesktop(inviterAddress);
    case RemoteSession::RemoteAssistance:
        if (appData.isEmpty())
            return {};
        return OpenRemoteAssistance(appData);
    case RemoteSession::None:
    case RemoteSession::Netmeeting:
    case RemoteSession::Streaming:
        break;
    }
    return {};
}

QString CRemoteAccess::InvitationFilePath()
{
    const QString folder = Paths::RemoteAssistFolder();
    if (!Paths::MakePath(folder))
        traceError(QStringLiteral("Remote Assistance: cannot create the folder ") + folder);
    return folder + QLatin1Char('/') + kInvitationFileName;
}

CRemoteAccess::Command CRemoteAccess::RemoteDesktopCommand(const QString& address)
{
    Command command;
    const QStringList configured = CRegOperations::RemoteDesktopCommand();
    if (!configured.isEmpty() && !configured.first().trimmed().isEmpty()) {
        const QString& program = configured.first();
        if (program.contains(QLatin1Char('/'))) {
            command.program = program;
        } else {
            command.program = QStandardPaths::findExecutable(program);
            // Kept by name so that the failure to start names what was configured.
            if (command.program.isEmpty())
                command.program = program;
        }
        bool placed = false;
        for (qsizetype i = 1; i < configured.size(); ++i) {
            QString argument = configured.at(i);
            if (argument.contains(kAddressMark)) {
                argument.replace(kAddressMark, address);
                placed = true;
            }
            command.arguments.append(argument);
        }
        if (!placed)
            command.arguments.append(address);
        return command;
    }

    const QString host = hostForClient(address);
    for (const QString& name : {QStringLiteral("xfreerdp"), QStringLiteral("xfreerdp3")}) {
        command.program = QStandardPaths::findExecutable(name);
        if (!command.program.isEmpty()) {
            command.arguments = {QStringLiteral("/v:") + host};
            return command;
        }
    }
    command.program = QStandardPaths::findExecutable(QStringLiteral("remmina"));
    if (!command.program.isEmpty())
        command.arguments = {QStringLiteral("-c"), QStringLiteral("rdp://") + host};
    return command;
}

CRemoteAccess::StartResult CRemoteAccess::StartRemoteDesktop(const QString& address)
{
    // Whatever happens here, the join itself succeeded and the user is told
    // about the client instead of getting the plain success message.
    StartResult result;
    result.started = true;

    if (address.trimmed().isEmpty()) {
        traceError(QStringLiteral("Remote Desktop: the service reported no inviter address"));
        result.errorText = QCoreApplication::translate(
            "CRemoteAccess",
            "The network was joined, but the service gave no address for the computer that "
            "invited you, so Remote Desktop could not be started.");
        return result;
    }
    // No host name or address literal starts with '-'; a client would take it
    // for an option.
    if (address.startsWith(QLatin1Char('-'))) {
        traceError(QStringLiteral("Remote Desktop: refused the inviter address ") + address);
        result.errorText =
            QCoreApplication::translate("CRemoteAccess",
                                        "The network was joined, but the service gave \"%1\" as "
                                        "the address of the computer that invited you, which "
                                        "is not a computer name or address, so Remote Desktop "
                                        "was not started.")
                .arg(address);
        return result;
    }

    const Command command = RemoteDesktopCommand(address);
    if (command.program.isEmpty()) {
        traceError(QStringLiteral("Remote Desktop: no client configured or installed"));
        result.errorText = QCoreApplication::translate(
                               "CRemoteAccess",
                               "The network was joined, but no Remote Desktop client was found to "
                               "connect to %1.\n\nInstall FreeRDP (xfreerdp) or Remmina, or set "
                               "RemoteDesktopCommand in %2.")
                               .arg(address, machineSettingsFile());
        return result;
    }

    QString reason;
    if (!startProgram(command.program, command.arguments, reason)) {
        traceError(QStringLiteral("Remote Desktop: cannot start ") + command.program +
                   QStringLiteral(": ") + reason);
        result.errorText =
            QCoreApplication::translate("CRemoteAccess",
                                        "The network was joined, but the Remote Desktop client "
                                        "%1 could not be started to connect to %2: %3")
                .arg(command.program, address, reason);
    }
    return result;
}

CRemoteAccess::StartResult CRemoteAccess::OpenRemoteAssistance(const QByteArray& appData)
{
    StartResult result;
    const QString path = InvitationFilePath();

    // Written to a new file that then replaces the old one: the folder is
    // shared by every user of the machine, and a link planted at the path
    // must not lead the write to another file (QSaveFile would follow it).
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    QString reason;
    bool written = false;
    static const char kByteOrderMark[] = {'\xFF', '\xFE'};
    if (!file.open() ||
        file.write(kByteOrderMark, sizeof kByteOrderMark) != qint64(sizeof kByteOrderMark) ||
        file.write(appData) != appData.size() || !file.flush()) {
        reason = file.errorString();
    } else {
        // Unlike QFile::rename, rename(2) replaces an existing file.
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(file.fileName()).constData(),
                                QFile::encodeName(path).constData(), error);
        written = !error;
        if (written)
            file.setAutoRemove(false);
        else
            reason = QString::fromLocal8Bit(error.message());
    }
    if (!written) {
        traceError(QStringLiteral("Remote Assistance: cannot write ") + path +
                   QStringLiteral(": ") + reason);
        return result;
    }

    // The file exists now, so the helper sees the invitation even when it
    // cannot be opened for them.
    result.started = true;
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        reason = QCoreApplication::translate("CRemoteAccess", "xdg-open was not found");
    } else if (startProgram(opener, {path}, reason)) {
        return result;
    }
    traceError(QStringLiteral("Remote Assistance: cannot open ") + path + QStringLiteral(": ") +
               reason);
    result.errorText = QCoreApplication::translate(
                           "CRemoteAccess",
                           "The Remote Assistance invitation was saved at %1, but no program could "
                           "open it (%2). Open the file with a Remote Assistance program yourself.")
                           .arg(path, reason);
    return result;
}

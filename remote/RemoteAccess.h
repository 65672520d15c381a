#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The remote session names (strings 10019, 10025, 10020, 10024, in that order).
enum class RemoteSession
{
    None,
    Netmeeting,
    RemoteDesktop,
    RemoteAssistance,
    Streaming
};

// Starts the remote-access tool that belongs to a network's session type:
// the Remote Desktop client towards the inviter, or the desktop's handler for
// a Remote Assistance invitation. Programs are always started with an
// argument list, never through a shell: the address comes from the network.
class CRemoteAccess
{
public:
    // Compares both sides lower-cased with the four names in table order.
    static RemoteSession Match(const QString& sessionName);

    // Creating side (used by the Add Network wizard). Linux has no Remote
    // Assistance programs: always returns false ("not prepared"), out untouched.
    // A platform that has one obtains its ticket and hands it to
    // CRemoteAssistanceTicket::Prepare (RemoteAssistanceTicket.h), which fills
    // `out` the same way.
    struct Prepared
    {
        QString sessionType;
        QByteArray appData;
    };
    static bool PrepareRemoteAssistance(const QString& sessionName, const QString& nickname,
                                        const QString& password, Prepared& out);

    // Joining side. started: a tool was started (or counts as started), so the
    // caller shows no success message. errorText: when not empty, the caller
    // shows it in an error box (after the join's outcome is otherwise handled).
    struct StartResult
    {
        bool started = false;
        QString errorText;
    };
    static StartResult StartRemoteTool(const QString& sessionName, const QByteArray& appData,
                                       const QString& inviterAddress);

    // <appdata>/quornix/TervalaPro/RemoteAssist/RAInvitation.msrcincident; the
    // folder is created (with parents) whenever the path is built.
    static QString InvitationFilePath();

    // The Remote Desktop client for an address: program (absolute path when found
    // on PATH) and arguments. Empty program when none is configured or installed.
    struct Command
    {
        QString program;
        QStringList arguments;
    };
    static Command RemoteDesktopCommand(const QString& address);

private:
    static StartResult StartRemoteDesktop(const QString& address);
    static StartResult OpenRemoteAssistance(const QByteArray& appData);
};

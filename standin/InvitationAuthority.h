#pragma once

#include "invitations/Certificate.h"
#include "standin/ClientIdentity.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

class StandinService;
class ControlChannel;

// The stand-in service's certificate authority and its share of the
// invitation commands. Names, used consistently everywhere:
// - the network name: "<session name letters>-<8 hex digits>", unique in the
//   local folder. It is the network certificate's common name (so the subject
//   name the program lists), the stored invitation's file name and the
//   session name of the session list (what CLOSE_SERVER_SESSION names);
// - the display name: the session name chosen when creating (the session
//   type's name, "Remote Desktop Access (RDP)"). It is SessionDisplayName in
//   the files, the display text of the session list, and the session name
//   of JOIN_INVITATION_STATUS, so the join message names what the tree and
//   the Existing Networks list show and the remote tool starts by its name.
class CInvitationAuthority
{
public:
    struct NewNetwork
    {
        QString nickname;
        QString sessionName;      // the session type's name
        QString sessionTypeText;  // kept as SessionInfo of the stored invitation
        std::uint64_t expiry = 0; // file time, becomes NotAfter
        QString path;             // invitation file to write
        QString password;
        QByteArray appData;
        // Whose rights the invitation file is written with.
        ClientIdentity client = ClientIdentity::Self();
    };
    struct Network
    {
        QString networkName; // common name, stored file name, session-list key
        QString displayName; // SessionDisplayName
        QString inviterNickname;
        QString inviterAddress; // text form of IPV6Addr
        std::uint64_t expiry = 0;
        QByteArray appData;
    };

    // Creates the CA on first use; writes the invitation file and its stored
    // twin. False with the error text the program shows.
    bool CreateNetwork(const NewNetwork& request, Network& network, QString& errorText);
    // Opens an invitation file with its password, with the client's rights.
    bool JoinNetwork(const QString& path, const QString& password, Network& network,
                     QString& errorText, const ClientIdentity& client = ClientIdentity::Self());

    // TervalaCA.cert in the store folder: the stored-invitation container
    // (fixed key) whose document holds only CertData, the CA certificate with
    // its private key under the fixed key.
    static QString CaPath();
    // Loads the CA, creating it when the file does not exist yet.
    bool EnsureCa(QString& errorText);
    const CCertificate& Ca() const { return m_ca; }

    // The inviter's address and port written into invitations (::1, 47800).
    static QByteArray InviterAddressBytes();
    static QByteArray InviterPortBytes();

private:
    QString UniqueNetworkName(const QString& sessionName) const;

    CCertificate m_ca;
};

// Plugs the authority into the stand-in service (create and join handlers).
void registerInvitationCommands(StandinService& service, ControlChannel& control);

// tervala-standin write-invitation --path P --password W [--nickname N]
//   [--session-type T] [--expiry-days D] [--appdata-file F]
// args is the whole command line (args[1] == "write-invitation").
int runWriteInvitation(const QStringList& args);

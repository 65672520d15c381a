#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The last error text of an object: empty until a failure sets it.
class CError
{
public:
    virtual ~CError() = default;
    const QString& GetErrorText() const { return m_errorText; }
    void SetErrorText(const QString& text) { m_errorText = text; }

protected:
    QString m_errorText;
};

// Command numbers: what travels in a message's "command" element.
enum IpcCommand : long
{
    CREATE_INVITATION = 0,
    JOIN_INVITATION = 1,
    JOIN_INVITATION_STATUS = 2,
    LSP_NOTIFY = 3,
    UI_NOTIFY = 4,
    P2P_STATUS_CHANGE = 5,
    CREATE_INVITATION_STATUS = 6,
    INVITATION_APP_DATA = 7,
    CLOSE_SERVER_SESSION = 8,
};

// The nine commands between the program and the service. The sending side
// (IRPCProxyStub) turns a call into a message; the receiving side
// (ExecuteCommand) turns a message into a call on its own implementation.
// Every default does nothing and returns 0.
class IRPCExecute : public CError
{
public:
    // appData null (QByteArray()) = no application data: the message then
    // carries six parameters instead of eight. expiry is a FILETIME.
    virtual int CreateInvitation(const QString& nickname, const QString& password,
                                 const QString& sessionName, const QString& sessionTypeText,
                                 quint64 expiry, const QString& invitationPath,
                                 const QByteArray& appData);
    virtual int JoinInvitation(const QString& nickname, const QString& invitationPath,
                               const QString& password);
    virtual int PostLSPNotify(long value);
    virtual int PostUINotify();
    virtual void CloseServerSession(const QString& sessionName);
    virtual int PostP2PStatusChange(long status);
    virtual int PostCreateInvitationStatus(const QString& firstString, long success,
                                           const QString& errorText);
    virtual int PostJoinInvitationStatus(long success, const QString& errorText,
                                         const QString& sessionName, const QString& inviterAddress);
    // The data as received: its size is the sent length, never more than was
    // decoded.
    virtual int PostInvitationAppData(const QByteArray& data);
};

class CXmlSerializer;

// Sending side: every operation builds the command's message and hands it to
// SendCommand; the result is 0 whether or not the send succeeded (the reason
// of a failure stays in the error text).
class IRPCProxyStub : public IRPCExecute
{
public:
    int CreateInvitation(const QString& nickname, const QString& password,
                         const QString& sessionName, const QString& sessionTypeText, quint64 expiry,
                         const QString& invitationPath, const QByteArray& appData) override;
    int JoinInvitation(const QString& nickname, const QString& invitationPath,
                       const QString& password) override;
    int PostLSPNotify(long value) override;
    int PostUINotify() override;
    void CloseServerSession(const QString& sessionName) override;
    int PostP2PStatusChange(long status) override;
    int PostCreateInvitationStatus(const QString& firstString, long success,
                                   const QString& errorText) override;
    int PostJoinInvitationStatus(long success, const QString& errorText, const QString& sessionName,
                                 const QString& inviterAddress) override;
    int PostInvitationAppData(const QByteArray& data) override;

    // Writes a finished message; returns 0.
    virtual int SendCommand(const CXmlSerializer& document) = 0;
};

// The wire form of a message: the document text as UTF-16LE plus one zero unit.
QByteArray EncodeMessage(const QString& documentText);
// The text of a received message: UTF-16LE units up to the first zero unit
// (or the end); a trailing odd byte is ignored.
QString DecodeMessage(const char* data, qsizetype byteCount);

// Parses one received message and calls target's operation for it. A text
// that does not parse reads as command 0 with every parameter missing;
// numbers outside 0..8 call nothing. Always returns true.
bool ExecuteCommand(IRPCExecute* target, const QString& text);

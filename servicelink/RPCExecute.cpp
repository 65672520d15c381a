#include "servicelink/RPCExecute.h"

#include "foundation/TraceLog.h"
#include "foundation/XmlSerializer.h"

#include <QtEndian>

namespace {
const QString kRoot = QStringLiteral("TervalaIPC");
const QString kCommand = QStringLiteral("command");
const QString kParameters = QStringLiteral("parameters");
// Capacity of a received bytes parameter (the channel's buffer size).
constexpr qsizetype kBytesCapacity = 20480;

bool tracing()
{
    return (TraceLevel() & TRACE_IPC) != 0;
}

void trace(const char* text)
{
    if (tracing())
        CTraceLog::Trace(QString::fromUtf8(text));
}

// Builds one message: the command number, then one "parameters" element per
// argument, in argument order.
class Message
{
public:
    explicit Message(long command)
    {
        m_xml.CreateDocument(kRoot);
        m_xml.AddChild(kCommand);
        m_xml.SetAttributeLong(kCommand, command);
        m_xml.EndChild();
    }
    Message& text(const QString& value)
    {
        m_xml.AddChild(kParameters);
        m_xml.SetAttribute(kParameters, value);
        m_xml.EndChild();
        return *this;
    }
    Message& number(long value)
    {
        m_xml.AddChild(kParameters);
        m_xml.SetAttributeLong(kParameters, value);
        m_xml.EndChild();
        return *this;
    }
    Message& bytes(const void* data, quint32 length)
    {
        m_xml.AddChild(kParameters);
        m_xml.SetAttributeBinary(kParameters, data, length);
        m_xml.EndChild();
        return *this;
    }
    const CXmlSerializer& document() const { return m_xml; }

private:
    CXmlSerializer m_xml;
};

// Reads successive "parameters" elements. A missing element reads as empty;
// the walk is only left when it was entered, because leaving at the root
// would restart it and hand out the first parameter again.
class Reader
{
public:
    explicit Reader(CXmlSerializer& xml) : m_xml(xml) {}

    QString text()
    {
        QString value;
        if (m_xml.NextChild(kParameters)) {
            m_xml.GetAttribute(kParameters, value);
            m_xml.LeaveChild();
        }
        return value;
    }
    long number()
    {
        long value = 0;
        if (m_xml.NextChild(kParameters)) {
            if (!m_xml.GetAttributeLong(kParameters, value))
                value = 0;
            m_xml.LeaveChild();
        }
        return value;
    }
    // Data longer than the capacity is dropped (reads as empty).
    QByteArray bytes(qsizetype capacity)
    {
        QByteArray value;
        if (m_xml.NextChild(kParameters)) {
            if (!m_xml.GetAttributeBinary(kParameters, value) || value.size() > capacity)
                value.clear();
            m_xml.LeaveChild();
        }
        return value;
    }

private:
    CXmlSerializer& m_xml;
};

// The sent length, never more than what was decoded; null when it is 0.
QByteArray withLength(const QByteArray& data, long length)
{
    if (length <= 0)
        return QByteArray();
    return data.left(qMin<qsizetype>(length, data.size()));
}
} // namespace

int IRPCExecute::CreateInvitation(const QString&, const QString&, const QString&, const QString&,
                                  quint64, const QString&, const QByteArray&)
{
    return 0;
}
int IRPCExecute::JoinInvitation(const QString&, const QString&, const QString&)
{
    return 0;
}
int IRPCExecute::PostLSPNotify(long)
{
    return 0;
}
int IRPCExecute::PostUINotify()
{
    return 0;
}
void IRPCExecute::CloseServerSession(const QString&) {}
int IRPCExecute::PostP2PStatusChange(long)
{
    return 0;
}
int IRPCExecute::PostCreateInvitationStatus(const QString&, long, const QString&)
{
    return 0;
}
int IRPCExecute::PostJoinInvitationStatus(long, const QString&, const QString&, const QString&)
{
    return 0;
}
int IRPCExecute::PostInvitationAppData(const QByteArray&)
{
    return 0;
}

int IRPCProxyStub::CreateInvitation(const QString& nickname, const QString& password,
                                    const QString& sessionName, const QString& sessionTypeText,
                                    quint64 expiry, const QString& invitationPath,
                                    const QByteArray& appData)
{
    uchar expiryBytes[8];
    qToLittleEndian(expiry, expiryBytes);
    Message message(CREATE_INVITATION);
    message.text(nickname).text(password).text(sessionName).text(sessionTypeText);
    message.bytes(expiryBytes, sizeof expiryBytes).text(invitationPath);
    if (!appData.isNull()) {
        message.bytes(appData.constData(), static_cast<quint32>(appData.size()));
        message.number(static_cast<long>(appData.size()));
    }
    return SendCommand(message.document());
}

int IRPCProxyStub::JoinInvitation(const QString& nickname, const QString& invitationPath,
                                  const QString& password)
{
    trace("Calling JoinInvitation");
    Message message(JOIN_INVITATION);
    message.text(nickname).text(invitationPath).text(password);
    SendCommand(message.document());
    trace("Call Exit JoinInvitation");
    return 0;
}

int IRPCProxyStub::PostLSPNotify(long value)
{
    Message message(LSP_NOTIFY);
    message.number(value);
    return SendCommand(message.document());
}

int IRPCProxyStub::PostUINotify()
{
    Message message(UI_NOTIFY);
    return SendCommand(message.document());
}

void IRPCProxyStub::CloseServerSession(const QString& sessionName)
{
    Message message(CLOSE_SERVER_SESSION);
    message.text(sessionName);
    SendCommand(message.document());
}

int IRPCProxyStub::PostP2PStatusChange(long status)
{
    if (tracing())
        CTraceLog::TraceF("Call  PostP2PStatusChange %d", static_cast<int>(status));
    Message message(P2P_STATUS_CHANGE);
    message.number(status);
    return SendCommand(message.document());
}

int IRPCProxyStub::PostCreateInvitationStatus(const QString& firstString, long success,
                                              const QString& errorText)
{
    trace("Calling PostCreateInvitationStatus");
    Message message(CREATE_INVITATION_STATUS);
    message.text(firstString).number(success).text(errorText);
    SendCommand(message.document());
    trace("Call Exit PostCreateInvitationStatus");
    return 0;
}

int IRPCProxyStub::PostJoinInvitationStatus(long success, const QString& errorText,
                                            const QString& sessionName,
                                            const QString& inviterAddress)
{
    trace("Calling PostJoinInvitationStatus");
    Message message(JOIN_INVITATION_STATUS);
    message.number(success).text(errorText).text(sessionName).text(inviterAddress);
    SendCommand(message.document());
    trace("Call Exit PostJoinInvitationStatus");
    return 0;
}

int IRPCProxyStub::PostInvitationAppData(const QByteArray& data)
{
    trace("Calling PostInvitationAppData");
    Message message(INVITATION_APP_DATA);
    message.bytes(data.constData(), static_cast<quint32>(data.size()));
    message.number(static_cast<long>(data.size()));
    SendCommand(message.document());
    trace("Call Exit PostInvitationAppData");
    return 0;
}

QByteArray EncodeMessage(const QString& documentText)
{
    QByteArray wire(static_cast<qsizetype>((documentText.size() + 1) * 2), Qt::Uninitialized);
    qToLittleEndian<quint16>(documentText.utf16(), documentText.size(), wire.data());
    wire[wire.size() - 2] = 0;
    wire[wire.size() - 1] = 0;
    return wire;
}

QString DecodeMessage(const char* data, qsizetype byteCount)
{
    const qsizetype units = byteCount / 2;
    QString text(units, Qt::Uninitialized);
    qFromLittleEndian<quint16>(data, units, text.data());
    const qsizetype end = text.indexOf(QChar(u'\0'));
    if (end >= 0)
        text.truncate(end);
    return text;
}

bool ExecuteCommand(IRPCExecute* target, const QString& text)
{
    CXmlSerializer xml;
    // A text that does not parse leaves no elements: the command reads as 0.
    xml.LoadXml(text, kRoot);
    long command = 0;
    if (xml.NextChild(kCommand)) {
        if (!xml.GetAttributeLong(kCommand, command))
            command = 0;
        xml.LeaveChild();
    }
    if (!target)
        return true;

    Reader in(xml);
    switch (command) {
    case CREATE_INVITATION: {
        const QString nickname = in.text();
        const QString password = in.text();
        const QString sessionName = in.text();
        const QString sessionType = in.text();
        const QByteArray expiryBytes = in.bytes(8);
        uchar expiry[8] = {};
        std::copy(expiryBytes.cbegin(), expiryBytes.cend(), expiry);
        const QString path = in.text();
        const QByteArray data = in.bytes(kBytesCapacity);
        const long length = data.isEmpty() ? 0 : in.number();
        target->CreateInvitation(nickname, password, sessionName, sessionType,
                                 qFromLittleEndian<quint64>(expiry), path,
                                 withLength(data, length));
        break;
    }
    case JOIN_INVITATION: {
        trace("Executing JOIN_INVITATION");
        const QString nickname = in.text();
        const QString path = in.text();
        const QString password = in.text();
        target->JoinInvitation(nickname, path, password);
        break;
    }
    case JOIN_INVITATION_STATUS: {
        trace("Executing JOIN_INVITATION_STATUS");
        const long success = in.number();
        const QString errorText = in.text();
        const QString sessionName = in.text();
        const QString address = in.text();
        target->PostJoinInvitationStatus(success, errorText, sessionName, address);
        trace("Execute Exit JOIN_INVITATION_STATUS");
        break;
    }
    case LSP_NOTIFY:
        target->PostLSPNotify(in.number());
        break;
    case UI_NOTIFY:
        target->PostUINotify();
        break;
    case P2P_STATUS_CHANGE:
        target->PostP2PStatusChange(in.number());
        break;
    case CREATE_INVITATION_STATUS: {
        trace("Executing CREATE_INVITATION_STATUS");
        const QString first = in.text();
        const long success = in.number();
        const QString errorText = in.text();
        target->PostCreateInvitationStatus(first, success, errorText);
        trace("Execute Exit CREATE_INVITATION_STATUS");
        break;
    }
    case INVITATION_APP_DATA: {
        trace("Executing INVITATION_APP_DATA");
        const QByteArray data = in.bytes(kBytesCapacity);
        const long length = in.number();
        target->PostInvitationAppData(withLength(data, length));
        trace("Execute Exit INVITATION_APP_DATA");
        break;
    }
    case CLOSE_SERVER_SESSION: {
        const QString sessionName = in.text();
        if (tracing())
            CTraceLog::Trace(QStringLiteral("Executing CLOSE_SERVER_SESSION %1").arg(sessionName));
        target->CloseServerSession(sessionName);
        trace("Execute Exit CLOSE_SERVER_SESSION");
        break;
    }
    default:
        break;
    }
    return true;
}

#include "support/ContactSupport.h"

#include "foundation/RegOperations.h"
#include "foundation/TraceLog.h"
#include "resources/StringTable.h"

namespace {
constexpr quint32 IDS_NEED_EMAIL = 102;
constexpr quint32 IDS_REPORT_SENT = 145;
constexpr quint32 IDS_REPORT_FAILED = 147;
} // namespace

CContactSupport::CContactSupport(QObject* parent) : QObject(parent)
{
    connect(&m_sender, &CSupportSender::finished, this, &CContactSupport::onSenderFinished);
}

CContactSupport::~CContactSupport() = default;

QString CContactSupport::SupportEmail()
{
    return CRegOperations::SupportEmail();
}

SupportReport::Endpoint CContactSupport::Destination() const
{
    return SupportReport::EndpointFromSetting(CRegOperations::SupportHost(),
                                              SupportReport::MachineSettingsFile());
}

ServiceLogTail CContactSupport::PreviewTail() const
{
    return ReadServiceLogTail(ServiceLogPath());
}

QString CContactSupport::TailNote(const ServiceLogTail& tail)
{
    if (tail.status == ServiceLogTail::Status::Attached)
        return QString();
    return tr("The service log (%1) was not attached: %2.").arg(tail.path, tail.reason);
}

bool CContactSupport::Send(const SupportForm& form, QString& refusal)
{
    refusal.clear();
    if (m_sender.IsSending())
        return false;
    if (!SupportReport::EmailAcceptable(form.email)) {
        refusal = LoadString(IDS_NEED_EMAIL);
        return false;
    }
    const SupportReport::Endpoint endpoint = Destination();
    if (!endpoint.url.isValid()) {
        refusal = endpoint.errorText;
        return false;
    }

    // A report without the log is still worth sending: the user said what
    // went wrong, and the service may not even be installed.
    m_tail = ReadServiceLogTail(ServiceLogPath());
    if (m_tail.status != ServiceLogTail::Status::Attached && (TraceLevel() & TRACE_ERROR))
        CTraceLog::Trace(TailNote(m_tail));

    SupportForm sent = form;
    sent.message = SupportReport::WithCrLf(form.message);
    const QByteArray body = SupportReport::BuildBody(sent, m_tail.text);
    return m_sender.Send(endpoint.url, body);
}

void CContactSupport::Cancel()
{
    m_sender.Cancel();
}

void CContactSupport::onSenderFinished(const CSupportSender::Result& result)
{
    Outcome outcome;
    switch (result.kind) {
    case CSupportSender::Result::Kind::Sent: {
        outcome.kind = Outcome::Kind::Sent;
        outcome.text = LoadString(IDS_REPORT_SENT);
        const QString note = TailNote(m_tail);
        if (!note.isEmpty())
            outcome.text += QStringLiteral("\n\n") + note;
        break;
    }
    case CSupportSender::Result::Kind::Cancelled:
        outcome.kind = Outcome::Kind::Cancelled;
        outcome.text = result.detail;
        break;
    case CSupportSender::Result::Kind::Failed:
    case CSupportSender::Result::Kind::TimedOut:
        outcome.kind = Outcome::Kind::Failed;
        outcome.text = LoadString(IDS_REPORT_FAILED);
        if (!result.detail.isEmpty())
            outcome.text += QStringLiteral("\n\n") + result.detail;
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(QStringLiteral("Support report not sent: ") + result.detail);
        break;
    }
    emit finished(outcome);
}

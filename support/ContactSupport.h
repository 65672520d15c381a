#pragma once

#include "support/ServiceLogTail.h"
#include "support/SupportReport.h"
#include "support/SupportSender.h"

#include <QObject>
#include <QString>
#include <QUrl>

// What pressing Send in the Contact Support form does, without the window:
// the checks, the log tail, the body and the post, and the text the user is
// shown at the end. Settings and the log are read afresh for every send.
class CContactSupport : public QObject
{
    Q_OBJECT
public:
    struct Outcome
    {
        enum class Kind
        {
            Sent,      // information box with text, the form closes
            Failed,    // error box with text, the form stays as it is
            Cancelled, // no box: the user called it off
        };
        Kind kind = Kind::Failed;
        QString text;
    };

    explicit CContactSupport(QObject* parent = nullptr);
    ~CContactSupport() override;

    // The address shown on the form's To line (machine-wide SupportEmail).
    static QString SupportEmail();

    // Checks the form and starts the post. True when a post now runs and
    // finished() will follow; false when it was refused, with the reason for
    // an error box in refusal (empty when nothing needs saying).
    bool Send(const SupportForm& form, QString& refusal);
    void Cancel();
    bool IsSending() const { return m_sender.IsSending(); }

    // The tail as a send would take it now (for the form's Details view).
    ServiceLogTail PreviewTail() const;
    // The tail taken by the last Send().
    const ServiceLogTail& SentTail() const { return m_tail; }
    // Where a send goes now: the help centre's address, or what is wrong
    // with the setting.
    SupportReport::Endpoint Destination() const;

    // For a user whose log was not attached: why.
    static QString TailNote(const ServiceLogTail& tail);

    CSupportSender& Sender() { return m_sender; }

signals:
    void finished(const CContactSupport::Outcome& outcome);

private:
    void onSenderFinished(const CSupportSender::Result& result);

    CSupportSender m_sender;
    ServiceLogTail m_tail;
};

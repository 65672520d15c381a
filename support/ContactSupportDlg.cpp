#include "support/ContactSupportDlg.h"

#include "resources/StringTable.h"
#include "skin/Prompter.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {
constexpr quint32 IDS_MESSAGE_HINT = 149;
constexpr int kDetailsHeight = 200;

QString controlName(const char* kind, int id)
{
    return QStringLiteral("%1%2").arg(QLatin1String(kind)).arg(id);
}
} // namespace

CContactSupportDlg::CContactSupportDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("contactSupportDlg"));
    setWindowTitle(tr("Contact Support"));

    auto* grid = new QGridLayout;
    auto addRow = [&](int row, const QString& label, QWidget* field) {
        auto* l = new QLabel(label, this);
        l->setBuddy(field);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
    };

    m_to = new QLabel(this);
    m_to->setObjectName(QStringLiteral("supportAddress"));
    m_to->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QString address = CContactSupport::SupportEmail();
    m_to->setText(address.isEmpty() ? tr("(SupportEmail is not set)") : address);
    m_to->setAccessibleName(tr("To"));
    addRow(0, tr("To                    :"), m_to);

    m_name = new QLineEdit(this);
    m_name->setObjectName(controlName("edit", IDC_NAME));
    m_name->setAccessibleName(tr("Your Name"));
    addRow(1, tr("Your Name      :"), m_name);

    m_email = new QLineEdit(this);
    m_email->setObjectName(controlName("edit", IDC_EMAIL));
    m_email->setAccessibleName(tr("Your E-mail"));
    addRow(2, tr("Your E-mail      :"), m_email);

    m_subject = new QLineEdit(this);
    m_subject->setObjectName(controlName("edit", IDC_SUBJECT));
    m_subject->setAccessibleName(tr("Subject"));
    addRow(3, tr("Subject            :"), m_subject);

    auto* messageLabel = new QLabel(tr("Message         :"), this);
    m_message = new QPlainTextEdit(this);
    m_message->setObjectName(controlName("edit", IDC_MESSAGE));
    m_message->setAccessibleName(tr("Message"));
    // The hint is a placeholder, never text of the box: it cannot be sent by
    // mistake, and nothing the user typed is ever cleared to remove it.
    m_message->setPlaceholderText(LoadString(IDS_MESSAGE_HINT));
    m_message->setTabChangesFocus(true);
    messageLabel->setBuddy(m_message);

    // What leaves the machine besides the typed fields.
    m_detailsPanel = new QWidget(this);
    m_detailsPanel->setObjectName(QStringLiteral("detailsPanel"));
    auto* detailsLayout = new QVBoxLayout(m_detailsPanel);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    m_detailsHeading = new QLabel(m_detailsPanel);
    m_detailsHeading->setObjectName(QStringLiteral("detailsHeading"));
    m_detailsHeading->setWordWrap(true);
    m_detailsHeading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_detailsView = new QPlainTextEdit(m_detailsPanel);
    m_detailsView->setObjectName(QStringLiteral("detailsView"));
    m_detailsView->setAccessibleName(tr("Service log tail"));
    m_detailsView->setReadOnly(true);
    m_detailsView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_detailsView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_detailsPanel->setFixedHeight(kDetailsHeight);
    detailsLayout->addWidget(m_detailsHeading);
    detailsLayout->addWidget(m_detailsView);
    m_detailsPanel->hide();

    m_busyBar = new QProgressBar(this);
    m_busyBar->setObjectName(QStringLiteral("busyBar"));
    m_busyBar->setRange(0, 0);
    m_busyBar->setTextVisible(false);
    m_busyBar->setMaximumWidth(120);
    m_busyBar->hide();
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setWordWrap(true);

    m_detailsButton = new QPushButton(tr("&Details"), this);
    m_detailsButton->setObjectName(QStringLiteral("detailsButton"));
    m_detailsButton->setCheckable(true);
    m_detailsButton->setAutoDefault(false);
    m_detailsButton->setToolTip(
        tr("Show the end of the service log that is sent with your message"));
    m_send = new QPushButton(tr("Send"), this);
    m_send->setObjectName(controlName("button", IDC_SEND));
    m_send->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("button2"));
    m_cancel->setAutoDefault(false);

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_busyBar);
    statusRow->addWidget(m_status, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_detailsButton);
    buttons->addStretch(1);
    buttons->addWidget(m_send);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(messageLabel);
    layout->addWidget(m_message, 3);
    layout->addWidget(m_detailsPanel);
    layout->addLayout(statusRow);
    layout->addLayout(buttons);

    setTabOrder(m_name, m_email);
    setTabOrder(m_email, m_subject);
    setTabOrder(m_subject, m_message);
    setTabOrder(m_message, m_send);
    setTabOrder(m_send, m_cancel);
    setTabOrder(m_cancel, m_detailsButton);
    m_name->setFocus();
    resize(480, 420);

    connect(m_send, &QPushButton::clicked, this, &CContactSupportDlg::onSend);
    connect(m_cancel, &QPushButton::clicked, this, &CContactSupportDlg::reject);
    connect(m_detailsButton, &QPushButton::toggled, this, &CContactSupportDlg::onDetailsToggled);
    connect(&m_logic, &CContactSupport::finished, this, &CContactSupportDlg::onFinished);
}

CContactSupportDlg::~CContactSupportDlg() = default;

int CContactSupportDlg::DoModal()
{
    return exec();
}

bool CContactSupportDlg::IsBusy() const
{
    return m_logic.IsSending();
}

void CContactSupportDlg::reject()
{
    if (m_logic.IsSending()) {
        m_logic.Cancel();
        return;
    }
    QDialog::reject();
}

void CContactSupportDlg::onSend()
{
    if (m_logic.IsSending())
        return;
    SupportForm form;
    form.name = m_name->text();
    form.email = m_email->text();
    form.subject = m_subject->text();
    form.message = m_message->toPlainText();

    QString refusal;
    if (!m_logic.Send(form, refusal)) {
        if (!refusal.isEmpty()) {
            m_status->setText(QString());
            Prompter::error(this, refusal);
        }
        return;
    }
    const SupportReport::Endpoint endpoint = m_logic.Destination();
    if (m_detailsPanel->isVisible())
        showDetails(endpoint, m_logic.SentTail());
    setBusy(true, tr("Sending to %1 ...").arg(endpoint.url.authority()));
}

void CContactSupportDlg::onFinished(const CContactSupport::Outcome& outcome)
{
    switch (outcome.kind) {
    case CContactSupport::Outcome::Kind::Sent:
        setBusy(false, tr("Sent."));
        Prompter::information(this, outcome.text);
        accept();
        break;
    case CContactSupport::Outcome::Kind::Failed:
        setBusy(false, tr("Not sent."));
        Prompter::error(this, outcome.text);
        break;
    case CContactSupport::Outcome::Kind::Cancelled:
        setBusy(false, outcome.text);
        break;
    }
}

void CContactSupportDlg::onDetailsToggled(bool shown)
{
    // While a send runs, the view shows what it took, not the log of now.
    if (shown)
        showDetails(m_logic.Destination(),
                    m_logic.IsSending() ? m_logic.SentTail() : m_logic.PreviewTail());
    // The form grows and shrinks by the panel, so the message box keeps the
    // room the user gave it.
    const int extra = kDetailsHeight + layout()->spacing();
    m_detailsPanel->setVisible(shown);
    if (!isVisible())
        return;
    resize(width(), shown ? height() + extra : qMax(minimumSizeHint().height(), height() - extra));
    // Growing must not push the buttons off the screen.
    if (const QScreen* where = screen()) {
        const QRect room = where->availableGeometry();
        const QRect frame = frameGeometry();
        if (frame.height() > room.height())
            resize(width(), height() - (frame.height() - room.height()));
        if (frameGeometry().bottom() > room.bottom())
            move(x(), qMax(room.top(), room.bottom() - frameGeometry().height() + 1));
    }
}

void CContactSupportDlg::showDetails(const SupportReport::Endpoint& endpoint,
                                     const ServiceLogTail& tail)
{
    const QString where =
        endpoint.url.isValid() ? tr("Goes to %1").arg(endpoint.url.toString()) : endpoint.errorText;
    if (tail.status == ServiceLogTail::Status::Attached) {
        m_detailsHeading->setText(tr("%1\nAppended to your message: the end of %2 (%3 characters)")
                                      .arg(where, tail.path)
                                      .arg(tail.text.size()));
        m_detailsView->setPlainText(tail.text);
    } else {
        m_detailsHeading->setText(where + QLatin1Char('\n') + CContactSupport::TailNote(tail));
        m_detailsView->setPlainText(QString());
    }
}

void CContactSupportDlg::setBusy(bool busy, const QString& status)
{
    m_send->setEnabled(!busy);
    m_name->setReadOnly(busy);
    m_email->setReadOnly(busy);
    m_subject->setReadOnly(busy);
    m_message->setReadOnly(busy);
    m_busyBar->setVisible(busy);
    m_status->setText(status);
    setCursor(busy ? Qt::BusyCursor : Qt::ArrowCursor);
    // Cancel is what the user may want while it runs; Send again after.
    if (busy)
        m_cancel->setFocus();
    else if (m_cancel->hasFocus())
        m_send->setFocus();
}

#include "wizards/ExistingWizard.h"

#include "invitations/InvitationInfo.h"
#include "resources/StringTable.h"
#include "skin/Pictures.h"
#include "skin/Prompter.h"

#include <QEventLoop>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QTimer>

namespace {
constexpr quint32 IDS_INVITATION_CREATED = 109;
constexpr quint32 IDS_SHOW_EXISTING = 132;
constexpr quint32 IDS_NO_INVITATION = 133;
constexpr quint32 IDS_READING = 20102;
constexpr quint32 IDS_EXPIRED_MEANWHILE = 20117;
constexpr quint32 IDS_CORRUPTED = 10003;

// The first reading happens before the wizard opens; only when it takes
// longer than this does a progress window say what the program is doing.
constexpr int kProgressDelayMs = 400;
} // namespace

CExistingWizard::CExistingWizard(QWidget* parent) : QWizard(parent)
{
    setObjectName(QStringLiteral("existingWizard"));
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::HaveHelpButton, false);
    setWindowTitle(LoadString(IDS_SHOW_EXISTING));
    m_listPage = new CExistingInvitationPage(this);
    m_savePage = new CInvitationSavePage(this);
    // A reading after Delete may find files the user has not heard of.
    connect(m_listPage, &CExistingInvitationPage::filled, this, [this] {
        if (isVisible())
            reportUnreadable();
    });
}

CExistingWizard::~CExistingWizard() = default;

int CExistingWizard::DoModal()
{
    if (pageIds().isEmpty()) {
        setPage(kListPage, m_listPage);
        setPage(kSavePage, m_savePage);
    }
    m_headerPicture = QPixmap(Pictures::Path(QStringLiteral("images/banner_icon_existing.bmp")));
    setPixmap(QWizard::LogoPixmap, m_headerPicture);
    const auto dropPicture = qScopeGuard([this] {
        setPixmap(QWizard::LogoPixmap, QPixmap());
        m_headerPicture = QPixmap();
    });

    m_abandoned = false;
    m_listPage->StartFill();
    if (!waitForFirstFill())
        return QDialog::Rejected;
    reportUnreadable();
    if (m_listPage->NetworkCount() == 0) {
        Prompter::error(messageOwner(), LoadString(IDS_NO_INVITATION));
        return QDialog::Rejected;
    }

    if (exec() != QDialog::Accepted)
        return QDialog::Rejected;
    return exportInvitation() ? QDialog::Accepted : QDialog::Rejected;
}

bool CExistingWizard::waitForFirstFill()
{
    if (!m_listPage->IsFilling())
        return true;
    QEventLoop loop;
    connect(m_listPage, &CExistingInvitationPage::filled, &loop, &QEventLoop::quit);
    connect(this, &QDialog::rejected, &loop, &QEventLoop::quit);

    QTimer slow;
    slow.setSingleShot(true);
    connect(&slow, &QTimer::timeout, this, [this, &loop] {
        auto* progress = new QProgressDialog(parentWidget());
        progress->setObjectName(QStringLiteral("readingProgress"));
        progress->setWindowTitle(LoadString(IDS_SHOW_EXISTING));
        progress->setLabelText(LoadString(IDS_READING));
        progress->setMinimumDuration(0);
        progress->setRange(0, 0);
        progress->setAutoClose(false);
        progress->setAutoReset(false);
        m_readingProgress = progress;
        QProgressBar* pageBar = m_listPage->ProgressBar();
        connect(pageBar, &QProgressBar::valueChanged, progress, [progress, pageBar] {
            progress->setRange(pageBar->minimum(), pageBar->maximum());
            progress->setValue(pageBar->value());
        });
        connect(progress, &QProgressDialog::canceled, &loop, [this, &loop] {
            m_abandoned = true;
            m_listPage->CancelFill();
            loop.quit();
        });
        progress->show();
    });
    slow.start(kProgressDelayMs);

    m_waiting = true;
    if (m_listPage->IsFilling() && !m_abandoned)
        loop.exec();
    m_waiting = false;
    slow.stop();
    // Deleted, not closed: progress still on its way from the reading would
    // bring a closed progress window back.
    delete m_readingProgress.data();
    if (m_abandoned) {
        m_listPage->CancelFill();
        return false;
    }
    return !m_listPage->IsFilling();
}

void CExistingWizard::reject()
{
    if (m_waiting) {
        // Before the wizard is on screen (the main window ending, say):
        // stop reading and open nothing.
        m_abandoned = true;
        m_listPage->CancelFill();
    }
    QWizard::reject();
}

void CExistingWizard::reportUnreadable()
{
    const QStringList unreadable = m_listPage->TakeUnreadableToReport();
    if (!unreadable.isEmpty())
        Prompter::show(messageOwner(), Prompter::Icon::Warning,
                       StoredInvitations::UnreadableText(unreadable));
}

bool CExistingWizard::exportInvitation()
{
    const QString name = m_listPage->SubjectName();
    QWidget* owner = messageOwner();
    CInvitationInfo info;
    // The choice was made when the network was still valid; an invitation to
    // a network that has ended since would only be refused when used.
    const QString stored = info.StoredInvitationPath(name);
    if (!stored.isEmpty() && info.ReadInvitationFile(stored) && info.IsExpired()) {
        Prompter::error(owner, LoadString(IDS_EXPIRED_MEANWHILE).arg(m_listPage->DisplayText()));
        return false;
    }
    if (!info.CreateInvitationFile(name, m_savePage->InvitationPath(), m_savePage->Password())) {
        // A stored document that does not parse leaves no text of its own.
        const QString text = info.ErrorText();
        Prompter::error(owner, text.isEmpty() ? LoadString(IDS_CORRUPTED) : text);
        return false;
    }
    Prompter::information(owner, LoadString(IDS_INVITATION_CREATED));
    return true;
}

QWidget* CExistingWizard::messageOwner()
{
    if (isVisible())
        return this;
    QWidget* parent = parentWidget();
    return parent && parent->isVisible() ? parent : nullptr;
}

void CExistingWizard::showEvent(QShowEvent* event)
{
    QWizard::showEvent(event);
    // Started from the tray, the wizard must not open behind the window the
    // user was working in.
    raise();
    activateWindow();
}

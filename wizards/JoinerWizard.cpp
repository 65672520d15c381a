#include "wizards/JoinerWizard.h"

#include "resources/StringTable.h"
#include "skin/FileDialogs.h"
#include "skin/Pictures.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
constexpr quint32 IDS_INVITATION_FILTER = 104;
constexpr quint32 IDS_SELECT_INVITATION = 106;
constexpr quint32 IDS_JOIN_NETWORK = 131;

// Invitations arrive by mail or chat and land among the downloads; the
// program's own working folder means nothing to the user.
QString InvitationFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QFileInfo(downloads).isDir())
        return downloads;
    return QDir::homePath();
}
} // namespace

CJoinerWizard::CJoinerWizard(QWidget* parent) : QWizard(parent)
{
    setObjectName(QStringLiteral("joinerWizard"));
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::NoBackButtonOnStartPage, true);
    setOption(QWizard::HaveHelpButton, false);
    // One page: Finish is the only way forward.
    setButtonLayout({QWizard::Stretch, QWizard::FinishButton, QWizard::CancelButton});
    setWindowTitle(LoadString(IDS_JOIN_NETWORK));
    m_page = new CInvitationAuthPage(this);
}

CJoinerWizard::~CJoinerWizard() = default;

int CJoinerWizard::DoModal(const QString& invitationPath)
{
    m_invitationPath = invitationPath;
    if (m_invitationPath.isEmpty()) {
        const QString chosen = FileDialogs::getOpenFileName(
            parentWidget(), LoadString(IDS_SELECT_INVITATION), InvitationFolder(),
            FileDialogs::FilterFromTable(LoadString(IDS_INVITATION_FILTER)));
        if (chosen.isEmpty())
            return QDialog::Rejected;
        m_invitationPath = QFileInfo(chosen).absoluteFilePath();
    }

    if (pageIds().isEmpty())
        addPage(m_page);
    m_page->SetInvitationPath(m_invitationPath);
    m_headerPicture = QPixmap(Pictures::Path(QStringLiteral("images/banner_icon_add.bmp")));
    setPixmap(QWizard::LogoPixmap, m_headerPicture);
    const int result = exec();
    setPixmap(QWizard::LogoPixmap, QPixmap());
    m_headerPicture = QPixmap();
    return result;
}

void CJoinerWizard::showEvent(QShowEvent* event)
{
    QWizard::showEvent(event);
    // The wizard puts the focus on the page's first field as it opens; the
    // page knows better.
    m_page->FocusFirstField();
    // Started from the tray or a file manager, the wizard must not open
    // behind the window the user was working in.
    raise();
    activateWindow();
}

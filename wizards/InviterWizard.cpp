#include "wizards/InviterWizard.h"

#include "resources/StringTable.h"
#include "skin/Pictures.h"

namespace {
constexpr quint32 IDS_ADD_NETWORK = 129;
} // namespace

CInviterWizard::CInviterWizard(QWidget* parent) : QWizard(parent)
{
    setObjectName(QStringLiteral("inviterWizard"));
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::HaveHelpButton, false);
    setWindowTitle(LoadString(IDS_ADD_NETWORK));
    // Owned by the wizard, built now, added in order when it runs.
    m_sessionPage = new CSessionSelectionPage(this);
    m_savePage = new CInvitationSavePage(this);
}

// The pages go with the wizard; the session page stores the nickname then.
CInviterWizard::~CInviterWizard() = default;

int CInviterWizard::DoModal()
{
    if (pageIds().isEmpty()) {
        addPage(m_sessionPage);
        addPage(m_savePage);
    }
    m_headerPicture = QPixmap(Pictures::Path(QStringLiteral("images/banner_icon_add.bmp")));
    setPixmap(QWizard::LogoPixmap, m_headerPicture);
    const int result = exec();
    setPixmap(QWizard::LogoPixmap, QPixmap());
    m_headerPicture = QPixmap();
    return result;
}

void CInviterWizard::showEvent(QShowEvent* event)
{
    setWindowTitle(LoadString(IDS_ADD_NETWORK));
    QWizard::showEvent(event);
    // Started from the tray, the wizard must not open behind the window the
    // user was working in.
    raise();
    activateWindow();
}

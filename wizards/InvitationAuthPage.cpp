#include "wizards/InvitationAuthPage.h"

#include "foundation/RegOperations.h"
#include "resources/StringTable.h"
#include "skin/Prompter.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QWizard>

namespace {
constexpr quint32 IDS_ENTER_NICKNAME = 105;
constexpr quint32 IDS_AUTH_TITLE = 134;
constexpr quint32 IDS_AUTH_SUBTITLE = 135;
constexpr quint32 IDS_ENTER_PASSWORD = 140;
} // namespace

CInvitationAuthPage::CInvitationAuthPage(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QStringLiteral("invitationAuthPage"));
    setTitle(LoadString(IDS_AUTH_TITLE));
    setSubTitle(LoadString(IDS_AUTH_SUBTITLE));

    auto* nickLabel = new QLabel(tr("Nick name           :"), this);
    m_nickNameEdit = new QLineEdit(this);
    m_nickNameEdit->setObjectName(QStringLiteral("nickNameEdit"));
    m_nickNameEdit->setAccessibleName(tr("Nick name"));
    nickLabel->setBuddy(m_nickNameEdit);

    auto* passwordLabel = new QLabel(tr("Password           :"), this);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setAccessibleName(tr("Password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(m_passwordEdit);

    auto* layout = new QGridLayout(this);
    layout->addWidget(nickLabel, 0, 0);
    layout->addWidget(m_nickNameEdit, 0, 1);
    layout->addWidget(passwordLabel, 1, 0);
    layout->addWidget(m_passwordEdit, 1, 1);
    layout->setRowStretch(2, 1);
    setTabOrder(m_nickNameEdit, m_passwordEdit);
}

CInvitationAuthPage::~CInvitationAuthPage()
{
    // What the field holds now: a nickname typed before Cancel is kept too.
    // A page that never opened has nothing to say.
    if (m_initialised) {
        CRegOperations settings;
        settings.SetNickName(m_nickNameEdit->text());
    }
}

void CInvitationAuthPage::initializePage()
{
    if (!m_initialised) {
        m_nickName = CRegOperations().GetNickName();
        m_nickNameEdit->setText(m_nickName);
        m_initialised = true;
    }
    FocusFirstField();
}

void CInvitationAuthPage::FocusFirstField()
{
    if (m_nickNameEdit->text().isEmpty())
        m_nickNameEdit->setFocus();
    else
        m_passwordEdit->setFocus();
}

bool CInvitationAuthPage::validatePage()
{
    m_nickName = m_nickNameEdit->text();
    m_password = m_passwordEdit->text();
    QWidget* owner = window();
    if (m_nickName.isEmpty()) {
        Prompter::error(owner, LoadString(IDS_ENTER_NICKNAME));
        m_nickNameEdit->setFocus();
        return false;
    }
    // Any password the service can try goes; how long it must be is decided
    // when an invitation is made, not here.
    if (m_password.isEmpty()) {
        Prompter::error(owner, LoadString(IDS_ENTER_PASSWORD));
        m_passwordEdit->setFocus();
        return false;
    }
    return true;
}

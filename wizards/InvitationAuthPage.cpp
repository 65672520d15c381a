#include "wizards/InvitationAuthPage.h"

#include "foundation/RegOperations.h"
#include "resources/StringTable.h"
#include "skin/Prompter.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QWizard>

namespace {
constexpr quint32 IDS_ENTER_NICKNAME = 105;
constexpr quint32 IDS_AUTH_TITLE = 134;
constexpr quint32 IDS_AUTH_SUBTITLE = 135;
constexpr quint32 IDS_ENTER_PASSWORD = 140;
} // namespace

QString CInvitationAuthPage::DisplayLabel(const QString& text)
{
    // The label texts were padded with blanks to line their colons up in a
    // fixed-width font; the form layout lines them up instead, so the blanks
    // before the colon go.
    QString shown = text;
    if (shown.endsWith(QLatin1Char(':'))) {
        shown.chop(1);
        shown = shown.trimmed() + QLatin1Char(':');
    }
    return shown;
}

CInvitationAuthPage::CInvitationAuthPage(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QStringLiteral("invitationAuthPage"));
    setTitle(LoadString(IDS_AUTH_TITLE));
    setSubTitle(LoadString(IDS_AUTH_SUBTITLE));

    m_fileLabel = new QLabel(this);
    m_fileLabel->setObjectName(QStringLiteral("invitationFileLabel"));
    m_fileLabel->setTextFormat(Qt::PlainText);
    m_fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* nickLabel = new QLabel(DisplayLabel(tr("Nick name           :")), this);
    m_nickNameEdit = new QLineEdit(this);
    m_nickNameEdit->setObjectName(QStringLiteral("nickNameEdit"));
    m_nickNameEdit->setAccessibleName(tr("Nick name"));
    nickLabel->setBuddy(m_nickNameEdit);

    auto* passwordLabel = new QLabel(DisplayLabel(tr("Password           :")), this);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setAccessibleName(tr("Password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(m_passwordEdit);

    // Right-aligned labels keep the colons in one column whatever the font.
    auto* layout = new QFormLayout(this);
    layout->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->addRow(DisplayLabel(tr("Invitation file:")), m_fileLabel);
    layout->addRow(nickLabel, m_nickNameEdit);
    layout->addRow(passwordLabel, m_passwordEdit);
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

void CInvitationAuthPage::SetInvitationPath(const QString& path)
{
    // The name says which of several invitations is open; the folder, on
    // hover, tells two of the same name apart.
    const QFileInfo info(path);
    m_fileLabel->setText(info.fileName());
    m_fileLabel->setToolTip(QDir::toNativeSeparators(info.absolutePath()));
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

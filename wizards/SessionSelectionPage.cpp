#include "wizards/SessionSelectionPage.h"

#include "foundation/RegOperations.h"
#include "invitations/Certificate.h"
#include "resources/StringTable.h"
#include "sessions/CustomSessionDlg.h"
#include "sessions/SessionTypeCatalog.h"
#include "skin/Prompter.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {
constexpr quint32 IDS_SESSION_SUBTITLE = 103;
constexpr quint32 IDS_ENTER_NICKNAME = 105;
constexpr quint32 IDS_SESSION_TITLE = 146;
constexpr quint32 IDS_NO_SESSION_TYPES = 170;
constexpr quint32 IDS_REMOTE_ASSISTANCE = 10020;
constexpr int kDefaultExpiryRow = 2; // "1 day"
} // namespace

QList<CSessionSelectionPage::ExpiryChoice> CSessionSelectionPage::ExpiryChoices()
{
    return {{QStringLiteral("1 hour"), 1},   {QStringLiteral("2 hour"), 2},
            {QStringLiteral("1 day"), 24},   {QStringLiteral("2 day"), 48},
            {QStringLiteral("15 day"), 360}, {QStringLiteral("30 day"), 720}};
}

CSessionSelectionPage::CSessionSelectionPage(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QStringLiteral("sessionSelectionPage"));
    setTitle(LoadString(IDS_SESSION_TITLE));
    setSubTitle(LoadString(IDS_SESSION_SUBTITLE));

    auto* nickLabel = new QLabel(QStringLiteral("Nickname       :"), this);
    m_nickNameEdit = new QLineEdit(this);
    m_nickNameEdit->setObjectName(QStringLiteral("nickNameEdit"));
    m_nickNameEdit->setAccessibleName(QStringLiteral("Nickname"));
    nickLabel->setBuddy(m_nickNameEdit);

    auto* sessionLabel = new QLabel(QStringLiteral("Session          :"), this);
    m_sessionList = new QComboBox(this);
    m_sessionList->setObjectName(QStringLiteral("sessionList"));
    m_sessionList->setAccessibleName(QStringLiteral("Session"));
    m_sessionList->setEditable(false);
    sessionLabel->setBuddy(m_sessionList);
    m_addSessionButton = new QPushButton(QStringLiteral("Add New Session"), this);
    m_addSessionButton->setObjectName(QStringLiteral("addSessionButton"));
    m_addSessionButton->setAutoDefault(false);
    connect(m_addSessionButton, &QPushButton::clicked, this,
            &CSessionSelectionPage::OnAddNewSession);

    auto* expiryLabel = new QLabel(QStringLiteral("Expires in       :"), this);
    m_expiryList = new QComboBox(this);
    m_expiryList->setObjectName(QStringLiteral("expiryList"));
    m_expiryList->setAccessibleName(QStringLiteral("Expires in"));
    m_expiryList->setEditable(false);
    expiryLabel->setBuddy(m_expiryList);

    auto* layout = new QGridLayout(this);
    layout->addWidget(nickLabel, 0, 0);
    layout->addWidget(m_nickNameEdit, 0, 1);
    layout->addWidget(sessionLabel, 1, 0);
    layout->addWidget(m_sessionList, 1, 1);
    layout->addWidget(m_addSessionButton, 2, 1, Qt::AlignRight);
    layout->addWidget(expiryLabel, 3, 0);
    layout->addWidget(m_expiryList, 3, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(4, 1);
    setTabOrder(m_nickNameEdit, m_sessionList);
    setTabOrder(m_sessionList, m_addSessionButton);
    setTabOrder(m_addSessionButton, m_expiryList);
}

CSessionSelectionPage::~CSessionSelectionPage()
{
    // What the field holds now: a nickname typed before Cancel is kept too.
    // A page that never opened has nothing to say.
    if (m_initialised)
        CRegOperations().SetNickName(m_nickNameEdit->text());
}

void CSessionSelectionPage::initializePage()
{
    // Back and Next again must not undo what the user chose on this page.
    if (m_initialised)
        return;
    FillSessionList();
    m_nickName = CRegOperations().GetNickName();
    m_nickNameEdit->setText(m_nickName);
    m_expiryList->clear();
    for (const ExpiryChoice& choice : ExpiryChoices())
        m_expiryList->addItem(choice.label);
    m_expiryList->setCurrentIndex(kDefaultExpiryRow);
    m_initialised = true;
    (m_nickName.isEmpty() ? static_cast<QWidget*>(m_nickNameEdit) : m_sessionList)->setFocus();
}

void CSessionSelectionPage::FillSessionList()
{
    // Opened for this fill only: types added meanwhile (by Add New Session or
    // by the service) appear, and the file is not held while the user thinks.
    m_sessionTypes.clear();
    QStringList names;
    {
        CSessionTypeCatalog catalog;
        names = catalog.Names();
        for (const QString& name : std::as_const(names))
            m_sessionTypes.insert(name, catalog.Lookup(name));
    }
    // The list is sorted as the user reads it: letter case aside, and names
    // that differ only in case in a fixed order.
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    m_sessionList->clear();
    m_sessionList->addItems(names);
    m_sessionList->setCurrentIndex(names.isEmpty() ? -1 : 0);
    const int remote = FindPrefix(LoadString(IDS_REMOTE_ASSISTANCE));
    if (remote >= 0)
        m_sessionList->setCurrentIndex(remote);
}

int CSessionSelectionPage::FindPrefix(const QString& text) const
{
    for (int i = 0; i < m_sessionList->count(); ++i) {
        if (m_sessionList->itemText(i).startsWith(text, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void CSessionSelectionPage::OnAddNewSession()
{
    CCustomSessionDlg dialog(window());
    dialog.exec();
    FillSessionList();
    const QString added = dialog.SessionName();
    // An empty name matches every entry: nothing was named, nothing changes.
    if (added.isEmpty())
        return;
    // The name itself when present; a prefix search alone could pick an older
    // type whose name merely begins the same way in another letter case.
    int found = m_sessionList->findText(added, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found < 0)
        found = FindPrefix(added);
    if (found >= 0)
        m_sessionList->setCurrentIndex(found);
}

bool CSessionSelectionPage::validatePage()
{
    m_nickName = m_nickNameEdit->text();
    m_sessionName = m_sessionList->currentText();
    m_sessionTypeText = m_sessionTypes.value(m_sessionName);
    // The lifetime counts from this press of Next: Back and Next again
    // start it anew.
    const QString expiryLabel = m_expiryList->currentText();
    for (const ExpiryChoice& choice : ExpiryChoices()) {
        if (choice.label == expiryLabel) {
            m_expiry = FileTime::Now() + quint64(choice.hours) * kTicksPerHour;
            break;
        }
    }

    QWidget* owner = window();
    if (m_nickName.isEmpty()) {
        Prompter::error(owner, LoadString(IDS_ENTER_NICKNAME));
        m_nickNameEdit->setFocus();
        return false;
    }
    // A network needs a session type; the service cannot make one of nothing.
    if (m_sessionList->currentIndex() < 0) {
        Prompter::error(owner, LoadString(IDS_NO_SESSION_TYPES));
        m_addSessionButton->setFocus();
        return false;
    }
    return true;
}

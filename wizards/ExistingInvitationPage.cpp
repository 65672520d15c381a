#include "wizards/ExistingInvitationPage.h"

#include "foundation/DebugDump.h"
#include "invitations/Certificate.h"
#include "invitations/InvitationInfo.h"
#include "resources/StringTable.h"
#include "skin/Prompter.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

namespace {
constexpr quint32 IDS_SELECT_SESSION = 112;
constexpr quint32 IDS_EXISTING_TITLE = 138;
constexpr quint32 IDS_EXISTING_SUBTITLE = 141;
constexpr quint32 IDS_READING = 20102;
constexpr quint32 IDS_EXPIRES_SOON = 20111;
constexpr quint32 IDS_NOT_DELETED = 20116;

// A reading that ends sooner than this shows no progress at all: a bar that
// flashes up and away is only noise.
constexpr int kProgressDelayMs = 300;
} // namespace

CExistingInvitationPage::CExistingInvitationPage(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QStringLiteral("existingInvitationPage"));
    setTitle(LoadString(IDS_EXISTING_TITLE));
    setSubTitle(LoadString(IDS_EXISTING_SUBTITLE));

    auto* networksLabel = new QLabel(QStringLiteral("Existing networks :"), this);
    m_combo = new QComboBox(this);
    m_combo->setObjectName(QStringLiteral("networkCombo"));
    m_combo->setAccessibleName(QStringLiteral("Existing networks"));
    m_combo->setEditable(false);
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo->setMinimumContentsLength(24);
    networksLabel->setBuddy(m_combo);

    m_deleteButton = new QPushButton(QStringLiteral("&Delete"), this);
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_deleteButton->setAutoDefault(false);

    auto* expiryLabel = new QLabel(QStringLiteral("Expires on :"), this);
    m_expiryEdit = new QLineEdit(this);
    m_expiryEdit->setObjectName(QStringLiteral("expiryEdit"));
    m_expiryEdit->setAccessibleName(QStringLiteral("Expires on"));
    m_expiryEdit->setReadOnly(true);
    expiryLabel->setBuddy(m_expiryEdit);

    m_remainingIcon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_remainingIcon->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize, iconSize));
    m_remainingIcon->setToolTip(LoadString(IDS_EXPIRES_SOON));
    m_remainingIcon->setVisible(false);
    m_remainingLabel = new QLabel(this);
    m_remainingLabel->setObjectName(QStringLiteral("remainingLabel"));
    auto* remainingRow = new QHBoxLayout;
    remainingRow->addWidget(m_remainingIcon);
    remainingRow->addWidget(m_remainingLabel, 1);

    m_progressLabel = new QLabel(LoadString(IDS_READING), this);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("readingProgress"));
    m_progressBar->setAccessibleName(LoadString(IDS_READING));
    m_progressLabel->setVisible(false);
    m_progressBar->setVisible(false);

    auto* layout = new QGridLayout(this);
    layout->addWidget(networksLabel, 0, 0);
    layout->addWidget(m_combo, 0, 1);
    layout->addWidget(m_deleteButton, 1, 1, Qt::AlignRight);
    layout->addWidget(expiryLabel, 2, 0);
    layout->addWidget(m_expiryEdit, 2, 1);
    layout->addLayout(remainingRow, 3, 1);
    layout->addWidget(m_progressLabel, 4, 0, 1, 2);
    layout->addWidget(m_progressBar, 5, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(6, 1);
    setTabOrder(m_combo, m_deleteButton);
    setTabOrder(m_deleteButton, m_expiryEdit);

    connect(m_combo, &QComboBox::currentIndexChanged, this,
            &CExistingInvitationPage::OnSelectionChange);
    connect(m_deleteButton, &QPushButton::clicked, this, &CExistingInvitationPage::OnDelete);

    m_progressDelay.setSingleShot(true);
    m_progressDelay.setInterval(kProgressDelayMs);
    connect(&m_progressDelay, &QTimer::timeout, this, &CExistingInvitationPage::showProgress);
    connect(&m_watcher, &QFutureWatcher<CStoredScanResult>::finished, this,
            &CExistingInvitationPage::onScanDone);
    connect(&m_watcher, &QFutureWatcher<CStoredScanResult>::progressRangeChanged, m_progressBar,
            &QProgressBar::setRange);
    connect(&m_watcher, &QFutureWatcher<CStoredScanResult>::progressValueChanged, m_progressBar,
            &QProgressBar::setValue);
}

CExistingInvitationPage::~CExistingInvitationPage()
{
    // The reading stops at the next file; nothing waits for it.
    m_watcher.cancel();
}

void CExistingInvitationPage::StartFill()
{
    // An earlier reading still under way is abandoned: the watcher follows
    // only the new one.
    if (m_filling)
        m_watcher.cancel();
    setBusy(true);
    m_progressBar->setRange(0, 0);
    m_progressDelay.start();
    m_watcher.setFuture(StoredInvitations::StartScan(true));
}

void CExistingInvitationPage::CancelFill()
{
    if (!m_filling)
        return;
    m_watcher.cancel();
}

void CExistingInvitationPage::setBusy(bool busy)
{
    m_filling = busy;
    m_combo->setEnabled(!busy);
    m_deleteButton->setEnabled(!busy);
    if (!busy) {
        m_progressDelay.stop();
        m_progressLabel->setVisible(false);
        m_progressBar->setVisible(false);
    }
    emit completeChanged();
}

void CExistingInvitationPage::showProgress()
{
    if (!m_filling)
        return;
    m_progressLabel->setVisible(true);
    m_progressBar->setVisible(true);
}

void CExistingInvitationPage::onScanDone()
{
    const bool usable = !m_watcher.isCanceled() && m_watcher.future().resultCount() > 0;
    if (usable)
        m_scan = m_watcher.result();
    if (!usable || m_scan.stopped) {
        // Abandoned: the list stays as it was.
        setBusy(false);
        emit filled();
        return;
    }

    m_subjectNames.clear();
    m_expiryTexts.clear();
    m_expiries.clear();
    m_displayNames.clear();
    const QStringList texts = StoredInvitations::ListTexts(m_scan.networks);
    const std::uint64_t now = FileTime::Now();
    const QIcon soonIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    {
        const QSignalBlocker blocker(m_combo);
        m_combo->clear();
        for (qsizetype i = 0; i < m_scan.networks.size(); ++i) {
            const CStoredNetwork& network = m_scan.networks.at(i);
            m_subjectNames << network.subjectName;
            m_expiryTexts << network.expiryText;
            m_expiries << network.expiry;
            m_displayNames << network.displayName;
            if (StoredInvitations::ExpiresSoon(network.expiry, now)) {
                m_combo->addItem(soonIcon, texts.at(i));
                m_combo->setItemData(static_cast<int>(i), LoadString(IDS_EXPIRES_SOON),
                                     Qt::ToolTipRole);
            } else {
                m_combo->addItem(texts.at(i));
            }
        }
        m_combo->setCurrentIndex(m_subjectNames.isEmpty() ? -1 : 0);
    }
    m_everFilled = true;
    setBusy(false);
    OnSelectionChange(m_combo->currentIndex());
    emit filled();
}

QStringList CExistingInvitationPage::TakeUnreadableToReport()
{
    QStringList fresh;
    for (const QString& name : std::as_const(m_scan.unreadable)) {
        if (!m_reported.contains(name)) {
            fresh << name;
            m_reported.insert(name);
        }
    }
    return fresh;
}

void CExistingInvitationPage::OnSelectionChange(int index)
{
    if (index < 0 || index >= m_expiryTexts.size()) {
        // Nothing to show for: the fields say nothing rather than keep the
        // text of an entry that is gone.
        m_expiryText.clear();
        m_expiryEdit->clear();
        m_remainingLabel->clear();
        m_remainingIcon->setVisible(false);
        m_remainingMarked = false;
        dump();
        return;
    }
    m_expiryText = m_expiryTexts.at(index);
    m_expiryEdit->setText(m_expiryText);
    const std::uint64_t expiry = m_expiries.at(index);
    const std::uint64_t now = FileTime::Now();
    m_remainingMarked = StoredInvitations::ExpiresSoon(expiry, now);
    m_remainingLabel->setText(StoredInvitations::RemainingText(expiry, now));
    // Bold red with the warning sign: the one thing to act on today.
    m_remainingLabel->setStyleSheet(
        m_remainingMarked ? QStringLiteral("QLabel { color: #b00020; font-weight: bold; }")
                          : QString());
    m_remainingIcon->setVisible(m_remainingMarked);
    dump();
}

void CExistingInvitationPage::dump() const
{
    if (!DebugDump::Enabled())
        return;
    QString text;
    for (int i = 0; i < m_combo->count(); ++i)
        text += m_combo->itemText(i) + u'\n';
    text += QStringLiteral("selected: %1\nexpires: %2\nremaining: %3%4\n")
                .arg(QString::number(m_combo->currentIndex()), m_expiryEdit->text(),
                     m_remainingLabel->text(),
                     m_remainingMarked ? QStringLiteral(" (marked)") : QString());
    DebugDump::Write(QStringLiteral("existing.txt"), text);
}

void CExistingInvitationPage::OnDelete()
{
    const int index = m_combo->currentIndex();
    if (m_filling || index < 0 || index >= m_subjectNames.size())
        return;
    const QString name = m_subjectNames.at(index);
    CInvitationInfo info;
    if (!info.DeleteStoredInvitation(name)) {
        // Gone already (the list is refilled anyway) is fine; still there
        // means the user may not remove it, and should not think it is gone.
        const QString path = info.StoredInvitationPath(name);
        if (!path.isEmpty() && QFileInfo::exists(path))
            Prompter::error(window(), LoadString(IDS_NOT_DELETED).arg(m_combo->itemText(index)));
    }
    StartFill();
}

void CExistingInvitationPage::initializePage()
{
    // The wizard reads the folder before it opens; a page opened without
    // that (or reopened) reads it now.
    if (!m_everFilled && !m_filling)
        StartFill();
}

bool CExistingInvitationPage::validatePage()
{
    if (m_filling)
        return false;
    const int index = m_combo->currentIndex();
    if (index < 0 || index >= m_subjectNames.size()) {
        Prompter::error(window(), LoadString(IDS_SELECT_SESSION));
        return false;
    }
    m_subjectName = m_subjectNames.at(index);
    m_displayText = m_displayNames.at(index);
    return true;
}

bool CExistingInvitationPage::isComplete() const
{
    return !m_filling;
}

#pragma once

#include "invitations/StoredInvitations.h"

#include <QFutureWatcher>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWizardPage>

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// First page of Existing Networks: the networks created on this computer
// that are still valid, when each one ends, and Delete. The list is read from
// the local folder of the store on a pool thread (expired stored invitations
// are deleted on the way), so the window stays responsive however many there
// are; while it is read the page shows its progress and offers neither Next
// nor Delete.
class CExistingInvitationPage : public QWizardPage
{
    Q_OBJECT
public:
    enum Control
    {
        IDC_NETWORKS = 1002,
        IDC_DELETE = 1012,
        IDC_EXPIRY = 1023,
    };

    explicit CExistingInvitationPage(QWidget* parent = nullptr);
    ~CExistingInvitationPage() override;

    // Reads the folder again and refills the list (an earlier reading still
    // under way is abandoned). filled() follows.
    void StartFill();
    // Abandons a reading under way; the list keeps what it showed.
    void CancelFill();
    bool IsFilling() const { return m_filling; }
    // What the last completed reading found.
    const CStoredScanResult& LastScan() const { return m_scan; }
    int NetworkCount() const { return static_cast<int>(m_subjectNames.size()); }

    // Kept parallel to the list's entries, index for index.
    const QStringList& SubjectNames() const { return m_subjectNames; }
    const QStringList& ExpiryTexts() const { return m_expiryTexts; }

    // Set by a successful Next: the chosen network.
    QString SubjectName() const { return m_subjectName; }
    QString DisplayText() const { return m_displayText; }

    // Files of the last reading that could not be read and that the user
    // has not been told about yet; they count as told from now on.
    QStringList TakeUnreadableToReport();

    QComboBox* NetworkCombo() const { return m_combo; }
    QPushButton* DeleteButton() const { return m_deleteButton; }
    QLineEdit* ExpiryEdit() const { return m_expiryEdit; }
    QLabel* RemainingLabel() const { return m_remainingLabel; }
    QProgressBar* ProgressBar() const { return m_progressBar; }
    // The remaining lifetime is marked (networks ending within a day).
    bool RemainingMarked() const { return m_remainingMarked; }

    void OnDelete();
    void OnSelectionChange(int index);

    void initializePage() override;
    // Next: a network must be chosen (message 112).
    bool validatePage() override;
    // Not while the list is being read.
    bool isComplete() const override;

signals:
    // A reading has finished and the list shows its result.
    void filled();

private:
    void onScanDone();
    void showProgress();
    void setBusy(bool busy);
    // What the page shows, for checks from outside the program.
    void dump() const;

    QComboBox* m_combo = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QLineEdit* m_expiryEdit = nullptr;
    QLabel* m_remainingIcon = nullptr;
    QLabel* m_remainingLabel = nullptr;
    QLabel* m_progressLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QTimer m_progressDelay;
    QFutureWatcher<CStoredScanResult> m_watcher;

    CStoredScanResult m_scan;
    QStringList m_subjectNames;
    QStringList m_expiryTexts;
    QList<std::uint64_t> m_expiries;
    QStringList m_displayNames;
    QString m_expiryText;
    QString m_subjectName;
    QString m_displayText;
    QSet<QString> m_reported;
    bool m_filling = false;
    bool m_everFilled = false;
    bool m_remainingMarked = false;
};

#pragma once

#include "wizards/ExistingInvitationPage.h"
#include "wizards/InvitationSavePage.h"

#include <QPixmap>
#include <QPointer>
#include <QProgressDialog>
#include <QWizard>

// Existing Networks: lists the networks created on this computer, deletes
// one on request, and writes a fresh invitation file for the chosen one
// under a new password. Unlike Add Network it needs no service: the
// stored invitation carries all an invitation file holds.
class CExistingWizard : public QWizard
{
    Q_OBJECT
public:
    enum PageId
    {
        kListPage = 0,
        kSavePage = 1,
    };

    explicit CExistingWizard(QWidget* parent = nullptr);
    ~CExistingWizard() override;

    // Reads the stored invitations (showing progress when that takes more
    // than a moment), tells the user once about files that could not be
    // read, and with nothing valid left shows message 133 instead of the
    // wizard. Otherwise runs the wizard and, after Finish, writes the
    // invitation file and reports the outcome (109 or the error text).
    // QDialog::Accepted when an invitation file was written.
    int DoModal();

    CExistingInvitationPage* ListPage() const { return m_listPage; }
    CInvitationSavePage* SavePage() const { return m_savePage; }
    // The progress window of a slow first reading, while it is up.
    QProgressDialog* ReadingProgress() const { return m_readingProgress; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Waits, with the event loop running, for the first reading. False when
    // it was abandoned (progress window cancelled, wizard rejected).
    bool waitForFirstFill();
    void reportUnreadable();
    bool exportInvitation();
    QWidget* messageOwner();

    CExistingInvitationPage* m_listPage = nullptr;
    CInvitationSavePage* m_savePage = nullptr;
    QPointer<QProgressDialog> m_readingProgress;
    QPixmap m_headerPicture;
    bool m_waiting = false;
    bool m_abandoned = false;
};

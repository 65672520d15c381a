#pragma once

#include "wizards/InvitationSavePage.h"
#include "wizards/SessionSelectionPage.h"

#include <QPixmap>
#include <QString>
#include <QWizard>

// Add Network: nickname, session type and lifetime, then where the invitation
// file goes and its password. It only collects them; the service creates the
// network and writes the file.
class CInviterWizard : public QWizard
{
    Q_OBJECT
public:
    explicit CInviterWizard(QWidget* parent = nullptr);
    ~CInviterWizard() override;

    // Runs the wizard modally: QDialog::Accepted when the user pressed Finish.
    int DoModal();

    QString NickName() const { return m_sessionPage->NickName(); }
    QString SessionName() const { return m_sessionPage->SessionName(); }
    QString SessionTypeText() const { return m_sessionPage->SessionTypeText(); }
    quint64 Expiry() const { return m_sessionPage->Expiry(); }
    QString Password() const { return m_savePage->Password(); }
    QString InvitationPath() const { return m_savePage->InvitationPath(); }

    CSessionSelectionPage* SessionPage() const { return m_sessionPage; }
    CInvitationSavePage* SavePage() const { return m_savePage; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    CSessionSelectionPage* m_sessionPage = nullptr;
    CInvitationSavePage* m_savePage = nullptr;
    QPixmap m_headerPicture;
};

#pragma once

#include "wizards/InvitationAuthPage.h"

#include <QPixmap>
#include <QString>
#include <QWizard>

// Join Network: asks for the invitation file when none was given, then for
// the nickname and the invitation's password. It only collects them; the
// service opens the file and joins.
class CJoinerWizard : public QWizard
{
    Q_OBJECT
public:
    explicit CJoinerWizard(QWidget* parent = nullptr);
    ~CJoinerWizard() override;

    // Runs the wizard for an invitation file (empty: ask for one first).
    // QDialog::Accepted when the user pressed Finish; QDialog::Rejected when
    // the file dialog or the wizard was cancelled.
    int DoModal(const QString& invitationPath);

    QString NickName() const { return m_page->NickName(); }
    QString InvitationPath() const { return m_invitationPath; }
    QString Password() const { return m_page->Password(); }
    CInvitationAuthPage* Page() const { return m_page; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    CInvitationAuthPage* m_page = nullptr;
    QString m_invitationPath;
    QPixmap m_headerPicture;
};

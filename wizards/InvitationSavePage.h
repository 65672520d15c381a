#pragma once

#include <QString>
#include <QWizardPage>

class QLineEdit;
class QPushButton;

// Second page of both Add Network and Existing Networks: where the new
// invitation file goes and the password that protects it. The wizard that
// owns it runs its Finish checks through validatePage().
class CInvitationSavePage : public QWizardPage
{
    Q_OBJECT
public:
    enum Control
    {
        IDC_BROWSE = 1003,
        IDC_PATH = 1008,
        IDC_PASSWORD = 1009,
        IDC_CONFIRM = 1010,
    };

    explicit CInvitationSavePage(QWidget* parent = nullptr);
    ~CInvitationSavePage() override;

    // The values taken out of the controls by the last Finish.
    QString InvitationPath() const { return m_path; }
    QString Password() const { return m_password; }

    QLineEdit* PathEdit() const { return m_pathEdit; }
    QLineEdit* PasswordEdit() const { return m_passwordEdit; }
    QLineEdit* ConfirmEdit() const { return m_confirmEdit; }
    QPushButton* BrowseButton() const { return m_browseButton; }

    // Browse: the save dialog (filter 104, title 136, suffix "Tervalapro").
    void OnBrowse();
    // Finish: the checks 139, 140, 150, 142 in that order, each with its
    // message; true when the wizard may end.
    bool validatePage() override;

    // The path probe: can `path` be written? Never truncates or leaves behind
    // a file (an existing file is opened for appending without writing, a new
    // one is created and removed at once).
    static bool CanWritePath(const QString& path);

private:
    QLineEdit* m_pathEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_confirmEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QString m_path;
    QString m_password;
};

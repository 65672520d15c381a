#pragma once

#include <QString>
#include <QWizardPage>

class QLabel;
class QLineEdit;

// The Join Network wizard's one page: the nickname the user is known by in
// the network and the invitation's password.
class CInvitationAuthPage : public QWizardPage
{
    Q_OBJECT
public:
    enum Control
    {
        IDC_NICKNAME = 1001,
        IDC_PASSWORD = 1004,
    };

    explicit CInvitationAuthPage(QWidget* parent = nullptr);
    // Remembers the nickname for the next network, whether the wizard was
    // finished or cancelled (an empty one is not stored).
    ~CInvitationAuthPage() override;

    // The values taken out of the controls by the last Finish.
    QString NickName() const { return m_nickName; }
    QString Password() const { return m_password; }

    // Names the invitation file on the page (its folder as the tooltip).
    void SetInvitationPath(const QString& path);
    QLabel* InvitationFileLabel() const { return m_fileLabel; }

    // A label text as shown: the blanks that padded it before its colon
    // removed (the layout aligns the labels).
    static QString DisplayLabel(const QString& text);

    QLineEdit* NickNameEdit() const { return m_nickNameEdit; }
    QLineEdit* PasswordEdit() const { return m_passwordEdit; }

    // The field the user most likely types into first: the password when the
    // nickname is already known.
    void FocusFirstField();

    void initializePage() override;
    // Finish: takes the values out of the controls and refuses an empty
    // nickname or password with its message.
    bool validatePage() override;

private:
    QLabel* m_fileLabel = nullptr;
    QLineEdit* m_nickNameEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QString m_nickName;
    QString m_password;
    bool m_initialised = false;
};

#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QWizardPage>

class QComboBox;
class QLineEdit;
class QPushButton;

// First page of Add Network: the creator's nickname, the session type the
// network carries and how long its invitation stays valid.
class CSessionSelectionPage : public QWizardPage
{
    Q_OBJECT
public:
    enum Control
    {
        IDC_NICKNAME = 1006,
        IDC_SESSION = 1007,
        IDC_EXPIRY = 1011,
        IDC_ADD_SESSION = 1021,
    };

    // The expiry choices, in the order the list shows them.
    struct ExpiryChoice
    {
        QString label;
        int hours;
    };
    static QList<ExpiryChoice> ExpiryChoices();
    // 100-nanosecond intervals in an hour.
    static constexpr quint64 kTicksPerHour = 36'000'000'000ULL;

    explicit CSessionSelectionPage(QWidget* parent = nullptr);
    // Remembers the nickname for the next network, whether the wizard was
    // finished or cancelled (an empty one is not stored).
    ~CSessionSelectionPage() override;

    // The values taken out of the controls by the last Next.
    QString NickName() const { return m_nickName; }
    QString SessionName() const { return m_sessionName; }
    QString SessionTypeText() const { return m_sessionTypeText; }
    // File time (100 ns since 1601-01-01 UTC) of the moment Next was pressed
    // plus the chosen lifetime.
    quint64 Expiry() const { return m_expiry; }

    QLineEdit* NickNameEdit() const { return m_nickNameEdit; }
    QComboBox* SessionList() const { return m_sessionList; }
    QComboBox* ExpiryList() const { return m_expiryList; }
    QPushButton* AddSessionButton() const { return m_addSessionButton; }

    // Reloads the session types from the catalogue into the list and selects
    // "Remote Assistance" when there is one, else the first.
    void FillSessionList();
    // Runs Add New Session, refills the list and selects the new type.
    void OnAddNewSession();

    void initializePage() override;
    // Next: takes the values out of the controls and refuses an empty
    // nickname or an empty session list with a message.
    bool validatePage() override;

private:
    // First entry whose text starts with `text`, ignoring case; -1 if none.
    int FindPrefix(const QString& text) const;

    QLineEdit* m_nickNameEdit = nullptr;
    QComboBox* m_sessionList = nullptr;
    QComboBox* m_expiryList = nullptr;
    QPushButton* m_addSessionButton = nullptr;
    // The catalogue as read by the last fill: name to session-type text.
    QMap<QString, QString> m_sessionTypes;
    QString m_nickName;
    QString m_sessionName;
    QString m_sessionTypeText;
    quint64 m_expiry = 0;
    bool m_initialised = false;
};

#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QPushButton;

// Add New Session: a name and either a port list or, behind "Advanced >>",
// a list of application executables, added to the session-type catalogue.
// Ends with Accepted only after a session type was added; closing the window
// (or Escape) cancels.
class CCustomSessionDlg : public QDialog
{
    Q_OBJECT
public:
    enum Control
    {
        IDC_SESSION_NAME = 1013,
        IDC_PORTS = 1014,
        IDC_ADVANCED = 1015,
        IDC_BROWSE = 1018,
        IDC_APPLICATIONS = 1019,
        IDC_ADD = 1020,
    };

    explicit CCustomSessionDlg(QWidget* parent = nullptr);
    ~CCustomSessionDlg() override;

    // The name as taken by the last Add; kept after the dialog has closed so
    // that its owner can select the new entry.
    QString SessionName() const { return m_sessionName; }
    // The session-type text of the last successful Add.
    QString SessionTypeText() const { return m_sessionTypeText; }

    QLineEdit* NameEdit() const { return m_nameEdit; }
    QLineEdit* PortEdit() const { return m_portEdit; }
    QPushButton* AddButton() const { return m_addButton; }
    QPushButton* AdvancedButton() const { return m_advancedButton; }
    QPushButton* BrowseButton() const { return m_browseButton; }
    QComboBox* Applications() const { return m_applications; }

    // Shows or cuts off the application row: the window ends 14 pixels below
    // the Browse button when expanded, below the Advanced button otherwise.
    void ShowAdvanced(bool expand);
    bool IsExpanded() const;

    void OnAdvanced();
    void OnBrowse();
    void OnAdd();

private:
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_advancedButton = nullptr;
    QPushButton* m_browseButton = nullptr;
    QComboBox* m_applications = nullptr;
    QString m_sessionName;
    QString m_sessionTypeText;
};

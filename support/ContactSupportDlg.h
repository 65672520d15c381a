#pragma once

#include "support/ContactSupport.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The Contact Support form: the user writes to the support team, and Send
// posts it to the help centre with the end of the service's log. It needs
// only the log file and the network, not the service.
class CContactSupportDlg : public QDialog
{
    Q_OBJECT
public:
    // Control identifiers of the form, used as the widgets' object names'
    // suffixes so tests and accessibility tools find them.
    enum Control
    {
        IDC_EMAIL = 1028,
        IDC_SUBJECT = 1029,
        IDC_MESSAGE = 1030,
        IDC_SEND = 1031,
        IDC_NAME = 1032,
    };

    explicit CContactSupportDlg(QWidget* parent = nullptr);
    ~CContactSupportDlg() override;

    // Runs the form modally; the result is not used.
    int DoModal();

    CContactSupport& Logic() { return m_logic; }
    bool IsBusy() const;

public slots:
    // While a send runs, Cancel (and Escape, and closing the window) calls
    // the send off and keeps the form; otherwise it closes the form.
    void reject() override;

private:
    void onSend();
    void onFinished(const CContactSupport::Outcome& outcome);
    void onDetailsToggled(bool shown);
    void showDetails(const SupportReport::Endpoint& endpoint, const ServiceLogTail& tail);
    void setBusy(bool busy, const QString& status);

    CContactSupport m_logic;
    QLabel* m_to = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_email = nullptr;
    QLineEdit* m_subject = nullptr;
    QPlainTextEdit* m_message = nullptr;
    QPushButton* m_detailsButton = nullptr;
    QWidget* m_detailsPanel = nullptr;
    QLabel* m_detailsHeading = nullptr;
    QPlainTextEdit* m_detailsView = nullptr;
    QProgressBar* m_busyBar = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_cancel = nullptr;
};

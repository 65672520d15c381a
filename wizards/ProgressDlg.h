#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>

class QLabel;
class QProgressBar;

// The small captionless window that says a join is under way. The object
// lives as long as its owner; its window exists only while a join runs and
// the user has not dismissed it. Cancel only closes the window: the join goes
// on and its outcome is still reported.
class CProgressDlg : public QObject
{
    Q_OBJECT
public:
    enum Control
    {
        IDC_PROGRESS_TEXT = 1023,
        IDC_PROGRESS_BAR = 145,
    };
    static constexpr int kRangeMax = 10;
    static constexpr int kStep = 2;

    explicit CProgressDlg(QObject* parent = nullptr);
    ~CProgressDlg() override;

    // Builds the window (replacing one still open), centres it on the
    // desktop and shows it without a modal loop.
    void Create(QWidget* parent);
    // Shows the string's text and moves the bar two steps on; nothing when
    // the window is gone.
    void Advance(quint32 stringId);
    // Closes the window if there is one; the object stays for the next join.
    void DestroyWindow();

    bool HasWindow() const { return !m_window.isNull(); }
    QDialog* Window() const { return m_window; }
    QString Text() const { return m_text; }
    int Value() const;

private:
    void step();
    void dump() const;

    QPointer<QDialog> m_window;
    QLabel* m_label = nullptr;
    QProgressBar* m_bar = nullptr;
    QString m_text;
};

#include "wizards/ProgressDlg.h"

#include "foundation/DebugDump.h"
#include "resources/StringTable.h"
#include "skin/WindowPlacement.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr quint32 IDS_JOIN_NETWORK = 131;
} // namespace

CProgressDlg::CProgressDlg(QObject* parent) : QObject(parent) {}

CProgressDlg::~CProgressDlg()
{
    DestroyWindow();
}

void CProgressDlg::Create(QWidget* parent)
{
    DestroyWindow();
    m_text.clear();

    auto* window = new QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint);
    window->setObjectName(QStringLiteral("progressDlg"));
    window->setModal(false);
    // No caption is drawn; the title still names the window for the window
    // list and screen readers.
    window->setWindowTitle(LoadString(IDS_JOIN_NETWORK));
    window->setAccessibleName(LoadString(IDS_JOIN_NETWORK));
    // Without a caption the frame is drawn by the window itself.
    auto* frame = new QVBoxLayout(window);
    frame->setContentsMargins(12, 10, 12, 10);

    m_label = new QLabel(window);
    m_label->setObjectName(QStringLiteral("progressText"));
    m_label->setMinimumWidth(260);
    frame->addWidget(m_label);

    m_bar = new QProgressBar(window);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setAccessibleName(tr("Progress"));
    m_bar->setRange(0, kRangeMax);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(14);
    m_bar->setStyleSheet(
        QStringLiteral("QProgressBar { background-color: rgb(0, 0, 0); border: "
                       "1px solid rgb(64, 64, 64); }"
                       "QProgressBar::chunk { background-color: rgb(105, 207, 8); }"));
    frame->addWidget(m_bar);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, window);
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    cancel->setText(tr("Cancel"));
    cancel->setDefault(true);
    frame->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::reject);
    // Escape and Cancel both end the window at once; the join is not told.
    connect(window, &QDialog::finished, this, [this, window] {
        if (m_window != window)
            return;
        m_window.clear();
        m_label = nullptr;
        m_bar = nullptr;
        window->deleteLater();
        dump();
    });
    window->setStyleSheet(
        QStringLiteral("QDialog#progressDlg { border: 1px solid palette(dark); }"));

    m_label->setText(m_text);
    window->adjustSize();
    CenterOnDesktop(window);
    m_window = window;
    window->show();
    window->raise();
    dump();
}

void CProgressDlg::Advance(quint32 stringId)
{
    if (!m_window)
        return;
    m_text = LoadString(stringId);
    m_label->setText(m_text);
    step();
    step();
    dump();
}

void CProgressDlg::DestroyWindow()
{
    if (!m_window)
        return;
    QDialog* window = m_window;
    m_window.clear();
    // Gone at once, so the outcome's message never appears next to a stale
    // progress window.
    delete window;
    m_label = nullptr;
    m_bar = nullptr;
    dump();
}

int CProgressDlg::Value() const
{
    return m_window ? m_bar->value() : 0;
}

void CProgressDlg::step()
{
    m_bar->setValue(qMin(m_bar->value() + kStep, m_bar->maximum()));
}

void CProgressDlg::dump() const
{
    if (!DebugDump::Enabled())
        return;
    DebugDump::Write(
        QStringLiteral("progress.txt"),
        m_window
            ? QStringLiteral("%1\n%2/%3\n").arg(m_text).arg(m_bar->value()).arg(m_bar->maximum())
            : QString());
}

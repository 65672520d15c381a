#include "sessions/CustomSessionDlg.h"

#include "resources/StringTable.h"
#include "sessions/CustomSessionType.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "skin/WindowPlacement.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr quint32 IDS_EXE_FILTER = 118;
constexpr quint32 IDS_SELECT_APPLICATION = 119;
constexpr quint32 IDS_ADVANCED_MORE = 121;
constexpr quint32 IDS_ADVANCED_LESS = 122;
// Room left under the last visible control.
constexpr int kBottomMargin = 14;

// Dialog units of the template to pixels (base units 6 x 13).
QRect dlu(int x, int y, int w, int h)
{
    return QRect(x * 6 / 4, y * 13 / 8, w * 6 / 4, h * 13 / 8);
}

QLabel* label(QWidget* parent, const QString& text, const QRect& where)
{
    auto* item = new QLabel(text, parent);
    item->setGeometry(where);
    return item;
}
} // namespace

CCustomSessionDlg::CCustomSessionDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("customSessionDlg"));
    setWindowTitle(QStringLiteral("Add New Session"));
    // A fixed form of 262 x 153 dialog units, of which the advanced row is
    // shown or cut off by the window's height.
    setFixedWidth(dlu(0, 0, 262, 0).width());

    auto* nameLabel = label(this, QStringLiteral("Session name             :"), dlu(19, 18, 73, 8));
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("sessionNameEdit"));
    m_nameEdit->setAccessibleName(QStringLiteral("Session name"));
    m_nameEdit->setGeometry(dlu(107, 19, 135, 12));
    nameLabel->setBuddy(m_nameEdit);

    auto* portLabel = label(this, QStringLiteral("Port information         :"), dlu(19, 48, 73, 8));
    m_portEdit = new QLineEdit(this);
    m_portEdit->setObjectName(QStringLiteral("portEdit"));
    m_portEdit->setAccessibleName(QStringLiteral("Port information"));
    m_portEdit->setGeometry(dlu(107, 48, 135, 12));
    portLabel->setBuddy(m_portEdit);
    label(this, QStringLiteral("e.g. 80,100,1200-1202"), dlu(166, 67, 76, 8));

    m_addButton = new QPushButton(QStringLiteral("Add"), this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setGeometry(dlu(116, 84, 54, 12));
    m_addButton->setDefault(true);
    m_advancedButton = new QPushButton(LoadString(IDS_ADVANCED_MORE), this);
    m_advancedButton->setObjectName(QStringLiteral("advancedButton"));
    m_advancedButton->setAccessibleName(QStringLiteral("Advanced"));
    m_advancedButton->setAutoDefault(false);
    m_advancedButton->setGeometry(dlu(188, 84, 54, 12));

    auto* applicationLabel =
        label(this, QStringLiteral("Application name        :"), dlu(21, 107, 74, 8));
    m_applications = new QComboBox(this);
    m_applications->setObjectName(QStringLiteral("applicationList"));
    m_applications->setAccessibleName(QStringLiteral("Application name"));
    m_applications->setEditable(false);
    // The template's 22 units include the drop-down part; the closed box is
    // as tall as an edit.
    m_applications->setGeometry(dlu(109, 107, 135, 12).adjusted(0, -1, 0, 2));
    applicationLabel->setBuddy(m_applications);
    m_browseButton = new QPushButton(QStringLiteral("Browse"), this);
    m_browseButton->setObjectName(QStringLiteral("browseButton"));
    m_browseButton->setAccessibleName(QStringLiteral("Browse for an application"));
    m_browseButton->setAutoDefault(false);
    m_browseButton->setGeometry(dlu(188, 131, 54, 12));

    connect(m_addButton, &QPushButton::clicked, this, &CCustomSessionDlg::OnAdd);
    connect(m_advancedButton, &QPushButton::clicked, this, &CCustomSessionDlg::OnAdvanced);
    connect(m_browseButton, &QPushButton::clicked, this, &CCustomSessionDlg::OnBrowse);
    setTabOrder(m_nameEdit, m_portEdit);
    setTabOrder(m_portEdit, m_addButton);
    setTabOrder(m_addButton, m_advancedButton);
    setTabOrder(m_advancedButton, m_applications);
    setTabOrder(m_applications, m_browseButton);

    ShowAdvanced(false);
}

CCustomSessionDlg::~CCustomSessionDlg() = default;

void CCustomSessionDlg::showEvent(QShowEvent* event)
{
    // Placed once, when first shown: the size is final only now.
    if (!m_placed) {
        CenterOnDesktop(this);
        m_placed = true;
    }
    QDialog::showEvent(event);
}

void CCustomSessionDlg::ShowAdvanced(bool expand)
{
    m_advancedButton->setText(LoadString(expand ? IDS_ADVANCED_LESS : IDS_ADVANCED_MORE));
    const QWidget* anchor = expand ? m_browseButton : m_advancedButton;
    const QRect edge = anchor->geometry();
    // The row below the anchor stays where it is, merely cut off; out of
    // reach of the keyboard too while it cannot be seen.
    setFixedHeight(edge.y() + edge.height() + kBottomMargin);
    m_applications->setEnabled(expand);
    m_browseButton->setEnabled(expand);
    update();
}

bool CCustomSessionDlg::IsExpanded() const
{
    return m_advancedButton->text() != LoadString(IDS_ADVANCED_MORE);
}

void CCustomSessionDlg::OnAdvanced()
{
    ShowAdvanced(m_advancedButton->text() == LoadString(IDS_ADVANCED_MORE));
}

void CCustomSessionDlg::OnBrowse()
{
    // Executables on this system rarely end in ".exe": every file may be
    // chosen, the table's filter coming first.
    const QString filter = FileDialogs::FilterFromTable(LoadString(IDS_EXE_FILTER)) +
                           QStringLiteral(";;All files (*)");
    const QString chosen = FileDialogs::getOpenFileName(this, LoadString(IDS_SELECT_APPLICATION),
                                                        QDir::homePath(), filter);
    if (chosen.isEmpty())
        return;
    // Only the file's name is recorded: the same program lies in different
    // folders on different computers.
    const QString name = QFileInfo(chosen).fileName();
    if (name.isEmpty())
        return;
    // A sorted list, as the user sees it and as it is recorded.
    int at = 0;
    while (at < m_applications->count() &&
           QString::compare(m_applications->itemText(at), name, Qt::CaseInsensitive) <= 0)
        ++at;
    m_applications->insertItem(at, name);
    m_applications->setCurrentIndex(at);
}

void CCustomSessionDlg::OnAdd()
{
    m_sessionName = m_nameEdit->text();
    const QString portText = m_portEdit->text();
    QStringList applications;
    for (int i = 0; i < m_applications->count(); ++i)
        applications.append(m_applications->itemText(i));

    QString text;
    const quint32 message = AddCustomSessionType(m_sessionName, portText, applications, &text);
    if (message != 0) {
        Prompter::error(this, LoadString(message));
        (message == 116 ? m_portEdit : m_nameEdit)->setFocus();
        return;
    }
    m_sessionTypeText = text;
    accept();
}

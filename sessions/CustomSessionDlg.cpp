#include "sessions/CustomSessionDlg.h"

#include "resources/StringTable.h"
#include "sessions/CustomSessionType.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "skin/WindowPlacement.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

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

// The template's label widths fit the narrow font it was drawn for; here a
// label reaches up to the field it names. Its blanks before the colon line the
// colons up in that font; in a wider one they give way, one by one, until the
// colon fits.
QLabel* label(QWidget* parent, const QString& text, const QRect& where, int fieldLeft)
{
    auto* item = new QLabel(parent);
    const int width = std::max(where.width(), fieldLeft - where.x() - 4);
    const QFontMetrics metrics(item->font());
    QString shown = text;
    while (metrics.horizontalAdvance(shown) > width && shown.contains(QStringLiteral("  :")))
        shown.remove(shown.indexOf(QStringLiteral("  :")), 1);
    item->setText(shown);
    item->setGeometry(where.x(), where.y(), width, where.height() + 4);
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

    auto* nameLabel = label(this, QStringLiteral("Session name             :"), dlu(19, 18, 73, 8),
                            dlu(107, 0, 0, 0).x());
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("sessionNameEdit"));
    m_nameEdit->setAccessibleName(QStringLiteral("Session name"));
    m_nameEdit->setGeometry(dlu(107, 19, 135, 12));
    nameLabel->setBuddy(m_nameEdit);

    auto* portLabel = label(this, QStringLiteral("Port information         :"), dlu(19, 48, 73, 8),
                            dlu(107, 0, 0, 0).x());
    m_portEdit = new QLineEdit(this);
    m_portEdit->setObjectName(QStringLiteral("portEdit"));
    m_portEdit->setAccessibleName(QStringLiteral("Port information"));
    m_portEdit->setGeometry(dlu(107, 48, 135, 12));
    portLabel->setBuddy(m_portEdit);
    // Kept flush with the right edge of the port field above it, however wide
    // the font draws it.
    const QRect portField = m_portEdit->geometry();
    auto* example = new QLabel(QStringLiteral("e.g. 80,100,1200-1202"), this);
    example->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    example->setGeometry(QRect(portField.x(), dlu(0, 67, 0, 0).y(), portField.width(),
                               dlu(0, 0, 0, 8).height() + 4));

    m_addButton = new QPushButton(QStringLiteral("Add"), this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setGeometry(dlu(116, 84, 54, 12));
    m_addButton->setDefault(true);
    m_advancedButton = new QPushButton(LoadString(IDS_ADVANCED_MORE), this);
    m_advancedButton->setObjectName(QStringLiteral("advancedButton"));
    m_advancedButton->setAccessibleName(QStringLiteral("Advanced"));
    m_advancedButton->setAutoDefault(false);
    m_advancedButton->setGeometry(dlu(188, 84, 54, 12));

    auto* applicationLabel = label(this, QStringLiteral("Application name        :"),
                                   dlu(21, 107, 74, 8), dlu(109, 0, 0, 0).x());
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

    // Buttons keep their right edges; a font wider than the template's grows
    // them to the left rather than cutting their captions.
    for (QPushButton* button : {m_addButton, m_advancedButton, m_browseButton}) {
        QRect area = button->geometry();
        QString longest = button->text();
        if (button == m_advancedButton)
            longest =
                std::max(LoadString(IDS_ADVANCED_MORE), LoadString(IDS_ADVANCED_LESS),
                         [](const QString& a, const QString& b) { return a.size() < b.size(); });
        const int wanted = button->fontMetrics().horizontalAdvance(longest) + 16;
        if (wanted > area.width())
            area.setLeft(area.right() + 1 - wanted);
        button->setGeometry(area);
    }

    connect(m_addButton, &QPushButton::clicked, this, &CCustomSessionDlg::OnAdd);
    connect(m_advancedButton, &QPushButton::clicked, this, &CCustomSessionDlg::OnAdvanced);
    connect(m_browseButton, &QPushButton::clicked, this, &CCustomSessionDlg::OnBrowse);
    setTabOrder(m_nameEdit, m_portEdit);
    setTabOrder(m_portEdit, m_addButton);
    setTabOrder(m_addButton, m_advancedButton);
    setTabOrder(m_advancedButton, m_applications);
    setTabOrder(m_applications, m_browseButton);

    ShowAdvanced(false);
    // Its size is final now; placed before it is first shown, it never
    // appears anywhere else first.
    CenterOnDesktop(this);
}

CCustomSessionDlg::~CCustomSessionDlg() = default;

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

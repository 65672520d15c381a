#include "app/TervalaprouiDlg.h"

#include "app/AboutDlg.h"
#include "foundation/DebugDump.h"
#include "foundation/TraceLog.h"
#include "remote/RemoteAccess.h"
#include "resources/StringTable.h"
#include "skin/Pictures.h"
#include "skin/Prompter.h"
#include "skin/WindowPlacement.h"
#include "support/ContactSupportDlg.h"
#include "wizards/ExistingWizard.h"
#include "wizards/InviterWizard.h"
#include "wizards/JoinerWizard.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace {
constexpr quint32 IDS_INVITATION_CREATED = 109;
constexpr quint32 IDS_INVITATION_NOT_CREATED = 171;
constexpr quint32 IDS_JOIN_SUCCEEDED = 110;
constexpr quint32 IDS_CONNECTING = 123;
constexpr quint32 IDS_RESOLVING = 130;
constexpr quint32 IDS_TRAY_TOOLTIP = 124;
constexpr quint32 IDS_APP_TITLE = 57344;
constexpr quint32 IDS_JOIN_LINK_LOST = 10203;
constexpr quint32 IDS_CREATE_LINK_LOST = 10204;

std::optional<bool>& trayOverride()
{
    static std::optional<bool> value;
    return value;
}

// Dialog units of the window's template to pixels (base units 6 x 13).
QRect dlu(int x, int y, int w, int h)
{
    return QRect(x * 6 / 4, y * 13 / 8, w * 6 / 4, h * 13 / 8);
}
} // namespace

bool CTervalaprouiDlg::TrayAvailable()
{
    if (trayOverride())
        return *trayOverride();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CTervalaprouiDlg::SetTrayAvailableForTest(std::optional<bool> available)
{
    trayOverride() = available;
}

CTervalaprouiDlg::CTervalaprouiDlg(const CCommandLine& commandLine, QWidget* parent)
    : QDialog(parent), m_commandLine(commandLine)
{
    setObjectName(QStringLiteral("Tervalaproui"));
    // 216 x 296 dialog units. The controls wait until the window is first
    // shown or needed: their fonts, style and pictures cost a start that
    // lives only in the tray time and memory for nothing.
    setFixedSize(dlu(0, 0, 216, 296).size());
    connect(&m_trayIcon, &CTrayNotifyIcon::command, this, &CTervalaprouiDlg::OnCommand);
    connect(&m_networks, &COnlineUsersFeed::changed, this, &CTervalaprouiDlg::onNetworksChanged);
    m_serviceProxy.SetLinkObserver(
        [this](const CIPCCommandHandler::LinkEvent& event) { onServiceLink(event); });
}

CTervalaprouiDlg::~CTervalaprouiDlg()
{
    // The tree's peer-change watch goes first, as when the window is
    // destroyed; the proxy (a member) then stops its own notifier.
    m_networks.Stop();
    delete m_tree;
    m_tree = nullptr;
}

void CTervalaprouiDlg::ensureWidgets()
{
    if (m_tree)
        return;
    buildWidgets();
    buildMenus();
    if (m_treeReady)
        m_tree->Init(m_font, &m_serviceProxy);
}

void CTervalaprouiDlg::onNetworksChanged()
{
    // A built tree writes its own dump when it rebuilds; until then the
    // list it would show is written, exactly as a hidden tree writes it.
    if (!m_tree && DebugDump::Enabled())
        DebugDump::Write(QStringLiteral("tree.txt"),
                         COnlineUsersFeed::DumpText(m_networks.Clients()));
}

COnlineUsersTree* CTervalaprouiDlg::Tree()
{
    ensureWidgets();
    return m_tree;
}

QMenuBar* CTervalaprouiDlg::MenuBar()
{
    ensureWidgets();
    return m_menuBar;
}

void CTervalaprouiDlg::buildWidgets()
{
    // Short texts: the full names do not fit the template's button widths and
    // stay available as accessible names and tooltips.
    m_addButton = new QPushButton(tr("&Add"), this);
    m_addButton->setObjectName(QStringLiteral("addNetworkButton"));
    m_addButton->setGeometry(dlu(23, 74, 40, 22));
    m_joinButton = new QPushButton(tr("&Join"), this);
    m_joinButton->setObjectName(QStringLiteral("joinNetworkButton"));
    m_joinButton->setGeometry(dlu(67, 74, 40, 22));
    m_existingButton = new QPushButton(tr("E&xisting Networks", "button"), this);
    m_existingButton->setObjectName(QStringLiteral("existingNetworksButton"));
    m_existingButton->setGeometry(dlu(111, 74, 79, 22));
    m_addButton->setAccessibleName(LoadString(IDM_ADD_NETWORK));
    m_joinButton->setAccessibleName(LoadString(IDM_JOIN_NETWORK));
    m_existingButton->setAccessibleName(LoadString(IDM_EXISTING_NETWORKS));
    for (QPushButton* button : {m_addButton, m_joinButton, m_existingButton}) {
        button->setAutoDefault(false);
        button->setToolTip(button->accessibleName());
    }
    connect(m_addButton, &QPushButton::clicked, this, [this] { OnCommand(IDC_ADD); });
    connect(m_joinButton, &QPushButton::clicked, this, [this] { OnCommand(IDC_JOIN); });
    connect(m_existingButton, &QPushButton::clicked, this, [this] { OnCommand(IDC_EXISTING); });

    m_tree = new COnlineUsersTree(this, &m_networks);
    m_tree->setGeometry(dlu(18, 103, 181, 169));

    m_hideButton = new QToolButton(this);
    m_hideButton->setObjectName(QStringLiteral("hideButton"));
    m_hideButton->setText(QStringLiteral("\u00d7"));
    m_hideButton->setToolTip(tr("Hide"));
    m_hideButton->setAccessibleName(tr("Hide"));
    m_hideButton->setAutoRaise(true);
    m_hideButton->setFocusPolicy(Qt::StrongFocus);
    m_hideButton->setGeometry(dlu(201, 5, 11, 10).adjusted(-2, -2, 2, 2));
    connect(m_hideButton, &QToolButton::clicked, this, [this] { OnCommand(IDC_HIDE); });

    setTabOrder(m_addButton, m_joinButton);
    setTabOrder(m_joinButton, m_existingButton);
    setTabOrder(m_existingButton, m_tree);
    setTabOrder(m_tree, m_hideButton);
}

void CTervalaprouiDlg::buildMenus()
{
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("mainMenuBar"));
    m_menuBar->setAccessibleName(tr("Menu bar"));
    m_menuBar->setNativeMenuBar(false);
    QMenu* file = m_menuBar->addMenu(tr("&File"));
    QMenu* help = m_menuBar->addMenu(tr("&Help"));
    auto add = [this](QMenu* menu, int id, const QString& text, bool enabled) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QStringLiteral("action%1").arg(id));
        action->setData(id);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        return action;
    };
    add(file, IDM_ADD_NETWORK, tr("&Add Network"), true);
    add(file, IDM_JOIN_NETWORK, tr("&Join Network"), true);
    add(file, IDM_EXISTING_NETWORKS, tr("E&xisting Networks"), true);
    add(file, IDM_REFRESH, tr("&Refresh"), true)->setShortcut(QKeySequence::Refresh);
    file->addSeparator();
    add(file, IDM_EXIT, tr("E&xit"), true);
    add(help, IDM_CONTACT_SUPPORT, tr("&Contact Support"), true);
    add(help, IDM_ABOUT, tr("&About"), true);
    // Above the buttons, below the area the skin keeps for its picture.
    m_menuBar->setGeometry(dlu(18, 50, 181, 12));
}

QAction* CTervalaprouiDlg::Action(int id)
{
    ensureWidgets();
    const QList<QAction*> actions = m_menuBar->findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->data().toInt() == id)
            return action;
    }
    return nullptr;
}

QPushButton* CTervalaprouiDlg::Button(int id)
{
    ensureWidgets();
    switch (id) {
    case IDC_ADD:
        return m_addButton;
    case IDC_JOIN:
        return m_joinButton;
    case IDC_EXISTING:
        return m_existingButton;
    default:
        return nullptr;
    }
}

bool CTervalaprouiDlg::OnInitDialog()
{
    // The service link comes first: without it the program has nothing to do.
    if (!m_serviceProxy.StartClient(this, static_cast<IRPCExecute*>(this))) {
        QString text = m_serviceProxy.GetErrorText();
        if (text.isEmpty())
            text = LoadString(10005);
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(text);
        Prompter::error(nullptr, text);
        EndDialog(QDialog::Accepted);
        return false;
    }

    m_font = QFont(QStringLiteral("Verdana"));
    m_font.setPixelSize(16);
    m_font.setWeight(QFont::Light); // weight 200
    // The peer-change watch starts now whether or not the tree is built.
    m_networks.Start();
    m_treeReady = true;
    if (m_tree)
        m_tree->Init(m_font, &m_serviceProxy);
    else
        m_networks.Refresh();

    m_normalIcon = QIcon(Pictures::Path(QStringLiteral("icons/trayicon.ico")));
    setWindowIcon(m_normalIcon);
    // Without any tray host the icon still exists and docks as soon as one
    // starts; until then the window itself is how the user reaches the program.
    m_trayIcon.Create(this, LoadString(IDS_TRAY_TOOLTIP), m_normalIcon);
    m_expiryReminder.SetNotifier([this](const QString& title, const QString& text) {
        if (!m_trayIcon.ShowBalloon(text, title, QSystemTrayIcon::Warning))
            return false;
        DebugDump::Write(QStringLiteral("reminder.txt"), text);
        return true;
    });
    m_expiryReminder.Start();

    m_serviceProxy.PostUINotify();

    // With a tray the window is a captionless tool window without a taskbar
    // button; without one it is an ordinary window the user can find again.
    m_framed = !TrayAvailable();
    setWindowFlags(m_framed ? Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                  Qt::WindowMinimizeButtonHint
                            : Qt::Tool | Qt::FramelessWindowHint);
    setWindowTitle(LoadString(IDS_APP_TITLE));
    setAccessibleName(LoadString(IDS_APP_TITLE));

    CenterOnDesktop(this);

    HandleCommandLine();
    m_initialised = true;
    return true;
}

bool CTervalaprouiDlg::Start()
{
    if (!OnInitDialog())
        return false;
    if (m_bShowWindow)
        OnCommand(IDM_SHOW);
    return true;
}

void CTervalaprouiDlg::HandleCommandLine()
{
    m_bShowWindow = true;
    if (m_commandLine.startup) {
        m_bShowWindow = false;
        return;
    }
    if (!m_commandLine.fileName.isEmpty())
        JoinNetworkFromFile(QFileInfo(m_commandLine.fileName).absoluteFilePath());
}

void CTervalaprouiDlg::OnShowRequested()
{
    OnCommand(IDM_SHOW);
}

void CTervalaprouiDlg::OnOpenRequested(const QString& path)
{
    if (path.isEmpty()) {
        OnShowRequested();
        return;
    }
    JoinNetworkFromFile(path);
}

void CTervalaprouiDlg::OnLSPNotify(qint32 value)
{
    m_serviceProxy.PostLSPNotify(value);
}

void CTervalaprouiDlg::JoinNetworkFromFile(const QString& path)
{
    if (m_joinWizard) {
        // One join at a time: the open wizard is what the user is asked to
        // finish first.
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(QStringLiteral("Join Network already open; not opening ") + path);
        m_joinWizard->raise();
        m_joinWizard->activateWindow();
        return;
    }
    if (isVisible()) {
        raise();
        activateWindow();
    }
    CJoinerWizard wizard(isVisible() ? this : nullptr);
    m_joinWizard = &wizard;
    const int result = wizard.DoModal(path);
    m_joinWizard.clear();
    if (result != QDialog::Accepted || m_ended)
        return;

    m_progress.Create(isVisible() ? this : nullptr);
    m_progress.Advance(IDS_RESOLVING);
    m_serviceProxy.JoinInvitation(wizard.NickName(), wizard.InvitationPath(), wizard.Password());
    m_progress.Advance(IDS_CONNECTING);
    // With the service down the request went nowhere: no answer will close
    // the progress window.
    if (!m_serviceProxy.IsLinkUp())
        endUnansweredRequests(1, 0, m_serviceProxy.GetErrorText());
}

void CTervalaprouiDlg::ShowExistingNetworks()
{
    if (m_existingWizard) {
        m_existingWizard->raise();
        m_existingWizard->activateWindow();
        return;
    }
    if (isVisible()) {
        raise();
        activateWindow();
    }
    CExistingWizard wizard(isVisible() ? this : nullptr);
    m_existingWizard = &wizard;
    wizard.DoModal();
    m_existingWizard.clear();
}

void CTervalaprouiDlg::AddNetwork()
{
    if (m_addWizard) {
        m_addWizard->raise();
        m_addWizard->activateWindow();
        return;
    }
    if (isVisible()) {
        raise();
        activateWindow();
    }
    CInviterWizard wizard(isVisible() ? this : nullptr);
    m_addWizard = &wizard;
    const int result = wizard.DoModal();
    m_addWizard.clear();
    if (result != QDialog::Accepted || m_ended)
        return;

    // A Remote Assistance network carries its own session type and the
    // invitation for the helper; every other one the page's type and no data
    // (a null buffer: the request then has no data parameters at all).
    QString sessionType = wizard.SessionTypeText();
    QByteArray appData;
    CRemoteAccess::Prepared prepared;
    if (CRemoteAccess::PrepareRemoteAssistance(wizard.SessionName(), wizard.NickName(),
                                               wizard.Password(), prepared)) {
        sessionType = prepared.sessionType;
        appData = prepared.appData;
    }
    m_serviceProxy.CreateInvitation(wizard.NickName(), wizard.Password(), wizard.SessionName(),
                                    sessionType, wizard.Expiry(), wizard.InvitationPath(), appData);
    // With the service down the request went nowhere: no status will come.
    if (!m_serviceProxy.IsLinkUp())
        endUnansweredRequests(0, 1, m_serviceProxy.GetErrorText());
}

void CTervalaprouiDlg::OnCommand(int id)
{
    switch (id) {
    case IDM_SHOW:
        m_bShowWindow = true;
        if (isMinimized())
            showNormal();
        else
            show();
        raise();
        activateWindow();
        break;
    case IDC_HIDE:
        hideToTray();
        break;
    case IDM_EXIT:
    case IDM_TRAY_EXIT:
        EndDialog(QDialog::Accepted);
        break;
    case IDM_REFRESH:
        m_networks.Refresh();
        break;
    case IDM_ABOUT:
        showAbout();
        break;
    case IDM_JOIN_NETWORK:
    case IDC_JOIN:
        JoinNetworkFromFile(QString());
        break;
    case IDM_CONTACT_SUPPORT: {
        // Needs only the log file and the network: works with the service down.
        CContactSupportDlg support(isVisible() ? this : nullptr);
        support.DoModal();
        break;
    }
    case IDM_ADD_NETWORK:
    case IDC_ADD:
        AddNetwork();
        break;
    case IDM_EXISTING_NETWORKS:
    case IDC_EXISTING:
        ShowExistingNetworks();
        break;
    default:
        break;
    }
}

void CTervalaprouiDlg::hideToTray()
{
    if (!TrayAvailable()) {
        // Hiding with no tray would leave the user nothing to click: keep the
        // window reachable from the task list instead.
        showMinimized();
        return;
    }
    m_bShowWindow = false;
    hide();
}

void CTervalaprouiDlg::showAbout()
{
    CAboutDlg about(isVisible() ? this : nullptr);
    about.exec();
}

void CTervalaprouiDlg::EndDialog(int result)
{
    if (m_ended)
        return;
    m_ended = true;
    setResult(result);
    m_bShowWindow = false;
    QDialog::setVisible(false);
    // The icon leaves the tray with the window, not at process exit.
    if (QSystemTrayIcon* tray = m_trayIcon.TrayIcon())
        tray->hide();
    m_networks.Stop();
    m_progress.DestroyWindow();
    if (m_joinWizard)
        m_joinWizard->reject();
    m_expiryReminder.Stop();
    if (m_existingWizard)
        m_existingWizard->reject();
    if (m_addWizard)
        m_addWizard->reject();
    emit ended(result);
}

void CTervalaprouiDlg::setVisible(bool visible)
{
    // While the show flag is clear nothing may bring the window up: this is
    // what keeps a "-startup" start from ever flashing it.
    if (visible && (!m_bShowWindow || m_ended))
        return;
    if (visible)
        ensureWidgets();
    QDialog::setVisible(visible);
}

void CTervalaprouiDlg::reject()
{
    // Escape hides like the top-right control; only Exit ends the program.
    OnCommand(IDC_HIDE);
}

void CTervalaprouiDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (m_ended)
        return;
    // The window manager's close: with a tray the window goes back to it;
    // without one there is no other way back, so closing means Exit.
    if (TrayAvailable())
        hideToTray();
    else
        EndDialog(QDialog::Accepted);
}

void CTervalaprouiDlg::timerEvent(QTimerEvent* event)
{
    m_serviceProxy.PostUINotify();
    QDialog::timerEvent(event);
}

void CTervalaprouiDlg::mousePressEvent(QMouseEvent* event)
{
    // A captionless window is moved by dragging its background.
    if (event->button() == Qt::LeftButton)
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(event);
}

void CTervalaprouiDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_framed && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

int CTervalaprouiDlg::PostP2PStatusChange(long status)
{
    m_trayIcon.ShowServiceStatus(status != 0);
    // Rebuilds the tree too when it is built.
    m_networks.Refresh();
    return 1;
}

int CTervalaprouiDlg::PostCreateInvitationStatus(const QString& firstString, long success,
                                                 const QString& errorText)
{
    Q_UNUSED(firstString);
    // Released before a box opens: its loop may already receive the data of
    // the next command.
    m_appData = QByteArray();
    QWidget* owner = isVisible() ? this : nullptr;
    if (success) {
        Prompter::information(owner, LoadString(IDS_INVITATION_CREATED));
        return 1;
    }
    // The user waits for a file that will not come: a failure is always
    // told, in the service's words when it gave any.
    Prompter::error(owner,
                    errorText.isEmpty() ? LoadString(IDS_INVITATION_NOT_CREATED) : errorText);
    return 0;
}

int CTervalaprouiDlg::PostJoinInvitationStatus(long success, const QString& errorText,
                                               const QString& sessionName,
                                               const QString& inviterAddress)
{
    m_progress.DestroyWindow();
    // The kept data belongs to this outcome. It is taken before any box
    // opens: a box's loop may already receive the next join's data, which
    // must survive it.
    const QByteArray appData = std::exchange(m_appData, QByteArray());
    QWidget* owner = isVisible() ? this : nullptr;
    if (!success) {
        if (!errorText.isEmpty())
            Prompter::error(owner, errorText);
        return 0;
    }
    const CRemoteAccess::StartResult tool =
        CRemoteAccess::StartRemoteTool(sessionName, appData, inviterAddress);
    if (!tool.started) {
        // The name is put in as it is: a "%" inside it is not a format.
        QString text = LoadString(IDS_JOIN_SUCCEEDED);
        const qsizetype at = text.indexOf(QStringLiteral("%s"));
        if (at >= 0)
            text.replace(at, 2, sessionName);
        Prompter::information(owner, text);
    }
    if (!tool.errorText.isEmpty())
        Prompter::error(owner, tool.errorText);
    return 1;
}

int CTervalaprouiDlg::PostInvitationAppData(const QByteArray& data)
{
    m_appData = QByteArray(data.constData(), data.size());
    return 1;
}

void CTervalaprouiDlg::onServiceLink(const CIPCCommandHandler::LinkEvent& event)
{
    if (m_ended)
        return;
    switch (event.kind) {
    case CIPCCommandHandler::LinkEvent::Lost:
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(QStringLiteral("Service link lost: ") + event.reason);
        endUnansweredRequests(event.joinsLost, event.createsLost, event.reason);
        break;
    case CIPCCommandHandler::LinkEvent::Down:
        if (TraceLevel() & TRACE_ERROR)
            CTraceLog::Trace(QStringLiteral("Service not reachable, retrying: ") + event.reason);
        m_trayIcon.ShowServiceDown(event.firstOfOutage);
        // A service that stopped cleanly has withdrawn its networks.
        m_networks.Refresh();
        break;
    case CIPCCommandHandler::LinkEvent::Restored:
        m_trayIcon.ShowServiceReachable();
        // A restarted service must learn that a user interface is there; its
        // answer (the status) restores the icon.
        m_serviceProxy.PostUINotify();
        break;
    }
}

void CTervalaprouiDlg::endUnansweredRequests(int joins, int creates, const QString& reason)
{
    QStringList texts;
    // An open progress window waits for a join's outcome that will not come.
    if (joins > 0 || m_progress.HasWindow()) {
        m_progress.DestroyWindow();
        m_appData.clear();
        texts << LoadString(IDS_JOIN_LINK_LOST);
    }
    if (creates > 0)
        texts << LoadString(IDS_CREATE_LINK_LOST);
    for (QString& text : texts) {
        if (!reason.isEmpty())
            text += QStringLiteral("\n\n") + reason;
        // From the event loop: the link's handling must not wait for the user.
        QTimer::singleShot(0, this, [this, text] {
            if (!m_ended)
                Prompter::error(isVisible() ? this : nullptr, text);
        });
    }
}

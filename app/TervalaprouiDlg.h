#pragma once

#include "app/CommandLine.h"
#include "app/OnlineUsersFeed.h"
#include "app/OnlineUsersTree.h"
#include "app/TrayNotifyIcon.h"
#include "invitations/ExpiryReminder.h"
#include "servicelink/IPCCommandHandler.h"
#include "servicelink/RPCExecute.h"
#include "wizards/ProgressDlg.h"

#include <QByteArray>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPoint>
#include <QPointer>

#include <optional>

class QMenuBar;
class QPushButton;
class QToolButton;
class QAction;
class CJoinerWizard;
class CExistingWizard;
class CInviterWizard;

// The program's one window and its hub: owns the service link, the tree of
// networks and the tray icon, and carries out the commands of the menus, the
// buttons, the tray and the service. It usually stays hidden in the tray.
class CTervalaprouiDlg : public QDialog, public IRPCExecute
{
    Q_OBJECT
public:
    // Command identifiers of the menus, buttons and tray.
    enum Command
    {
        IDM_ADD_NETWORK = 32772,
        IDM_JOIN_NETWORK = 32774,
        IDM_EXIT = 32775,
        IDM_EXISTING_NETWORKS = 32778,
        IDM_SHOW = 32779,
        IDM_TRAY_EXIT = 32780,
        IDM_CONTACT_SUPPORT = 32784,
        IDM_ABOUT = 32785,
        IDM_REFRESH = 32787,
        IDC_ADD = 1024,
        IDC_JOIN = 1025,
        IDC_EXISTING = 1026,
        IDC_HIDE = 1022,
    };

    explicit CTervalaprouiDlg(const CCommandLine& commandLine, QWidget* parent = nullptr);
    ~CTervalaprouiDlg() override;

    // Initialisation in its fixed order (service link first). False when the
    // window ended during it (service unreachable); the reason has then been
    // shown to the user.
    bool OnInitDialog();
    // Initialisation, then the first show unless started with "-startup".
    bool Start();

    // A first instance's command line: "-startup" hides, a file opens the
    // Join Network flow.
    void HandleCommandLine();
    // A later launch asked to be shown.
    void OnShowRequested();
    // A later launch handed over an invitation file.
    void OnOpenRequested(const QString& path);
    // The port-diverting component's value, forwarded to the service.
    void OnLSPNotify(qint32 value);
    // Join Network: the wizard (asking for the file when the path is empty),
    // then the progress window and the request to the service, whose outcome
    // arrives later as a join status.
    void JoinNetworkFromFile(const QString& path);
    // Existing Networks: list, delete and re-export the networks created
    // here; works without the service.
    void ShowExistingNetworks();
    // Add Network: the wizard, then the request to the service, which writes
    // the invitation file and reports later as a create status.
    void AddNetwork();

    void OnCommand(int id);
    void EndDialog(int result);
    bool IsEnded() const { return m_ended; }

    // Service commands this window carries out.
    int PostP2PStatusChange(long status) override;
    int PostCreateInvitationStatus(const QString& firstString, long success,
                                   const QString& errorText) override;
    int PostJoinInvitationStatus(long success, const QString& errorText, const QString& sessionName,
                                 const QString& inviterAddress) override;
    int PostInvitationAppData(const QByteArray& data) override;

    bool ShowWindowFlag() const { return m_bShowWindow; }
    CIPCCommandHandler& ServiceProxy() { return m_serviceProxy; }
    // The networks and peers the window follows, built or not.
    COnlineUsersFeed& Networks() { return m_networks; }
    // The window's controls are built when it is first shown or, through
    // these, first needed: a start in the tray builds none of them.
    COnlineUsersTree* Tree();
    QMenuBar* MenuBar();
    QAction* Action(int id);
    QPushButton* Button(int id);
    bool WidgetsBuilt() const { return m_tree != nullptr; }
    CTrayNotifyIcon& TrayIcon() { return m_trayIcon; }
    const QByteArray& KeptAppData() const { return m_appData; }
    CProgressDlg& ProgressWindow() { return m_progress; }
    CExpiryReminder& ExpiryReminder() { return m_expiryReminder; }

    // Whether a tray host is there (tests force an answer).
    static bool TrayAvailable();
    static void SetTrayAvailableForTest(std::optional<bool> available);

    void setVisible(bool visible) override;

signals:
    void ended(int result);

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void ensureWidgets();
    void buildWidgets();
    void buildMenus();
    void onNetworksChanged();
    void hideToTray();
    void showAbout();
    // The service link lost, down or back (see CIPCCommandHandler).
    void onServiceLink(const CIPCCommandHandler::LinkEvent& event);
    // Requests whose answers can no longer come end with a message.
    void endUnansweredRequests(int joins, int creates, const QString& reason);

    // Declared in the order the window builds them; destroyed in reverse.
    CIPCCommandHandler m_serviceProxy;
    // Followed from the start; the tree shows it once built.
    COnlineUsersFeed m_networks;
    COnlineUsersTree* m_tree = nullptr;
    CProgressDlg m_progress;
    CTrayNotifyIcon m_trayIcon;
    QMenuBar* m_menuBar = nullptr;
    QFont m_font;
    QIcon m_normalIcon;
    QByteArray m_appData;
    bool m_bShowWindow = true;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_joinButton = nullptr;
    QPushButton* m_existingButton = nullptr;
    QToolButton* m_hideButton = nullptr;
    // The Join Network wizard while it is open: a second request brings it
    // forward instead of stacking another one.
    QPointer<CJoinerWizard> m_joinWizard;
    QPointer<CExistingWizard> m_existingWizard;
    // Networks created here that end within a day: a notification from the
    // tray, so their creator can invite people again in time.
    CExpiryReminder m_expiryReminder;
    // The Add Network wizard while it is open, likewise.
    QPointer<CInviterWizard> m_addWizard;

    CCommandLine m_commandLine;
    bool m_ended = false;
    bool m_initialised = false;
    // The initialisation has reached the tree: a tree built from now on is
    // initialised at once.
    bool m_treeReady = false;
    bool m_framed = false;
    QPoint m_dragOffset;
};

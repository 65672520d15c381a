#pragma once

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QWidget;

// The program's icon in the notification area: tooltip, balloon, the popup
// menu with its bold default entry, and the grey look while the peer-to-peer
// infrastructure is down. Qt docks the icon again by itself when the tray host
// restarts, keeping the current tooltip and icon and showing no balloon.
class CTrayNotifyIcon : public QObject
{
    Q_OBJECT
public:
    // Identifier of the icon and of its popup menu.
    static constexpr int kIconId = 141;
    // Menu commands the owner carries out.
    static constexpr int kCmdShow = 32779;
    static constexpr int kCmdExit = 32780;

    explicit CTrayNotifyIcon(QObject* parent = nullptr);
    ~CTrayNotifyIcon() override;

    // Adds the icon. notificationWindow only parents nothing here; it is kept
    // as the window that receives the menu commands. Returns whether the icon
    // object is shown (Qt docks it whenever a tray host is present).
    bool Create(QWidget* notificationWindow, const QString& tooltip, const QIcon& icon);

    // Mouse notifications of the icon: 0 for another icon, otherwise 1. A
    // double-click runs the default entry ("Show Tervala Pro") once; the
    // right-click menu is opened by Qt itself at the cursor.
    int OnTrayNotification(int iconId, QSystemTrayIcon::ActivationReason reason);

    void SetTooltipText(const QString& text);
    // The error icon unless told otherwise (a reminder is no failure).
    bool ShowBalloon(const QString& text, const QString& title,
                     QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::Critical);
    bool SetIcon(const QIcon& icon);
    void ShowServiceStatus(bool active);
    // The service itself cannot be reached: grey icon, a tooltip that says
    // the service is not running, and the balloon when asked for (once per
    // outage: the caller knows when one begins).
    void ShowServiceDown(bool balloon);
    // A connection to the service is up again. The icon stays grey until the
    // service reports its status; the tooltip no longer says it is not running.
    void ShowServiceReachable();
    bool ShowsServiceDown() const { return m_serviceDown; }

    static QIcon CreateGrayIcon(const QIcon& icon);
    // The grey rendering of one picture, pixel by pixel (kept separate so it
    // can be checked on known pixels).
    static QImage CreateGrayImage(const QImage& image);

    bool IsShown() const;
    QString Tooltip() const;
    QIcon CurrentIcon() const;
    QMenu* PopupMenu() const { return m_menu; }
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    QAction* DefaultAction() const;
    // The last balloon asked for (text, title), for the status presentation.
    QString LastBalloonText() const { return m_lastBalloonText; }
    QString LastBalloonTitle() const { return m_lastBalloonTitle; }
    int BalloonCount() const { return m_balloonCount; }

signals:
    void command(int id);

private:
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    QWidget* m_window = nullptr;
    QIcon m_normalIcon;
    QString m_lastBalloonText;
    QString m_lastBalloonTitle;
    int m_balloonCount = 0;
    bool m_serviceDown = false;
};

#include "app/TrayNotifyIcon.h"

#include "foundation/DebugDump.h"
#include "resources/StringTable.h"

#include <QAction>
#include <QMenu>

namespace {
constexpr quint32 IDS_TRAY_TITLE = 124;
constexpr quint32 IDS_TRAY_ACTIVE = 126;
constexpr quint32 IDS_TRAY_FAILED = 127;
constexpr quint32 IDS_TRAY_INACTIVE = 128;
constexpr quint32 IDS_SERVICE_NOT_RUNNING = 10201;
constexpr quint32 IDS_SERVICE_LOST = 10202;
constexpr int kBalloonMs = 2000;
} // namespace

CTrayNotifyIcon::CTrayNotifyIcon(QObject* parent) : QObject(parent) {}

CTrayNotifyIcon::~CTrayNotifyIcon()
{
    if (m_tray)
        m_tray->hide();
    delete m_tray;
    delete m_menu;
}

bool CTrayNotifyIcon::Create(QWidget* notificationWindow, const QString& tooltip, const QIcon& icon)
{
    m_window = notificationWindow;
    m_normalIcon = icon;
    if (!m_menu) {
        m_menu = new QMenu();
        m_menu->setObjectName(QStringLiteral("trayMenu"));
        m_menu->setTitle(QStringLiteral("Popup"));
        QAction* show = m_menu->addAction(LoadString(kCmdShow));
        QAction* exit = m_menu->addAction(LoadString(kCmdExit));
        show->setObjectName(QStringLiteral("trayShow"));
        exit->setObjectName(QStringLiteral("trayExit"));
        // The default entry is drawn bold, as a tray menu's default should be.
        m_menu->setDefaultAction(show);
        connect(show, &QAction::triggered, this, [this] { emit command(kCmdShow); });
        connect(exit, &QAction::triggered, this, [this] { emit command(kCmdExit); });
    }
    if (!m_tray) {
        m_tray = new QSystemTrayIcon();
        m_tray->setContextMenu(m_menu);
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    OnTrayNotification(kIconId, reason);
                });
    }
    m_tray->setIcon(icon);
    m_tray->setToolTip(tooltip);
    m_tray->show();
    DebugDump::Write(QStringLiteral("tray.txt"), tooltip);
    return m_tray->isVisible();
}

int CTrayNotifyIcon::OnTrayNotification(int iconId, QSystemTrayIcon::ActivationReason reason)
{
    if (iconId != kIconId)
        return 0;
    if (reason == QSystemTrayIcon::DoubleClick) {
        if (QAction* action = DefaultAction())
            action->trigger();
    }
    // Context: Qt pops the menu up at the cursor; other clicks do nothing.
    return 1;
}

QAction* CTrayNotifyIcon::DefaultAction() const
{
    return m_menu ? m_menu->defaultAction() : nullptr;
}

bool CTrayNotifyIcon::IsShown() const
{
    return m_tray && m_tray->isVisible();
}

void CTrayNotifyIcon::SetTooltipText(const QString& text)
{
    if (!IsShown())
        return;
    m_tray->setToolTip(text);
    DebugDump::Write(QStringLiteral("tray.txt"), text);
}

bool CTrayNotifyIcon::ShowBalloon(const QString& text, const QString& title,
                                  QSystemTrayIcon::MessageIcon icon)
{
    if (!IsShown())
        return false;
    m_lastBalloonText = text;
    m_lastBalloonTitle = title;
    ++m_balloonCount;
    m_tray->showMessage(title, text, icon, kBalloonMs);
    return true;
}

bool CTrayNotifyIcon::SetIcon(const QIcon& icon)
{
    if (!IsShown())
        return false;
    m_tray->setIcon(icon);
    return true;
}

QString CTrayNotifyIcon::Tooltip() const
{
    return m_tray ? m_tray->toolTip() : QString();
}

QIcon CTrayNotifyIcon::CurrentIcon() const
{
    return m_tray ? m_tray->icon() : QIcon();
}

void CTrayNotifyIcon::ShowServiceStatus(bool active)
{
    m_serviceDown = false;
    if (active) {
        // Coming back needs no balloon: the icon's colour and tooltip say it.
        SetTooltipText(LoadString(IDS_TRAY_ACTIVE));
        SetIcon(m_normalIcon);
        return;
    }
    ShowBalloon(LoadString(IDS_TRAY_FAILED), LoadString(IDS_TRAY_TITLE));
    SetTooltipText(LoadString(IDS_TRAY_INACTIVE));
    SetIcon(CreateGrayIcon(m_normalIcon));
}

void CTrayNotifyIcon::ShowServiceDown(bool balloon)
{
    m_serviceDown = true;
    if (balloon)
        ShowBalloon(LoadString(IDS_SERVICE_LOST), LoadString(IDS_TRAY_TITLE));
    SetTooltipText(LoadString(IDS_SERVICE_NOT_RUNNING));
    SetIcon(CreateGrayIcon(m_normalIcon));
}

void CTrayNotifyIcon::ShowServiceReachable()
{
    if (!m_serviceDown)
        return;
    m_serviceDown = false;
    SetTooltipText(LoadString(IDS_TRAY_TITLE));
}

QImage CTrayNotifyIcon::CreateGrayImage(const QImage& image)
{
    if (image.isNull())
        return {};
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb pixel = line[x];
            const int alpha = qAlpha(pixel);
            int average = (qBlue(pixel) + qGreen(pixel) + qRed(pixel)) / 3;
            // Fully transparent black is the icon's empty background: keep it.
            if (alpha == 0 && average == 0)
                continue;
            if (average == 255)
                average = 254;
            line[x] = qRgba(average, average, average, alpha);
        }
    }
    return out;
}

QIcon CTrayNotifyIcon::CreateGrayIcon(const QIcon& icon)
{
    if (icon.isNull())
        return {};
    QIcon gray;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes.append(QSize(32, 32));
    for (const QSize& size : sizes) {
        const QImage image = CreateGrayImage(icon.pixmap(size).toImage());
        if (!image.isNull())
            gray.addPixmap(QPixmap::fromImage(image));
    }
    return gray;
}

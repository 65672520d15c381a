#pragma once

#include "app/OnlineUsersFeed.h"
#include "sessions/SessionContainer.h"

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QTreeWidget>

class IRPCExecute;
class QAction;
class QMenu;

// The running networks and their peers, two levels deep, over a background
// picture that stays put while the items scroll. Rebuilt from the shared
// session list on start, on every peer-change signal, on Refresh and on a
// status change; a right click (or the context-menu key) offers "Close Server".
// The list comes from a feed: its own, or one its owner already runs (the
// main window follows the service before it builds the tree).
class COnlineUsersTree : public QTreeWidget
{
    Q_OBJECT
public:
    static constexpr int kCmdCloseServer = 32789;
    // Each item carries its network's name under this role.
    static constexpr int kNetworkNameRole = Qt::UserRole + 1;

    // feed: a feed owned and started by someone else, or null for one of
    // the tree's own, started by Init.
    explicit COnlineUsersTree(QWidget* parent = nullptr, COnlineUsersFeed* feed = nullptr);
    ~COnlineUsersTree() override;

    // Once, from the main window's initialisation: pictures, the peer-change
    // watch (of an own feed) and the first rebuild. serviceProxy receives
    // "Close Server".
    void Init(const QFont& font, IRPCExecute* serviceProxy);
    // Asks for the shared state to be read again; the tree is rebuilt from
    // an empty one when the new list is in (the feed's changed()).
    void RefreshTree();
    // The rebuild itself, from a client list already read.
    void Rebuild(const QList<_CLIENT_INFORMATION>& clients);
    // Stops the feed's peer-change watch (the window is going away).
    void StopNotifier();

    // "Close Server" for the item last hit by a context-menu request.
    void CloseServer();
    QTreeWidgetItem* LastHitItem() const { return m_lastHit; }
    QString LastHitNetwork() const { return m_lastHitNetwork; }
    QMenu* PopupMenu() const { return m_popup; }

    void SetBackground(const QPixmap& picture);
    bool HasBackground() const { return !m_background.isNull(); }
    QIcon NodeIcon(int index) const { return m_nodeIcons.value(index); }
    int RefreshCount() const { return m_refreshCount; }
    COnlineUsersFeed* Feed() const { return m_feed; }

    // Text form of the tree ("network\n\tpeer\n..."), with each item's
    // screen rectangle when withGeometry is set; used by the debug dump that
    // end-to-end tests read.
    QString Dump(bool withGeometry = false) const;

signals:
    void refreshed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void loadBackground();
    void loadNodePictures();
    void openContextMenu(QTreeWidgetItem* item, const QPoint& globalPos);
    void writeDebugDump() const;

    QList<QIcon> m_nodeIcons;
    COnlineUsersFeed* m_feed = nullptr;
    bool m_ownsFeed = false;
    QPixmap m_background;
    IRPCExecute* m_proxy = nullptr;
    QTreeWidgetItem* m_lastHit = nullptr;
    // Kept as text: a rebuild while the menu is open deletes the item, and the
    // user's choice must still reach the service.
    QString m_lastHitNetwork;
    QMenu* m_popup = nullptr;
    QAction* m_closeServer = nullptr;
    int m_refreshCount = 0;
};

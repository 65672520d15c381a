#include "app/OnlineUsersTree.h"

#include "foundation/DebugDump.h"
#include "resources/StringTable.h"
#include "servicelink/RPCExecute.h"
#include "skin/Pictures.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFile>
#include <QHash>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int kNodePictureWidth = 18;
const QRgb kNodeMaskColour = qRgb(252, 254, 252);
} // namespace

COnlineUsersTree::COnlineUsersTree(QWidget* parent, COnlineUsersFeed* feed)
    : QTreeWidget(parent), m_feed(feed), m_ownsFeed(!feed)
{
    if (m_ownsFeed)
        m_feed = new COnlineUsersFeed(this);
    connect(m_feed, &COnlineUsersFeed::changed, this, [this] { Rebuild(m_feed->Clients()); });

    setObjectName(QStringLiteral("onlineUsersTree"));
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    setAccessibleName(tr("Networks and peers"));
    setAccessibleDescription(
        tr("Running networks with their connected peers. Open the context menu "
           "on a network or peer to close the network."));

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("treePopup"));
    m_popup->setTitle(QStringLiteral("Popup"));
    m_closeServer = m_popup->addAction(LoadString(kCmdCloseServer));
    m_closeServer->setObjectName(QStringLiteral("closeServer"));
    connect(m_closeServer, &QAction::triggered, this, &COnlineUsersTree::CloseServer);
}

COnlineUsersTree::~COnlineUsersTree()
{
    // No rebuild may reach a half-destroyed tree.
    disconnect(m_feed, nullptr, this, nullptr);
    if (m_ownsFeed)
        m_feed->Stop();
}

void COnlineUsersTree::Init(const QFont& font, IRPCExecute* serviceProxy)
{
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Text, Qt::black);
    setPalette(palette);
    loadBackground();
    loadNodePictures();

    if (m_ownsFeed)
        m_feed->Start();
    // What the feed already knows is shown at once; the fresh read follows.
    Rebuild(m_feed->Clients());
    RefreshTree();
    m_proxy = serviceProxy;
}

void COnlineUsersTree::StopNotifier()
{
    m_feed->Stop();
}

void COnlineUsersTree::RefreshTree()
{
    // The feed's announcement, once the read is in, rebuilds the tree.
    m_feed->Refresh();
}

void COnlineUsersTree::Rebuild(const QList<_CLIENT_INFORMATION>& clients)
{
    // Painting item by item would dominate a large rebuild.
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    m_lastHit = nullptr;
    clear();

    const QIcon networkIcon = m_nodeIcons.value(0);
    const QIcon peerIcon = m_nodeIcons.value(1);
    QHash<QString, QTreeWidgetItem*> networks;
    QList<QTreeWidgetItem*> topLevel;
    for (const _CLIENT_INFORMATION& client : clients) {
        const QString name = client.NetworkName();
        QTreeWidgetItem*& network = networks[name];
        if (!network) {
            network = new QTreeWidgetItem(QStringList(client.NetworkDisplayText()));
            network->setIcon(0, networkIcon);
            network->setData(0, kNetworkNameRole, name);
            topLevel.append(network);
        }
        auto* peer = new QTreeWidgetItem(network, QStringList(client.PeerName()));
        peer->setIcon(0, peerIcon);
        peer->setData(0, kNetworkNameRole, name);
    }
    addTopLevelItems(topLevel);
    // Every network is shown open; expansion states are not kept.
    for (QTreeWidgetItem* network : std::as_const(topLevel))
        network->setExpanded(true);

    setUpdatesEnabled(updates);
    ++m_refreshCount;
    writeDebugDump();
    emit refreshed();
}

void COnlineUsersTree::CloseServer()
{
    if (m_lastHitNetwork.isEmpty() || !m_proxy)
        return;
    m_proxy->CloseServerSession(m_lastHitNetwork);
}

void COnlineUsersTree::contextMenuEvent(QContextMenuEvent* event)
{
    QTreeWidgetItem* item = nullptr;
    QPoint globalPos = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // From the keyboard the menu belongs to the current item; the mouse
        // may be anywhere (or nowhere near the tree).
        item = currentItem();
        if (item) {
            const QRect rect = visualItemRect(item);
            globalPos = viewport()->mapToGlobal(rect.bottomLeft() + QPoint(rect.height(), 0));
        } else {
            globalPos = QCursor::pos();
            item = itemAt(viewport()->mapFromGlobal(globalPos));
        }
    } else {
        item = itemAt(viewport()->mapFromGlobal(globalPos));
    }
    event->accept();
    if (item)
        openContextMenu(item, globalPos);
}

void COnlineUsersTree::openContextMenu(QTreeWidgetItem* item, const QPoint& globalPos)
{
    m_lastHit = item;
    m_lastHitNetwork = item->data(0, kNetworkNameRole).toString();
    m_popup->popup(globalPos);
}

void COnlineUsersTree::SetBackground(const QPixmap& picture)
{
    m_background = picture;
    // Items are drawn straight onto the picture: the tree's own white must not
    // cover it.
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Base,
                     m_background.isNull() ? QColor(Qt::white) : QColor(Qt::transparent));
    viewport()->setPalette(palette);
    viewport()->setAutoFillBackground(m_background.isNull());
    viewport()->update();
}

void COnlineUsersTree::loadBackground()
{
    QPixmap picture;
    if (!picture.load(Pictures::Path(QStringLiteral("images/Tree_bg.bmp"))))
        picture = QPixmap();
    SetBackground(picture);
}

void COnlineUsersTree::loadNodePictures()
{
    m_nodeIcons.clear();
    QImage strip(Pictures::Path(QStringLiteral("images/tree_down_arrow.bmp")));
    if (strip.isNull())
        return; // nodes without pictures
    strip = strip.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < strip.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
        for (int x = 0; x < strip.width(); ++x) {
            if ((line[x] & 0x00ffffff) == (kNodeMaskColour & 0x00ffffff))
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    for (int x = 0; x + kNodePictureWidth <= strip.width(); x += kNodePictureWidth)
        m_nodeIcons.append(
            QIcon(QPixmap::fromImage(strip.copy(x, 0, kNodePictureWidth, strip.height()))));
    setIconSize(QSize(kNodePictureWidth, strip.height()));
}

void COnlineUsersTree::paintEvent(QPaintEvent* event)
{
    if (!m_background.isNull()) {
        // Stretched over the visible area, not the contents: it stays fixed
        // while the items move.
        QPainter painter(viewport());
        painter.drawPixmap(viewport()->rect(), m_background);
    }
    QTreeWidget::paintEvent(event);
}

void COnlineUsersTree::scrollContentsBy(int dx, int dy)
{
    QTreeWidget::scrollContentsBy(dx, dy);
    // A scroll that moved pixels would drag the fixed picture along: draw the
    // whole area again. (Qt already avoids blitting a see-through viewport;
    // this keeps the rule independent of that.)
    if (!m_background.isNull())
        viewport()->update();
}

QString COnlineUsersTree::Dump(bool withGeometry) const
{
    QString text;
    auto line = [&](const QTreeWidgetItem* item, int depth) {
        text += QString(depth, QLatin1Char('\t')) + item->text(0);
        if (withGeometry) {
            const QRect rect = visualItemRect(item);
            const QPoint centre = viewport()->mapToGlobal(rect.center());
            text += QStringLiteral("\t@%1,%2").arg(centre.x()).arg(centre.y());
        }
        text += QLatin1Char('\n');
    };
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QTreeWidgetItem* network = topLevelItem(i);
        line(network, 0);
        for (int j = 0; j < network->childCount(); ++j)
            line(network->child(j), 1);
    }
    return text;
}

void COnlineUsersTree::writeDebugDump() const
{
    if (DebugDump::Enabled())
        DebugDump::Write(QStringLiteral("tree.txt"), Dump(isVisible()));
}

#include "app/OnlineUsersTree.h"
#include "servicelink/RPCExecute.h"
#include "tests/app/SectionWriter.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
// Records what the tree asks of the service.
class RecordingProxy : public IRPCExecute
{
public:
    void CloseServerSession(const QString& sessionName) override { closed.append(sessionName); }
    QStringList closed;
};

QStringList names(std::initializer_list<const char*> items)
{
    QStringList list;
    for (const char* item : items)
        list.append(QString::fromUtf8(item));
    return list;
}
} // namespace

Q_DECLARE_METATYPE(SectionWriter::Network)

class TestOnlineUsersTree : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void rebuildRules_data();
    void rebuildRules();
    void everyRefreshStartsFresh();
    void peerChangeEventRefreshes();
    void missingSectionKeepsLastSessions();
    void lockHeldElsewhereLeavesTheWindowResponsive();
    void closeServerSendsNetworkName_data();
    void closeServerSendsNetworkName();
    void keyboardMenuUsesCurrentItem();
    void emptySpaceOpensNothing();
    void tenThousandPeers();
    void pictures();
    void backgroundStaysWhileScrolling();

private:
    void initTree(COnlineUsersTree& tree, RecordingProxy* proxy = nullptr);
    // Asks for a fresh read and waits until the tree has taken it in.
    void refreshTree(COnlineUsersTree& tree);
    std::unique_ptr<TestEnvironment> m_env;
    QFont m_font;
};

void TestOnlineUsersTree::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    // Pictures are read relative to the working folder, as the program does.
    QVERIFY(QDir::setCurrent(TestEnvironment::sourceDir()));
}

void TestOnlineUsersTree::cleanup()
{
    QFile::remove(SharedNames::EntryPath(SharedNames::SectionName()));
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty() ||
                std::none_of(QApplication::topLevelWidgets().cbegin(),
                             QApplication::topLevelWidgets().cend(),
                             [](QWidget* w) { return w->isVisible(); }));
}

void TestOnlineUsersTree::initTree(COnlineUsersTree& tree, RecordingProxy* proxy)
{
    const int before = tree.Feed()->RefreshCount();
    tree.Init(m_font, proxy);
    QTRY_VERIFY(tree.Feed()->RefreshCount() > before);
}

void TestOnlineUsersTree::refreshTree(COnlineUsersTree& tree)
{
    const int before = tree.Feed()->RefreshCount();
    tree.RefreshTree();
    QTRY_VERIFY(tree.Feed()->RefreshCount() > before);
}

void TestOnlineUsersTree::rebuildRules_data()
{
    QTest::addColumn<QList<SectionWriter::Network>>("networks");
    QTest::addColumn<QString>("dump");

    using N = SectionWriter::Network;
    QTest::addRow("nothing published") << QList<N>{} << QString();
    QTest::addRow("network without peers is not shown")
        << QList<N>{{QStringLiteral("empty"), QStringLiteral("Empty net"), {}}} << QString();
    QTest::addRow("one network, two peers")
        << QList<N>{{QStringLiteral("alpha"), QStringLiteral("Alpha net"), names({"ann", "bob"})}}
        << QStringLiteral("Alpha net\n\tann\n\tbob\n");
    QTest::addRow("networks ordered by name, not by publication")
        << QList<N>{{QStringLiteral("beta"), QStringLiteral("B"), names({"p1"})},
                    {QStringLiteral("alpha"), QStringLiteral("A"), names({"p2", "p3"})},
                    {QStringLiteral("gamma"), QStringLiteral("G"), {}}}
        << QStringLiteral("A\n\tp2\n\tp3\nB\n\tp1\n");
    QTest::addRow("non-ASCII names") << QList<N>{{QStringLiteral("n\u00e4t"),
                                                  QStringLiteral("N\u00e4tz \u6f22"),
                                                  {QStringLiteral("J\u00fcrgen")}}}
                                     << QStringLiteral("N\u00e4tz \u6f22\n\tJ\u00fcrgen\n");
    QTest::addRow("two networks with one display text stay apart")
        << QList<N>{{QStringLiteral("one"), QStringLiteral("Same"), names({"a"})},
                    {QStringLiteral("two"), QStringLiteral("Same"), names({"b", "c"})}}
        << QStringLiteral("Same\n\ta\nSame\n\tb\n\tc\n");
}

void TestOnlineUsersTree::rebuildRules()
{
    QFETCH(QList<SectionWriter::Network>, networks);
    QVERIFY(SectionWriter::Publish(networks));
    COnlineUsersTree tree;
    initTree(tree);
    QTEST(tree.Dump(), "dump");
    // A window that has not built its tree yet writes this text instead.
    COnlineUsersFeed feed;
    feed.Refresh();
    QTRY_COMPARE(feed.RefreshCount(), 1);
    QTEST(COnlineUsersFeed::DumpText(feed.Clients()), "dump");
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        QTreeWidgetItem* network = tree.topLevelItem(i);
        QVERIFY(network->isExpanded());
        const QString name = network->data(0, COnlineUsersTree::kNetworkNameRole).toString();
        QVERIFY(!name.isEmpty());
        for (int j = 0; j < network->childCount(); ++j)
            QCOMPARE(network->child(j)->data(0, COnlineUsersTree::kNetworkNameRole).toString(),
                     name);
    }
}

void TestOnlineUsersTree::everyRefreshStartsFresh()
{
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("alpha"), QStringLiteral("A"), names({"p1", "p2"})}}));
    COnlineUsersTree tree;
    initTree(tree);
    tree.topLevelItem(0)->setExpanded(false);
    refreshTree(tree);
    QCOMPARE(tree.Dump(), QStringLiteral("A\n\tp1\n\tp2\n"));
    QVERIFY(tree.topLevelItem(0)->isExpanded());
    QVERIFY(
        SectionWriter::Publish({{QStringLiteral("alpha"), QStringLiteral("A"), names({"p2"})}}));
    refreshTree(tree);
    QCOMPARE(tree.Dump(), QStringLiteral("A\n\tp2\n"));
}

void TestOnlineUsersTree::peerChangeEventRefreshes()
{
    COnlineUsersTree tree;
    initTree(tree);
    QCOMPARE(tree.topLevelItemCount(), 0);
    const int before = tree.RefreshCount();
    QVERIFY(SectionWriter::Publish({{QStringLiteral("net"), QStringLiteral("Net"), names({"x"})}}));
    QVERIFY(SectionWriter::Signal());
    QTRY_COMPARE(tree.Dump(), QStringLiteral("Net\n\tx\n"));
    QVERIFY(tree.RefreshCount() > before);
    // After the window stops watching, signals change nothing.
    tree.StopNotifier();
    const int stopped = tree.RefreshCount();
    QVERIFY(SectionWriter::Signal());
    QTest::qWait(150);
    QCOMPARE(tree.RefreshCount(), stopped);
}

void TestOnlineUsersTree::missingSectionKeepsLastSessions()
{
    QVERIFY(SectionWriter::Publish({{QStringLiteral("net"), QStringLiteral("Net"), names({"x"})}}));
    COnlineUsersTree tree;
    initTree(tree);
    QFile::remove(SharedNames::EntryPath(SharedNames::SectionName()));
    refreshTree(tree);
    QCOMPARE(tree.Dump(), QStringLiteral("Net\n\tx\n"));
}

// The section lock is a file every local user may flock. While another
// process holds it, the window goes on handling events and shows the last
// good list, says once that it may be out of date, and takes the new list in
// as soon as the lock is free.
void TestOnlineUsersTree::lockHeldElsewhereLeavesTheWindowResponsive()
{
    QVERIFY(SectionWriter::Publish({{QStringLiteral("old"), QStringLiteral("Old"), names({"a"})}}));
    COnlineUsersTree tree;
    initTree(tree);
    QCOMPARE(tree.Dump(), QStringLiteral("Old\n\ta\n"));
    QVERIFY(SectionWriter::Publish({{QStringLiteral("new"), QStringLiteral("New"), names({"b"})}}));

    const QByteArray lockPath =
        QFile::encodeName(SharedNames::EntryPath(SharedNames::SectionLockName()));
    QProcess holder;
    holder.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"), QStringLiteral("exec 9<\"$0\"; flock 9; exec sleep 600"),
                  QFile::decodeName(lockPath)});
    QVERIFY(holder.waitForStarted());
    // Held once an attempt of our own finds it busy.
    QTRY_VERIFY([&lockPath] {
        const int fd = ::open(lockPath.constData(), O_RDONLY | O_CLOEXEC);
        const bool busy = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (fd >= 0)
            ::close(fd);
        return busy;
    }());

    COnlineUsersFeed* feed = tree.Feed();
    QSignalSpy stale(feed, &COnlineUsersFeed::staleChanged);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(10);
    const int reads = feed->RefreshCount();
    tree.RefreshTree(); // returns although the read cannot get the lock
    QTRY_VERIFY_WITH_TIMEOUT(feed->IsStale(), 20000);
    QVERIFY(ticks > 0);
    QCOMPARE(stale.size(), 1);
    QCOMPARE(feed->RefreshCount(), reads);
    QCOMPARE(tree.Dump(), QStringLiteral("Old\n\ta\n"));
    // More requests meanwhile are merged into the read that waits.
    tree.RefreshTree();
    tree.RefreshTree();

    holder.kill();
    holder.waitForFinished();
    QTRY_COMPARE(tree.Dump(), QStringLiteral("New\n\tb\n"));
    QVERIFY(!feed->IsStale());
    QCOMPARE(stale.size(), 2);
    // The read that waited, and one more for the requests made meanwhile.
    QTRY_COMPARE(feed->RefreshCount() - reads, 2);
    QTest::qWait(100);
    QCOMPARE(feed->RefreshCount() - reads, 2);
}

void TestOnlineUsersTree::closeServerSendsNetworkName_data()
{
    QTest::addColumn<int>("network");
    QTest::addColumn<int>("peer"); // -1: the network node itself
    QTest::addColumn<QString>("sent");
    QTest::addRow("on a network") << 1 << -1 << QStringLiteral("beta");
    QTest::addRow("on a peer sends its network") << 0 << 1 << QStringLiteral("alpha");
}

void TestOnlineUsersTree::closeServerSendsNetworkName()
{
    QFETCH(int, network);
    QFETCH(int, peer);
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("alpha"), QStringLiteral("Alpha"), names({"ann", "alpha-peer"})},
         {QStringLiteral("beta"), QStringLiteral("Beta"), names({"bob"})}}));
    RecordingProxy proxy;
    COnlineUsersTree tree;
    tree.resize(300, 300);
    initTree(tree, &proxy);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));

    QTreeWidgetItem* item = tree.topLevelItem(network);
    if (peer >= 0)
        item = item->child(peer);
    QTreeWidgetItem* selectedBefore = tree.currentItem();
    const QPoint local = tree.visualItemRect(item).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, local, tree.viewport()->mapToGlobal(local));
    QApplication::sendEvent(tree.viewport(), &event);
    QTRY_VERIFY(tree.PopupMenu()->isVisible());
    QCOMPARE(tree.PopupMenu()->actions().size(), 1);
    QCOMPARE(tree.PopupMenu()->actions().first()->text(), QStringLiteral("Close Server"));
    // The hit item is not selected by the menu.
    QCOMPARE(tree.currentItem(), selectedBefore);

    // A rebuild while the menu is open must not lose the user's choice.
    refreshTree(tree);
    tree.PopupMenu()->actions().first()->trigger();
    tree.PopupMenu()->hide();
    QTRY_VERIFY(!tree.PopupMenu()->isVisible());
    QFETCH(QString, sent);
    QCOMPARE(proxy.closed, QStringList{sent});
}

void TestOnlineUsersTree::keyboardMenuUsesCurrentItem()
{
    QVERIFY(
        SectionWriter::Publish({{QStringLiteral("alpha"), QStringLiteral("Alpha"), names({"ann"})},
                                {QStringLiteral("beta"), QStringLiteral("Beta"), names({"bob"})}}));
    RecordingProxy proxy;
    COnlineUsersTree tree;
    tree.resize(300, 300);
    initTree(tree, &proxy);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    tree.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&tree));
    tree.setFocus();
    tree.setCurrentItem(tree.topLevelItem(1)->child(0));
    // What the window system makes of the context-menu key (the offscreen
    // platform does not translate the key itself). The mouse is elsewhere.
    QCursor::setPos(tree.mapToGlobal(QPoint(150, 290)));
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(150, 290), QCursor::pos());
    QApplication::sendEvent(&tree, &key);
    QTRY_VERIFY(tree.PopupMenu()->isVisible());
    QTest::keyClick(tree.PopupMenu(), Qt::Key_Down);
    QTest::keyClick(tree.PopupMenu(), Qt::Key_Return);
    QTRY_COMPARE(proxy.closed, QStringList{QStringLiteral("beta")});
}

void TestOnlineUsersTree::emptySpaceOpensNothing()
{
    QVERIFY(SectionWriter::Publish({{QStringLiteral("alpha"), QStringLiteral("A"), names({"p"})}}));
    RecordingProxy proxy;
    COnlineUsersTree tree;
    tree.resize(300, 300);
    initTree(tree, &proxy);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    const QPoint local(150, 280);
    QVERIFY(!tree.itemAt(local));
    QContextMenuEvent event(QContextMenuEvent::Mouse, local, tree.viewport()->mapToGlobal(local));
    QApplication::sendEvent(tree.viewport(), &event);
    QTest::qWait(50);
    QVERIFY(!tree.PopupMenu()->isVisible());
    tree.CloseServer();
    QVERIFY(proxy.closed.isEmpty());
}

void TestOnlineUsersTree::tenThousandPeers()
{
    QList<SectionWriter::Network> networks;
    for (int n = 0; n < 100; ++n) {
        SectionWriter::Network network{QStringLiteral("net%1").arg(n, 3, 10, QLatin1Char('0')),
                                       QStringLiteral("Network %1").arg(n),
                                       {}};
        for (int p = 0; p < 100; ++p)
            network.peers.append(QStringLiteral("peer-%1-%2").arg(n).arg(p));
        networks.append(network);
    }
    QVERIFY(SectionWriter::Publish(networks));
    COnlineUsersTree tree;
    initTree(tree);
    QCOMPARE(tree.topLevelItemCount(), 100);
    int peers = 0;
    for (int i = 0; i < 100; ++i) {
        QTreeWidgetItem* network = tree.topLevelItem(i);
        QCOMPARE(network->text(0), QStringLiteral("Network %1").arg(i));
        QCOMPARE(network->child(99)->text(0), QStringLiteral("peer-%1-99").arg(i));
        QVERIFY(network->isExpanded());
        peers += network->childCount();
    }
    QCOMPARE(peers, 10000);
    refreshTree(tree);
    QCOMPARE(tree.topLevelItemCount(), 100);
}

void TestOnlineUsersTree::pictures()
{
    {
        COnlineUsersTree tree;
        initTree(tree);
        QVERIFY(tree.HasBackground());
        QVERIFY(!tree.NodeIcon(0).isNull());
        QVERIFY(!tree.NodeIcon(1).isNull());
        // The mask colour is cut out of the node pictures.
        const QImage network = tree.NodeIcon(0).pixmap(18, 18).toImage();
        QCOMPARE(qAlpha(network.pixel(0, 0)), 0);
    }
    // Started somewhere without the pictures: a plain tree, still working.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_env->root()));
    QVERIFY(SectionWriter::Publish({{QStringLiteral("alpha"), QStringLiteral("A"), names({"p"})}}));
    COnlineUsersTree tree;
    initTree(tree);
    QDir::setCurrent(saved);
    QVERIFY(!tree.HasBackground());
    QVERIFY(tree.NodeIcon(0).isNull());
    QCOMPARE(tree.Dump(), QStringLiteral("A\n\tp\n"));
}

void TestOnlineUsersTree::backgroundStaysWhileScrolling()
{
    QList<SectionWriter::Network> networks;
    for (int n = 0; n < 20; ++n)
        networks.append({QStringLiteral("n%1").arg(n, 2, 10, QLatin1Char('0')),
                         QStringLiteral("N%1").arg(n), names({"a", "b", "c"})});
    QVERIFY(SectionWriter::Publish(networks));
    COnlineUsersTree tree;
    tree.resize(200, 200);
    initTree(tree);
    // Every row of the picture has its own colour, so a picture that moved
    // with the items shows at once.
    QImage stripes(1, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y)
        stripes.setPixel(0, y, qRgb(y, 255 - y, 128));
    tree.SetBackground(QPixmap::fromImage(stripes));
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));

    auto screenColumn = [&tree] {
        // What is really on screen (the backing store), not a fresh render.
        const QPoint origin = tree.viewport()->mapTo(&tree, QPoint(0, 0));
        const QImage shot = tree.screen()
                                ->grabWindow(tree.winId(), origin.x(), origin.y(),
                                             tree.viewport()->width(), tree.viewport()->height())
                                .toImage();
        QList<QRgb> column;
        const int x = shot.width() - 2; // right of every item's text
        for (int y = 0; y < shot.height(); y += 7)
            column.append(shot.pixel(x, y));
        return column;
    };
    QTRY_VERIFY(!screenColumn().isEmpty());
    const QList<QRgb> before = screenColumn();
    tree.verticalScrollBar()->setValue(tree.verticalScrollBar()->value() + 5);
    QTest::qWait(50);
    QTRY_COMPARE(screenColumn(), before);
}

QTEST_MAIN(TestOnlineUsersTree)
#include "tst_onlineuserstree.moc"

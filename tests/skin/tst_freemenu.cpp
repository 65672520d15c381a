#include "skin/FreeMenu.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

namespace {
// A move the window system would report; sent directly so that two moves to
// the same point are not merged away.
void moveTo(QWidget* widget, const QPoint& point)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(point), widget->mapToGlobal(QPointF(point)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

enum
{
    kAdd = 32772,
    kJoin = 32774,
    kExit = 32775,
    kExisting = 32778,
    kSupport = 32784,
    kAbout = 32785,
    kRefresh = 32787,
};
} // namespace

class TestFreeMenu : public QObject
{
    Q_OBJECT
private slots:
    void cellSizes_data();
    void cellSizes();
    void hitTest_data();
    void hitTest();
    void init();
    void cleanup();
    void clickOpensAndClosesTheList();
    void hoverSwitchesWhileOpen();
    void choosingPostsTheCommand_data();
    void choosingPostsTheCommand();
    void disabledEntryDoesNothing();
    void closesOnEscapeClickElsewhereAndFocusLoss();
    void keyboard();
    void longestTextWidensEveryCell();

private:
    QPoint barCell(int index) const;
    QPoint listCell(int index) const;
    QAction* add(QMenu* menu, int id, const QString& text, bool enabled = true);

    QWidget* m_owner = nullptr;
    QMenu* m_model = nullptr;
    CFreeMenu* m_bar = nullptr;
    QList<int> m_triggered;
};

void TestFreeMenu::cellSizes_data()
{
    QTest::addColumn<QList<QSize>>("texts");
    QTest::addColumn<QSize>("cell");
    QTest::addColumn<QSize>("bar");
    QTest::addColumn<QSize>("list");
    QTest::addRow("two texts") << QList<QSize>{{30, 18}, {36, 19}} << QSize(54, 28)
                               << QSize(110, 30) << QSize(56, 58);
    QTest::addRow("odd sizes round down")
        << QList<QSize>{{7, 3}} << QSize(10, 4) << QSize(12, 6) << QSize(12, 6);
    QTest::addRow("widest and tallest from different texts")
        << QList<QSize>{{100, 10}, {10, 20}, {50, 15}} << QSize(150, 30) << QSize(452, 32)
        << QSize(152, 92);
    QTest::addRow("nothing") << QList<QSize>{} << QSize(0, 0) << QSize(2, 2) << QSize(2, 2);
}

void TestFreeMenu::cellSizes()
{
    QFETCH(QList<QSize>, texts);
    QFETCH(QSize, cell);
    QCOMPARE(FreeMenuLayout::CellSize(texts), cell);
    QTEST(FreeMenuLayout::WindowSize(int(texts.size()), cell, Qt::Horizontal), "bar");
    QTEST(FreeMenuLayout::WindowSize(int(texts.size()), cell, Qt::Vertical), "list");
}

void TestFreeMenu::hitTest_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    // Cells of 50 x 20 inside a one-pixel frame, three of them.
    QTest::addRow("frame") << QPoint(0, 0) << -1 << -1;
    QTest::addRow("first cell") << QPoint(1, 1) << 0 << 0;
    QTest::addRow("last pixel of the first") << QPoint(50, 20) << 0 << 0;
    QTest::addRow("second") << QPoint(51, 10) << 1 << -1;
    QTest::addRow("second below") << QPoint(10, 21) << -1 << 1;
    QTest::addRow("third") << QPoint(150, 5) << 2 << -1;
    QTest::addRow("past the end") << QPoint(151, 5) << -1 << -1;
    QTest::addRow("below the list") << QPoint(5, 61) << -1 << -1;
}

void TestFreeMenu::hitTest()
{
    QFETCH(QPoint, point);
    QTEST(FreeMenuLayout::HitTest(point, 3, QSize(50, 20), Qt::Horizontal), "horizontal");
    QTEST(FreeMenuLayout::HitTest(point, 3, QSize(50, 20), Qt::Vertical), "vertical");
}

QAction* TestFreeMenu::add(QMenu* menu, int id, const QString& text, bool enabled)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, [this, id] { m_triggered.append(id); });
    return action;
}

void TestFreeMenu::init()
{
    m_triggered.clear();
    m_owner = new QWidget;
    m_owner->resize(324, 481);
    m_model = new QMenu(m_owner);
    QMenu* file = m_model->addMenu(QStringLiteral("&File"));
    QMenu* help = m_model->addMenu(QStringLiteral("&Help"));
    add(file, kAdd, QStringLiteral("&Add Network"), false);
    add(file, kJoin, QStringLiteral("&Join Network"));
    add(file, kExisting, QStringLiteral("E&xisting Networks"), false);
    add(file, kRefresh, QStringLiteral("&Refresh"));
    file->addSeparator();
    add(file, kExit, QStringLiteral("E&xit"));
    add(help, kSupport, QStringLiteral("&Contact Support"));
    add(help, kAbout, QStringLiteral("&About"));
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(16);
    font.setWeight(QFont::ExtraLight);
    m_bar = new CFreeMenu(m_owner, m_model, font, 28, 57);
    m_owner->show();
    QVERIFY(QTest::qWaitForWindowActive(m_owner));
}

void TestFreeMenu::cleanup()
{
    delete m_owner;
    m_owner = nullptr;
    m_bar = nullptr;
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QPoint TestFreeMenu::barCell(int index) const
{
    return FreeMenuLayout::CellRect(index, m_bar->CellSize(), Qt::Horizontal).center();
}

QPoint TestFreeMenu::listCell(int index) const
{
    return FreeMenuLayout::CellRect(index, m_bar->Child(0)->CellSize(), Qt::Vertical).center();
}

void TestFreeMenu::clickOpensAndClosesTheList()
{
    CMenuItemWnd* bar = m_bar->Window();
    QVERIFY(bar && bar->isVisible());
    QCOMPARE(bar->geometry(), QRect(QPoint(28, 57), m_bar->WindowSize()));
    QVERIFY(!m_bar->Child(0)->IsCreated());

    QTest::mouseClick(bar, Qt::LeftButton, {}, barCell(0));
    QCOMPARE(m_bar->OpenIndex(), 0);
    CFreeMenu* file = m_bar->Child(0);
    QVERIFY(file->IsCreated());
    QVERIFY(file->Window()->isVisible());
    // Directly below "File", in the owner window.
    const QRect cell = FreeMenuLayout::CellRect(0, m_bar->CellSize(), Qt::Horizontal);
    QCOMPARE(file->Window()->parentWidget(), m_owner);
    QCOMPARE(file->Window()->pos(), QPoint(28 + cell.left(), 57 + cell.bottom() + 2));
    // The separator is not an entry; every entry carries its name.
    QCOMPARE(file->Items().size(), 5);
    QWidget* exitEntry =
        file->Window()->findChild<QWidget*>(QStringLiteral("menuItem%1").arg(kExit));
    QVERIFY(exitEntry);
    QCOMPARE(exitEntry->accessibleName(), QStringLiteral("Exit"));

    QTest::mouseClick(bar, Qt::LeftButton, {}, barCell(0));
    QCOMPARE(m_bar->OpenIndex(), -1);
    QVERIFY(!file->IsCreated());
    QVERIFY(m_triggered.isEmpty());
}

void TestFreeMenu::hoverSwitchesWhileOpen()
{
    CMenuItemWnd* bar = m_bar->Window();
    // Nothing open: moving only marks.
    moveTo(bar, barCell(1));
    QCOMPARE(m_bar->HoverIndex(), 1);
    QCOMPARE(m_bar->OpenIndex(), -1);
    QTest::mouseClick(bar, Qt::LeftButton, {}, barCell(0));
    QCOMPARE(m_bar->OpenIndex(), 0);
    moveTo(bar, barCell(1));
    QCOMPARE(m_bar->OpenIndex(), 1);
    QVERIFY(!m_bar->Child(0)->IsCreated());
    QVERIFY(m_bar->Child(1)->IsCreated());
    moveTo(bar, barCell(0));
    QCOMPARE(m_bar->OpenIndex(), 0);
    QVERIFY(!m_bar->Child(1)->IsCreated());
}

void TestFreeMenu::choosingPostsTheCommand_data()
{
    QTest::addColumn<int>("menu");
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("id");
    QTest::addRow("Exit") << 0 << 4 << int(kExit);
    QTest::addRow("Join Network") << 0 << 1 << int(kJoin);
    QTest::addRow("Refresh") << 0 << 3 << int(kRefresh);
    QTest::addRow("About") << 1 << 1 << int(kAbout);
    QTest::addRow("Contact Support") << 1 << 0 << int(kSupport);
}

void TestFreeMenu::choosingPostsTheCommand()
{
    QFETCH(int, menu);
    QFETCH(int, entry);
    QFETCH(int, id);
    QSignalSpy posted(m_bar, &CFreeMenu::commandPosted);
    QTest::mouseClick(m_bar->Window(), Qt::LeftButton, {}, barCell(menu));
    CFreeMenu* list = m_bar->Child(menu);
    QVERIFY(list->IsCreated());
    const QPoint at = FreeMenuLayout::CellRect(entry, list->CellSize(), Qt::Vertical).center();
    QTest::mouseClick(list->Window(), Qt::LeftButton, {}, at);
    QCOMPARE(posted.size(), 1);
    QCOMPARE(posted.first().first().toInt(), id);
    // Closed before the command runs; the command arrives once, posted.
    QCOMPARE(m_bar->OpenIndex(), -1);
    QVERIFY(!list->IsCreated());
    QVERIFY(m_triggered.isEmpty());
    QTRY_COMPARE(m_triggered, QList<int>{id});
}

void TestFreeMenu::disabledEntryDoesNothing()
{
    QSignalSpy posted(m_bar, &CFreeMenu::commandPosted);
    QTest::mouseClick(m_bar->Window(), Qt::LeftButton, {}, barCell(0));
    QTest::mouseClick(m_bar->Child(0)->Window(), Qt::LeftButton, {}, listCell(0)); // Add Network
    QCOMPARE(posted.size(), 0);
    QCOMPARE(m_bar->OpenIndex(), 0);
    QTest::qWait(0);
    QVERIFY(m_triggered.isEmpty());
}

void TestFreeMenu::closesOnEscapeClickElsewhereAndFocusLoss()
{
    CMenuItemWnd* bar = m_bar->Window();
    QTest::mouseClick(bar, Qt::LeftButton, {}, barCell(0));
    QTest::keyClick(m_owner, Qt::Key_Escape);
    QCOMPARE(m_bar->OpenIndex(), -1);

    QTest::mouseClick(bar, Qt::LeftButton, {}, barCell(1));
    QCOMPARE(m_bar->OpenIndex(), 1);
    QTest::mouseClick(m_owner, Qt::LeftButton, {}, QPoint(300, 400));
    QCOMPARE(m_bar->OpenIndex(), -1);
    QVERIFY(!m_bar->Child(1)->IsCreated());

    QTest::mouseClick(bar, Qt::LeftButton, {}, barCell(1));
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_COMPARE(m_bar->OpenIndex(), -1);
    QVERIFY(m_triggered.isEmpty());
}

void TestFreeMenu::keyboard()
{
    QTest::keyClick(m_owner, Qt::Key_F, Qt::AltModifier);
    QCOMPARE(m_bar->OpenIndex(), 0);
    CFreeMenu* file = m_bar->Child(0);
    // The first entry that can be chosen is marked (Add Network is disabled).
    QCOMPARE(file->HoverIndex(), 1);
    QTest::keyClick(m_owner, Qt::Key_Down); // over the disabled Existing Networks
    QCOMPARE(file->HoverIndex(), 3);
    QTest::keyClick(m_owner, Qt::Key_Down);
    QCOMPARE(file->HoverIndex(), 4);
    QTest::keyClick(m_owner, Qt::Key_Down); // wraps, skipping Add Network
    QCOMPARE(file->HoverIndex(), 1);
    QTest::keyClick(m_owner, Qt::Key_Up);
    QCOMPARE(file->HoverIndex(), 4);
    QTest::keyClick(m_owner, Qt::Key_Right);
    QCOMPARE(m_bar->OpenIndex(), 1);
    QCOMPARE(m_bar->Child(1)->HoverIndex(), 0);
    QTest::keyClick(m_owner, Qt::Key_Down);
    QTest::keyClick(m_owner, Qt::Key_Return);
    QCOMPARE(m_bar->OpenIndex(), -1);
    QTRY_COMPARE(m_triggered, QList<int>{kAbout});

    // A mnemonic letter chooses directly; a disabled entry's letter does not.
    QTest::keyClick(m_owner, Qt::Key_F, Qt::AltModifier);
    QTest::keyClick(m_owner, Qt::Key_A);
    QCOMPARE(m_bar->OpenIndex(), 0);
    QTest::keyClick(m_owner, Qt::Key_J);
    QCOMPARE(m_bar->OpenIndex(), -1);
    QTRY_COMPARE(m_triggered, (QList<int>{kAbout, kJoin}));
    QTest::keyClick(m_owner, Qt::Key_H, Qt::AltModifier);
    QCOMPARE(m_bar->OpenIndex(), 1);
    QTest::keyClick(m_owner, Qt::Key_Escape);
    QCOMPARE(m_bar->OpenIndex(), -1);
}

void TestFreeMenu::longestTextWidensEveryCell()
{
    const QFontMetrics metrics(m_owner->font());
    Q_UNUSED(metrics);
    CFreeMenu* file = m_bar->Child(0);
    CFreeMenu* help = m_bar->Child(1);
    // "Existing Networks" sets the width of every File entry, "Contact Support"
    // that of every Help entry, so the two lists differ.
    QVERIFY(file->CellSize().width() > help->CellSize().width());
    QVERIFY(file->CellSize().width() > m_bar->CellSize().width());
    QTest::mouseClick(m_bar->Window(), Qt::LeftButton, {}, barCell(0));
    QCOMPARE(file->Window()->size(),
             QSize(file->CellSize().width() + 2, 5 * file->CellSize().height() + 2));
}

QTEST_MAIN(TestFreeMenu)
#include "tst_freemenu.moc"

#include "app/AboutDlg.h"
#include "app/TervalaprouiDlg.h"
#include "skin/Prompter.h"
#include "standin/StandinService.h"
#include "tests/app/SectionWriter.h"
#include "tests/support/TestEnvironment.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

// The main window against the real channel and the stand-in service running in
// this process.
class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void serviceUnreachableEndsWithError();
    void startAnnouncesItself();
    void visibility_data();
    void visibility();
    void hideAndShowAgain();
    void withoutTrayNothingStrandsTheUser();
    void statusChange();
    void lspNotifyForwarded();
    void closeServerReachesService();
    void exitFromTrayWhileHidden();
    void commandsAndAccessibility();
    void createStatusReports_data();
    void createStatusReports();
    void aboutBox();
    void timerSendsUiNotify();
    void handedOverFileOpensJoin();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<StandinService> m_service;
    std::unique_ptr<QSignalSpy> m_commands;
    int commandCount(long command) const;
};

void TestMainWindow::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    QVERIFY(QDir::setCurrent(TestEnvironment::sourceDir()));
    m_service = std::make_unique<StandinService>();
    QString error;
    QVERIFY2(m_service->start(&error), qPrintable(error));
}

void TestMainWindow::cleanupTestCase()
{
    // Let the service see every window's link close and release its clients
    // (it frees them from its event loop) before it goes.
    QTRY_COMPARE(m_service->clientCount(), 0);
    QTest::qWait(50);
    m_service.reset();
}

void TestMainWindow::init()
{
    CTervalaprouiDlg::SetTrayAvailableForTest(true);
    Prompter::clearAnswers();
    Prompter::clearHistory();
    m_service->setStatus(1);
    if (!m_service->isListening())
        QVERIFY(m_service->startListener());
    m_commands = std::make_unique<QSignalSpy>(m_service.get(), &StandinService::commandReceived);
}

void TestMainWindow::cleanup()
{
    m_commands.reset();
    QCOMPARE(Prompter::pendingAnswers(), 0);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
    QFile::remove(SharedNames::EntryPath(SharedNames::SectionName()));
}

int TestMainWindow::commandCount(long command) const
{
    int count = 0;
    for (const QList<QVariant>& args : std::as_const(*m_commands))
        count += args.at(1).toLongLong() == command ? 1 : 0;
    return count;
}

void TestMainWindow::serviceUnreachableEndsWithError()
{
    m_service->stopListener();
    Prompter::setNextAnswer(QMessageBox::Ok);
    CTervalaprouiDlg dlg{CCommandLine()};
    QSignalSpy ended(&dlg, &CTervalaprouiDlg::ended);
    QVERIFY(!dlg.Start());
    QVERIFY(dlg.IsEnded());
    QCOMPARE(ended.size(), 1);
    QVERIFY(!dlg.isVisible());
    const QList<Prompter::Record> shown = Prompter::history();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().icon, Prompter::Icon::Error);
    QCOMPARE(shown.first().title, QStringLiteral("Tervala Pro"));
    QVERIFY2(shown.first().text.startsWith(
                 QStringLiteral("Unable to establish connection with the service. Reason: ")),
             qPrintable(shown.first().text));
    // Nothing else started: no tray icon.
    QVERIFY(!dlg.TrayIcon().IsShown());
}

void TestMainWindow::startAnnouncesItself()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    QVERIFY(dlg.TrayIcon().IsShown());
    // The service tells each new client its status; the tray shows it.
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro active"));
    QVERIFY(Prompter::history().isEmpty());
}

void TestMainWindow::visibility_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("visible");

    QTest::addRow("startup with tray") << QStringList{QStringLiteral("-startup")} << true << false;
    QTest::addRow("startup without tray")
        << QStringList{QStringLiteral("-startup")} << false << false;
    QTest::addRow("plain with tray") << QStringList() << true << true;
    QTest::addRow("plain without tray") << QStringList() << false << true;
    QTest::addRow("wrong-case switch") << QStringList{QStringLiteral("-STARTUP")} << true << true;
}

void TestMainWindow::visibility()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, tray);
    QFETCH(bool, visible);
    CTervalaprouiDlg::SetTrayAvailableForTest(tray);
    CTervalaprouiDlg dlg{CCommandLine::Parse(arguments)};
    QVERIFY(dlg.Start());
    QCOMPARE(dlg.isVisible(), visible);
    QCOMPARE(dlg.ShowWindowFlag(), visible);
    // A framed window only when there is no tray to come back from.
    QCOMPARE(bool(dlg.windowFlags() & Qt::FramelessWindowHint), tray);
    if (!visible) {
        // Nothing brings a "-startup" window up by accident.
        dlg.show();
        dlg.setVisible(true);
        QVERIFY(!dlg.isVisible());
        // A bare later launch does.
        dlg.OnShowRequested();
        QVERIFY(dlg.isVisible());
    }
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
    QVERIFY(!dlg.isVisible());
}

void TestMainWindow::hideAndShowAgain()
{
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    QVERIFY(dlg.isVisible());
    auto* hide = dlg.findChild<QToolButton*>(QStringLiteral("hideButton"));
    QVERIFY(hide);
    hide->click();
    QVERIFY(!dlg.isVisible());
    QVERIFY(!dlg.ShowWindowFlag());
    dlg.show();
    QVERIFY(!dlg.isVisible());
    // Escape hides too; the window manager's close goes back to the tray.
    dlg.TrayIcon().DefaultAction()->trigger();
    QVERIFY(dlg.isVisible());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    dlg.TrayIcon().OnTrayNotification(CTrayNotifyIcon::kIconId, QSystemTrayIcon::DoubleClick);
    QVERIFY(dlg.isVisible());
    QCloseEvent close;
    QApplication::sendEvent(&dlg, &close);
    QVERIFY(!dlg.isVisible());
    QVERIFY(!dlg.IsEnded());
}

void TestMainWindow::withoutTrayNothingStrandsTheUser()
{
    CTervalaprouiDlg::SetTrayAvailableForTest(false);
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    QVERIFY(dlg.isVisible());
    dlg.OnCommand(CTervalaprouiDlg::IDC_HIDE);
    // Minimised, not hidden: still in the task list.
    QVERIFY(dlg.ShowWindowFlag());
    QVERIFY(dlg.isMinimized());
    dlg.OnShowRequested();
    QVERIFY(!dlg.isMinimized());
    QSignalSpy ended(&dlg, &CTervalaprouiDlg::ended);
    QCloseEvent close;
    QApplication::sendEvent(&dlg, &close);
    QCOMPARE(ended.size(), 1);
    QVERIFY(!dlg.isVisible());
}

void TestMainWindow::statusChange()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro active"));
    const QRgb normal = dlg.TrayIcon().CurrentIcon().pixmap(32, 32).toImage().pixel(16, 10);
    QVERIFY(qRed(normal) != qBlue(normal));

    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("a"), QStringLiteral("A"), {QStringLiteral("p")}}}));
    const int refreshes = dlg.Tree()->RefreshCount();
    m_service->setStatus(0);
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro inactive"));
    QCOMPARE(dlg.TrayIcon().BalloonCount(), 1);
    const QRgb gray = dlg.TrayIcon().CurrentIcon().pixmap(32, 32).toImage().pixel(16, 10);
    QCOMPARE(qRed(gray), qBlue(gray));
    QCOMPARE(qRed(gray), qGreen(gray));
    // The status change also rebuilt the tree.
    QVERIFY(dlg.Tree()->RefreshCount() > refreshes);
    QCOMPARE(dlg.Tree()->Dump(), QStringLiteral("A\n\tp\n"));

    m_service->setStatus(1);
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro active"));
    QCOMPARE(dlg.TrayIcon().CurrentIcon().pixmap(32, 32).toImage().pixel(16, 10), normal);
    QCOMPARE(dlg.TrayIcon().BalloonCount(), 1);
    QVERIFY(!dlg.isVisible());
}

void TestMainWindow::lspNotifyForwarded()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    dlg.OnLSPNotify(42);
    QTRY_COMPARE(commandCount(LSP_NOTIFY), 1);
    QVERIFY(m_service->logTail(20).join(QLatin1Char('\n')).contains(QStringLiteral("42")));
}

void TestMainWindow::closeServerReachesService()
{
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("alpha"), QStringLiteral("Alpha"), {QStringLiteral("ann")}}}));
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    QSignalSpy closes(m_service.get(), &StandinService::closeSessionRequested);
    COnlineUsersTree* tree = dlg.Tree();
    QTreeWidgetItem* peer = tree->topLevelItem(0)->child(0);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    tree->setCurrentItem(peer);
    tree->setFocus();
    // The context-menu key as the window system reports it.
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), dlg.mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(tree, &key);
    QTRY_VERIFY(tree->PopupMenu()->isVisible());
    QTest::keyClick(tree->PopupMenu(), Qt::Key_Down);
    QTest::keyClick(tree->PopupMenu(), Qt::Key_Return);
    QTRY_COMPARE(closes.size(), 1);
    QCOMPARE(closes.first().first().toString(), QStringLiteral("alpha"));
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::exitFromTrayWhileHidden()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QSignalSpy ended(&dlg, &CTervalaprouiDlg::ended);
    QVERIFY(dlg.TrayIcon().IsShown());
    dlg.TrayIcon().PopupMenu()->actions().at(1)->trigger();
    QCOMPARE(ended.size(), 1);
    QVERIFY(dlg.IsEnded());
    QVERIFY(!dlg.TrayIcon().IsShown());
    // Once ended, nothing shows the window again.
    dlg.OnShowRequested();
    QVERIFY(!dlg.isVisible());
}

void TestMainWindow::commandsAndAccessibility()
{
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    for (int id :
         {CTervalaprouiDlg::IDC_ADD, CTervalaprouiDlg::IDC_JOIN, CTervalaprouiDlg::IDC_EXISTING}) {
        QVERIFY(dlg.Button(id));
        QVERIFY(!dlg.Button(id)->isEnabled());
    }
    const QList<std::pair<int, bool>> entries = {{CTervalaprouiDlg::IDM_ADD_NETWORK, false},
                                                 {CTervalaprouiDlg::IDM_JOIN_NETWORK, false},
                                                 {CTervalaprouiDlg::IDM_EXISTING_NETWORKS, false},
                                                 {CTervalaprouiDlg::IDM_REFRESH, true},
                                                 {CTervalaprouiDlg::IDM_EXIT, true},
                                                 {CTervalaprouiDlg::IDM_CONTACT_SUPPORT, false},
                                                 {CTervalaprouiDlg::IDM_ABOUT, true}};
    for (const auto& [id, enabled] : entries) {
        QAction* action = dlg.Action(id);
        QVERIFY2(action, qPrintable(QString::number(id)));
        QCOMPARE(action->isEnabled(), enabled);
    }

    // Every focusable control has a name a screen reader can say.
    const QList<QWidget*> widgets = dlg.findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisibleTo(&dlg))
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(iface);
        QVERIFY2(!iface->text(QAccessible::Name).isEmpty(), widget->metaObject()->className());
    }
    // Tab reaches the tree and the hide control (the disabled buttons are skipped).
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.Tree()->setFocus();
    QCOMPARE(QApplication::focusWidget(), dlg.Tree());
    QTest::keyClick(dlg.windowHandle(), Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("hideButton"));

    // Refresh rebuilds from the shared state.
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("r"), QStringLiteral("R"), {QStringLiteral("p")}}}));
    dlg.Action(CTervalaprouiDlg::IDM_REFRESH)->trigger();
    QCOMPARE(dlg.Tree()->Dump(), QStringLiteral("R\n\tp\n"));

    QSignalSpy ended(&dlg, &CTervalaprouiDlg::ended);
    dlg.Action(CTervalaprouiDlg::IDM_EXIT)->trigger();
    QCOMPARE(ended.size(), 1);
}

void TestMainWindow::createStatusReports_data()
{
    QTest::addColumn<long>("flag");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");
    QTest::addRow("created") << 1L << QString() << int(Prompter::Icon::Information)
                             << QStringLiteral("Network invitation file is created successfully.");
    QTest::addRow("failed") << 0L << QStringLiteral("disk full") << int(Prompter::Icon::Error)
                            << QStringLiteral("disk full");
    QTest::addRow("failed without text still tells")
        << 0L << QString() << int(Prompter::Icon::Error) << QString();
}

void TestMainWindow::createStatusReports()
{
    QFETCH(long, flag);
    QFETCH(QString, error);
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QCOMPARE(dlg.PostInvitationAppData(QByteArray("\x01\x02\x03", 3)), 1);
    QCOMPARE(dlg.KeptAppData(), QByteArray("\x01\x02\x03", 3));
    Prompter::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(dlg.PostCreateInvitationStatus(QString(), flag, error), flag ? 1 : 0);
    QVERIFY(dlg.KeptAppData().isEmpty());
    QCOMPARE(Prompter::history().size(), 1);
    QTEST(int(Prompter::history().first().icon), "icon");
    QTEST(Prompter::history().first().text, "text");
    QCOMPARE(Prompter::history().first().title, QStringLiteral("Tervala Pro"));
}

void TestMainWindow::aboutBox()
{
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    QString product;
    QString title;
    // The box is modal: look at it and close it from inside its own loop.
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()));
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        title = about->windowTitle();
        product = about->findChild<QLabel*>(QStringLiteral("aboutProduct"))->text();
        QTest::keyClick(about, Qt::Key_Return);
    });
    dlg.Action(CTervalaprouiDlg::IDM_ABOUT)->trigger();
    QCOMPARE(title, QStringLiteral("About Tervala Pro"));
    QCOMPARE(product, QStringLiteral("Tervala Pro 1.0.0.0"));
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::timerSendsUiNotify()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    const int id = dlg.startTimer(20);
    QTRY_VERIFY(commandCount(UI_NOTIFY) >= 3);
    dlg.killTimer(id);
}

void TestMainWindow::handedOverFileOpensJoin()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QSignalSpy joins(&dlg, &CTervalaprouiDlg::joinNetworkRequested);
    QVERIFY(dlg.Start());
    QCOMPARE(joins.size(), 0);
    dlg.OnOpenRequested(QStringLiteral("/tmp/x.Tervalapro"));
    QCOMPARE(joins.size(), 1);
    QCOMPARE(joins.first().first().toString(), QStringLiteral("/tmp/x.Tervalapro"));
    QVERIFY(!dlg.isVisible());

    // A first instance started with a file asks for the flow during start-up.
    CTervalaprouiDlg withFile{CCommandLine::Parse({QStringLiteral("rel.Tervalapro")})};
    QSignalSpy fileJoins(&withFile, &CTervalaprouiDlg::joinNetworkRequested);
    QVERIFY(withFile.Start());
    QCOMPARE(fileJoins.size(), 1);
    QCOMPARE(fileJoins.first().first().toString(),
             QDir::current().filePath(QStringLiteral("rel.Tervalapro")));
    withFile.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

#include "app/AboutDlg.h"
#include "app/TervalaprouiDlg.h"
#include "foundation/Paths.h"
#include "invitations/Certificate.h"
#include "invitations/ExpiryReminder.h"
#include "invitations/InvitationInfo.h"
#include "sessions/SessionTypeCatalog.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "standin/InvitationAuthority.h"
#include "standin/StandinService.h"
#include "tests/app/SectionWriter.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/ExistingWizard.h"
#include "wizards/InviterWizard.h"
#include "wizards/JoinerWizard.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>

namespace {
// Runs act from inside the Join Network wizard's modal loop once it is up.
void whenWizardShown(QObject* context, std::function<void(CJoinerWizard*)> act)
{
    auto* timer = new QTimer(context);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, context, [timer, act] {
        auto* wizard = qobject_cast<CJoinerWizard*>(QApplication::activeModalWidget());
        if (!wizard || !wizard->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(wizard);
        // A failed check inside must not leave the test waiting on the wizard.
        if (QTest::currentTestFailed() && wizard->isVisible())
            wizard->reject();
    });
    timer->start();
}

// Runs act from inside the Add Network wizard's modal loop once it is up.
void whenInviterShown(QObject* context, std::function<void(CInviterWizard*)> act)
{
    auto* timer = new QTimer(context);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, context, [timer, act] {
        auto* wizard = qobject_cast<CInviterWizard*>(QApplication::activeModalWidget());
        if (!wizard || !wizard->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(wizard);
        if (QTest::currentTestFailed() && wizard->isVisible())
            wizard->reject();
    });
    timer->start();
}

// Runs act from inside the Existing Networks wizard's modal loop once it is up.
void whenExistingShown(QObject* context, std::function<void(CExistingWizard*)> act)
{
    auto* timer = new QTimer(context);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, context, [timer, act] {
        auto* wizard = qobject_cast<CExistingWizard*>(QApplication::activeModalWidget());
        if (!wizard || !wizard->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(wizard);
        if (QTest::currentTestFailed() && wizard->isVisible())
            wizard->reject();
    });
    timer->start();
}

// A network created through the stand-in's authority, ending after seconds.
QString createNetwork(const QString& displayName, qint64 seconds, const QString& file)
{
    CInvitationAuthority authority;
    CInvitationAuthority::NewNetwork request;
    request.nickname = QStringLiteral("Ann");
    request.sessionName = displayName;
    request.expiry = std::uint64_t(std::int64_t(FileTime::Now()) + seconds * 10'000'000LL);
    request.path = file;
    request.password = QStringLiteral("first1");
    CInvitationAuthority::Network network;
    QString error;
    if (!authority.CreateNetwork(request, network, error))
        qWarning("create failed: %s", qPrintable(error));
    return network.networkName;
}

void finishWizard(CJoinerWizard* wizard, const QString& nickName, const QString& password)
{
    wizard->Page()->NickNameEdit()->setText(nickName);
    wizard->Page()->PasswordEdit()->setText(password);
    wizard->button(QWizard::FinishButton)->click();
}

// Stand-ins for the desktop's programs: each records its arguments, one per
// line, in <record folder>/<program>.args.
const char* const kFakeTool = "#!/bin/sh\n"
                              "out=\"$TERVALA_TEST_RECORDS/${0##*/}.args\"\n"
                              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >\"$out.tmp\"\n"
                              "/bin/mv \"$out.tmp\" \"$out\"\n";
} // namespace

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
    void trayStartFollowsTheServiceBeforeTheTreeIsBuilt();
    void lspNotifyForwarded();
    void closeServerReachesService();
    void exitFromTrayWhileHidden();
    void commandsAndAccessibility();
    void createStatusReports_data();
    void createStatusReports();
    void aboutBox();
    void timerSendsUiNotify();
    void handedOverFileOpensJoin();
    void joinSendsOneRequest_data();
    void joinSendsOneRequest();
    void cancelledJoinSendsNothing_data();
    void cancelledJoinSendsNothing();
    void joinStatusReports_data();
    void joinStatusReports();
    void statusAfterProgressCancelled();
    void dataArrivingDuringTheReportSurvives();
    void remoteAssistanceDataOverTheChannel();
    void badInvitationPathsAreReported_data();
    void badInvitationPathsAreReported();
    void addNetworkSendsCreate_data();
    void addNetworkSendsCreate();
    void cancelledAddSendsNothing();
    void addNetworkEndsWhenTheServiceGoes();
    void existingNetworksFromTheWindow_data();
    void existingNetworksFromTheWindow();
    void networkEndingSoonNotifiedFromTheTray();
    void serviceGoesAwayAndComesBack();
    void joinInProgressEndsWhenTheServiceGoes();
    void unsolicitedAnswersStartNothing();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<StandinService> m_service;
    std::unique_ptr<QSignalSpy> m_commands;
    QList<JoinRequest> m_joinRequests;
    JoinResult m_joinAnswer;
    QList<CreateRequest> m_createRequests;
    CreateResult m_createAnswer;
    QString m_records;
    QString m_tools;
    QString m_dumps;
    QByteArray m_savedPath;
    int commandCount(long command) const;
    QStringList toolArguments(const QString& tool) const;
    QString dump(const QString& name) const;
    void installTool(const QString& tool, bool installed);
};

void TestMainWindow::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    QVERIFY(QDir::setCurrent(TestEnvironment::sourceDir()));
    // Only the fake desktop programs may be found: a Remote Desktop client
    // installed on the machine must never start from a test.
    m_records = QDir(m_env->root()).filePath(QStringLiteral("records"));
    m_tools = QDir(m_env->root()).filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(m_records));
    QVERIFY(QDir().mkpath(m_tools));
    // What the window shows, as the end-to-end test reads it.
    m_dumps = QDir(m_env->root()).filePath(QStringLiteral("dump"));
    QVERIFY(QDir().mkpath(m_dumps));
    qputenv("TERVALA_DEBUG_DUMP_DIR", QFile::encodeName(m_dumps));
    qputenv("TERVALA_TEST_RECORDS", QFile::encodeName(m_records));
    m_savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_tools));
    installTool(QStringLiteral("xdg-open"), true);

    m_service = std::make_unique<StandinService>();
    m_service->joinHandler = [this](const JoinRequest& request) {
        m_joinRequests.append(request);
        return m_joinAnswer;
    };
    m_service->createHandler = [this](const CreateRequest& request) {
        m_createRequests.append(request);
        return m_createAnswer;
    };
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
    qputenv("PATH", m_savedPath);
}

void TestMainWindow::init()
{
    CTervalaprouiDlg::SetTrayAvailableForTest(true);
    Prompter::clearAnswers();
    Prompter::clearHistory();
    FileDialogs::clearNextFileNames();
    FileDialogs::clearHistory();
    m_joinRequests.clear();
    m_joinAnswer = JoinResult();
    m_createRequests.clear();
    m_createAnswer = CreateResult();
    installTool(QStringLiteral("xfreerdp"), true);
    for (const QString& name : QDir(m_records).entryList(QDir::Files))
        QFile::remove(QDir(m_records).filePath(name));
    m_service->setStatus(1);
    if (!m_service->isListening())
        QVERIFY(m_service->startListener());
    m_commands = std::make_unique<QSignalSpy>(m_service.get(), &StandinService::commandReceived);
}

void TestMainWindow::cleanup()
{
    // A wizard driver armed for a wizard that never came must not act on the
    // next test's wizard.
    qDeleteAll(findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly));
    m_commands.reset();
    QCOMPARE(Prompter::pendingAnswers(), 0);
    QCOMPARE(FileDialogs::pendingFileNames(), 0);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
    QFile::remove(SharedNames::EntryPath(SharedNames::SectionName()));
}

QStringList TestMainWindow::toolArguments(const QString& tool) const
{
    QFile file(QDir(m_records).filePath(tool + QStringLiteral(".args")));
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<not started>")};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

QString TestMainWindow::dump(const QString& name) const
{
    QFile file(QDir(m_dumps).filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<none>");
    return QString::fromUtf8(file.readAll());
}

void TestMainWindow::installTool(const QString& tool, bool installed)
{
    const QString path = QDir(m_tools).filePath(tool);
    QFile::remove(path);
    if (!installed)
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kFakeTool);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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
    QTRY_VERIFY(dlg.Tree()->RefreshCount() > refreshes);
    QTRY_COMPARE(dlg.Tree()->Dump(), QStringLiteral("A\n\tp\n"));

    m_service->setStatus(1);
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro active"));
    QCOMPARE(dlg.TrayIcon().CurrentIcon().pixmap(32, 32).toImage().pixel(16, 10), normal);
    QCOMPARE(dlg.TrayIcon().BalloonCount(), 1);
    QVERIFY(!dlg.isVisible());
}

void TestMainWindow::trayStartFollowsTheServiceBeforeTheTreeIsBuilt()
{
    QFile::remove(QDir(m_dumps).filePath(QStringLiteral("tree.txt")));
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    // Living in the tray needs no control of the window.
    QVERIFY(!dlg.WidgetsBuilt());
    QVERIFY(dlg.findChildren<QWidget*>().isEmpty());
    QTRY_COMPARE(dump(QStringLiteral("tree.txt")), QString());

    // Peer changes and status changes are followed all the same.
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("a"), QStringLiteral("A"), {QStringLiteral("p")}}}));
    QVERIFY(SectionWriter::Signal());
    QTRY_COMPARE(dump(QStringLiteral("tree.txt")), QStringLiteral("A\n\tp\n"));
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("b"), QStringLiteral("B"), {QStringLiteral("q"), QStringLiteral("r")}}}));
    m_service->setStatus(0);
    QTRY_COMPARE(dump(QStringLiteral("tree.txt")), QStringLiteral("B\n\tq\n\tr\n"));
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro inactive"));
    QVERIFY(!dlg.WidgetsBuilt());

    // The first show builds the window with what is running now...
    dlg.OnShowRequested();
    QVERIFY(dlg.isVisible());
    QVERIFY(dlg.WidgetsBuilt());
    QCOMPARE(dlg.Tree()->Dump(), QStringLiteral("B\n\tq\n\tr\n"));
    QVERIFY(dlg.Tree()->HasBackground());
    QVERIFY(dlg.findChild<QToolButton*>(QStringLiteral("hideButton")));
    // ...and from then on the tree itself follows the service and writes the dump.
    QVERIFY(SectionWriter::Publish(
        {{QStringLiteral("c"), QStringLiteral("C"), {QStringLiteral("s")}}}));
    QVERIFY(SectionWriter::Signal());
    QTRY_COMPARE(dlg.Tree()->Dump(), QStringLiteral("C\n\ts\n"));
    QTRY_VERIFY(dump(QStringLiteral("tree.txt")).startsWith(QStringLiteral("C\t@")));
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
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
    QTRY_COMPARE(tree->topLevelItemCount(), 1);
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
    for (const auto& [id, enabled] :
         QList<std::pair<int, bool>>{{CTervalaprouiDlg::IDC_ADD, true},
                                     {CTervalaprouiDlg::IDC_JOIN, true},
                                     {CTervalaprouiDlg::IDC_EXISTING, true}}) {
        QVERIFY(dlg.Button(id));
        QCOMPARE(dlg.Button(id)->isEnabled(), enabled);
    }
    const QList<std::pair<int, bool>> entries = {{CTervalaprouiDlg::IDM_ADD_NETWORK, true},
                                                 {CTervalaprouiDlg::IDM_JOIN_NETWORK, true},
                                                 {CTervalaprouiDlg::IDM_EXISTING_NETWORKS, true},
                                                 {CTervalaprouiDlg::IDM_REFRESH, true},
                                                 {CTervalaprouiDlg::IDM_EXIT, true},
                                                 {CTervalaprouiDlg::IDM_CONTACT_SUPPORT, true},
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
    QTRY_COMPARE(dlg.Tree()->Dump(), QStringLiteral("R\n\tp\n"));

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
        << 0L << QString() << int(Prompter::Icon::Error)
        << QStringLiteral("The network could not be created; the service gave no reason.");
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
    const QString handed = QStringLiteral("/tmp/x.Tervalapro");
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QString path;
    bool mainShown = true;
    int wizards = 0;
    whenWizardShown(this, [&](CJoinerWizard* wizard) {
        path = wizard->InvitationPath();
        mainShown = dlg.isVisible();
        // A second hand-over while it is open brings it forward, no second one.
        dlg.OnOpenRequested(QStringLiteral("/tmp/other.Tervalapro"));
        const QWidgetList windows = QApplication::topLevelWidgets();
        wizards = int(std::count_if(windows.begin(), windows.end(), [](QWidget* w) {
            return qobject_cast<CJoinerWizard*>(w) && w->isVisible();
        }));
        wizard->reject();
    });
    dlg.OnOpenRequested(handed);
    QCOMPARE(path, handed);
    QCOMPARE(wizards, 1);
    // Started hidden, it stays hidden: only the wizard comes up.
    QVERIFY(!mainShown);
    QVERIFY(!dlg.isVisible());
    QVERIFY(FileDialogs::history().isEmpty());
    QCOMPARE(commandCount(JOIN_INVITATION), 0);
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);

    // A first instance started with a file opens the wizard during start-up,
    // before its window is first shown.
    CTervalaprouiDlg withFile{CCommandLine::Parse({QStringLiteral("rel.Tervalapro")})};
    mainShown = true;
    whenWizardShown(this, [&](CJoinerWizard* wizard) {
        path = wizard->InvitationPath();
        mainShown = withFile.isVisible();
        wizard->reject();
    });
    QVERIFY(withFile.Start());
    QCOMPARE(path, QDir::current().filePath(QStringLiteral("rel.Tervalapro")));
    QVERIFY(!mainShown);
    QVERIFY(withFile.isVisible());
    withFile.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::joinSendsOneRequest_data()
{
    QTest::addColumn<int>("command");
    QTest::addRow("menu") << int(CTervalaprouiDlg::IDM_JOIN_NETWORK);
    QTest::addRow("button") << int(CTervalaprouiDlg::IDC_JOIN);
}

void TestMainWindow::joinSendsOneRequest()
{
    QFETCH(int, command);
    const QString file = QDir(m_env->root()).filePath(QStringLiteral("team.Tervalapro"));
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    FileDialogs::setNextFileName(file);
    whenWizardShown(this, [](CJoinerWizard* wizard) {
        finishWizard(wizard, QStringLiteral("alice"), QStringLiteral("s3cret"));
    });
    m_joinAnswer.sessionName = QStringLiteral("Team");
    m_joinAnswer.inviterAddress = QStringLiteral("::1");
    // Long enough to look at the progress window while the service works.
    m_service->setNextDelay(300);
    if (command == CTervalaprouiDlg::IDC_JOIN)
        dlg.Button(command)->click();
    else
        dlg.Action(command)->trigger();

    QCOMPARE(FileDialogs::history(),
             QStringList{QStringLiteral("Select the network invitation file....")});
    QVERIFY(dlg.ProgressWindow().HasWindow());
    QVERIFY(dlg.ProgressWindow().Window()->isVisible());
    QCOMPARE(dlg.ProgressWindow().Text(), QStringLiteral("Connecting to the network server...."));
    QCOMPARE(dlg.ProgressWindow().Value(), 8);

    Prompter::setNextAnswer(QMessageBox::Ok);
    QTRY_COMPARE(Prompter::history().size(), 1);
    QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Information);
    QCOMPARE(Prompter::history().first().text,
             QStringLiteral("Successfully connected to the Team network."));
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    QCOMPARE(m_joinRequests.size(), 1);
    QCOMPARE(m_joinRequests.first().nickname, QStringLiteral("alice"));
    QCOMPARE(m_joinRequests.first().path, file);
    QCOMPARE(m_joinRequests.first().password, QStringLiteral("s3cret"));
    QCOMPARE(commandCount(JOIN_INVITATION), 1);
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::cancelledJoinSendsNothing_data()
{
    QTest::addColumn<bool>("pickFile");
    QTest::addRow("file dialog cancelled") << false;
    QTest::addRow("wizard cancelled") << true;
}

void TestMainWindow::cancelledJoinSendsNothing()
{
    QFETCH(bool, pickFile);
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    FileDialogs::setNextFileName(pickFile ? QStringLiteral("/tmp/a.Tervalapro") : QString());
    bool wizardShown = false;
    whenWizardShown(this, [&](CJoinerWizard* wizard) {
        wizardShown = true;
        wizard->Page()->NickNameEdit()->setText(QStringLiteral("bob"));
        wizard->Page()->PasswordEdit()->setText(QStringLiteral("pw"));
        QTest::keyClick(wizard, Qt::Key_Escape);
    });
    dlg.OnCommand(CTervalaprouiDlg::IDM_JOIN_NETWORK);
    QCOMPARE(wizardShown, pickFile);
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    // Give a stray request the time to arrive before concluding none was sent.
    dlg.OnLSPNotify(7);
    QTRY_COMPARE(commandCount(LSP_NOTIFY), 1);
    QCOMPARE(commandCount(JOIN_INVITATION), 0);
    QVERIFY(Prompter::history().isEmpty());
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::joinStatusReports_data()
{
    QTest::addColumn<long>("success");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QString>("session");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("appData");
    QTest::addColumn<bool>("clientInstalled");
    // What the user sees: the boxes' icons and texts, and the programs started.
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("toolArguments");

    const QByteArray ticket("<ticket/>\0x", 11);
    const QString done = QStringLiteral("i:Successfully connected to the %1 network.");
    QTest::addRow("remote desktop in any case starts the client")
        << 1L << QString() << QStringLiteral("remote DESKTOP access (rdp)")
        << QStringLiteral("10.0.0.5") << QByteArray() << true << QStringList()
        << QStringLiteral("xfreerdp") << QStringList{QStringLiteral("/v:10.0.0.5")};
    QTest::addRow("a hostile address stays one argument")
        << 1L << QString() << QStringLiteral("Remote Desktop Access (RDP)")
        << QStringLiteral("x; rm -rf ~") << QByteArray() << true << QStringList()
        << QStringLiteral("xfreerdp") << QStringList{QStringLiteral("/v:x; rm -rf ~")};
    QTest::addRow("remote desktop without a client says so")
        << 1L << QString() << QStringLiteral("Remote Desktop Access (RDP)")
        << QStringLiteral("10.0.0.5") << QByteArray() << false
        << QStringList{QStringLiteral("e:The network was joined, but no Remote Desktop client")}
        << QString() << QStringList();
    QTest::addRow("remote assistance with data opens the invitation")
        << 1L << QString() << QStringLiteral("REMOTE ASSISTANCE") << QStringLiteral("::1") << ticket
        << true << QStringList() << QStringLiteral("xdg-open")
        << QStringList{QStringLiteral("<invitation>")};
    QTest::addRow("remote assistance without data reports")
        << 1L << QString() << QStringLiteral("Remote Assistance") << QStringLiteral("::1")
        << QByteArray() << true << QStringList{done.arg(QStringLiteral("Remote Assistance"))}
        << QString() << QStringList();
    QTest::addRow("netmeeting reports")
        << 1L << QString() << QStringLiteral("Netmeeting") << QStringLiteral("::1") << ticket
        << true << QStringList{done.arg(QStringLiteral("Netmeeting"))} << QString()
        << QStringList();
    QTest::addRow("streaming reports")
        << 1L << QString() << QStringLiteral("Streaming Session (MP3,AVI,WebCAM)")
        << QStringLiteral("::1") << QByteArray() << true
        << QStringList{done.arg(QStringLiteral("Streaming Session (MP3,AVI,WebCAM)"))} << QString()
        << QStringList();
    QTest::addRow("any other name, put in as it is")
        << 1L << QString() << QStringLiteral("Team %s 100%") << QStringLiteral("::1") << ticket
        << true << QStringList{done.arg(QStringLiteral("Team %s 100%"))} << QString()
        << QStringList();
    QTest::addRow("failure shows the service's text")
        << 0L << QStringLiteral("Invalid password or corrupted invitation file")
        << QStringLiteral("Remote Desktop Access (RDP)") << QStringLiteral("::1") << ticket << true
        << QStringList{QStringLiteral("e:Invalid password or corrupted invitation file")}
        << QString() << QStringList();
    QTest::addRow("failure without text shows nothing")
        << 0L << QString() << QString() << QString() << QByteArray() << true << QStringList()
        << QString() << QStringList();
}

void TestMainWindow::joinStatusReports()
{
    QFETCH(long, success);
    QFETCH(QString, errorText);
    QFETCH(QString, session);
    QFETCH(QString, address);
    QFETCH(QByteArray, appData);
    QFETCH(bool, clientInstalled);
    QFETCH(QStringList, boxes);
    QFETCH(QString, tool);
    QFETCH(QStringList, toolArguments);
    QStringList expectedArguments = toolArguments;
    installTool(QStringLiteral("xfreerdp"), clientInstalled);
    const QString invitation =
        QDir(Paths::RemoteAssistFolder()).filePath(QStringLiteral("RAInvitation.msrcincident"));
    QFile::remove(invitation);

    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    dlg.ProgressWindow().Create(nullptr);
    int promptsWhenProgressWent = -1;
    connect(dlg.ProgressWindow().Window(), &QObject::destroyed, this,
            [&] { promptsWhenProgressWent = int(Prompter::history().size()); });
    if (!appData.isEmpty())
        QCOMPARE(dlg.PostInvitationAppData(appData), 1);
    for (qsizetype i = 0; i < boxes.size(); ++i)
        Prompter::setNextAnswer(QMessageBox::Ok);

    QCOMPARE(dlg.PostJoinInvitationStatus(success, errorText, session, address), success ? 1 : 0);
    // The progress window goes before anything is said.
    QCOMPARE(promptsWhenProgressWent, 0);
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    QVERIFY(dlg.KeptAppData().isEmpty());

    QStringList shown;
    for (const Prompter::Record& record : Prompter::history())
        shown.append(
            (record.icon == Prompter::Icon::Error ? QStringLiteral("e:") : QStringLiteral("i:")) +
            record.text);
    QCOMPARE(shown.size(), boxes.size());
    for (qsizetype i = 0; i < boxes.size(); ++i)
        QVERIFY2(shown.at(i).startsWith(boxes.at(i)), qPrintable(shown.at(i)));

    if (tool.isEmpty()) {
        QTest::qWait(100);
        QCOMPARE(QDir(m_records).entryList(QDir::Files), QStringList());
    } else {
        const QString record = QDir(m_records).filePath(tool + QStringLiteral(".args"));
        QTRY_VERIFY(QFile::exists(record));
        for (QString& argument : expectedArguments)
            argument.replace(QStringLiteral("<invitation>"), invitation);
        QCOMPARE(this->toolArguments(tool), expectedArguments);
    }
    if (tool == QStringLiteral("xdg-open")) {
        QFile file(invitation);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\xFF\xFE", 2) + appData);
    }
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::statusAfterProgressCancelled()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    dlg.ProgressWindow().Create(nullptr);
    dlg.ProgressWindow().Advance(130);
    QTest::keyClick(dlg.ProgressWindow().Window(), Qt::Key_Escape);
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    // The join went on; its outcome is still reported.
    Prompter::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(dlg.PostJoinInvitationStatus(1, QString(), QStringLiteral("Team"), QString()), 1);
    QCOMPARE(Prompter::history().size(), 1);
    QCOMPARE(Prompter::history().first().text,
             QStringLiteral("Successfully connected to the Team network."));
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::dataArrivingDuringTheReportSurvives()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    dlg.PostInvitationAppData(QByteArray("first"));
    // A real box: while it waits for the user, the service already sends the
    // next join's data, which must still be there for that join's outcome.
    bool boxSeen = false;
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        boxSeen = true;
        dlg.PostInvitationAppData(QByteArray("second"));
        qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->accept();
    });
    dlg.PostJoinInvitationStatus(1, QString(), QStringLiteral("Team"), QString());
    QVERIFY(boxSeen);
    QCOMPARE(dlg.KeptAppData(), QByteArray("second"));
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::remoteAssistanceDataOverTheChannel()
{
    // As much data as one message carries once encoded, every byte value.
    QByteArray data(7000, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + 7) & 0xFF);
    m_joinAnswer.sessionName = QStringLiteral("Remote Assistance");
    m_joinAnswer.inviterAddress = QStringLiteral("::1");
    m_joinAnswer.appData = data;
    const QString invitation =
        QDir(Paths::RemoteAssistFolder()).filePath(QStringLiteral("RAInvitation.msrcincident"));
    QFile::remove(invitation);

    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    whenWizardShown(this, [](CJoinerWizard* wizard) {
        finishWizard(wizard, QStringLiteral("helper"), QStringLiteral("pw"));
    });
    dlg.OnOpenRequested(QStringLiteral("/tmp/assist.Tervalapro"));
    QTRY_VERIFY(QFile::exists(QDir(m_records).filePath(QStringLiteral("xdg-open.args"))));
    QCOMPARE(toolArguments(QStringLiteral("xdg-open")), QStringList{invitation});
    QFile file(invitation);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xFF\xFE", 2) + data);
    // The tool started: no message, and nothing kept for a later join.
    QVERIFY(Prompter::history().isEmpty());
    QVERIFY(dlg.KeptAppData().isEmpty());
    QCOMPARE(commandCount(JOIN_INVITATION), 1);
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::badInvitationPathsAreReported_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addRow("missing") << QStringLiteral("missing.Tervalapro") << QByteArray();
    QTest::addRow("a folder") << QStringLiteral("folder.Tervalapro") << QByteArray();
    QTest::addRow("empty") << QStringLiteral("empty.Tervalapro") << QByteArray("");
    static const char garbage[] = "\xFF\x00 not an invitation \x01";
    QTest::addRow("garbage") << QStringLiteral("garbage.Tervalapro")
                             << QByteArray(garbage, sizeof garbage - 1);
}

void TestMainWindow::badInvitationPathsAreReported()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString path = QDir(m_env->root()).filePath(name);
    if (name.startsWith(QStringLiteral("folder")))
        QVERIFY(QDir().mkpath(path));
    else if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // The real authority judges the file, as the service would.
    CInvitationAuthority authority;
    QString expected;
    const auto restore = qScopeGuard(
        [this, recording = m_service->joinHandler] { m_service->joinHandler = recording; });
    m_service->joinHandler = [&](const JoinRequest& request) {
        JoinResult result;
        CInvitationAuthority::Network network;
        result.ok =
            authority.JoinNetwork(request.path, request.password, network, result.errorText);
        expected = result.errorText;
        return result;
    };

    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    whenWizardShown(this, [](CJoinerWizard* wizard) {
        finishWizard(wizard, QStringLiteral("eve"), QStringLiteral("pw"));
    });
    dlg.OnOpenRequested(path);
    Prompter::setNextAnswer(QMessageBox::Ok);
    QTRY_COMPARE(Prompter::history().size(), 1);
    QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(Prompter::history().first().text, expected);
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    QVERIFY(!dlg.IsEnded());
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::addNetworkSendsCreate_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("created");
    QTest::addRow("button, created") << int(CTervalaprouiDlg::IDC_ADD) << true;
    QTest::addRow("menu, the service fails") << int(CTervalaprouiDlg::IDM_ADD_NETWORK) << false;
}

void TestMainWindow::addNetworkSendsCreate()
{
    QFETCH(int, command);
    QFETCH(bool, created);
    const QString sessionType =
        QStringLiteral("<TVLSessionStringFormat><PortRange PortStart=\"4000\" PortStop=\"4000\" "
                       "PortService=\"true\"/></TVLSessionStringFormat>");
    {
        CSessionTypeCatalog catalog;
        catalog.Add(QStringLiteral("Web"), QStringLiteral("<TVLSessionStringFormat/>"));
        catalog.Add(QStringLiteral("Remote Assistance"), sessionType);
        QVERIFY(catalog.Save());
    }
    const QString file = QDir(m_env->root()).filePath(QStringLiteral("made.Tervalapro"));
    m_createAnswer.ok = created;
    m_createAnswer.errorText = created ? QString() : QStringLiteral("The disk is full");

    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    quint64 before = 0;
    quint64 after = 0;
    whenInviterShown(this, [&](CInviterWizard* wizard) {
        wizard->SessionPage()->NickNameEdit()->setText(QStringLiteral("anna"));
        // "Remote Assistance" is preselected; this system cannot prepare its
        // invitation, so the type of the catalogue goes as it is.
        QCOMPARE(wizard->SessionPage()->SessionList()->currentText(),
                 QStringLiteral("Remote Assistance"));
        before = FileTime::Now();
        wizard->button(QWizard::NextButton)->click();
        after = FileTime::Now();
        FileDialogs::setNextFileName(file);
        wizard->SavePage()->BrowseButton()->click();
        wizard->SavePage()->PasswordEdit()->setText(QStringLiteral("pässwort"));
        wizard->SavePage()->ConfirmEdit()->setText(QStringLiteral("pässwort"));
        wizard->button(QWizard::FinishButton)->click();
    });
    Prompter::setNextAnswer(QMessageBox::Ok);
    if (command == CTervalaprouiDlg::IDC_ADD)
        dlg.Button(command)->click();
    else
        dlg.Action(command)->trigger();

    QTRY_COMPARE(Prompter::history().size(), 1);
    QCOMPARE(commandCount(CREATE_INVITATION), 1);
    QCOMPARE(m_createRequests.size(), 1);
    const CreateRequest& request = m_createRequests.first();
    QCOMPARE(request.nickname, QStringLiteral("anna"));
    QCOMPARE(request.password, QStringLiteral("pässwort"));
    QCOMPARE(request.sessionName, QStringLiteral("Remote Assistance"));
    QCOMPARE(request.sessionType, sessionType);
    const quint64 day = 24 * 36'000'000'000ULL;
    QVERIFY(request.expiry >= before + day && request.expiry <= after + day);
    QCOMPARE(request.path, file);
    // No application data: the message carried no data parameters at all.
    QVERIFY(request.appData.isNull());

    const Prompter::Record box = Prompter::history().first();
    QCOMPARE(box.icon, created ? Prompter::Icon::Information : Prompter::Icon::Error);
    QCOMPARE(box.text, created ? QStringLiteral("Network invitation file is created successfully.")
                               : QStringLiteral("The disk is full"));
    QVERIFY(!QFile::exists(file));
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::cancelledAddSendsNothing()
{
    {
        CSessionTypeCatalog catalog;
        catalog.Add(QStringLiteral("Web"), QStringLiteral("<TVLSessionStringFormat/>"));
    }
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    bool shown = false;
    whenInviterShown(this, [&](CInviterWizard* wizard) {
        shown = true;
        wizard->SessionPage()->NickNameEdit()->setText(QStringLiteral("anna"));
        wizard->button(QWizard::NextButton)->click();
        QTest::keyClick(wizard, Qt::Key_Escape);
    });
    dlg.OnCommand(CTervalaprouiDlg::IDM_ADD_NETWORK);
    QVERIFY(shown);
    // Give a stray request the time to arrive before concluding none was sent.
    dlg.OnLSPNotify(7);
    QTRY_COMPARE(commandCount(LSP_NOTIFY), 1);
    QCOMPARE(commandCount(CREATE_INVITATION), 0);
    QVERIFY(Prompter::history().isEmpty());
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::existingNetworksFromTheWindow_data()
{
    QTest::addColumn<int>("command");
    QTest::addRow("button") << int(CTervalaprouiDlg::IDC_EXISTING);
    QTest::addRow("File menu") << int(CTervalaprouiDlg::IDM_EXISTING_NETWORKS);
}

void TestMainWindow::existingNetworksFromTheWindow()
{
    QFETCH(int, command);
    const auto clearStore =
        qScopeGuard([] { QDir(Paths::LocalStoreFolder()).removeRecursively(); });
    QDir(Paths::LocalStoreFolder()).removeRecursively();
    CTervalaprouiDlg dlg{CCommandLine()};
    QVERIFY(dlg.Start());
    auto run = [&dlg, command] {
        if (command == CTervalaprouiDlg::IDC_EXISTING)
            dlg.Button(command)->click();
        else
            dlg.Action(command)->trigger();
    };

    // Nothing created yet: the message instead of the wizard.
    bool shown = false;
    whenExistingShown(this, [&](CExistingWizard* wizard) {
        shown = true;
        wizard->reject();
    });
    Prompter::setNextAnswer(QMessageBox::Ok);
    run();
    QVERIFY(!shown);
    QCOMPARE(Prompter::history().size(), 1);
    QCOMPARE(Prompter::history().first().text,
             QStringLiteral("All network invitations are expired or no invitation is created."));
    qDeleteAll(findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly));

    // A network made here is listed, in a wizard over the window; the
    // service is not asked anything.
    const QString name =
        createNetwork(QStringLiteral("Design Team"), 3 * 86400,
                      QDir(m_env->root()).filePath(QStringLiteral("e.Tervalapro")));
    QVERIFY(!name.isEmpty());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    const qsizetype before = m_commands->size();
    QStringList listed;
    QWidget* owner = nullptr;
    whenExistingShown(this, [&](CExistingWizard* wizard) {
        listed = wizard->ListPage()->SubjectNames();
        owner = wizard->parentWidget();
        // A second request while it is open brings it forward instead.
        dlg.OnCommand(CTervalaprouiDlg::IDM_EXISTING_NETWORKS);
        QCOMPARE(QApplication::activeModalWidget(), wizard);
        wizard->reject();
    });
    run();
    QCOMPARE(listed, QStringList{name});
    QCOMPARE(owner, &dlg);
    QCOMPARE(Prompter::history().size(), 1);
    // Give a stray request the time to arrive before concluding none was sent.
    dlg.OnLSPNotify(7);
    QTRY_COMPARE(commandCount(LSP_NOTIFY), 1);
    QCOMPARE(m_commands->size(), before + 1);
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::networkEndingSoonNotifiedFromTheTray()
{
    const auto clearStore = qScopeGuard([] {
        QDir(Paths::LocalStoreFolder()).removeRecursively();
        std::unique_ptr<QSettings> settings(Settings::NewUserStore());
        settings->remove(QLatin1String(CExpiryReminder::kSettingsGroup));
    });
    QDir(Paths::LocalStoreFolder()).removeRecursively();
    const QString soon =
        createNetwork(QStringLiteral("Design Team"), 5 * 3600 + 600,
                      QDir(m_env->root()).filePath(QStringLiteral("s.Tervalapro")));
    createNetwork(QStringLiteral("Games"), 5 * 86400,
                  QDir(m_env->root()).filePath(QStringLiteral("g.Tervalapro")));
    CInvitationInfo info;
    QVERIFY(info.ReadInvitationFile(
        QDir(Paths::LocalStoreFolder()).filePath(soon + QStringLiteral(".cert"))));
    const QString text = QStringLiteral("The network Design Team expires in 5 hours (%1). Use "
                                        "Existing Networks to invite people again while it lasts.")
                             .arg(info.GetExpiryText());
    {
        // Started in the tray: the reminder needs no window.
        CCommandLine startup;
        startup.startup = true;
        CTervalaprouiDlg dlg{startup};
        QVERIFY(dlg.Start());
        QTRY_COMPARE(dlg.TrayIcon().BalloonCount(), 1);
        QCOMPARE(dlg.TrayIcon().LastBalloonTitle(), QStringLiteral("Network expiring soon"));
        QCOMPARE(dlg.TrayIcon().LastBalloonText(), text);
        QCOMPARE(dump(QStringLiteral("reminder.txt")), text);
        dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
    }
    // Once a day: the next start the same day says nothing.
    CTervalaprouiDlg again{CCommandLine()};
    QSignalSpy checked(&again.ExpiryReminder(), &CExpiryReminder::checked);
    QVERIFY(again.Start());
    QTRY_COMPARE(checked.size(), 1);
    QCOMPARE(again.TrayIcon().BalloonCount(), 0);
    again.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::serviceGoesAwayAndComesBack()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro active"));
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    auto pixel = [&dlg] {
        return dlg.TrayIcon().CurrentIcon().pixmap(32, 32).toImage().pixel(16, 10);
    };
    const QRgb normal = pixel();
    QVERIFY(qRed(normal) != qBlue(normal));
    const int balloons = dlg.TrayIcon().BalloonCount();

    // The service stops: the one reconnect finds nothing, and the tray says so.
    m_service->stop();
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro service is not running"));
    QCOMPARE(qRed(pixel()), qBlue(pixel()));
    QCOMPARE(qRed(pixel()), qGreen(pixel()));
    QCOMPARE(dlg.TrayIcon().BalloonCount(), balloons + 1);
    QCOMPARE(dlg.TrayIcon().LastBalloonText(),
             QStringLiteral("The Tervala Pro service stopped or cannot be reached. Tervala Pro "
                            "keeps trying to connect to it."));
    QVERIFY(dlg.ServiceProxy().IsRetrying());
    QVERIFY(Prompter::history().isEmpty());

    // It comes back: the program finds it, tells it a user interface is
    // there, and shows what it reports.
    QVERIFY(m_service->startListener());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 2);
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro active"));
    QCOMPARE(pixel(), normal);
    QCOMPARE(dlg.TrayIcon().BalloonCount(), balloons + 1);
    QVERIFY(!dlg.isVisible());
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::joinInProgressEndsWhenTheServiceGoes()
{
    const QString file = QDir(m_env->root()).filePath(QStringLiteral("team.Tervalapro"));
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    // The service takes the request and works on it for longer than it lives.
    m_service->setNextDelay(60000);
    whenWizardShown(this, [](CJoinerWizard* wizard) {
        finishWizard(wizard, QStringLiteral("alice"), QStringLiteral("s3cret"));
    });
    dlg.OnOpenRequested(file);
    QVERIFY(dlg.ProgressWindow().HasWindow());
    QTRY_COMPARE(m_joinRequests.size(), 1);

    const QString lost = QStringLiteral(
        "The connection to the Tervala Pro service was lost before the network was joined.");
    Prompter::setNextAnswer(QMessageBox::Ok);
    m_service->stop();
    QTRY_COMPARE(Prompter::history().size(), 1);
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
    QVERIFY2(Prompter::history().first().text.startsWith(lost),
             qPrintable(Prompter::history().first().text));

    // A join asked for while the service is away ends at once the same way.
    whenWizardShown(this, [](CJoinerWizard* wizard) {
        finishWizard(wizard, QStringLiteral("alice"), QStringLiteral("s3cret"));
    });
    Prompter::setNextAnswer(QMessageBox::Ok);
    dlg.OnOpenRequested(file);
    QTRY_COMPARE(Prompter::history().size(), 2);
    QVERIFY(Prompter::history().last().text.startsWith(lost));
    QVERIFY(!dlg.ProgressWindow().HasWindow());
    QCOMPARE(m_joinRequests.size(), 1);
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::unsolicitedAnswersStartNothing()
{
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    QTRY_COMPARE(commandCount(UI_NOTIFY), 1);
    // A box the program should not have opened is closed, so that the test
    // fails on what it shows instead of waiting.
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->reject();
    });
    closer.start(20);

    // Whoever sends them, answers to nothing this program asked must not start
    // a remote-desktop client towards the address they name, nor report.
    m_service->broadcastCommand(INVITATION_APP_DATA, {QStringLiteral("QUJD"), QStringLiteral("3")});
    m_service->broadcastCommand(JOIN_INVITATION_STATUS,
                                {QStringLiteral("1"), QString(),
                                 QStringLiteral("Remote Desktop Access (RDP)"),
                                 QStringLiteral("203.0.113.9")});
    m_service->broadcastCommand(CREATE_INVITATION_STATUS,
                                {QStringLiteral("Net"), QStringLiteral("1"), QString()});
    // Handled in order: once the status shows, the answers have been dealt with.
    m_service->setStatus(0);
    QTRY_COMPARE(dlg.TrayIcon().Tooltip(), QStringLiteral("Tervala Pro inactive"));
    QTest::qWait(100);
    QCOMPARE(QDir(m_records).entryList(QDir::Files), QStringList());
    QCOMPARE(Prompter::history().size(), 0);
    QVERIFY(dlg.KeptAppData().isEmpty());
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

void TestMainWindow::addNetworkEndsWhenTheServiceGoes()
{
    {
        CSessionTypeCatalog catalog;
        catalog.Add(QStringLiteral("Web"), QStringLiteral("<TVLSessionStringFormat/>"));
    }
    const QString file = QDir(m_env->root()).filePath(QStringLiteral("lost.Tervalapro"));
    auto finish = [file](CInviterWizard* wizard) {
        wizard->SessionPage()->NickNameEdit()->setText(QStringLiteral("anna"));
        wizard->button(QWizard::NextButton)->click();
        FileDialogs::setNextFileName(file);
        wizard->SavePage()->BrowseButton()->click();
        wizard->SavePage()->PasswordEdit()->setText(QStringLiteral("secret"));
        wizard->SavePage()->ConfirmEdit()->setText(QStringLiteral("secret"));
        wizard->button(QWizard::FinishButton)->click();
    };
    CTervalaprouiDlg dlg{CCommandLine::Parse({QStringLiteral("-startup")})};
    QVERIFY(dlg.Start());
    // The service takes the request and works on it for longer than it lives.
    m_service->setNextDelay(60000);
    whenInviterShown(this, finish);
    dlg.OnCommand(CTervalaprouiDlg::IDM_ADD_NETWORK);
    QTRY_COMPARE(m_createRequests.size(), 1);

    const QString lost = QStringLiteral("The connection to the Tervala Pro service was lost before "
                                        "the network invitation file was created.");
    Prompter::setNextAnswer(QMessageBox::Ok);
    m_service->stop();
    QTRY_COMPARE(Prompter::history().size(), 1);
    QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
    QVERIFY2(Prompter::history().first().text.startsWith(lost),
             qPrintable(Prompter::history().first().text));

    // Asked for while the service is away, it ends at once the same way.
    QTRY_VERIFY(!dlg.ServiceProxy().IsLinkUp());
    whenInviterShown(this, finish);
    Prompter::setNextAnswer(QMessageBox::Ok);
    dlg.OnCommand(CTervalaprouiDlg::IDC_ADD);
    QTRY_COMPARE(Prompter::history().size(), 2);
    QVERIFY(Prompter::history().last().text.startsWith(lost));
    QCOMPARE(m_createRequests.size(), 1);
    dlg.OnCommand(CTervalaprouiDlg::IDM_EXIT);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

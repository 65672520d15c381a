#include "foundation/Paths.h"
#include "foundation/RegOperations.h"
#include "invitations/Certificate.h"
#include "sessions/CustomSessionDlg.h"
#include "sessions/SessionTypeCatalog.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/InviterWizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
// Runs act from inside the modal loop of the first window of type T that comes
// up; a failed check inside closes it so the test does not wait on it.
template <typename T> void whenModal(QObject* context, std::function<void(T*)> act)
{
    auto* timer = new QTimer(context);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, context, [timer, act] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window || !window->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(window);
        if (QTest::currentTestFailed() && window->isVisible())
            window->reject();
    });
    timer->start();
}

void storeNickName(const QString& nickName)
{
    std::unique_ptr<QSettings> store(Settings::NewUserStore());
    if (nickName.isNull())
        store->remove(QStringLiteral("NickName"));
    else
        store->setValue(QStringLiteral("NickName"), nickName);
    store->sync();
}

QString CatalogPath()
{
    return Paths::SessionsFolder() + QStringLiteral("/SessionTypes.dat");
}

QString TypeText(quint16 port)
{
    CSessionTypeFormat format;
    format.AddPortRange(port, port, false);
    return format.GetText();
}

// A catalogue as the service's installation would leave it, in this order.
void WriteCatalog(const QStringList& names)
{
    QList<QPair<QString, QString>> entries;
    quint16 port = 1000;
    for (const QString& name : names)
        entries.append({name, TypeText(port++)});
    QFile file(CatalogPath());
    QVERIFY(QDir().mkpath(Paths::SessionsFolder()));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(CSessionTypeCatalog::Serialize(entries));
}

QStringList Items(const QComboBox* list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i));
    return items;
}

// Next on the first page with a usable nickname.
void GoToSecondPage(CInviterWizard* wizard)
{
    if (wizard->SessionPage()->NickNameEdit()->text().isEmpty())
        wizard->SessionPage()->NickNameEdit()->setText(QStringLiteral("alice"));
    wizard->button(QWizard::NextButton)->click();
}

// Which of Back, Next and Finish the user can press now.
QString Buttons(const CInviterWizard* wizard)
{
    QStringList usable;
    const QList<std::pair<QWizard::WizardButton, QString>> buttons = {
        {QWizard::BackButton, QStringLiteral("Back")},
        {QWizard::NextButton, QStringLiteral("Next")},
        {QWizard::FinishButton, QStringLiteral("Finish")}};
    for (const auto& [which, name] : buttons) {
        const QAbstractButton* button = wizard->button(which);
        if (button->isVisible() && button->isEnabled())
            usable.append(name);
    }
    return usable.join(QLatin1Char(' '));
}
} // namespace

class TestInviterWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void opening();
    void preselection_data();
    void preselection();
    void buttonsFollowTheSteps();
    void nextChecks_data();
    void nextChecks();
    void expiryFromNext_data();
    void expiryFromNext();
    void addNewSessionSelectsIt();
    void addNewSessionCancelledStillRefills();
    void finishGivesEverything();
    void nickNameKept_data();
    void nickNameKept();

private:
    std::unique_ptr<TestEnvironment> m_env;
    QString m_target;
};

void TestInviterWizard::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    // The header picture is read relative to the working folder.
    QVERIFY(QDir::setCurrent(TestEnvironment::sourceDir()));
    m_target = QDir(m_env->root()).filePath(QStringLiteral("team.Tervalapro"));
}

void TestInviterWizard::init()
{
    Prompter::clearAnswers();
    Prompter::clearHistory();
    FileDialogs::clearNextFileNames();
    FileDialogs::clearHistory();
    storeNickName(QString());
    WriteCatalog(
        {QStringLiteral("Web"), QStringLiteral("Remote Assistance"), QStringLiteral("SSH")});
}

void TestInviterWizard::cleanup()
{
    qDeleteAll(findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly));
    QCOMPARE(Prompter::pendingAnswers(), 0);
    QCOMPARE(FileDialogs::pendingFileNames(), 0);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
    QVERIFY(!QFile::exists(m_target));
}

void TestInviterWizard::opening()
{
    storeNickName(QStringLiteral("carol"));
    CInviterWizard wizard;
    bool checked = false;
    whenModal<CInviterWizard>(this, [&](CInviterWizard* shown) {
        QCOMPARE(shown, &wizard);
        QCOMPARE(wizard.windowTitle(), QStringLiteral("Add Network"));
        QCOMPARE(wizard.currentPage(), wizard.SessionPage());
        QCOMPARE(wizard.SessionPage()->title(), QStringLiteral("Network Session Selection"));
        QCOMPARE(wizard.SessionPage()->subTitle(),
                 QStringLiteral("Provide a unique nickname to identify yourself in the network. "
                                "Also select the session for this network with a expiry time."));
        QVERIFY(!wizard.pixmap(QWizard::LogoPixmap).isNull());
        QVERIFY(!wizard.button(QWizard::HelpButton)->isVisible());
        QCOMPARE(wizard.SessionPage()->NickNameEdit()->text(), QStringLiteral("carol"));
        // Sorted as read, whatever the catalogue's order.
        QCOMPARE(Items(wizard.SessionPage()->SessionList()),
                 (QStringList{QStringLiteral("Remote Assistance"), QStringLiteral("SSH"),
                              QStringLiteral("Web")}));
        QCOMPARE(Items(wizard.SessionPage()->ExpiryList()),
                 (QStringList{QStringLiteral("1 hour"), QStringLiteral("2 hour"),
                              QStringLiteral("1 day"), QStringLiteral("2 day"),
                              QStringLiteral("15 day"), QStringLiteral("30 day")}));
        QCOMPARE(wizard.SessionPage()->ExpiryList()->currentText(), QStringLiteral("1 day"));
        checked = true;
        QTest::keyClick(&wizard, Qt::Key_Escape);
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QVERIFY(checked);
    // A cancelled wizard wrote no request and no file.
    QVERIFY(Prompter::history().isEmpty());
}

void TestInviterWizard::preselection_data()
{
    QTest::addColumn<QStringList>("catalog");
    QTest::addColumn<QString>("selected");
    QTest::addRow("Remote Assistance when present")
        << QStringList{QStringLiteral("Web"), QStringLiteral("Remote Assistance"),
                       QStringLiteral("Audio")}
        << QStringLiteral("Remote Assistance");
    QTest::addRow("otherwise the alphabetically first")
        << QStringList{QStringLiteral("web"), QStringLiteral("SSH"), QStringLiteral("Backup")}
        << QStringLiteral("Backup");
    QTest::addRow("found by its beginning, letter case aside")
        << QStringList{QStringLiteral("Zed"), QStringLiteral("REMOTE ASSISTANCE (office)"),
                       QStringLiteral("Alpha")}
        << QStringLiteral("REMOTE ASSISTANCE (office)");
    QTest::addRow("empty catalogue") << QStringList() << QString();
}

void TestInviterWizard::preselection()
{
    QFETCH(QStringList, catalog);
    if (catalog.isEmpty())
        QFile::remove(CatalogPath());
    else
        WriteCatalog(catalog);
    CInviterWizard wizard;
    QString selected = QStringLiteral("<not shown>");
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        selected = wizard.SessionPage()->SessionList()->currentText();
        wizard.reject();
    });
    wizard.DoModal();
    QTEST(selected, "selected");
}

void TestInviterWizard::buttonsFollowTheSteps()
{
    CInviterWizard wizard;
    QStringList seen;
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        seen.append(Buttons(&wizard));
        GoToSecondPage(&wizard);
        QCOMPARE(wizard.currentPage(), wizard.SavePage());
        QCOMPARE(wizard.SavePage()->title(), QStringLiteral("Saving the network invitation"));
        seen.append(Buttons(&wizard));
        wizard.back();
        QCOMPARE(wizard.currentPage(), wizard.SessionPage());
        seen.append(Buttons(&wizard));
        GoToSecondPage(&wizard);
        seen.append(Buttons(&wizard));
        wizard.reject();
    });
    wizard.DoModal();
    QCOMPARE(seen, (QStringList{QStringLiteral("Next"), QStringLiteral("Back Finish"),
                                QStringLiteral("Next"), QStringLiteral("Back Finish")}));
}

void TestInviterWizard::nextChecks_data()
{
    QTest::addColumn<QString>("nickName");
    QTest::addColumn<bool>("emptyCatalog");
    QTest::addColumn<QString>("message");
    const QString nickMessage = QStringLiteral("Please enter a nickname for the session");
    const QString noTypes = QStringLiteral(
        "No session type is defined yet. Use Add New Session to add one, then press Next.");
    QTest::addRow("no nickname") << QString() << false << nickMessage;
    QTest::addRow("no nickname and no session type: the nickname first")
        << QString() << true << nickMessage;
    QTest::addRow("no session type") << QStringLiteral("alice") << true << noTypes;
    QTest::addRow("a nickname of blanks is a nickname")
        << QStringLiteral("  ") << false << QString();
}

void TestInviterWizard::nextChecks()
{
    QFETCH(QString, nickName);
    QFETCH(bool, emptyCatalog);
    QFETCH(QString, message);
    if (emptyCatalog)
        QFile::remove(CatalogPath());
    CInviterWizard wizard;
    QWizardPage* after = nullptr;
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        wizard.SessionPage()->NickNameEdit()->setText(nickName);
        if (!message.isEmpty())
            Prompter::setNextAnswer(QMessageBox::Ok);
        wizard.button(QWizard::NextButton)->click();
        after = wizard.currentPage();
        wizard.reject();
    });
    wizard.DoModal();
    if (message.isEmpty()) {
        QCOMPARE(after, wizard.SavePage());
        QVERIFY(Prompter::history().isEmpty());
    } else {
        QCOMPARE(after, wizard.SessionPage());
        QCOMPARE(Prompter::history().size(), 1);
        QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
        QCOMPARE(Prompter::history().first().text, message);
    }
}

void TestInviterWizard::expiryFromNext_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<quint64>("hours");
    const QList<quint64> hours = {1, 2, 24, 48, 360, 720};
    for (int row = 0; row < hours.size(); ++row)
        QTest::addRow("row %d", row) << row << hours.at(row);
}

void TestInviterWizard::expiryFromNext()
{
    QFETCH(int, row);
    QFETCH(quint64, hours);
    const quint64 lifetime = hours * 36'000'000'000ULL;
    CInviterWizard wizard;
    quint64 before = 0;
    quint64 after = 0;
    quint64 first = 0;
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        wizard.SessionPage()->ExpiryList()->setCurrentIndex(row);
        GoToSecondPage(&wizard);
        first = wizard.Expiry();
        wizard.back();
        // Counted from the latest Next, not from the first one.
        QTest::qWait(20);
        before = FileTime::Now();
        GoToSecondPage(&wizard);
        after = FileTime::Now();
        wizard.reject();
    });
    wizard.DoModal();
    QVERIFY2(wizard.Expiry() >= before + lifetime && wizard.Expiry() <= after + lifetime,
             qPrintable(QStringLiteral("%1 not in [%2, %3]")
                            .arg(wizard.Expiry())
                            .arg(before + lifetime)
                            .arg(after + lifetime)));
    QVERIFY(wizard.Expiry() > first);
}

void TestInviterWizard::addNewSessionSelectsIt()
{
    CInviterWizard wizard;
    QString selected;
    QStringList items;
    QString dialogParent;
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        whenModal<CCustomSessionDlg>(this, [&](CCustomSessionDlg* dialog) {
            dialogParent =
                dialog->parentWidget() ? dialog->parentWidget()->objectName() : QString();
            dialog->NameEdit()->setText(QStringLiteral("Game"));
            dialog->PortEdit()->setText(QStringLiteral("27015"));
            dialog->AddButton()->click();
        });
        wizard.SessionPage()->AddSessionButton()->click();
        selected = wizard.SessionPage()->SessionList()->currentText();
        items = Items(wizard.SessionPage()->SessionList());
        GoToSecondPage(&wizard);
        wizard.reject();
    });
    wizard.DoModal();
    QCOMPARE(dialogParent, QStringLiteral("inviterWizard"));
    QCOMPARE(selected, QStringLiteral("Game"));
    QCOMPARE(items, (QStringList{QStringLiteral("Game"), QStringLiteral("Remote Assistance"),
                                 QStringLiteral("SSH"), QStringLiteral("Web")}));
    QCOMPARE(wizard.SessionName(), QStringLiteral("Game"));
    QCOMPARE(wizard.SessionTypeText(), TypeText(27015));
}

void TestInviterWizard::addNewSessionCancelledStillRefills()
{
    CInviterWizard wizard;
    QString selected;
    QStringList items;
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        wizard.SessionPage()->SessionList()->setCurrentIndex(
            wizard.SessionPage()->SessionList()->findText(QStringLiteral("Web")));
        whenModal<CCustomSessionDlg>(this, [&](CCustomSessionDlg* dialog) {
            // Meanwhile another program adds a type to the catalogue.
            WriteCatalog({QStringLiteral("Web"), QStringLiteral("Remote Assistance"),
                          QStringLiteral("SSH"), QStringLiteral("Backup")});
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        wizard.SessionPage()->AddSessionButton()->click();
        selected = wizard.SessionPage()->SessionList()->currentText();
        items = Items(wizard.SessionPage()->SessionList());
        wizard.reject();
    });
    wizard.DoModal();
    QCOMPARE(items, (QStringList{QStringLiteral("Backup"), QStringLiteral("Remote Assistance"),
                                 QStringLiteral("SSH"), QStringLiteral("Web")}));
    // A refilled list starts from its default again.
    QCOMPARE(selected, QStringLiteral("Remote Assistance"));
}

void TestInviterWizard::finishGivesEverything()
{
    CInviterWizard wizard;
    whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
        wizard.SessionPage()->NickNameEdit()->setText(QStringLiteral("dora"));
        wizard.SessionPage()->SessionList()->setCurrentIndex(
            wizard.SessionPage()->SessionList()->findText(QStringLiteral("SSH")));
        wizard.button(QWizard::NextButton)->click();
        // The name without its suffix, as a user types it.
        FileDialogs::setNextFileName(m_target.chopped(int(qstrlen(".Tervalapro"))));
        wizard.SavePage()->BrowseButton()->click();
        wizard.SavePage()->PasswordEdit()->setText(QStringLiteral("s3cret!"));
        wizard.SavePage()->ConfirmEdit()->setText(QStringLiteral("s3cret!"));
        wizard.button(QWizard::FinishButton)->click();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Accepted));
    QVERIFY(Prompter::history().isEmpty());
    QCOMPARE(wizard.NickName(), QStringLiteral("dora"));
    QCOMPARE(wizard.SessionName(), QStringLiteral("SSH"));
    QCOMPARE(wizard.SessionTypeText(), TypeText(1002));
    QCOMPARE(wizard.InvitationPath(), m_target);
    QCOMPARE(wizard.Password(), QStringLiteral("s3cret!"));
    QCOMPARE(FileDialogs::history(),
             QStringList{QStringLiteral("Save the network invitation File....")});
}

void TestInviterWizard::nickNameKept_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed"); // null: not touched
    QTest::addColumn<bool>("next");
    QTest::addColumn<QString>("storedAfter");
    QTest::addRow("cancel stores what was typed")
        << QStringLiteral("old") << QStringLiteral("bob") << false << QStringLiteral("bob");
    QTest::addRow("cancel on the second page stores it")
        << QString() << QStringLiteral("eve") << true << QStringLiteral("eve");
    QTest::addRow("an emptied field erases nothing")
        << QStringLiteral("old") << QStringLiteral("") << false << QStringLiteral("old");
    QTest::addRow("untouched stays")
        << QStringLiteral("old") << QString() << false << QStringLiteral("old");
}

void TestInviterWizard::nickNameKept()
{
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(bool, next);
    storeNickName(stored);
    {
        CInviterWizard wizard;
        whenModal<CInviterWizard>(this, [&](CInviterWizard*) {
            if (!typed.isNull())
                wizard.SessionPage()->NickNameEdit()->setText(typed);
            if (next)
                wizard.button(QWizard::NextButton)->click();
            wizard.button(QWizard::CancelButton)->click();
        });
        QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    }
    QTEST(CRegOperations().GetNickName(), "storedAfter");
}

QTEST_MAIN(TestInviterWizard)
#include "tst_inviterwizard.moc"

#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/InvitationSavePage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWizard>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Everything in a folder with its content, to see that a check changed nothing.
QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        QByteArray content = entry.isSymLink() ? "-> " + QFile::encodeName(entry.symLinkTarget())
                                               : QByteArray("<other>");
        if (!entry.isSymLink() && entry.isFile()) {
            QFile file(entry.filePath());
            content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
        }
        files.insert(entry.fileName(), content);
    }
    return files;
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}
} // namespace

class TestInvitationSavePage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void looksAsItShould();
    void finishChecks_data();
    void finishChecks();
    void probe_data();
    void probe();
    void probeUnwritableFolder();
    void browse_data();
    void browse();

private:
    std::unique_ptr<TestEnvironment> m_env;
    QString m_folder;
};

void TestInvitationSavePage::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestInvitationSavePage::init()
{
    Prompter::clearAnswers();
    Prompter::clearHistory();
    FileDialogs::clearNextFileNames();
    FileDialogs::clearHistory();
    m_folder = QDir(m_env->root())
                   .filePath(QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('-') +
                             QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(m_folder));
}

void TestInvitationSavePage::cleanup()
{
    QCOMPARE(Prompter::pendingAnswers(), 0);
    QCOMPARE(FileDialogs::pendingFileNames(), 0);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
}

void TestInvitationSavePage::looksAsItShould()
{
    CInvitationSavePage page;
    QCOMPARE(page.title(), QStringLiteral("Saving the network invitation"));
    QCOMPARE(page.subTitle(), QStringLiteral("Provide the location where you like to save the "
                                             "password protected network invitation file."));
    // The path comes only from Browse; both passwords are hidden.
    QVERIFY(page.PathEdit()->isReadOnly());
    QCOMPARE(page.PasswordEdit()->echoMode(), QLineEdit::Password);
    QCOMPARE(page.ConfirmEdit()->echoMode(), QLineEdit::Password);
    QCOMPARE(page.BrowseButton()->text(), QStringLiteral("Browse.."));
}

void TestInvitationSavePage::finishChecks_data()
{
    QTest::addColumn<QString>("path"); // relative to the test's folder; "" = none chosen
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("message"); // empty: Finish ends the wizard

    const QString net = QStringLiteral("net.Tervalapro");
    const QString pathMessage =
        QStringLiteral("Please select a valid path for the invitation File");
    const QString emptyMessage = QStringLiteral("Please enter a valid password");
    const QString shortMessage =
        QStringLiteral("Password should be at least six (6) characters long.");
    const QString mismatchMessage = QStringLiteral("Password doesn't match");
    // The order of the checks: each row fails more than one of them.
    QTest::addRow("no file chosen, before any password check")
        << QString() << QString() << QStringLiteral("x") << pathMessage;
    QTest::addRow("folder missing")
        << QStringLiteral("gone/net.Tervalapro") << QStringLiteral("123456")
        << QStringLiteral("123456") << pathMessage;
    QTest::addRow("empty password is 140, not 150")
        << net << QString() << QStringLiteral("other") << emptyMessage;
    QTest::addRow("five characters")
        << net << QStringLiteral("12345") << QStringLiteral("54321") << shortMessage;
    QTest::addRow("five letters outside the basic plane")
        << net << QStringLiteral("\U0001F511\U0001F511\U0001F511\U0001F511\U0001F511")
        << QStringLiteral("\U0001F511\U0001F511\U0001F511\U0001F511\U0001F511") << shortMessage;
    QTest::addRow("confirmation differs in case")
        << net << QStringLiteral("Secret") << QStringLiteral("secret") << mismatchMessage;
    QTest::addRow("no confirmation")
        << net << QStringLiteral("secret") << QString() << mismatchMessage;
    QTest::addRow("six characters pass")
        << net << QStringLiteral("123456") << QStringLiteral("123456") << QString();
    QTest::addRow("blanks and non-ASCII kept as typed")
        << net << QStringLiteral(" pässwörd ") << QStringLiteral(" pässwörd ") << QString();
}

void TestInvitationSavePage::finishChecks()
{
    QFETCH(QString, path);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(QString, message);
    const QString fullPath = path.isEmpty() ? QString() : QDir(m_folder).filePath(path);

    QWizard wizard;
    auto* page = new CInvitationSavePage;
    wizard.addPage(page);
    wizard.show();
    page->PathEdit()->setText(fullPath);
    page->PasswordEdit()->setText(password);
    page->ConfirmEdit()->setText(confirmation);
    if (!message.isEmpty())
        Prompter::setNextAnswer(QMessageBox::Ok);
    wizard.button(QWizard::FinishButton)->click();

    if (message.isEmpty()) {
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
        QVERIFY(Prompter::history().isEmpty());
        QCOMPARE(page->InvitationPath(), fullPath);
        QCOMPARE(page->Password(), password);
    } else {
        QVERIFY(wizard.isVisible());
        QCOMPARE(wizard.currentPage(), page);
        QCOMPARE(Prompter::history().size(), 1);
        QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
        QCOMPARE(Prompter::history().first().title, QStringLiteral("Tervala Pro"));
        QCOMPARE(Prompter::history().first().text, message);
        // What the user typed is still there to correct.
        QCOMPARE(page->PasswordEdit()->text(), password);
        QCOMPARE(page->ConfirmEdit()->text(), confirmation);
        wizard.reject();
    }
    // The path was only probed: the service writes the file.
    QVERIFY(Snapshot(m_folder).isEmpty());
}

void TestInvitationSavePage::probe_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("writable");
    QTest::addRow("new file") << QStringLiteral("none") << true;
    QTest::addRow("existing file, content kept") << QStringLiteral("file") << true;
    QTest::addRow("link to an existing file, content kept") << QStringLiteral("link") << true;
    QTest::addRow("dangling link: nothing made at its target")
        << QStringLiteral("dangling") << false;
    QTest::addRow("a folder") << QStringLiteral("folder") << false;
    QTest::addRow("a FIFO without reader, without waiting") << QStringLiteral("fifo") << false;
    QTest::addRow("parent is a file") << QStringLiteral("parent-file") << false;
    QTest::addRow("empty path") << QStringLiteral("empty") << false;
}

void TestInvitationSavePage::probe()
{
    QFETCH(QString, setup);
    QFETCH(bool, writable);
    const QString target = QDir(m_folder).filePath(QStringLiteral("team.Tervalapro"));
    QString path = target;
    const QByteArray content("an invitation written before\n");
    if (setup == QStringLiteral("file")) {
        WriteFile(target, content);
    } else if (setup == QStringLiteral("link")) {
        WriteFile(QDir(m_folder).filePath(QStringLiteral("real")), content);
        QVERIFY(QFile::link(QStringLiteral("real"), target));
    } else if (setup == QStringLiteral("dangling")) {
        QVERIFY(QFile::link(QStringLiteral("elsewhere"), target));
    } else if (setup == QStringLiteral("folder")) {
        QVERIFY(QDir().mkpath(target));
    } else if (setup == QStringLiteral("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
    } else if (setup == QStringLiteral("parent-file")) {
        WriteFile(QDir(m_folder).filePath(QStringLiteral("plain")), content);
        path = QDir(m_folder).filePath(QStringLiteral("plain/team.Tervalapro"));
    } else if (setup == QStringLiteral("empty")) {
        path.clear();
    }
    const QMap<QString, QByteArray> before = Snapshot(m_folder);
    QCOMPARE(CInvitationSavePage::CanWritePath(path), writable);
    QCOMPARE(Snapshot(m_folder), before);
}

void TestInvitationSavePage::probeUnwritableFolder()
{
    if (::geteuid() == 0)
        QSKIP("root may write into any folder");
    QVERIFY(QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner));
    const QString path = QDir(m_folder).filePath(QStringLiteral("team.Tervalapro"));
    QVERIFY(!CInvitationSavePage::CanWritePath(path));
    QVERIFY(!QFileInfo::exists(path));
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestInvitationSavePage::browse_data()
{
    QTest::addColumn<QString>("chosen"); // "" = the dialog was cancelled
    QTest::addColumn<QString>("shown");
    const QString root = QStringLiteral("/srv/share/");
    QTest::addRow("suffix added") << root + QStringLiteral("team")
                                  << root + QStringLiteral("team.Tervalapro");
    QTest::addRow("suffix kept") << root + QStringLiteral("team.Tervalapro")
                                 << root + QStringLiteral("team.Tervalapro");
    QTest::addRow("another suffix is the user's choice")
        << root + QStringLiteral("team.v2") << root + QStringLiteral("team.v2");
    QTest::addRow("a dot in the folder only")
        << QStringLiteral("/srv/my.share/team") << QStringLiteral("/srv/my.share/team.Tervalapro");
    QTest::addRow("cancelled keeps the earlier choice") << QString() << QStringLiteral("/earlier");
}

void TestInvitationSavePage::browse()
{
    QFETCH(QString, chosen);
    CInvitationSavePage page;
    page.PathEdit()->setText(QStringLiteral("/earlier"));
    FileDialogs::setNextFileName(chosen);
    page.BrowseButton()->click();
    QTEST(page.PathEdit()->text(), "shown");
    QCOMPARE(FileDialogs::history(),
             QStringList{QStringLiteral("Save the network invitation File....")});
    QVERIFY(Prompter::history().isEmpty());
}

QTEST_MAIN(TestInvitationSavePage)
#include "tst_invitationsavepage.moc"

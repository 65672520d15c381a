#include "foundation/Paths.h"
#include "sessions/CustomSessionDlg.h"
#include "sessions/SessionTypeCatalog.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "skin/WindowPlacement.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {
QString CatalogPath()
{
    return Paths::SessionsFolder() + QStringLiteral("/SessionTypes.dat");
}

QByteArray CatalogBytes()
{
    QFile file(CatalogPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QPair<QString, QString>> CatalogEntries()
{
    QList<QPair<QString, QString>> entries;
    CSessionTypeCatalog::Deserialize(CatalogBytes(), entries);
    return entries;
}

// A session-type text around its elements.
QString Doc(const QString& elements)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><TVLSessionStringFormat>") +
           elements + QStringLiteral("</TVLSessionStringFormat>");
}

const QString kWebText = Doc(QStringLiteral("<PortRange PortStart=\"80\" PortStop=\"80\" "
                                            "PortService=\"false\"/>"));
} // namespace

class TestCustomSessionDlg : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void opensCollapsedAndCentred();
    void advancedToggles();
    void browseAddsFileNamesSorted();
    void add_data();
    void add();
    void duplicateNameLeavesCatalogueAndDialog();
    void closingAddsNothing();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TestCustomSessionDlg::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestCustomSessionDlg::init()
{
    Prompter::clearAnswers();
    Prompter::clearHistory();
    FileDialogs::clearNextFileNames();
    FileDialogs::clearHistory();
    QFile::remove(CatalogPath());
}

void TestCustomSessionDlg::cleanup()
{
    QCOMPARE(Prompter::pendingAnswers(), 0);
    QCOMPARE(FileDialogs::pendingFileNames(), 0);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
}

void TestCustomSessionDlg::opensCollapsedAndCentred()
{
    CCustomSessionDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add New Session"));
    QCOMPARE(dialog.AdvancedButton()->text(), QStringLiteral("Advanced >>"));
    QVERIFY(!dialog.IsExpanded());
    // The window ends 14 pixels below the Advanced button: the application
    // row lies beyond its edge.
    const QRect advanced = dialog.AdvancedButton()->geometry();
    QCOMPARE(dialog.height(), advanced.y() + advanced.height() + 14);
    QVERIFY(dialog.Applications()->geometry().top() >= dialog.height());
    QVERIFY(dialog.BrowseButton()->geometry().top() >= dialog.height());
    QVERIFY(dialog.NameEdit()->text().isEmpty());
    QVERIFY(dialog.PortEdit()->text().isEmpty());
    QVERIFY(dialog.AddButton()->isDefault());
    QCOMPARE(dialog.pos(),
             CenteredCorner(dialog.size(), QGuiApplication::primaryScreen()->geometry()));
    dialog.reject();
}

void TestCustomSessionDlg::advancedToggles()
{
    CCustomSessionDlg dialog;
    dialog.show();
    const int width = dialog.width();
    const QPoint corner = dialog.pos();
    dialog.AdvancedButton()->click();
    QCOMPARE(dialog.AdvancedButton()->text(), QStringLiteral("Advanced <<"));
    const QRect browse = dialog.BrowseButton()->geometry();
    QCOMPARE(dialog.height(), browse.y() + browse.height() + 14);
    QVERIFY(dialog.Applications()->geometry().bottom() < dialog.height());
    QVERIFY(dialog.BrowseButton()->isEnabled());
    // Only the height changes.
    QCOMPARE(dialog.width(), width);
    QCOMPARE(dialog.pos(), corner);

    dialog.AdvancedButton()->click();
    QCOMPARE(dialog.AdvancedButton()->text(), QStringLiteral("Advanced >>"));
    const QRect advanced = dialog.AdvancedButton()->geometry();
    QCOMPARE(dialog.height(), advanced.y() + advanced.height() + 14);
    dialog.reject();
}

void TestCustomSessionDlg::browseAddsFileNamesSorted()
{
    CCustomSessionDlg dialog;
    dialog.ShowAdvanced(true);
    for (const QString& chosen :
         {QStringLiteral("/opt/chat/chat.exe"), QStringLiteral("/usr/bin/zoom"), QString(),
          QStringLiteral("/home/u/Audio.exe"), QStringLiteral("/other/chat.exe")}) {
        FileDialogs::setNextFileName(chosen);
        dialog.BrowseButton()->click();
    }
    QStringList shown;
    for (int i = 0; i < dialog.Applications()->count(); ++i)
        shown.append(dialog.Applications()->itemText(i));
    // Names only, in the list's order whatever the order of choosing; the
    // same name may come twice; a cancelled dialog adds nothing.
    QCOMPARE(shown, (QStringList{QStringLiteral("Audio.exe"), QStringLiteral("chat.exe"),
                                 QStringLiteral("chat.exe"), QStringLiteral("zoom")}));
    // The last one chosen is the one selected.
    QCOMPARE(dialog.Applications()->currentIndex(), 2);
    QCOMPARE(FileDialogs::history().size(), 5);
    QCOMPARE(FileDialogs::history().first(), QStringLiteral("Select the application filepath..."));
}

void TestCustomSessionDlg::add_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ports");
    QTest::addColumn<QStringList>("browsed");
    QTest::addColumn<QString>("message"); // empty: added
    QTest::addColumn<QString>("text");    // the session-type text stored

    const QString nameMessage = QStringLiteral("Provide a valid session name");
    const QString portMessage = QStringLiteral("Provide valid port values separated by comma.");
    const QStringList apps = {QStringLiteral("/x/chat.exe"), QStringLiteral("/y/audio.exe")};

    QTest::addRow("service port and range, no applications")
        << QStringLiteral("Desk") << QStringLiteral("S3389,1200-1202") << QStringList() << QString()
        << Doc(QStringLiteral(
               "<PortRange PortStart=\"3389\" PortStop=\"3389\" PortService=\"true\"/>"
               "<PortRange PortStart=\"1200\" PortStop=\"1202\" PortService=\"false\"/>"));
    QTest::addRow("applications in sorted order when no port is given")
        << QStringLiteral("Talk") << QString() << apps << QString()
        << Doc(QStringLiteral("<AppName AppNamAttr=\"audio.exe\"/>"
                              "<AppName AppNamAttr=\"chat.exe\"/>"));
    QTest::addRow("ports given: the applications are not recorded")
        << QStringLiteral("Game") << QStringLiteral("5000") << apps << QString()
        << Doc(QStringLiteral(
               "<PortRange PortStart=\"5000\" PortStop=\"5000\" PortService=\"false\"/>"));
    QTest::addRow("a name of blanks is a name")
        << QStringLiteral("   ") << QStringLiteral("80") << QStringList() << QString() << kWebText;
    QTest::addRow("nothing given")
        << QString() << QString() << QStringList() << nameMessage << QString();
    QTest::addRow("ports without a name")
        << QString() << QStringLiteral("80") << QStringList() << nameMessage << QString();
    QTest::addRow("a name, no ports, no applications")
        << QStringLiteral("Empty") << QString() << QStringList() << portMessage << QString();
    QTest::addRow("only delimiters, no applications")
        << QStringLiteral("Empty") << QStringLiteral(" ,;: ,") << QStringList() << portMessage
        << QString();
    QTest::addRow("a range side too long: refused, not taken for no ports")
        << QStringLiteral("Long") << QStringLiteral("1234567890-2") << apps << portMessage
        << QString();
    QTest::addRow("ten thousand characters")
        << QStringLiteral("Huge") << QStringLiteral("1-") + QString(10000, QLatin1Char('9'))
        << QStringList() << portMessage << QString();
}

void TestCustomSessionDlg::add()
{
    QFETCH(QString, name);
    QFETCH(QString, ports);
    QFETCH(QStringList, browsed);
    QFETCH(QString, message);
    QFETCH(QString, text);

    CCustomSessionDlg dialog;
    dialog.show();
    dialog.NameEdit()->setText(name);
    dialog.PortEdit()->setText(ports);
    if (!browsed.isEmpty())
        dialog.AdvancedButton()->click();
    for (const QString& file : std::as_const(browsed)) {
        FileDialogs::setNextFileName(file);
        dialog.BrowseButton()->click();
    }
    if (!message.isEmpty())
        Prompter::setNextAnswer(QMessageBox::Ok);
    dialog.AddButton()->click();

    if (message.isEmpty()) {
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(Prompter::history().isEmpty());
        QCOMPARE(dialog.SessionName(), name);
        QCOMPARE(dialog.SessionTypeText(), text);
        QCOMPARE(CatalogEntries(), (QList<QPair<QString, QString>>{{name, text}}));
    } else {
        QVERIFY(dialog.isVisible());
        QCOMPARE(Prompter::history().size(), 1);
        QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
        QCOMPARE(Prompter::history().first().text, message);
        QCOMPARE(dialog.NameEdit()->text(), name);
        QCOMPARE(dialog.PortEdit()->text(), ports);
        QCOMPARE(dialog.Applications()->count(), browsed.size());
        QVERIFY(CatalogEntries().isEmpty());
        dialog.reject();
    }
}

void TestCustomSessionDlg::duplicateNameLeavesCatalogueAndDialog()
{
    {
        CSessionTypeCatalog catalog;
        QVERIFY(catalog.Add(QStringLiteral("Web"), kWebText));
        QVERIFY(catalog.Save());
    }
    const QByteArray before = CatalogBytes();
    CCustomSessionDlg dialog;
    dialog.show();
    dialog.NameEdit()->setText(QStringLiteral("Web"));
    dialog.PortEdit()->setText(QStringLiteral("443"));
    Prompter::setNextAnswer(QMessageBox::Ok);
    dialog.AddButton()->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(Prompter::history().size(), 1);
    QCOMPARE(Prompter::history().first().text,
             QStringLiteral("Already a session with this name exists. Please provide a unique "
                            "session name."));
    QCOMPARE(CatalogBytes(), before);

    // Names differ by letter case: a second type, beside the first.
    dialog.NameEdit()->setText(QStringLiteral("WEB"));
    dialog.AddButton()->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(CatalogEntries().size(), 2);
    QCOMPARE(CatalogEntries().first(), qMakePair(QStringLiteral("Web"), kWebText));
    QCOMPARE(CatalogEntries().last().first, QStringLiteral("WEB"));
}

void TestCustomSessionDlg::closingAddsNothing()
{
    CCustomSessionDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.NameEdit()->setText(QStringLiteral("Draft"));
    dialog.PortEdit()->setText(QStringLiteral("80"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(dialog.SessionName().isEmpty());
    QVERIFY(!QFile::exists(CatalogPath()));
}

QTEST_MAIN(TestCustomSessionDlg)
#include "tst_customsessiondlg.moc"

#include "foundation/Paths.h"
#include "foundation/RegOperations.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/JoinerWizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
// Runs act from inside the wizard's own modal loop once it is on screen.
void whenShown(CJoinerWizard& wizard, std::function<void()> act)
{
    auto* timer = new QTimer(&wizard);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, &wizard, [timer, &wizard, act] {
        if (!wizard.isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act();
        // A failed check inside must not leave the test waiting on the wizard.
        if (QTest::currentTestFailed() && wizard.isVisible())
            wizard.reject();
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

const QString kInvitation = QStringLiteral("/srv/invitations/team.Tervalapro");
} // namespace

class TestJoinerWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cancelledFileDialogShowsNothing();
    void chosenFileOpensTheWizard();
    void givenPathSkipsTheFileDialog();
    void finishChecks_data();
    void finishChecks();
    void nickNameKept_data();
    void nickNameKept();
    void labelsLineUp();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TestJoinerWizard::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    // The header picture is read relative to the working folder.
    QVERIFY(QDir::setCurrent(TestEnvironment::sourceDir()));
}

void TestJoinerWizard::init()
{
    Prompter::clearAnswers();
    Prompter::clearHistory();
    FileDialogs::clearNextFileNames();
    FileDialogs::clearHistory();
    storeNickName(QString());
}

void TestJoinerWizard::cleanup()
{
    QCOMPARE(Prompter::pendingAnswers(), 0);
    QCOMPARE(FileDialogs::pendingFileNames(), 0);
}

void TestJoinerWizard::cancelledFileDialogShowsNothing()
{
    storeNickName(QStringLiteral("keep"));
    FileDialogs::setNextFileName(QString());
    {
        CJoinerWizard wizard;
        bool shown = false;
        whenShown(wizard, [&] {
            shown = true;
            wizard.reject();
        });
        QCOMPARE(wizard.DoModal(QString()), int(QDialog::Rejected));
        QVERIFY(!shown);
        QVERIFY(wizard.InvitationPath().isEmpty());
    }
    QCOMPARE(FileDialogs::history(),
             QStringList{QStringLiteral("Select the network invitation file....")});
    QVERIFY(Prompter::history().isEmpty());
    // A page that never opened leaves the stored nickname alone.
    QCOMPARE(CRegOperations().GetNickName(), QStringLiteral("keep"));
}

void TestJoinerWizard::chosenFileOpensTheWizard()
{
    QDir::setCurrent(m_env->root());
    FileDialogs::setNextFileName(QStringLiteral("picked.Tervalapro"));
    CJoinerWizard wizard;
    QString title;
    QString shownName;
    whenShown(wizard, [&] {
        title = wizard.windowTitle();
        shownName = wizard.Page()->InvitationFileLabel()->text();
        wizard.reject();
    });
    QCOMPARE(wizard.DoModal(QString()), int(QDialog::Rejected));
    QDir::setCurrent(TestEnvironment::sourceDir());
    QCOMPARE(title, QStringLiteral("Join Network"));
    QCOMPARE(shownName, QStringLiteral("picked.Tervalapro"));
    // The service may run in another folder: it gets an absolute path.
    QCOMPARE(wizard.InvitationPath(),
             QDir(m_env->root()).filePath(QStringLiteral("picked.Tervalapro")));
}

void TestJoinerWizard::givenPathSkipsTheFileDialog()
{
    CJoinerWizard wizard;
    bool checked = false;
    whenShown(wizard, [&] {
        // Finish is the only way forward, from the start.
        QAbstractButton* finish = wizard.button(QWizard::FinishButton);
        QVERIFY(finish->isVisible());
        QVERIFY(finish->isEnabled());
        QVERIFY(!wizard.button(QWizard::NextButton)->isVisible());
        QVERIFY(!wizard.button(QWizard::BackButton)->isVisible());
        QVERIFY(!wizard.button(QWizard::HelpButton)->isVisible());
        QVERIFY(wizard.button(QWizard::CancelButton)->isVisible());
        QCOMPARE(wizard.windowTitle(), QStringLiteral("Join Network"));
        QCOMPARE(wizard.Page()->title(), QStringLiteral("Network Invitation authentication"));
        QCOMPARE(wizard.Page()->subTitle(),
                 QStringLiteral("Provide a unique nickname to identify yourself in the network & "
                                "the password associated with the invitation file."));
        QCOMPARE(wizard.Page()->PasswordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(!wizard.pixmap(QWizard::LogoPixmap).isNull());
        QCOMPARE(wizard.focusWidget(), wizard.Page()->NickNameEdit());
        // Which invitation is open: its name on the page, its folder on hover.
        QVERIFY(wizard.Page()->InvitationFileLabel()->isVisible());
        QCOMPARE(wizard.Page()->InvitationFileLabel()->text(), QStringLiteral("team.Tervalapro"));
        QCOMPARE(wizard.Page()->InvitationFileLabel()->toolTip(),
                 QStringLiteral("/srv/invitations"));
        checked = true;
        QTest::keyClick(&wizard, Qt::Key_Escape);
    });
    QCOMPARE(wizard.DoModal(kInvitation), int(QDialog::Rejected));
    QVERIFY(checked);
    QVERIFY(FileDialogs::history().isEmpty());
    QCOMPARE(wizard.InvitationPath(), kInvitation);
}

void TestJoinerWizard::finishChecks_data()
{
    QTest::addColumn<QString>("nickName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addRow("both empty: the nickname first")
        << QString() << QString() << QStringLiteral("Please enter a nickname for the session");
    QTest::addRow("no nickname") << QString() << QStringLiteral("secret")
                                 << QStringLiteral("Please enter a nickname for the session");
    QTest::addRow("no password") << QStringLiteral("alice") << QString()
                                 << QStringLiteral("Please enter a valid password");
    QTest::addRow("one character is a password")
        << QStringLiteral("alice") << QStringLiteral("x") << QString();
    QTest::addRow("blanks and non-ASCII kept as typed")
        << QStringLiteral(" Zoë ") << QStringLiteral("p ä ss") << QString();
}

void TestJoinerWizard::finishChecks()
{
    QFETCH(QString, nickName);
    QFETCH(QString, password);
    QFETCH(QString, message);
    CJoinerWizard wizard;
    bool stayed = false;
    whenShown(wizard, [&] {
        wizard.Page()->NickNameEdit()->setText(nickName);
        wizard.Page()->PasswordEdit()->setText(password);
        if (!message.isEmpty())
            Prompter::setNextAnswer(QMessageBox::Ok);
        wizard.button(QWizard::FinishButton)->click();
        if (!message.isEmpty()) {
            stayed = wizard.isVisible() && wizard.currentPage() == wizard.Page();
            wizard.reject();
        }
    });
    const int result = wizard.DoModal(kInvitation);
    if (message.isEmpty()) {
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(Prompter::history().isEmpty());
        QCOMPARE(wizard.NickName(), nickName);
        QCOMPARE(wizard.Password(), password);
        QCOMPARE(wizard.InvitationPath(), kInvitation);
    } else {
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(stayed);
        QCOMPARE(Prompter::history().size(), 1);
        QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Error);
        QCOMPARE(Prompter::history().first().text, message);
    }
}

void TestJoinerWizard::nickNameKept_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("finish");
    QTest::addColumn<QString>("storedAfter");
    QTest::addRow("finish stores the typed name")
        << QString() << true << QStringLiteral("alice") << true << QStringLiteral("alice");
    QTest::addRow("finish replaces the stored name")
        << QStringLiteral("old") << true << QStringLiteral("new") << true << QStringLiteral("new");
    QTest::addRow("cancel stores what was typed")
        << QStringLiteral("old") << true << QStringLiteral("bob") << false << QStringLiteral("bob");
    QTest::addRow("cancel without typing keeps it")
        << QStringLiteral("old") << false << QString() << false << QStringLiteral("old");
    QTest::addRow("an emptied field erases nothing")
        << QStringLiteral("old") << true << QString() << false << QStringLiteral("old");
    QTest::addRow("nothing stored, nothing typed")
        << QString() << false << QString() << false << QString();
}

void TestJoinerWizard::nickNameKept()
{
    QFETCH(QString, stored);
    QFETCH(bool, type);
    QFETCH(QString, typed);
    QFETCH(bool, finish);
    storeNickName(stored);
    QString shown;
    QWidget* focused = nullptr;
    bool focusRight = false;
    {
        CJoinerWizard wizard;
        whenShown(wizard, [&] {
            shown = wizard.Page()->NickNameEdit()->text();
            focused = wizard.focusWidget();
            // A known nickname: the user starts with the password.
            focusRight =
                focused == (stored.isEmpty() ? static_cast<QWidget*>(wizard.Page()->NickNameEdit())
                                             : wizard.Page()->PasswordEdit());
            if (type)
                wizard.Page()->NickNameEdit()->setText(typed);
            if (finish) {
                wizard.Page()->PasswordEdit()->setText(QStringLiteral("pw"));
                wizard.button(QWizard::FinishButton)->click();
            } else {
                wizard.button(QWizard::CancelButton)->click();
            }
        });
        QCOMPARE(wizard.DoModal(kInvitation), int(finish ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(shown, stored.isNull() ? QString() : stored);
        QVERIFY2(focusRight, focused ? qPrintable(focused->objectName()) : "no focus");
    }
    QTEST(CRegOperations().GetNickName(), "storedAfter");
}

void TestJoinerWizard::labelsLineUp()
{
    CJoinerWizard wizard;
    bool checked = false;
    whenShown(wizard, [&] {
        // Where each label's text ends on the page, and where its field starts.
        QList<int> colonEnds;
        QList<int> fieldStarts;
        QStringList texts;
        for (QLineEdit* field : {wizard.Page()->NickNameEdit(), wizard.Page()->PasswordEdit()}) {
            QLabel* label = nullptr;
            for (QLabel* candidate : wizard.Page()->findChildren<QLabel*>())
                if (candidate->buddy() == field)
                    label = candidate;
            QVERIFY(label);
            texts << label->text();
            const QRect box =
                label->contentsRect().translated(label->mapTo(wizard.Page(), QPoint()));
            const int width = label->fontMetrics().horizontalAdvance(label->text());
            colonEnds << (label->alignment() & Qt::AlignRight ? box.right() : box.left() + width);
            fieldStarts << field->mapTo(wizard.Page(), QPoint()).x();
        }
        QCOMPARE(texts, (QStringList{QStringLiteral("Nick name:"), QStringLiteral("Password:")}));
        // Within a pixel of text rounding; the blank-padded texts were apart
        // by the difference of the words' widths.
        QVERIFY2(qAbs(colonEnds.at(0) - colonEnds.at(1)) <= 1,
                 qPrintable(QStringLiteral("%1 vs %2").arg(colonEnds.at(0)).arg(colonEnds.at(1))));
        QCOMPARE(fieldStarts.at(0), fieldStarts.at(1));
        checked = true;
        wizard.reject();
    });
    wizard.DoModal(kInvitation);
    QVERIFY(checked);
}

QTEST_MAIN(TestJoinerWizard)
#include "tst_joinerwizard.moc"

#include "LoopbackHttpServer.h"
#include "foundation/Paths.h"
#include "resources/StringTable.h"
#include "skin/Prompter.h"
#include "support/ContactSupportDlg.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace std::chrono_literals;

namespace {
const QByteArray kTarget = "/chat/module.php?module=HelpCenter";
constexpr int kWaitMs = 20000;

void setMachineValue(const QString& key, const QString& value)
{
    std::unique_ptr<QSettings> store(Settings::NewMachineStore());
    if (value.isNull())
        store->remove(key);
    else
        store->setValue(key, value);
    store->sync();
}

QString logPath()
{
    return Paths::LogFolder() + QStringLiteral("servicelog.txt");
}

void writeLog(const QString& text)
{
    Paths::MakePath(Paths::LogFolder());
    QFile f(logPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    QCOMPARE(f.write(bytes), bytes.size());
}

// The form's controls, found as a user's tools would find them.
struct Form
{
    explicit Form(CContactSupportDlg& dlg)
        : to(dlg.findChild<QLabel*>(QStringLiteral("supportAddress"))),
          name(dlg.findChild<QLineEdit*>(QStringLiteral("edit1032"))),
          email(dlg.findChild<QLineEdit*>(QStringLiteral("edit1028"))),
          subject(dlg.findChild<QLineEdit*>(QStringLiteral("edit1029"))),
          message(dlg.findChild<QPlainTextEdit*>(QStringLiteral("edit1030"))),
          send(dlg.findChild<QPushButton*>(QStringLiteral("button1031"))),
          cancel(dlg.findChild<QPushButton*>(QStringLiteral("button2"))),
          details(dlg.findChild<QPushButton*>(QStringLiteral("detailsButton"))),
          detailsView(dlg.findChild<QPlainTextEdit*>(QStringLiteral("detailsView"))),
          detailsHeading(dlg.findChild<QLabel*>(QStringLiteral("detailsHeading"))),
          busy(dlg.findChild<QProgressBar*>(QStringLiteral("busyBar"))),
          status(dlg.findChild<QLabel*>(QStringLiteral("statusText")))
    {
    }
    bool complete() const
    {
        return to && name && email && subject && message && send && cancel && details &&
               detailsView && detailsHeading && busy && status;
    }
    void fill()
    {
        name->setText(QStringLiteral("Ann Lee"));
        email->setText(QStringLiteral("ann@example.com"));
        subject->setText(QStringLiteral("Tray"));
        message->setPlainText(QStringLiteral("The icon stays grey."));
    }
    QLabel* to;
    QLineEdit* name;
    QLineEdit* email;
    QLineEdit* subject;
    QPlainTextEdit* message;
    QPushButton* send;
    QPushButton* cancel;
    QPushButton* details;
    QPlainTextEdit* detailsView;
    QLabel* detailsHeading;
    QProgressBar* busy;
    QLabel* status;
};
} // namespace

class TestContactSupportDlg : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void opensEmptyWithHint();
    void typedTextSurvivesFocusChanges();
    void busyWhileSendingAndCancel();
    void escapeDuringSendCancels();
    void failureKeepsWhatWasTyped();
    void successClosesTheForm();
    void refusals_data();
    void refusals();
    void detailsShowsTheTail();
    void detailsWithoutLog();
    void runsModally();

private:
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<LoopbackHttpServer> m_server;
};

void TestContactSupportDlg::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

void TestContactSupportDlg::init()
{
    Prompter::clearAnswers();
    Prompter::clearHistory();
    m_server = std::make_unique<LoopbackHttpServer>();
    QVERIFY(m_server->listen());
    setMachineValue(QStringLiteral("SupportHost"), QString::fromLatin1(m_server->hostAndPort()));
    setMachineValue(QStringLiteral("SupportEmail"), QStringLiteral("help@example.com"));
    writeLog(QStringLiteral("##09:00 service started\r\n09:01 status 1\r\n"));
}

void TestContactSupportDlg::cleanup()
{
    QCOMPARE(Prompter::pendingAnswers(), 0);
    m_server.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestContactSupportDlg::opensEmptyWithHint()
{
    CContactSupportDlg dlg;
    Form form(dlg);
    QVERIFY(form.complete());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Contact Support"));
    QCOMPARE(form.to->text(), QStringLiteral("help@example.com"));
    // The hint is shown but is no part of the message.
    QCOMPARE(form.message->placeholderText(), LoadString(149));
    QVERIFY(form.message->toPlainText().isEmpty());
    QVERIFY(form.send->isDefault());
    QVERIFY(form.send->isEnabled());
    QVERIFY(!form.detailsView->isVisible());
}

void TestContactSupportDlg::typedTextSurvivesFocusChanges()
{
    CContactSupportDlg dlg;
    Form form(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    form.message->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form.message->hasFocus());
    QTest::keyClicks(form.message, QStringLiteral("first line"));
    QTest::keyClick(form.message, Qt::Key_Return);
    QTest::keyClicks(form.message, QStringLiteral("second"));
    // Leave the box and come back, by mouse and by keyboard.
    form.subject->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form.subject->hasFocus());
    form.message->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form.message->hasFocus());
    form.name->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(form.name->hasFocus());
    QTest::keyClick(form.name, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(form.message->hasFocus());
    QCOMPARE(form.message->toPlainText(), QStringLiteral("first line\nsecond"));
    // Return started a new line instead of sending.
    QVERIFY(m_server->requests().isEmpty());
    QVERIFY(Prompter::history().isEmpty());
}

void TestContactSupportDlg::busyWhileSendingAndCancel()
{
    LoopbackHttpServer::Answer slow;
    slow.mode = LoopbackHttpServer::Answer::Mode::Silent;
    m_server->setAnswer(kTarget, slow);

    CContactSupportDlg dlg;
    Form form(dlg);
    form.fill();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(form.send, Qt::LeftButton);

    // Busy at once, and the window keeps working meanwhile.
    QVERIFY(dlg.IsBusy());
    QVERIFY(!form.send->isEnabled());
    QVERIFY(form.busy->isVisible());
    QVERIFY(form.message->isReadOnly());
    QVERIFY(form.email->isReadOnly());
    QVERIFY(form.status->text().contains(QString::fromLatin1(m_server->hostAndPort())));
    QTRY_COMPARE_WITH_TIMEOUT(int(m_server->requests().size()), 1, kWaitMs);

    QTest::mouseClick(form.cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsBusy(), kWaitMs);
    // Cancel called the send off; the form and its text stay.
    QVERIFY(dlg.isVisible());
    QVERIFY(form.send->isEnabled());
    QVERIFY(!form.busy->isVisible());
    QVERIFY(!form.message->isReadOnly());
    QCOMPARE(form.message->toPlainText(), QStringLiteral("The icon stays grey."));
    QCOMPARE(form.status->text(), QStringLiteral("Sending was cancelled."));
    QVERIFY(Prompter::history().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, kWaitMs);

    // A second Cancel, with nothing running, closes the form.
    QTest::mouseClick(form.cancel, Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void TestContactSupportDlg::escapeDuringSendCancels()
{
    LoopbackHttpServer::Answer slow;
    slow.mode = LoopbackHttpServer::Answer::Mode::StallAfterHeaders;
    m_server->setAnswer(kTarget, slow);

    CContactSupportDlg dlg;
    Form form(dlg);
    form.fill();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::mouseClick(form.send, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(int(m_server->requests().size()), 1, kWaitMs);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsBusy(), kWaitMs);
    QVERIFY(dlg.isVisible());
    // Closing the window while sending does the same.
    QTest::mouseClick(form.send, Qt::LeftButton);
    QVERIFY(dlg.IsBusy());
    QVERIFY(!dlg.close());
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsBusy(), kWaitMs);
    QVERIFY(dlg.isVisible());
    QCOMPARE(form.name->text(), QStringLiteral("Ann Lee"));
}

void TestContactSupportDlg::failureKeepsWhatWasTyped()
{
    LoopbackHttpServer::Answer broken;
    broken.status = 500;
    broken.reason = "Internal Server Error";
    m_server->setAnswer(kTarget, broken);

    CContactSupportDlg dlg;
    Form form(dlg);
    form.fill();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Prompter::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(form.send, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(int(Prompter::history().size()), 1, kWaitMs);

    const Prompter::Record shown = Prompter::history().first();
    QCOMPARE(shown.icon, Prompter::Icon::Error);
    QVERIFY2(shown.text.startsWith(LoadString(147)), qPrintable(shown.text));
    QVERIFY(dlg.isVisible());
    QVERIFY(!dlg.IsBusy());
    QVERIFY(form.send->isEnabled());
    QCOMPARE(form.name->text(), QStringLiteral("Ann Lee"));
    QCOMPARE(form.email->text(), QStringLiteral("ann@example.com"));
    QCOMPARE(form.subject->text(), QStringLiteral("Tray"));
    // The log went with the report but was not added to the box.
    QCOMPARE(form.message->toPlainText(), QStringLiteral("The icon stays grey."));
}

void TestContactSupportDlg::successClosesTheForm()
{
    CContactSupportDlg dlg;
    Form form(dlg);
    form.fill();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Prompter::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(form.send, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), kWaitMs);

    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(int(Prompter::history().size()), 1);
    QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Information);
    QCOMPARE(Prompter::history().first().text, LoadString(145));
    QCOMPARE(int(m_server->requests().size()), 1);
    QVERIFY(m_server->requests().first().body.contains(
        "&message=The%20icon%20stays%20grey.%2309%3A00%20service%20started"));
}

void TestContactSupportDlg::refusals_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<bool>("hostSet");
    QTest::addColumn<QString>("expected");
    QTest::addRow("no @") << QStringLiteral("ann") << true << LoadString(102);
    QTest::addRow("empty e-mail") << QString() << true << LoadString(102);
    QTest::addRow("no SupportHost")
        << QStringLiteral("ann@example.com") << false << QStringLiteral("SupportHost");
}

void TestContactSupportDlg::refusals()
{
    QFETCH(QString, email);
    QFETCH(bool, hostSet);
    QFETCH(QString, expected);
    if (!hostSet)
        setMachineValue(QStringLiteral("SupportHost"), QString());

    CContactSupportDlg dlg;
    Form form(dlg);
    form.fill();
    form.email->setText(email);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Prompter::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(form.send, Qt::LeftButton);

    QCOMPARE(int(Prompter::history().size()), 1);
    const Prompter::Record shown = Prompter::history().first();
    QCOMPARE(shown.icon, Prompter::Icon::Error);
    if (hostSet)
        QCOMPARE(shown.text, expected);
    else
        QVERIFY2(shown.text.contains(expected) &&
                     shown.text.contains(SupportReport::MachineSettingsFile()),
                 qPrintable(shown.text));
    QVERIFY(dlg.isVisible());
    QVERIFY(!dlg.IsBusy());
    QVERIFY(form.send->isEnabled());
    QCOMPARE(form.message->toPlainText(), QStringLiteral("The icon stays grey."));
    QTest::qWait(0);
    QVERIFY(m_server->requests().isEmpty());
}

void TestContactSupportDlg::detailsShowsTheTail()
{
    CContactSupportDlg dlg;
    Form form(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(form.details, Qt::LeftButton);
    QVERIFY(form.detailsView->isVisible());
    // Exactly what goes after the message: the log from its fifth byte on.
    QCOMPARE(form.detailsView->toPlainText(),
             QStringLiteral("#09:00 service started\n09:01 status 1\n"));
    QVERIFY(form.detailsHeading->text().contains(logPath()));
    QVERIFY(form.detailsHeading->text().contains(QString::fromLatin1(m_server->hostAndPort())));

    // What is sent is what the view shows.
    form.fill();
    Prompter::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(form.send, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), kWaitMs);
    const QByteArray body = m_server->requests().first().body;
    const QByteArray message = body.mid(body.indexOf("&message=") + 9).split('&').first();
    QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(message)),
             form.message->toPlainText() +
                 QStringLiteral("#09:00 service started\r\n09:01 status 1\r\n"));
}

void TestContactSupportDlg::detailsWithoutLog()
{
    QVERIFY(QFile::remove(logPath()));
    CContactSupportDlg dlg;
    Form form(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(form.details, Qt::LeftButton);
    QVERIFY(form.detailsView->toPlainText().isEmpty());
    QVERIFY2(form.detailsHeading->text().contains(QStringLiteral("not attached")),
             qPrintable(form.detailsHeading->text()));

    // The report still goes, and the user hears that the log did not.
    form.fill();
    Prompter::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(form.send, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), kWaitMs);
    QCOMPARE(Prompter::history().first().icon, Prompter::Icon::Information);
    QVERIFY(Prompter::history().first().text.startsWith(LoadString(145)));
    QVERIFY(Prompter::history().first().text.contains(logPath()));
}

void TestContactSupportDlg::runsModally()
{
    // The form as the main window runs it: modal, ended by the send.
    CContactSupportDlg dlg;
    Form form(dlg);
    bool checked = false;
    QTimer::singleShot(0, &dlg, [&] {
        checked = dlg.isVisible() && dlg.isModal();
        form.fill();
        Prompter::setNextAnswer(QMessageBox::Ok);
        QTest::mouseClick(form.send, Qt::LeftButton);
    });
    // Whatever goes wrong, the test does not wait on the form for ever.
    QTimer::singleShot(kWaitMs, &dlg, [&] {
        dlg.reject();
        dlg.reject();
    });
    QCOMPARE(dlg.DoModal(), int(QDialog::Accepted));
    QVERIFY(checked);
    QCOMPARE(int(m_server->requests().size()), 1);
}

QTEST_MAIN(TestContactSupportDlg)
#include "tst_contactsupportdlg.moc"

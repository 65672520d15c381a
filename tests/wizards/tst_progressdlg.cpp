#include "skin/WindowPlacement.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/ProgressDlg.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestProgressDlg : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void joinShowsTwoSteps();
    void barColours();
    void cancelEndsOnlyTheWindow();
    void destroyedByTheOwner();

private:
    std::unique_ptr<TestEnvironment> m_env;
};

void TestProgressDlg::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
}

void TestProgressDlg::joinShowsTwoSteps()
{
    CProgressDlg progress;
    QVERIFY(!progress.HasWindow());
    progress.Create(nullptr);
    QVERIFY(progress.HasWindow());
    QDialog* window = progress.Window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!window->isModal());
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window->pos(),
             CenteredCorner(window->size(), QGuiApplication::primaryScreen()->geometry()));
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 10);
    QCOMPARE(bar->value(), 0);

    progress.Advance(130);
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("progressText"))->text(),
             QStringLiteral("Resolving network server name..."));
    QCOMPARE(bar->value(), 4);
    progress.Advance(123);
    QCOMPARE(progress.Text(), QStringLiteral("Connecting to the network server...."));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("progressText"))->text(), progress.Text());
    // A join never fills the bar: the outcome closes the window instead.
    QCOMPARE(bar->value(), 8);
    progress.DestroyWindow();
}

void TestProgressDlg::barColours()
{
    CProgressDlg progress;
    progress.Create(nullptr);
    progress.Advance(130); // 4 of 10
    auto* bar = progress.Window()->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    QVERIFY(QTest::qWaitForWindowExposed(progress.Window()));
    const QImage image = bar->grab().toImage();
    const int y = image.height() / 2;
    // Filled part green, the rest black.
    QCOMPARE(QColor(image.pixel(image.width() / 5, y)), QColor(105, 207, 8));
    QCOMPARE(QColor(image.pixel(image.width() * 4 / 5, y)), QColor(0, 0, 0));
}

void TestProgressDlg::cancelEndsOnlyTheWindow()
{
    CProgressDlg progress;
    progress.Create(nullptr);
    progress.Advance(130);
    QPointer<QDialog> window = progress.Window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* buttons = window->findChild<QDialogButtonBox*>();
    QAbstractButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    cancel->click();
    QVERIFY(!progress.HasWindow());
    QTRY_VERIFY(window.isNull());
    // The join goes on: its later steps and its outcome find no window and
    // change nothing.
    progress.Advance(123);
    QCOMPARE(progress.Text(), QStringLiteral("Resolving network server name..."));
    progress.DestroyWindow();
    QVERIFY(!progress.HasWindow());

    // The same object serves the next join from the start.
    progress.Create(nullptr);
    QVERIFY(progress.HasWindow());
    QCOMPARE(progress.Value(), 0);
    QVERIFY(progress.Text().isEmpty());
    QTest::keyClick(progress.Window(), Qt::Key_Escape);
    QVERIFY(!progress.HasWindow());
}

void TestProgressDlg::destroyedByTheOwner()
{
    CProgressDlg progress;
    progress.Create(nullptr);
    QPointer<QDialog> first = progress.Window();
    // A second Create replaces the window rather than leaving one behind.
    progress.Create(nullptr);
    QVERIFY(first.isNull());
    QPointer<QDialog> second = progress.Window();
    progress.DestroyWindow();
    QVERIFY(second.isNull());
    // Destroying twice, or the object with a window open, is harmless.
    progress.DestroyWindow();
    {
        CProgressDlg other;
        other.Create(nullptr);
        first = other.Window();
    }
    QVERIFY(first.isNull());
}

QTEST_MAIN(TestProgressDlg)
#include "tst_progressdlg.moc"

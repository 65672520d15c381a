#include "app/TrayNotifyIcon.h"
#include "resources/StringTable.h"
#include "tests/support/TestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

class TestTrayIcon : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void grayPixel_data();
    void grayPixel();
    void grayKeepsSizeAndFormat();
    void grayIconOfNothingIsNothing();
    void menuAndDefault();
    void notifications_data();
    void notifications();
    void changesNeedAShownIcon();
    void statusPresentation();

private:
    static QIcon solidIcon(QRgb colour);
    std::unique_ptr<TestEnvironment> m_env;
};

void TestTrayIcon::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
}

QIcon TestTrayIcon::solidIcon(QRgb colour)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    return QIcon(QPixmap::fromImage(image));
}

void TestTrayIcon::grayPixel_data()
{
    QTest::addColumn<QRgb>("in");
    QTest::addColumn<QRgb>("out");

    QTest::addRow("transparent black kept") << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0);
    QTest::addRow("opaque black stays black") << qRgba(0, 0, 0, 255) << qRgba(0, 0, 0, 255);
    QTest::addRow("transparent colour is greyed") << qRgba(30, 60, 90, 0) << qRgba(60, 60, 60, 0);
    QTest::addRow("white never stays white")
        << qRgba(255, 255, 255, 255) << qRgba(254, 254, 254, 255);
    QTest::addRow("average truncates") << qRgba(10, 10, 11, 255) << qRgba(10, 10, 10, 255);
    QTest::addRow("alpha kept") << qRgba(200, 100, 0, 77) << qRgba(100, 100, 100, 77);
    QTest::addRow("near white is only rounded down")
        << qRgba(255, 255, 254, 128) << qRgba(254, 254, 254, 128);
}

void TestTrayIcon::grayPixel()
{
    QFETCH(QRgb, in);
    QFETCH(QRgb, out);
    QImage image(1, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, in);
    const QImage gray = CTrayNotifyIcon::CreateGrayImage(image);
    QCOMPARE(QString::number(gray.pixel(0, 0), 16), QString::number(out, 16));
}

void TestTrayIcon::grayKeepsSizeAndFormat()
{
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(qRgb(255, 0, 0));
    const QImage gray = CTrayNotifyIcon::CreateGrayImage(image);
    QCOMPARE(gray.size(), image.size());
    QCOMPARE(gray.pixel(4, 2), qRgba(85, 85, 85, 255));
}

void TestTrayIcon::grayIconOfNothingIsNothing()
{
    QVERIFY(CTrayNotifyIcon::CreateGrayIcon(QIcon()).isNull());
    QVERIFY(CTrayNotifyIcon::CreateGrayImage(QImage()).isNull());
}

void TestTrayIcon::menuAndDefault()
{
    CTrayNotifyIcon icon;
    QVERIFY(icon.Create(nullptr, LoadString(124), solidIcon(qRgb(0, 0, 255))));
    QMenu* menu = icon.PopupMenu();
    QVERIFY(menu);
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Show Tervala Pro"));
    QCOMPARE(actions.at(1)->text(), QStringLiteral("Exit"));
    // The default entry is the first, which Qt draws in bold.
    QCOMPARE(menu->defaultAction(), actions.at(0));
    QCOMPARE(icon.TrayIcon()->contextMenu(), menu);
    QCOMPARE(icon.Tooltip(), QStringLiteral("Tervala Pro"));

    QSignalSpy commands(&icon, &CTrayNotifyIcon::command);
    actions.at(1)->trigger();
    QCOMPARE(commands.size(), 1);
    QCOMPARE(commands.first().first().toInt(), int(CTrayNotifyIcon::kCmdExit));
}

void TestTrayIcon::notifications_data()
{
    QTest::addColumn<int>("iconId");
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("shows");

    QTest::addRow("double click shows once")
        << int(CTrayNotifyIcon::kIconId) << QSystemTrayIcon::DoubleClick << 1 << 1;
    QTest::addRow("single click does nothing")
        << int(CTrayNotifyIcon::kIconId) << QSystemTrayIcon::Trigger << 1 << 0;
    QTest::addRow("context click leaves the menu to Qt")
        << int(CTrayNotifyIcon::kIconId) << QSystemTrayIcon::Context << 1 << 0;
    QTest::addRow("middle click does nothing")
        << int(CTrayNotifyIcon::kIconId) << QSystemTrayIcon::MiddleClick << 1 << 0;
    QTest::addRow("another icon is not handled") << 7 << QSystemTrayIcon::DoubleClick << 0 << 0;
}

void TestTrayIcon::notifications()
{
    QFETCH(int, iconId);
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    CTrayNotifyIcon icon;
    QVERIFY(icon.Create(nullptr, LoadString(124), solidIcon(qRgb(0, 0, 255))));
    QSignalSpy commands(&icon, &CTrayNotifyIcon::command);
    QTEST(icon.OnTrayNotification(iconId, reason), "result");
    QTEST(int(commands.size()), "shows");
    for (const QList<QVariant>& args : std::as_const(commands))
        QCOMPARE(args.first().toInt(), int(CTrayNotifyIcon::kCmdShow));
}

void TestTrayIcon::changesNeedAShownIcon()
{
    CTrayNotifyIcon icon;
    QVERIFY(!icon.IsShown());
    QVERIFY(!icon.SetIcon(solidIcon(qRgb(1, 2, 3))));
    QVERIFY(!icon.ShowBalloon(QStringLiteral("t"), QStringLiteral("x")));
    icon.SetTooltipText(QStringLiteral("ignored"));
    QCOMPARE(icon.Tooltip(), QString());
    QCOMPARE(icon.BalloonCount(), 0);
}

void TestTrayIcon::statusPresentation()
{
    CTrayNotifyIcon icon;
    const QIcon normal = solidIcon(qRgb(0, 0, 255));
    QVERIFY(icon.Create(nullptr, LoadString(124), normal));

    icon.ShowServiceStatus(false);
    QCOMPARE(icon.Tooltip(), QStringLiteral("Tervala Pro inactive"));
    QCOMPARE(icon.BalloonCount(), 1);
    QCOMPARE(icon.LastBalloonText(),
             QStringLiteral(
                 "Tervala Pro Peer-To-Peer infrastructure failed to start or stopped working"));
    QCOMPARE(icon.LastBalloonTitle(), QStringLiteral("Tervala Pro"));
    QCOMPARE(icon.CurrentIcon().pixmap(16, 16).toImage().pixel(8, 8), qRgba(85, 85, 85, 255));

    icon.ShowServiceStatus(true);
    QCOMPARE(icon.Tooltip(), QStringLiteral("Tervala Pro active"));
    QCOMPARE(icon.BalloonCount(), 1); // coming back is silent
    QCOMPARE(icon.CurrentIcon().pixmap(16, 16).toImage().pixel(8, 8), qRgba(0, 0, 255, 255));
}

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"

#include "skin/FileDialogs.h"
#include "skin/WindowPlacement.h"

#include <QTest>

class TestSkin : public QObject
{
    Q_OBJECT
private slots:
    void filterFromTable_data();
    void filterFromTable();
    void centredCorner_data();
    void centredCorner();
};

void TestSkin::filterFromTable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("dialog");
    QTest::addRow("invitations") << QStringLiteral("Invitation Files(*.Tervalapro)|*.Tervalapro||")
                                 << QStringLiteral("Invitation Files(*.Tervalapro)");
    QTest::addRow("description without patterns")
        << QStringLiteral("Logs|*.txt;*.log||") << QStringLiteral("Logs (*.txt *.log)");
    QTest::addRow("two filters") << QStringLiteral("A(*.a)|*.a|All|*||")
                                 << QStringLiteral("A(*.a);;All (*)");
    QTest::addRow("no closing bars") << QStringLiteral("A(*.a)|*.a") << QStringLiteral("A(*.a)");
    QTest::addRow("empty") << QString() << QString();
}

void TestSkin::filterFromTable()
{
    QFETCH(QString, table);
    QTEST(FileDialogs::FilterFromTable(table), "dialog");
}

void TestSkin::centredCorner_data()
{
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QRect>("desktop");
    QTest::addColumn<QPoint>("corner");
    QTest::addRow("middle") << QSize(200, 100) << QRect(0, 0, 1024, 768) << QPoint(412, 334);
    QTest::addRow("odd sizes truncate")
        << QSize(201, 101) << QRect(0, 0, 1025, 769) << QPoint(412, 334);
    QTest::addRow("screen not at the origin")
        << QSize(100, 100) << QRect(1920, 0, 1280, 1024) << QPoint(2510, 462);
    QTest::addRow("desktop smaller than the window")
        << QSize(800, 600) << QRect(0, 0, 640, 480) << QPoint(-80, -60);
}

void TestSkin::centredCorner()
{
    QFETCH(QSize, window);
    QFETCH(QRect, desktop);
    QTEST(CenteredCorner(window, desktop), "corner");
}

QTEST_APPLESS_MAIN(TestSkin)
#include "tst_skin.moc"

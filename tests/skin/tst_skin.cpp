#include "skin/FileDialogs.h"
#include "skin/Pictures.h"
#include "skin/WindowPlacement.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class TestSkin : public QObject
{
    Q_OBJECT
private slots:
    void filterFromTable_data();
    void filterFromTable();
    void centredCorner_data();
    void centredCorner();
    void picturesBesideTheProgram();
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

void TestSkin::picturesBesideTheProgram()
{
    // A package installs the pictures under its own prefix (/usr), whatever
    // prefix the tree was configured for: share/tervalapro beside the
    // program's folder comes before the configured folder and the working one.
    const auto write = [](const QString& path) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BM");
    };
    const QString name =
        QStringLiteral("images/probe-%1.bmp").arg(QCoreApplication::applicationPid());
    const QString before = QDir::currentPath();
    QTemporaryDir work;
    QVERIFY(QDir::setCurrent(work.path()));
    const QString besideProgram = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                  QStringLiteral("/../share/tervalapro/") + name);
    const auto restore = qScopeGuard([&] {
        QFile::remove(besideProgram);
        QDir::setCurrent(before);
    });
    const auto same = [](const QString& a, const QString& b) {
        return QFileInfo(a).canonicalFilePath() == QFileInfo(b).canonicalFilePath();
    };

    write(work.filePath(name));
    QVERIFY2(same(Pictures::Path(name), work.filePath(name)), qPrintable(Pictures::Path(name)));
    write(besideProgram);
    QVERIFY2(same(Pictures::Path(name), besideProgram), qPrintable(Pictures::Path(name)));
}

QTEST_GUILESS_MAIN(TestSkin)
#include "tst_skin.moc"

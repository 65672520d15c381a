#include "skin/SkinRegion.h"

#include <QColor>
#include <QDir>
#include <QIcon>
#include <QImageReader>
#include <QTest>

// The committed pictures: the sizes the windows are laid out for, @2x drawings
// of exactly twice that size, pure black-and-white masks, and tray icons in the
// sizes panels ask for.
class TestArtwork : public QObject
{
    Q_OBJECT
private slots:
    void pictures_data();
    void pictures();
    void masks_data();
    void masks();
    void trayIcons_data();
    void trayIcons();

private:
    static QString path(const QString& relative)
    {
        return QDir(qEnvironmentVariable("TERVALA_SOURCE_DIR")).filePath(relative);
    }
};

void TestArtwork::pictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addRow("background") << QStringLiteral("images/wndbackground.bmp") << QSize(324, 481);
    QTest::addRow("tree") << QStringLiteral("images/Tree_bg.bmp") << QSize(272, 276);
    QTest::addRow("tree nodes") << QStringLiteral("images/tree_down_arrow.bmp") << QSize(36, 18);
    QTest::addRow("banner add") << QStringLiteral("images/banner_icon_add.bmp") << QSize(49, 49);
    QTest::addRow("banner existing")
        << QStringLiteral("images/banner_icon_existing.bmp") << QSize(49, 49);
    for (const char* button : {"add", "join", "existing"})
        for (const char* state : {"default", "active"})
            QTest::addRow("%s %s", button, state)
                << QStringLiteral("images/%1_btn_%2.bmp")
                       .arg(QLatin1String(button), QLatin1String(state))
                << QSize(85, 64);
}

void TestArtwork::pictures()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage picture(path(name));
    QVERIFY2(!picture.isNull(), qPrintable(name));
    QCOMPARE(picture.size(), size);
    const QString sharp = name.left(name.size() - 4) + QStringLiteral("@2x.bmp");
    QCOMPARE(QImage(path(sharp)).size(), size * 2);
}

void TestArtwork::masks_data()
{
    QTest::addColumn<QString>("name");
    for (const char* mask : {"images/Add_btn_Mask.bmp", "images/join_btn_mask.bmp",
                             "images/existing_btn_mask.bmp", "images/Add_btn_Mask@2x.bmp"})
        QTest::newRow(mask) << QString::fromLatin1(mask);
}

void TestArtwork::masks()
{
    QFETCH(QString, name);
    const QImage mask = QImage(path(name)).convertToFormat(QImage::Format_RGB32);
    QVERIFY2(!mask.isNull(), qPrintable(name));
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x) {
            const QRgb p = mask.pixel(x, y) & 0xffffff;
            QVERIFY2(p == 0 || p == 0xffffff, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    // Rounded: corners cut, the middle and the edges' centres kept.
    const QRegion region = SkinRegion::FromMask(mask);
    const int w = mask.width();
    const int h = mask.height();
    QVERIFY(!region.contains(QPoint(0, 0)) && !region.contains(QPoint(w - 1, h - 1)));
    QVERIFY(region.contains(QPoint(w / 2, 0)) && region.contains(QPoint(0, h / 2)));
    QCOMPARE(region.boundingRect(), QRect(0, 0, w, h));
}

void TestArtwork::trayIcons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("colourless");
    QTest::addRow("coloured") << QStringLiteral("icons/trayicon.ico") << false;
    QTest::addRow("monochrome") << QStringLiteral("icons/trayicon_mono.ico") << true;
}

void TestArtwork::trayIcons()
{
    QFETCH(QString, name);
    QFETCH(bool, colourless);
    QImageReader reader(path(name));
    QList<int> sizes;
    int maxSaturation = 0;
    do {
        const QImage frame = reader.read();
        QVERIFY2(!frame.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(frame.width(), frame.height());
        sizes.append(frame.width());
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QColor c = QColor::fromRgba(frame.pixel(x, y));
                if (c.alpha() > 0)
                    maxSaturation = std::max(maxSaturation, c.hsvSaturation());
            }
    } while (reader.jumpToNextImage());
    for (int size : {16, 22, 24, 32, 48, 64})
        QVERIFY2(sizes.contains(size), qPrintable(QString::number(size)));
    QCOMPARE(maxSaturation == 0, colourless);
}

QTEST_GUILESS_MAIN(TestArtwork)
#include "tst_artwork.moc"

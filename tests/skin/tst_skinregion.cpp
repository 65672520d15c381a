#include "skin/SkinRegion.h"

#include <QTest>

namespace {
// A mask from rows of characters: '#' black, '.' white, 'o' one bit off white.
QImage maskFrom(const QStringList& rows)
{
    QImage image(int(rows.first().size()), int(rows.size()), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QChar c = rows.at(y).at(x);
            image.setPixel(x, y,
                           c == QLatin1Char('#')   ? qRgb(0, 0, 0)
                           : c == QLatin1Char('o') ? qRgb(255, 254, 255)
                                                   : qRgb(255, 255, 255));
        }
    }
    return image;
}
} // namespace

class TestSkinRegion : public QObject
{
    Q_OBJECT
private slots:
    void regionFromMask_data();
    void regionFromMask();
    void runsScanBottomToTop();
    void eighteenPixelPicture();
    void roundedWindowShape();
    void scaledToTheButton();
};

void TestSkinRegion::regionFromMask_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QList<QRect>>("runs");
    QTest::addRow("all white: nothing is left")
        << QStringList{QStringLiteral("...."), QStringLiteral("....")} << QList<QRect>{};
    QTest::addRow("one bit off white is opaque")
        << QStringList{QStringLiteral(".o..")} << QList<QRect>{QRect(1, 0, 1, 1)};
    QTest::addRow("run reaching the right edge ends with its row")
        << QStringList{QStringLiteral("..##"), QStringLiteral("#...")}
        << QList<QRect>{QRect(0, 1, 1, 1), QRect(2, 0, 2, 1)};
    QTest::addRow("run starting in the last column does not spill over")
        << QStringList{QStringLiteral("...#"), QStringLiteral("....")}
        << QList<QRect>{QRect(3, 0, 1, 1)};
    QTest::addRow("two runs in a row") << QStringList{QStringLiteral("##.##.")}
                                       << QList<QRect>{QRect(0, 0, 2, 1), QRect(3, 0, 2, 1)};
    QTest::addRow("all black: one run per row")
        << QStringList{QStringLiteral("###"), QStringLiteral("###")}
        << QList<QRect>{QRect(0, 1, 3, 1), QRect(0, 0, 3, 1)};
}

void TestSkinRegion::regionFromMask()
{
    QFETCH(QStringList, rows);
    QFETCH(QList<QRect>, runs);
    const QImage mask = maskFrom(rows);
    QCOMPARE(SkinRegion::OpaqueRuns(mask), runs);
    QRegion expected;
    for (const QRect& r : runs)
        expected += r;
    QCOMPARE(SkinRegion::FromMask(mask), expected);
    // Every pixel is in the region exactly when it is not pure white.
    const QRegion region = SkinRegion::FromMask(mask);
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            QCOMPARE(region.contains(QPoint(x, y)), (mask.pixel(x, y) & 0xffffff) != 0xffffff);
}

void TestSkinRegion::runsScanBottomToTop()
{
    const QList<QRect> runs = SkinRegion::OpaqueRuns(
        maskFrom({QStringLiteral("#.."), QStringLiteral(".#."), QStringLiteral("..#")}));
    QCOMPARE(runs, (QList<QRect>{QRect(2, 2, 1, 1), QRect(1, 1, 1, 1), QRect(0, 0, 1, 1)}));
    QVERIFY(SkinRegion::FromMask(QImage()).isEmpty());
}

void TestSkinRegion::eighteenPixelPicture()
{
    // A round 18-pixel mask: the corners are see-through, the middle is not,
    // and the region never leaves the picture.
    QImage mask(18, 18, QImage::Format_RGB32);
    mask.fill(Qt::white);
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 18; ++x)
            if ((x - 8.5) * (x - 8.5) + (y - 8.5) * (y - 8.5) <= 81)
                mask.setPixel(x, y, qRgb(0, 0, 0));
    const QRegion region = SkinRegion::FromMask(mask);
    QVERIFY(!region.contains(QPoint(0, 0)));
    QVERIFY(!region.contains(QPoint(17, 17)));
    QVERIFY(region.contains(QPoint(9, 9)));
    QVERIFY(region.contains(QPoint(0, 9)));
    QVERIFY(region.contains(QPoint(17, 9)));
    QCOMPARE(region.boundingRect(), QRect(0, 0, 18, 18));
}

void TestSkinRegion::roundedWindowShape()
{
    const QRegion shape = SkinRegion::RoundedRect(QSize(324, 481), QSize(18, 18));
    QCOMPARE(shape.boundingRect(), QRect(0, 0, 324, 481));
    // Corners are cut, symmetric on all four sides; edges between them stay.
    for (const QPoint corner : {QPoint(0, 0), QPoint(323, 0), QPoint(0, 480), QPoint(323, 480),
                                QPoint(1, 1), QPoint(322, 479)})
        QVERIFY2(!shape.contains(corner),
                 qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
    for (const QPoint inside : {QPoint(9, 0), QPoint(0, 9), QPoint(314, 0), QPoint(323, 471),
                                QPoint(5, 5), QPoint(318, 475), QPoint(162, 240)})
        QVERIFY2(shape.contains(inside),
                 qPrintable(QStringLiteral("%1,%2").arg(inside.x()).arg(inside.y())));
    QVERIFY(SkinRegion::RoundedRect(QSize(), QSize(18, 18)).isEmpty());
}

void TestSkinRegion::scaledToTheButton()
{
    const QRegion region(QRect(1, 0, 2, 1));
    QCOMPARE(SkinRegion::Scaled(region, QSize(4, 2), QSize(8, 4)), QRegion(QRect(2, 0, 4, 2)));
    QCOMPARE(SkinRegion::Scaled(region, QSize(4, 2), QSize(4, 2)), region);
}

QTEST_APPLESS_MAIN(TestSkinRegion)
#include "tst_skinregion.moc"

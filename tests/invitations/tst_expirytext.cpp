#include "invitations/InvitationInfo.h"

#include <QtTest>

#include <clocale>
#include <ctime>

namespace {
// File time of a UTC calendar instant plus milliseconds.
std::uint64_t Utc(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return FileTime::FromUnixSeconds(timegm(&fields)) + std::uint64_t(ms) * 10000;
}
} // namespace

class TestExpiryText : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void format_data();
    void format();
    void englishWhateverTheLocale();

private:
    QByteArray m_savedTz = qgetenv("TZ");
};

void TestExpiryText::cleanup()
{
    qputenv("TZ", m_savedTz);
}

void TestExpiryText::format_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<quint64>("expiry");
    QTest::addColumn<QString>("text");

    // POSIX zone strings need no zone database; the sign is reversed there.
    const QByteArray utcPlus1 = "<+01>-1";
    const QByteArray berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
    QTest::addRow("UTC+1 without daylight saving")
        << utcPlus1 << quint64(Utc(2025, 3, 7, 12, 5, 9))
        << QStringLiteral("Friday, March 07, 2025 01:05:09 PM");
    QTest::addRow("local midnight is 12 AM")
        << utcPlus1 << quint64(Utc(2024, 12, 31, 23, 0, 0))
        << QStringLiteral("Wednesday, January 01, 2025 12:00:00 AM");
    QTest::addRow("noon is 12 PM") << QByteArray("UTC0") << quint64(Utc(2024, 2, 29, 12, 0, 0))
                                   << QStringLiteral("Thursday, February 29, 2024 12:00:00 PM");
    QTest::addRow("999 ms never move the second")
        << QByteArray("UTC0") << quint64(Utc(2025, 3, 7, 12, 5, 9, 999))
        << QStringLiteral("Friday, March 07, 2025 12:05:09 PM");
    QTest::addRow("999 ms before midnight stay on the day")
        << QByteArray("UTC0") << quint64(Utc(2025, 12, 31, 23, 59, 59, 999))
        << QStringLiteral("Wednesday, December 31, 2025 11:59:59 PM");
    // The rule of the expiry's own date, not of today.
    QTest::addRow("summer time of that date")
        << berlin << quint64(Utc(2025, 7, 1, 12, 0, 0))
        << QStringLiteral("Tuesday, July 01, 2025 02:00:00 PM");
    QTest::addRow("winter time of that date")
        << berlin << quint64(Utc(2025, 1, 15, 12, 0, 0))
        << QStringLiteral("Wednesday, January 15, 2025 01:00:00 PM");
    QTest::addRow("last second of 9999")
        << QByteArray("UTC0") << quint64(Utc(9999, 12, 31, 23, 59, 59, 999))
        << QStringLiteral("Friday, December 31, 9999 11:59:59 PM");
    QTest::addRow("local year 10000 is out of range")
        << utcPlus1 << quint64(Utc(9999, 12, 31, 23, 30, 0)) << QStringLiteral("Invalid DateTime");
    QTest::addRow("year 10000") << QByteArray("UTC0") << quint64(Utc(10000, 1, 1, 0, 0, 0))
                                << QStringLiteral("Invalid DateTime");
    QTest::addRow("largest file time")
        << QByteArray("UTC0") << quint64(~0ULL) << QStringLiteral("Invalid DateTime");
    QTest::addRow("file time zero") << QByteArray("UTC0") << quint64(0)
                                    << QStringLiteral("Monday, January 01, 1601 12:00:00 AM");
}

void TestExpiryText::format()
{
    QFETCH(QByteArray, tz);
    QFETCH(quint64, expiry);
    QFETCH(QString, text);
    qputenv("TZ", tz);
    QCOMPARE(FormatExpiryText(expiry), text);
}

void TestExpiryText::englishWhateverTheLocale()
{
    // A German locale built for this test only (LOCPATH), so the user's own
    // names would show if the C library's locale leaked into the text.
    QTemporaryDir locales;
    QVERIFY(locales.isValid());
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                     QStringLiteral("UTF-8"), locales.filePath(QStringLiteral("de_DE.UTF-8"))});
    if (!localedef.waitForFinished(60000) || localedef.exitCode() != 0)
        QSKIP("localedef cannot build a German locale here");
    qputenv("LOCPATH", QFile::encodeName(locales.path()));
    QVERIFY(setlocale(LC_ALL, "de_DE.UTF-8"));
    qputenv("TZ", "UTC0");
    const time_t instant = FileTime::ToUnixSeconds(Utc(2025, 3, 7, 12, 5, 9));
    struct tm fields = {};
    gmtime_r(&instant, &fields);
    char localised[128] = {};
    strftime(localised, sizeof localised, "%A %B", &fields);
    const QByteArray german(localised);
    const QString text = FormatExpiryText(Utc(2025, 3, 7, 12, 5, 9));
    setlocale(LC_ALL, "C");
    qunsetenv("LOCPATH");
    QCOMPARE(german, QByteArray("Freitag M\xc3\xa4rz"));
    QCOMPARE(text, QStringLiteral("Friday, March 07, 2025 12:05:09 PM"));
}

QTEST_GUILESS_MAIN(TestExpiryText)
#include "tst_expirytext.moc"

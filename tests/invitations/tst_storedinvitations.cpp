#include "foundation/Paths.h"
#include "invitations/ExpiryReminder.h"
#include "invitations/InvitationInfo.h"
#include "invitations/StoredInvitations.h"
#include "resources/StringTable.h"
#include "tests/invitations/StoredFixtures.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(CStoredNetwork)

using namespace StoredFixtures;

namespace {
constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 86400;

QStringList SubjectNames(const QList<CStoredNetwork>& networks)
{
    QStringList names;
    for (const CStoredNetwork& network : networks)
        names << network.subjectName;
    names.sort();
    return names;
}

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

std::uint64_t Ticks(qint64 seconds)
{
    return std::uint64_t(seconds) * FileTime::kTicksPerSecond;
}

CStoredNetwork Network(const QString& subject, const QString& display, std::uint64_t expiry = 0)
{
    CStoredNetwork network;
    network.subjectName = subject;
    network.displayName = display;
    network.expiry = expiry;
    network.expiryText = FormatExpiryText(expiry);
    return network;
}

void ForgetReminders()
{
    std::unique_ptr<QSettings> settings(Settings::NewUserStore());
    settings->remove(QLatin1String(CExpiryReminder::kSettingsGroup));
    settings->sync();
}

QString ToldOn(const QString& name)
{
    std::unique_ptr<QSettings> settings(Settings::NewUserStore());
    return settings
        ->value(QLatin1String(CExpiryReminder::kSettingsGroup) + u'/' + name, QStringLiteral("-"))
        .toString();
}
} // namespace

// Reading the local folder for the Existing Networks list and for the
// expiry reminders, with real files and real OpenSSL.
class TestStoredInvitations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void expiredAreDeletedOnlyInsideTheFolder();
    void unreadableFileCostsOnlyItself_data();
    void unreadableFileCostsOnlyItself();
    void unusableFileNamesAreNeverDeleted();
    void stopsBetweenFiles();
    void scanOffTheCallingThread();
    void listTexts_data();
    void listTexts();
    void remainingText_data();
    void remainingText();
    void unreadableText();
    void reminderDue_data();
    void reminderDue();
    void reminderOncePerDayAndOnlyWhenShown();
    void reminderRereadsChangedFiles();
    void reminderPlansForTheNextNetwork();

private:
    QString outside(const QString& name) const { return QDir(m_env.root()).filePath(name); }

    TestEnvironment m_env;
};

void TestStoredInvitations::initTestCase()
{
    QVERIFY(m_env.isValid());
}

void TestStoredInvitations::init()
{
    QDir(Paths::StoreFolder()).removeRecursively();
    QVERIFY(Paths::MakePath(Paths::LocalStoreFolder()));
    ForgetReminders();
}

void TestStoredInvitations::expiredAreDeletedOnlyInsideTheFolder()
{
    QVERIFY(WriteNetwork(QStringLiteral("Alpha-0001"), QStringLiteral("Alpha"), 10 * kDay));
    QVERIFY(WriteNetwork(QStringLiteral("Beta-0002"), QStringLiteral("Beta"), 2 * kHour));
    // Expired, and its certificate names a path: only its own file may go.
    QVERIFY(WriteNetwork(QStringLiteral("Old-0003"), QStringLiteral("Old"), -kDay,
                         QStringLiteral("../victim")));
    // What a careless join of folder and name would reach, and neighbours
    // that are no stored invitations.
    const QStringList untouchable = {
        QDir(Paths::StoreFolder()).filePath(QStringLiteral("victim.cert")),
        QDir(Paths::ProductFolder()).filePath(QStringLiteral("victim.cert")),
        outside(QStringLiteral("victim.cert")),
        QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("notes.txt")),
        QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("Old-0003.cert.bak"))};
    const QByteArray expiredBytes = ReadAll(StoredPath(QStringLiteral("Old-0003")));
    for (const QString& path : untouchable)
        QVERIFY(WriteBytes(path, expiredBytes));
    QVERIFY(QDir().mkpath(QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("dir.cert"))));

    const CStoredScanResult result = StoredInvitations::Scan();
    QVERIFY(!result.stopped);
    QCOMPARE(SubjectNames(result.networks),
             (QStringList{QStringLiteral("Alpha-0001"), QStringLiteral("Beta-0002")}));
    QCOMPARE(result.deleted, QStringList{QStringLiteral("Old-0003")});
    QVERIFY(result.unreadable.isEmpty());
    QVERIFY(!QFileInfo::exists(StoredPath(QStringLiteral("Old-0003"))));
    for (const QString& path : untouchable)
        QCOMPARE(ReadAll(path), expiredBytes);
    QVERIFY(
        QFileInfo(QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("dir.cert"))).isDir());

    for (const CStoredNetwork& network : result.networks) {
        CInvitationInfo info;
        QVERIFY(info.ReadInvitationFile(StoredPath(network.subjectName)));
        QCOMPARE(network.displayName, info.GetSessionDisplayName());
        QCOMPARE(network.expiry, info.GetExpiry());
        QCOMPARE(network.expiryText, FormatExpiryText(info.GetExpiry()));
    }
}

void TestStoredInvitations::unreadableFileCostsOnlyItself_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("readable");
    for (const BadInput& input : BadInputs(outside(QStringLiteral("sample.cert"))))
        QTest::addRow("%s", input.what) << input.bytes << false;
    const QString legacy = outside(QStringLiteral("legacy.cert"));
    QVERIFY(WriteLegacy(legacy, TestCertificates::MakeValid(QStringLiteral("Middle")),
                        QStringLiteral("Old tools")));
    QTest::addRow("legacy PKCS #12 algorithms are read") << ReadAll(legacy) << true;
}

void TestStoredInvitations::unreadableFileCostsOnlyItself()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, readable);
    // Enough neighbours that some lie after the damaged file whatever order
    // the folder gives: they are all read, and expired ones still deleted.
    QStringList valid;
    for (int i = 0; i < 4; ++i) {
        valid << QStringLiteral("Net-%1").arg(i);
        QVERIFY(WriteNetwork(valid.last(), QStringLiteral("Net"), kDay));
        QVERIFY(WriteNetwork(QStringLiteral("Expired-%1").arg(i), QStringLiteral("Gone"), -kHour));
    }
    QVERIFY(WriteBytes(StoredPath(QStringLiteral("Middle")), bytes));

    const CStoredScanResult result = StoredInvitations::Scan();
    if (readable) {
        valid << QStringLiteral("Middle");
        QVERIFY(result.unreadable.isEmpty());
    } else {
        QCOMPARE(result.unreadable, QStringList{QStringLiteral("Middle.cert")});
    }
    QCOMPARE(SubjectNames(result.networks), Sorted(valid));
    QCOMPARE(result.deleted.size(), 4);
    // Never deleted, never changed.
    QCOMPARE(ReadAll(StoredPath(QStringLiteral("Middle"))), bytes);
    QCOMPARE(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files).size(), 5);
}

void TestStoredInvitations::unusableFileNamesAreNeverDeleted()
{
    // Expired stored invitations under names that no name-based delete or
    // export could reach again: reported, left in place.
    const QByteArray expired = [] {
        const qint64 now = TestCertificates::NowUnix();
        const QString scratch = QDir(Paths::StoreFolder()).filePath(QStringLiteral("x"));
        Write(scratch, TestCertificates::Make(QStringLiteral("x"), now - 2 * kDay, now - kDay),
              QStringLiteral("Old"));
        const QByteArray bytes = ReadAll(scratch);
        QFile::remove(scratch);
        return bytes;
    }();
    const QStringList odd = {QStringLiteral("a..b.cert"), QStringLiteral(".cert"),
                             QStringLiteral("tab\there.cert")};
    for (const QString& name : odd)
        QVERIFY(WriteBytes(QDir(Paths::LocalStoreFolder()).filePath(name), expired));
    // Not ".cert" at all, however alike.
    QVERIFY(WriteBytes(QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("Upper.CERT")),
                       expired));

    const CStoredScanResult result = StoredInvitations::Scan();
    QVERIFY(result.networks.isEmpty());
    QVERIFY(result.deleted.isEmpty());
    QCOMPARE(Sorted(result.unreadable), Sorted(odd));
    QCOMPARE(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

void TestStoredInvitations::stopsBetweenFiles()
{
    for (int i = 0; i < 3; ++i)
        QVERIFY(WriteNetwork(QStringLiteral("Old-%1").arg(i), QStringLiteral("Old"), -kHour));
    QList<std::pair<int, int>> calls;
    const CStoredScanResult result = StoredInvitations::Scan([&calls](int done, int total) {
        calls.append({done, total});
        return done < 1;
    });
    QVERIFY(result.stopped);
    QCOMPARE(calls, (QList<std::pair<int, int>>{{0, 3}, {1, 3}}));
    // Exactly the one file before the stop was handled.
    QCOMPARE(result.deleted.size(), 1);
    QCOMPARE(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files).size(), 2);
}

void TestStoredInvitations::scanOffTheCallingThread()
{
    for (int i = 0; i < 6; ++i)
        QVERIFY(WriteNetwork(QStringLiteral("Net-%1").arg(i), QStringLiteral("Net"), kDay));
    QFutureWatcher<CStoredScanResult> watcher;
    QSignalSpy range(&watcher, &QFutureWatcher<CStoredScanResult>::progressRangeChanged);
    QSignalSpy finished(&watcher, &QFutureWatcher<CStoredScanResult>::finished);
    watcher.setFuture(StoredInvitations::StartScan());
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(watcher.future().resultCount(), 1);
    QCOMPARE(watcher.result().networks.size(), 6);
    QVERIFY(!range.isEmpty());
    QCOMPARE(range.last().at(1).toInt(), 6);
    QCOMPARE(watcher.progressValue(), 6);
}

void TestStoredInvitations::listTexts_data()
{
    QTest::addColumn<QList<CStoredNetwork>>("networks");
    QTest::addColumn<QStringList>("texts");
    QTest::addRow("distinct names as they are")
        << QList<CStoredNetwork>{Network(QStringLiteral("A-1"), QStringLiteral("Games")),
                                 Network(QStringLiteral("B-2"), QStringLiteral("Office"))}
        << QStringList{QStringLiteral("Games"), QStringLiteral("Office")};
    QTest::addRow("shared names get their network name")
        << QList<CStoredNetwork>{Network(QStringLiteral("Team-1"), QStringLiteral("Team")),
                                 Network(QStringLiteral("Solo-9"), QStringLiteral("Solo")),
                                 Network(QStringLiteral("Team-2"), QStringLiteral("Team"))}
        << QStringList{QStringLiteral("Team (Team-1)"), QStringLiteral("Solo"),
                       QStringLiteral("Team (Team-2)")};
    QTest::addRow("no display name shows the network name")
        << QList<CStoredNetwork>{Network(QStringLiteral("X-1"), QString()),
                                 Network(QStringLiteral("X-2"), QString())}
        << QStringList{QStringLiteral("X-1"), QStringLiteral("X-2")};
    QTest::addRow("a percent sign is not a format")
        << QList<CStoredNetwork>{Network(QStringLiteral("P-1"), QStringLiteral("100% %1")),
                                 Network(QStringLiteral("P-2"), QStringLiteral("100% %1"))}
        << QStringList{QStringLiteral("100% %1 (P-1)"), QStringLiteral("100% %1 (P-2)")};
}

void TestStoredInvitations::listTexts()
{
    QFETCH(QList<CStoredNetwork>, networks);
    QTEST(StoredInvitations::ListTexts(networks), "texts");
}

void TestStoredInvitations::remainingText_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::addRow("ended") << qint64(-5) << QStringLiteral("has expired");
    QTest::addRow("ends now") << qint64(0) << QStringLiteral("has expired");
    QTest::addRow("seconds") << qint64(59) << QStringLiteral("expires in less than a minute");
    QTest::addRow("a minute") << qint64(119) << QStringLiteral("expires in 1 minute");
    QTest::addRow("minutes") << qint64(59 * 60 + 59) << QStringLiteral("expires in 59 minutes");
    QTest::addRow("an hour") << kHour << QStringLiteral("expires in 1 hour");
    QTest::addRow("hours") << 5 * kHour + 1799 << QStringLiteral("expires in 5 hours");
    QTest::addRow("a day and more in hours")
        << 47 * kHour + 3599 << QStringLiteral("expires in 47 hours");
    QTest::addRow("days from two on") << 2 * kDay << QStringLiteral("expires in 2 days");
    QTest::addRow("whole days, rounded down")
        << 3 * kDay + 23 * kHour << QStringLiteral("expires in 3 days");
    QTest::addRow("far") << 400 * kDay << QStringLiteral("expires in 400 days");
}

void TestStoredInvitations::remainingText()
{
    QFETCH(qint64, seconds);
    // Sub-second parts never push a text over a boundary.
    const std::uint64_t now = Ticks(13000000000LL) + 1234567;
    const std::uint64_t expiry = std::uint64_t(std::int64_t(now) + seconds * 10000000LL);
    QTEST(StoredInvitations::RemainingText(expiry, now), "text");
}

void TestStoredInvitations::unreadableText()
{
    QStringList names;
    for (int i = 0; i < 25; ++i)
        names << QStringLiteral("n%1.cert").arg(i);
    names[1] = QStringLiteral("line\nbreak\x1b[2J.cert");
    const QStringList lines = StoredInvitations::UnreadableText(names).split(u'\n');
    QCOMPARE(lines.first(), LoadString(20101));
    // Twenty names, then how many more; a name cannot add lines of its own.
    QCOMPARE(lines.size(), 1 + 20 + 1);
    QCOMPARE(lines.at(1), QStringLiteral("n0.cert"));
    QCOMPARE(lines.at(2), QStringLiteral("line?break?[2J.cert"));
    QCOMPARE(lines.last(), QStringLiteral("... and 5 more"));
    QCOMPARE(StoredInvitations::UnreadableText({QStringLiteral("a.cert")}),
             LoadString(20101) + QStringLiteral("\na.cert"));
}

void TestStoredInvitations::reminderDue_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<int>("toldDaysAgo"); // -1: never
    QTest::addColumn<bool>("due");
    QTest::addRow("ends within the day") << 5 * kHour << -1 << true;
    QTest::addRow("ends in exactly a day") << kDay << -1 << true;
    QTest::addRow("a second more than a day") << kDay + 1 << -1 << false;
    QTest::addRow("told today") << 5 * kHour << 0 << false;
    QTest::addRow("told yesterday") << 5 * kHour << 1 << true;
    QTest::addRow("already ended") << qint64(-1) << -1 << false;
}

void TestStoredInvitations::reminderDue()
{
    QFETCH(qint64, seconds);
    QFETCH(int, toldDaysAgo);
    const std::uint64_t now = FileTime::Now();
    const QDate today(2025, 3, 7);
    QHash<QString, QDate> told;
    if (toldDaysAgo >= 0)
        told.insert(QStringLiteral("N-1"), today.addDays(-toldDaysAgo));
    told.insert(QStringLiteral("Other"), today);
    const QList<CStoredNetwork> networks = {
        Network(QStringLiteral("N-1"), QStringLiteral("N"),
                std::uint64_t(std::int64_t(now) + seconds * 10000000LL))};
    const QList<CStoredNetwork> due = CExpiryReminder::Due(networks, now, told, today);
    QTEST(!due.isEmpty(), "due");
}

void TestStoredInvitations::reminderOncePerDayAndOnlyWhenShown()
{
    QVERIFY(
        WriteNetwork(QStringLiteral("Soon-0001"), QStringLiteral("Design Team"), 5 * kHour + 1800));
    QVERIFY(WriteNetwork(QStringLiteral("Later-0002"), QStringLiteral("Games"), 3 * kDay));
    QVERIFY(WriteNetwork(QStringLiteral("Gone-0003"), QStringLiteral("Old"), -kHour));
    QVERIFY(WriteBytes(StoredPath(QStringLiteral("Broken")), QByteArray("not an invitation")));

    QStringList shown;
    bool trayThere = false;
    CExpiryReminder reminder;
    reminder.SetNotifier([&](const QString& title, const QString& text) {
        if (!trayThere)
            return false;
        shown << title + u'|' + text;
        return true;
    });
    QSignalSpy checked(&reminder, &CExpiryReminder::checked);

    // No tray: nothing reached the user, so nothing counts as told.
    reminder.Start();
    QTRY_COMPARE(checked.size(), 1);
    QVERIFY(shown.isEmpty());
    QCOMPARE(ToldOn(QStringLiteral("Soon-0001")), QStringLiteral("-"));
    // The next check comes within the hour.
    QVERIFY2(reminder.RemainingTimeMs() > 0 && reminder.RemainingTimeMs() <= 3600 * 1000,
             qPrintable(QString::number(reminder.RemainingTimeMs())));

    trayThere = true;
    reminder.CheckNow();
    QTRY_COMPARE(checked.size(), 2);
    QCOMPARE(shown.size(), 1);
    CInvitationInfo soon;
    QVERIFY(soon.ReadInvitationFile(StoredPath(QStringLiteral("Soon-0001"))));
    QCOMPARE(shown.first(), QStringLiteral("Network expiring soon|The network Design Team "
                                           "expires in 5 hours (%1). Use Existing Networks to "
                                           "invite people again while it lasts.")
                                .arg(soon.GetExpiryText()));
    QCOMPARE(ToldOn(QStringLiteral("Soon-0001")), QDate::currentDate().toString(Qt::ISODate));

    // Once a day: a later check, or a new program, says nothing more today.
    reminder.CheckNow();
    QTRY_COMPARE(checked.size(), 3);
    CExpiryReminder restarted;
    restarted.SetNotifier([&](const QString&, const QString& text) {
        shown << text;
        return true;
    });
    QSignalSpy restartedChecked(&restarted, &CExpiryReminder::checked);
    restarted.CheckNow();
    QTRY_COMPARE(restartedChecked.size(), 1);
    QCOMPARE(shown.size(), 1);

    // Reading for reminders changes nothing in the folder.
    QVERIFY(QFileInfo::exists(StoredPath(QStringLiteral("Gone-0003"))));
    QVERIFY(QFileInfo::exists(StoredPath(QStringLiteral("Broken"))));

    // A network that is gone is forgotten.
    QVERIFY(QFile::remove(StoredPath(QStringLiteral("Soon-0001"))));
    reminder.CheckNow();
    QTRY_COMPARE(checked.size(), 4);
    QCOMPARE(ToldOn(QStringLiteral("Soon-0001")), QStringLiteral("-"));
    QCOMPARE(shown.size(), 1);
}

void TestStoredInvitations::reminderRereadsChangedFiles()
{
    QVERIFY(WriteNetwork(QStringLiteral("One-0001"), QStringLiteral("One"), 3 * kDay));
    QVERIFY(WriteNetwork(QStringLiteral("Two-0002"), QStringLiteral("Two"), 4 * kDay));
    QStringList shown;
    CExpiryReminder reminder;
    reminder.SetNotifier([&](const QString&, const QString& text) {
        shown << text;
        return true;
    });
    QSignalSpy checked(&reminder, &CExpiryReminder::checked);
    reminder.CheckNow();
    QTRY_COMPARE(checked.size(), 1);
    QVERIFY(shown.isEmpty());

    // The service replaces both stored invitations with short-lived ones:
    // both are in the next reminder, in one notification.
    QVERIFY(WriteNetwork(QStringLiteral("One-0001"), QStringLiteral("One"), 2 * kHour));
    QVERIFY(WriteNetwork(QStringLiteral("Two-0002"), QStringLiteral("Two"), 3 * kHour));
    reminder.CheckNow();
    QTRY_COMPARE(checked.size(), 2);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith(QStringLiteral("2 networks expire within 24 hours: ")),
             qPrintable(shown.first()));
    QVERIFY(shown.first().contains(QStringLiteral("One")));
    QVERIFY(shown.first().contains(QStringLiteral("Two")));
}

void TestStoredInvitations::reminderPlansForTheNextNetwork()
{
    // Enters its last day ten seconds from now: the hourly rhythm would
    // notice it up to an hour late.
    QVERIFY(WriteNetwork(QStringLiteral("Edge-0001"), QStringLiteral("Edge"), kDay + 10));
    QStringList shown;
    CExpiryReminder reminder;
    reminder.SetNotifier([&](const QString&, const QString& text) {
        shown << text;
        return true;
    });
    QSignalSpy checked(&reminder, &CExpiryReminder::checked);
    reminder.Start(std::chrono::hours(1));
    QTRY_COMPARE(checked.size(), 1);
    QVERIFY(shown.isEmpty());
    QVERIFY2(reminder.RemainingTimeMs() <= 12000,
             qPrintable(QString::number(reminder.RemainingTimeMs())));
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 30000);
    reminder.Stop();
    QCOMPARE(reminder.RemainingTimeMs(), -1);
}

QTEST_GUILESS_MAIN(TestStoredInvitations)
#include "tst_storedinvitations.moc"

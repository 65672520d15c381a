#include "foundation/XmlSerializer.h"
#include "sessions/SessionTypeCatalog.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Entries = QList<QPair<QString, QString>>;

namespace {
QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text)); // blanks are skipped
}

// The items of a session-type text, e.g. "S3389-3389,80-80,app:chat.exe".
QString describe(const QString& sessionType)
{
    CXmlSerializer reader;
    if (!reader.LoadXml(sessionType, s("TVLSessionStringFormat")))
        return s("<unreadable>");
    QStringList items;
    while (reader.NextChild(s("PortRange"))) {
        long start = -1;
        long stop = -1;
        QString service;
        reader.GetAttributeLong(s("PortStart"), start);
        reader.GetAttributeLong(s("PortStop"), stop);
        reader.GetAttribute(s("PortService"), service);
        items << (service == s("true")    ? s("S")
                  : service == s("false") ? QString()
                                          : s("?")) +
                     QString::number(start) + QLatin1Char('-') + QString::number(stop);
        reader.LeaveChild();
    }
    while (reader.NextChild(s("AppName"))) {
        QString name;
        reader.GetAttribute(s("AppNamAttr"), name);
        items << s("app:") + name;
        reader.LeaveChild();
    }
    return items.join(QLatin1Char(','));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

int modeOf(const QString& path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

ino_t inodeOf(const QString& path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

Entries sample()
{
    return {{s("Remote Assistance"), s("<x/>")},
            {s("é 漢字 😀"), QString(300, QLatin1Char('t'))},
            {QString(), s("empty name")},
            {s("web"), QString()}};
}
} // namespace

class TestSessionTypes : public QObject
{
    Q_OBJECT

    TestEnvironment m_env;

    QString folder() const { return m_env.appData() + s("/quornix/TervalaPro/sessions"); }
    QString catalogPath() const { return folder() + s("/SessionTypes.dat"); }
    QStringList folderEntries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    }

private slots:
    void init()
    {
        QDir dir(folder());
        QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner);
        QVERIFY(!dir.exists() || dir.removeRecursively());
    }

    // ---- The session-type text and the port notation -------------------------

    void formatKeepsOrderAndAttributes()
    {
        CSessionTypeFormat format;
        QVERIFY(format.AddPortRange(3389, 3389, true));
        QVERIFY(format.AddPortRange(65535, 0, false));
        QVERIFY(format.AddApplication(s("chat.exe")));
        QCOMPARE(format.GetText(),
                 s("<?xml version=\"1.0\" encoding=\"UTF-8\"?><TVLSessionStringFormat>"
                   "<PortRange PortStart=\"3389\" PortStop=\"3389\" PortService=\"true\"/>"
                   "<PortRange PortStart=\"65535\" PortStop=\"0\" PortService=\"false\"/>"
                   "<AppName AppNamAttr=\"chat.exe\"/></TVLSessionStringFormat>"));
    }

    void portList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("invalid");
        QTest::addColumn<QString>("items");

        QTest::addRow("list and range")
            << s("80,100,1200-1202") << true << false << s("80-80,100-100,1200-1202");
        QTest::addRow("service") << s("S3389") << true << false << s("S3389-3389");
        QTest::addRow("lower-case s not recognised") << s("s3389") << true << false << s("0-0");
        QTest::addRow("service and range")
            << s("S3389,1200-1202") << true << false << s("S3389-3389,1200-1202");
        QTest::addRow("every delimiter, no empty items")
            << s(";;80 ,, ;443:;S22: ") << true << false << s("80-80,443-443,S22-22");
        QTest::addRow("only delimiters") << s("; , :;, ") << false << false << QString();
        QTest::addRow("empty") << QString() << false << false << QString();
        QTest::addRow("first dash splits") << s("1-2-3") << true << false << s("1-2");
        QTest::addRow("reversed range kept") << s("90-80") << true << false << s("90-80");
        QTest::addRow("letters") << s("abc") << true << false << s("0-0");
        QTest::addRow("low 16 bits")
            << s("70000,S65536-65537") << true << false << s("4464-4464,S0-1");
        QTest::addRow("missing sides") << s("-5,7-,-") << true << false << s("0-5,7-0,0-0");
        QTest::addRow("sign and blanks inside a token")
            << s("\t+80,8-\t-1") << true << false << s("80-80,8-65535");
        QTest::addRow("tab is no delimiter") << s("80\t81") << true << false << s("80-80");
        QTest::addRow("digits then letters") << s("80abc-443x") << true << false << s("80-443");
        QTest::addRow("S alone") << s("S") << true << false << s("S0-0");
        QTest::addRow("only the first S") << s("SS80") << true << false << s("S0-0");
        QTest::addRow("non-ASCII digits") << s("٣٣٨٩,８０-９０") << true << false << s("0-0,0-0");
        QTest::addRow("nine-character sides")
            << s("123456789-000000443") << true << false << s("52501-443");
        QTest::addRow("long single number saturates")
            << s("99999999999999") << true << false << s("65535-65535");
        QTest::addRow("ten-character start side")
            << s("1234567890-1") << false << true << QString();
        QTest::addRow("ten-character stop side")
            << s("S1-0000000443") << false << true << QString();
        QTest::addRow("bad side after good items")
            << s("80,443,1-1234567890") << false << true << QString();
    }
    void portList()
    {
        QFETCH(QString, text);
        QFETCH(bool, found);
        QFETCH(bool, invalid);
        QFETCH(QString, items);

        CSessionTypeFormat format;
        bool refused = !invalid; // must be overwritten
        QCOMPARE(ParsePortList(text, format, &refused), found);
        QCOMPARE(refused, invalid);
        QCOMPARE(describe(format.GetText()), items);

        CSessionTypeFormat withoutFlag;
        QCOMPARE(ParsePortList(text, withoutFlag), found);
        QCOMPARE(withoutFlag.GetText(), format.GetText());
    }

    void portListOfAnyLength()
    {
        // 10,000 characters in one token, in many tokens, and as one range side.
        CSessionTypeFormat one;
        QVERIFY(ParsePortList(QString(10000, QLatin1Char('9')), one));
        QCOMPARE(describe(one.GetText()), s("65535-65535"));

        CSessionTypeFormat many;
        QVERIFY(ParsePortList(s("S1-2,").repeated(2000), many));
        QCOMPARE(describe(many.GetText()), QStringList(2000, s("S1-2")).join(QLatin1Char(',')));

        CSessionTypeFormat side;
        bool invalid = false;
        QVERIFY(!ParsePortList(s("80,1-") + QString(9995, QChar(0x0663)), side, &invalid));
        QVERIFY(invalid);
        QCOMPARE(describe(side.GetText()), QString());

        // Anything at all: every token gives one item unless a side is refused.
        QRandomGenerator random(11);
        const QString alphabet = s(" ,;:-S0123456789");
        QString junk;
        for (int i = 0; i < 10000; ++i) {
            junk.append(i % 3 ? alphabet.at(random.bounded(int(alphabet.size())))
                              : QChar(char16_t(random.bounded(0x10000))));
        }
        CSessionTypeFormat format;
        const bool found = ParsePortList(junk, format, &invalid);
        const qsizetype tokens =
            junk.split(QRegularExpression(s("[ ,;:]")), Qt::SkipEmptyParts).size();
        const QString items = describe(format.GetText());
        QCOMPARE(found, !invalid && tokens > 0);
        QCOMPARE(items.isEmpty() ? 0 : items.count(QLatin1Char(',')) + 1, invalid ? 0 : tokens);
    }

    // ---- The archive byte form -------------------------------------------------

    void layout_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QByteArray>("bytes");

        QTest::addRow("empty") << Entries() << hex("0000");
        QTest::addRow("one pair") << Entries{{s("A"), s("xy")}}
                                  << hex("0100 FFFEFF 01 4100  FFFEFF 02 7800 7900");
        QTest::addRow("empty strings and non-ASCII")
            << Entries{{QString(), s("é😀")}} << hex("0100 FFFEFF 00  FFFEFF 03 E900 3DD8 00DE");
    }
    void layout()
    {
        QFETCH(Entries, entries);
        QFETCH(QByteArray, bytes);
        QCOMPARE(CSessionTypeCatalog::Serialize(entries).toHex(' '), bytes.toHex(' '));
        Entries read;
        QString error;
        QVERIFY2(CSessionTypeCatalog::Deserialize(bytes, read, &error), qPrintable(error));
        QCOMPARE(read, entries);
    }

    void lengthAndCountForms_data()
    {
        QTest::addColumn<int>("units");
        QTest::addColumn<QByteArray>("lengthBytes"); // after the wide tag
        QTest::addRow("254") << 254 << hex("FE");
        QTest::addRow("255") << 255 << hex("FF FF00");
        QTest::addRow("300") << 300 << hex("FF 2C01");
        QTest::addRow("65533") << 65533 << hex("FF FDFF");
        QTest::addRow("65534") << 65534 << hex("FF FFFF FEFF0000");
        QTest::addRow("70000") << 70000 << hex("FF FFFF 70110100");
    }
    void lengthAndCountForms()
    {
        QFETCH(int, units);
        QFETCH(QByteArray, lengthBytes);
        const QString name(units, QChar(u'n'));
        const QByteArray bytes = CSessionTypeCatalog::Serialize({{name, s("t")}});
        QCOMPARE(bytes.left(5 + lengthBytes.size()).toHex(' '),
                 (hex("0100 FFFEFF") + lengthBytes).toHex(' '));
        QCOMPARE(bytes.size(), 2 + 3 + lengthBytes.size() + 2 * units + 3 + 1 + 2);
        Entries read;
        QVERIFY(CSessionTypeCatalog::Deserialize(bytes, read));
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.first().first, name);
    }

    void entryCounts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("countBytes");
        QTest::addRow("300") << 300 << hex("2C01");
        QTest::addRow("65534") << 65534 << hex("FEFF");
        QTest::addRow("65535: long form") << 65535 << hex("FFFF FFFF0000");
        QTest::addRow("70000: long form") << 70000 << hex("FFFF 70110100");
    }
    void entryCounts()
    {
        QFETCH(int, count);
        QFETCH(QByteArray, countBytes);
        Entries entries;
        entries.reserve(count);
        for (int i = 0; i < count; ++i)
            entries.append({QString::number(i), QString()});
        const QByteArray bytes = CSessionTypeCatalog::Serialize(entries);
        QCOMPARE(bytes.left(countBytes.size()).toHex(' '), countBytes.toHex(' '));
        QCOMPARE(bytes.mid(countBytes.size(), 5).toHex(' '), hex("FFFEFF 01 30").toHex(' '));
        Entries read;
        QVERIFY(CSessionTypeCatalog::Deserialize(bytes, read));
        QCOMPARE(read, entries);
    }

    // What other writers may put in the file: every form is read.
    void readsOtherWritersForms_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Entries>("entries");

        QTest::addRow("8-bit strings (UTF-8)") << hex("0200 03 616263 02 C3A9  FFFEFF 01 6200 00")
                                               << Entries{{s("abc"), s("é")}, {s("b"), QString()}};
        QTest::addRow("8-bit with a 2-byte length")
            << (hex("0100 01 6E FF 2C01") + QByteArray(300, 'z'))
            << Entries{{s("n"), QString(300, QLatin1Char('z'))}};
        QTest::addRow("8-bit with a 4-byte length")
            << (hex("0100 01 6E FF FFFF 03000000") + QByteArray("abc"))
            << Entries{{s("n"), s("abc")}};
        QTest::addRow("long count form for a small count")
            << hex("FFFF 01000000 FFFEFF 01 6100 FFFEFF 00") << Entries{{s("a"), QString()}};
        QTest::addRow("8-byte count form")
            << hex("FFFF FFFFFFFF 0100000000000000 FFFEFF 01 6100 FFFEFF 00")
            << Entries{{s("a"), QString()}};
        QTest::addRow("long length for a short wide string")
            << hex("0100 FFFEFF FF 0100 6100 FFFEFF FF FFFF 01000000 6200")
            << Entries{{s("a"), s("b")}};
        QTest::addRow("later duplicate replaces, keeps its place")
            << hex("0300 FFFEFF 01 6100 01 31  FFFEFF 01 6200 01 32  01 61 FFFEFF 01 3300")
            << Entries{{s("a"), s("3")}, {s("b"), s("2")}};
        QTest::addRow("names differing in case are two")
            << hex("0200 01 61 01 31 01 41 01 32") << Entries{{s("a"), s("1")}, {s("A"), s("2")}};
        QTest::addRow("lone surrogate survives")
            << hex("0100 FFFEFF 01 00D8 FFFEFF 00")
            << Entries{{QString(QChar(char16_t(0xD800))), QString()}};
    }
    void readsOtherWritersForms()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Entries, entries);
        Entries read;
        QString error;
        QVERIFY2(CSessionTypeCatalog::Deserialize(bytes, read, &error), qPrintable(error));
        QCOMPARE(read, entries);
        // Written back in the one wide form, it reads the same again.
        Entries again;
        QVERIFY(CSessionTypeCatalog::Deserialize(CSessionTypeCatalog::Serialize(read), again));
        QCOMPARE(again, entries);
    }

    // ---- Damage ----------------------------------------------------------------

    void damagedBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Entries>("kept");

        QByteArray huge = hex("0100 FFFEFF FF FFFF 00000080"); // 2^31 units
        huge.append(QByteArray(40 - huge.size(), 'a'));
        QTest::addRow("2^31 wide units in a 40-byte file") << huge << Entries();
        QTest::addRow("2^63 units, 8-byte length")
            << hex("0100 FFFEFF FF FFFF FFFFFFFF 0000000000000080 6100") << Entries();
        QTest::addRow("2^64-1 units")
            << hex("0100 FFFEFF FF FFFF FFFFFFFF FFFFFFFFFFFFFFFF 6100") << Entries();
        QTest::addRow("8-bit length past the end") << hex("0100 FF FFFF FFFFFF7F 61") << Entries();
        QTest::addRow("count larger than the file, pairs before kept")
            << hex("FFFF FFFFFF7F 01 61 01 62  01 63") << Entries{{s("a"), s("b")}};
        QTest::addRow("8-byte count of 2^63")
            << hex("FFFF FFFFFFFF 0000000000000080 01 61 00") << Entries{{s("a"), QString()}};
        QTest::addRow("odd byte count of UTF-16 units")
            << hex("0200 FFFEFF 01 6100 FFFEFF 00  FFFEFF 02 6200 63")
            << Entries{{s("a"), QString()}};
        QTest::addRow("empty file") << QByteArray() << Entries();
        QTest::addRow("one byte") << hex("01") << Entries();
    }
    void damagedBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Entries, kept);
        Entries read;
        QString error;
        QVERIFY(!CSessionTypeCatalog::Deserialize(bytes, read, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(read, kept);
    }

    // Every proper prefix of a valid file is damage that keeps exactly the
    // pairs it holds whole, through the class as the program uses it.
    void truncatedAtEveryByte()
    {
        const Entries entries = sample();
        QList<qsizetype> ends; // where each pair ends
        for (qsizetype k = 0; k <= entries.size(); ++k)
            ends.append(CSessionTypeCatalog::Serialize(entries.mid(0, k)).size());
        const QByteArray whole = CSessionTypeCatalog::Serialize(entries);
        QCOMPARE(whole.size(), ends.last());

        for (qsizetype cut = 0; cut < whole.size(); ++cut) {
            const QByteArray bytes = whole.left(cut);
            qsizetype complete = 0;
            while (complete + 1 < ends.size() && ends.at(complete + 1) <= cut)
                ++complete;
            Entries read;
            QVERIFY2(!CSessionTypeCatalog::Deserialize(bytes, read),
                     qPrintable(QString::number(cut)));
            QCOMPARE(read, entries.mid(0, complete));

            writeFile(catalogPath(), bytes);
            {
                CSessionTypeCatalog catalog;
                QVERIFY(!catalog.LoadError().isEmpty());
                QCOMPARE(catalog.GetNameCount(), int(complete));
                for (qsizetype i = 0; i < complete; ++i)
                    QCOMPARE(catalog.Lookup(entries.at(i).first), entries.at(i).second);
            }
            // Only read: the damaged file is left exactly as it was.
            QCOMPARE(readFile(catalogPath()), bytes);
            QVERIFY(!QFile::exists(catalogPath() + s(".damaged")));
        }
    }

    // A later Add New Session keeps what was read and keeps the damaged file
    // beside the new one.
    void addAfterDamageKeepsEverything()
    {
        // The last string lacks its tag's second half.
        const QByteArray damaged = CSessionTypeCatalog::Serialize(sample()).chopped(2);
        writeFile(catalogPath(), damaged);
        {
            CSessionTypeCatalog catalog;
            QCOMPARE(catalog.GetNameCount(), 3);
            QVERIFY(catalog.Add(s("SSH"), s("<ssh/>")));
        }
        CSessionTypeCatalog reopened;
        QVERIFY2(reopened.LoadError().isEmpty(), qPrintable(reopened.LoadError()));
        Entries expected = sample().mid(0, 3);
        expected.append({s("SSH"), s("<ssh/>")});
        QCOMPARE(reopened.Names(), (QStringList{expected.at(0).first, expected.at(1).first,
                                                expected.at(2).first, s("SSH")}));
        QCOMPARE(readFile(catalogPath()), CSessionTypeCatalog::Serialize(expected));
        QCOMPARE(readFile(reopened.DamagedCopyPath()), damaged);
    }

    void unreadableEntriesAreNotReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addRow("fifo") << s("fifo");
        QTest::addRow("directory") << s("directory");
    }
    void unreadableEntriesAreNotReplaced()
    {
        QFETCH(QString, kind);
        QVERIFY(QDir().mkpath(folder()));
        if (kind == s("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(catalogPath()).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkdir(catalogPath()));
        {
            CSessionTypeCatalog catalog; // must not block on the fifo
            QCOMPARE(catalog.GetNameCount(), 0);
            QVERIFY(!catalog.LoadError().isEmpty());
        }
        QFileInfo info(catalogPath());
        QVERIFY(kind == s("fifo") ? !info.isFile() && info.exists() : info.isDir());
    }

    void oversizedFileIsReadOnlyInPart()
    {
        // The second name would end inside the file, but beyond what is read.
        const qint64 limit = CSessionTypeCatalog::kMaxFileBytes;
        QByteArray head = CSessionTypeCatalog::Serialize({{s("a"), s("b")}});
        head[0] = 2;
        head += hex("FFFEFF FF FFFF");
        const auto units = quint32(limit / 2);
        head.append(reinterpret_cast<const char*>(&units), 4);
        writeFile(catalogPath(), head);
        QVERIFY(QFile::resize(catalogPath(), limit + 4096));
        CSessionTypeCatalog catalog;
        QCOMPARE(catalog.Names(), QStringList{s("a")});
        QVERIFY(catalog.LoadError().contains(QString::number(limit)));
    }

    // ---- The catalogue file ------------------------------------------------------

    void missingFileIsEmptyAndNotCreated()
    {
        {
            CSessionTypeCatalog catalog;
            QCOMPARE(catalog.FilePath(), catalogPath());
            QVERIFY(QFileInfo(folder()).isDir());
            QCOMPARE(catalog.GetNameCount(), 0);
            QVERIFY(catalog.LoadError().isEmpty());
            QCOMPARE(catalog.GetName(0), QString());
            QCOMPARE(catalog.Lookup(s("x")), QString());
        }
        QVERIFY(folderEntries().isEmpty());
    }

    void addSaveAndReload()
    {
        {
            CSessionTypeCatalog catalog;
            QVERIFY(catalog.Add(s("Web"), s("<web/>")));
            QVERIFY(catalog.Add(s("web"), s("<lower/>")));
            QVERIFY(!catalog.Add(s("Web"), s("<other/>")));
            QCOMPARE(catalog.Lookup(s("Web")), s("<web/>"));
        }
        QCOMPARE(folderEntries(), QStringList{s("SessionTypes.dat")}); // no temporary left
        QCOMPARE(modeOf(catalogPath()), 0644); // readable by the service and every user
        QCOMPARE(
            readFile(catalogPath()),
            CSessionTypeCatalog::Serialize({{s("Web"), s("<web/>")}, {s("web"), s("<lower/>")}}));

        // A catalogue that is open sees what another one saved after Load().
        CSessionTypeCatalog first;
        QVERIFY(first.Add(s("mine"), s("1")));
        {
            CSessionTypeCatalog second;
            QVERIFY(second.Add(s("theirs"), s("2")));
        }
        first.Load();
        QCOMPARE(first.Names(), (QStringList{s("Web"), s("web"), s("mine"), s("theirs")}));
        QCOMPARE(first.GetName(3), s("theirs"));
        QCOMPARE(first.Lookup(s("theirs")), s("2"));
    }

    void closingRewritesTheSameContent()
    {
        const QByteArray bytes = CSessionTypeCatalog::Serialize(sample());
        writeFile(catalogPath(), bytes);
        const ino_t before = inodeOf(catalogPath());
        {
            CSessionTypeCatalog catalog;
            QCOMPARE(catalog.GetNameCount(), int(sample().size()));
        }
        QVERIFY(inodeOf(catalogPath()) != before); // written anew
        QCOMPARE(readFile(catalogPath()), bytes);
    }

    // A save that cannot be written, whether the folder refuses the new file
    // or the write stops half-way, leaves the old catalogue as it was.
    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addRow("read-only folder") << s("read-only folder");
        QTest::addRow("write stops half-way") << s("file size limit");
    }
    void failedSaveKeepsTheOldFile()
    {
        QFETCH(QString, cause);
        const bool readOnly = cause == s("read-only folder");
        if (readOnly && ::geteuid() == 0)
            QSKIP("root writes into a read-only folder");
        const QByteArray bytes = CSessionTypeCatalog::Serialize(sample());
        writeFile(catalogPath(), bytes);
        CSessionTypeCatalog catalog;
        QVERIFY(catalog.Add(s("new"), QString(1000, QLatin1Char('n'))));

        struct rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (readOnly) {
            QVERIFY(
                QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        } else {
            struct rlimit small = saved;
            small.rlim_cur = 512;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const bool saved1 = catalog.Save();
        QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!saved1);
        QVERIFY(!catalog.SaveError().isEmpty());
        QCOMPARE(readFile(catalogPath()), bytes);
        QCOMPARE(folderEntries(), QStringList{s("SessionTypes.dat")}); // no temporary left
        QVERIFY(catalog.Save());
        QCOMPARE(CSessionTypeCatalog().Lookup(s("new")), QString(1000, QLatin1Char('n')));
    }

    // A link planted at the catalogue's path is replaced, never written through.
    void plantedLinkIsReplaced()
    {
        QVERIFY(QDir().mkpath(folder()));
        const QString victim = m_env.root() + s("/victim");
        writeFile(victim, "precious");
        QVERIFY(QFile::link(victim, catalogPath()));
        {
            CSessionTypeCatalog catalog;
            QVERIFY(catalog.Add(s("a"), s("b")));
        }
        QCOMPARE(readFile(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(catalogPath()).isSymLink());
        QCOMPARE(CSessionTypeCatalog().Names(), QStringList{s("a")});
    }
};

QTEST_GUILESS_MAIN(TestSessionTypes)
#include "tst_sessiontypes.moc"

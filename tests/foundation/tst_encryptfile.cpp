#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray utf16le(const QString& text, bool withZero)
{
    QByteArray out;
    for (QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    if (withZero)
        out.append(2, '\0');
    return out;
}

QByteArray rc4(const QByteArray& key, QByteArray data)
{
    CRc4 c(reinterpret_cast<const std::uint8_t*>(key.constData()), key.size());
    c.Apply(reinterpret_cast<std::uint8_t*>(data.data()), data.size());
    return data;
}
} // namespace

class TestEncryptFile : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_env;
    QString path(const char* name) const
    {
        return m_env.root() + QLatin1Char('/') + QLatin1String(name);
    }
    QString logText() const
    {
        const QByteArray b = readFile(GetLogFolder() + QStringLiteral("uilog.txt"));
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(b.constData() + 2),
                                  (b.size() - 2) / 2);
    }

private slots:
    void initTestCase()
    {
        // Error lines (bit 0x1) are checked below.
        const QString dir = m_env.configDirs() + QStringLiteral("/Quornix");
        QDir().mkpath(dir);
        writeFile(dir + QStringLiteral("/Tervala Pro.conf"), "[General]\nLogTraceLevel=1\n");
        OpenTraceLog();
        QCOMPARE(TraceLevel(), 1u);
    }
    void cleanupTestCase() { CloseTraceLog(); }

    void rc4Vectors_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        QTest::addRow("Key") << QByteArray("Key") << QByteArray("Plaintext")
                             << QByteArray::fromHex("BBF316E8D940AF0AD3");
        QTest::addRow("Wiki") << QByteArray("Wiki") << QByteArray("pedia")
                              << QByteArray::fromHex("1021BF0420");
        QTest::addRow("Secret") << QByteArray("Secret") << QByteArray("Attack at dawn")
                                << QByteArray::fromHex("45A01F645FC35B383552544B9BF5");
    }
    void rc4Vectors()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        QCOMPARE(rc4(key, plain), cipher);
        // Applying in pieces continues one keystream.
        CRc4 c(reinterpret_cast<const std::uint8_t*>(key.constData()), key.size());
        QByteArray data = plain;
        c.Apply(reinterpret_cast<std::uint8_t*>(data.data()), 2);
        c.Apply(reinterpret_cast<std::uint8_t*>(data.data()) + 2, data.size() - 2);
        QCOMPARE(data, cipher);
    }

    void roundTripWithFixedKey()
    {
        const QString file = path("stored.cert");
        const QString body = QStringLiteral("<Cert name=\"réseau 漢字 😀\"/>");
        {
            CEncryptFile f;
            QVERIFY(f.Create(file, CEncryptFile::FixedKey()));
            QVERIFY(f.WriteBody(body));
        }
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        const QByteArray raw = readFile(file);
        QCOMPARE(raw.size(), 38 + (body.size() + 1) * 2);
        // Header and body each start a fresh keystream of the key.
        const QByteArray key = utf16le(QStringLiteral("qz"), false);
        QCOMPARE(raw.left(38), rc4(key, utf16le(QStringLiteral("Encrypt.header.1.0"), true)));
        QCOMPARE(raw.mid(38), rc4(key, utf16le(body, true)));

        CEncryptFile g;
        QVERIFY(g.Open(file));
        QString text;
        QVERIFY(g.ReadBody(text));
        QCOMPARE(text, body);
        QVERIFY(g.ErrorText().isEmpty());
    }

    void keysDecideTheHeader()
    {
        const QString file = path("invitation.Tervalapro");
        {
            CEncryptFile f;
            QVERIFY(f.Create(file, QStringLiteral("secret1")));
            QVERIFY(f.WriteBody(QStringLiteral("payload")));
        }
        CEncryptFile fixed;
        QVERIFY(!fixed.Open(file));
        QCOMPARE(fixed.ErrorText(),
                 QStringLiteral("Invalid password or corrupted invitation file"));
        CEncryptFile wrong;
        QVERIFY(!wrong.OpenWithKey(file, QStringLiteral("Secret1")));
        CEncryptFile right;
        QVERIFY(right.OpenWithKey(file, QStringLiteral("secret1")));
        QString text;
        QVERIFY(right.ReadBody(text));
        QCOMPARE(text, QStringLiteral("payload"));
    }

    void headerCaseIsIgnored()
    {
        const QByteArray key = utf16le(QStringLiteral("qz"), false);
        const QString file = path("upper.cert");
        writeFile(file, rc4(key, utf16le(QStringLiteral("ENCRYPT.HEADER.1.0"), true)) +
                            rc4(key, utf16le(QStringLiteral("x"), true)));
        CEncryptFile f;
        QVERIFY(f.Open(file));
    }

    void longKeysAreCut()
    {
        const QString key(300, QLatin1Char('k'));
        const QString file = path("longkey.cert");
        {
            CEncryptFile f;
            QVERIFY(f.Create(file, key));
        }
        CEncryptFile g;
        QVERIFY(g.OpenWithKey(file, key.left(259)));
    }

    void emptyKeyIsRefused()
    {
        const QString file = path("nokey.cert");
        writeFile(file, "keep me");
        CEncryptFile f;
        QVERIFY(!f.Create(file, QString()));
        QVERIFY(
            f.ErrorText().startsWith(QStringLiteral("File creation failed for writing. Reason: ")));
        QCOMPARE(readFile(file), QByteArray("keep me"));
    }

    void createInMissingFolder()
    {
        CEncryptFile f;
        QVERIFY(!f.Create(path("missing/x.cert"), QStringLiteral("qz")));
        QCOMPARE(
            f.ErrorText(),
            QStringLiteral("File creation failed for writing. Reason: No such file or directory"));
        QCOMPARE(f.Handle(), -1);
        QVERIFY(logText().contains(
            QStringLiteral(" :  CEncryptFile::Create not create file (error 2)\r\n")));
    }

    void badContainers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // "-" for none: the path is prepared below
        QTest::addColumn<QString>("error");
        const QString invalid = QStringLiteral("Invalid password or corrupted invitation file");
        const QByteArray key = utf16le(QStringLiteral("qz"), false);
        const QByteArray header = rc4(key, utf16le(QStringLiteral("Encrypt.header.1.0"), true));
        QTest::addRow("empty") << QStringLiteral("empty.cert") << QByteArray() << QString();
        QTest::addRow("truncated header")
            << QStringLiteral("short.cert") << header.left(20) << invalid;
        QTest::addRow("header without zero")
            << QStringLiteral("nozero.cert") << header.left(36) << invalid;
        QTest::addRow("foreign") << QStringLiteral("foreign.cert")
                                 << QByteArray("<?xml version=\"1.0\"?><Not a container/>")
                                 << invalid;
        QTest::addRow("missing") << QStringLiteral("absent.cert") << QByteArray("-")
                                 << QStringLiteral(
                                        "Failed to open file. Reason: No such file or directory");
        QTest::addRow("folder") << QStringLiteral("adir") << QByteArray("-")
                                << QStringLiteral("Failed to open file. Reason: Is a directory");
        QTest::addRow("fifo") << QStringLiteral("afifo") << QByteArray("-")
                              << QStringLiteral("Failed to open file. Reason: Invalid argument");
    }
    void badContainers()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        const QString file = m_env.root() + QLatin1Char('/') + name;
        if (content != "-")
            writeFile(file, content);
        else if (name == QLatin1String("adir"))
            QDir().mkpath(file);
        else if (name == QLatin1String("afifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        CEncryptFile f;
        QVERIFY(!f.Open(file));
        QCOMPARE(f.ErrorText(), error);
    }

    void openFailureIsTraced()
    {
        CEncryptFile f;
        QVERIFY(!f.Open(path("never-there.cert")));
        QVERIFY(logText().contains(
            QStringLiteral(" :  CEncryptFile::Open not create file (error 2)\n\r\n")));
    }

    void hugeBodyIsRefused()
    {
        const QString file = path("huge.cert");
        {
            CEncryptFile f;
            QVERIFY(f.Create(file, CEncryptFile::FixedKey()));
        }
        // Sparse: the size is there without the bytes.
        QVERIFY(::truncate(QFile::encodeName(file).constData(),
                           CEncryptFile::kHeaderBytes + CEncryptFile::kMaxBodyBytes + 1) == 0);
        CEncryptFile g;
        QVERIFY(g.Open(file));
        QString text = QStringLiteral("untouched");
        QVERIFY(!g.ReadBody(text));
        QCOMPARE(text, QStringLiteral("untouched"));
        QCOMPARE(g.ErrorText(), QStringLiteral("Failed to open file. Reason: File too large"));

        // The largest accepted body still reads.
        QVERIFY(::truncate(QFile::encodeName(file).constData(),
                           CEncryptFile::kHeaderBytes + CEncryptFile::kMaxBodyBytes) == 0);
        CEncryptFile h;
        QVERIFY(h.Open(file));
        QVERIFY(h.ReadBody(text));
    }

    void oddBodyAndMissingZero()
    {
        // A body cut in the middle of a unit or without its zero still gives
        // the text it holds.
        const QByteArray key = utf16le(QStringLiteral("qz"), false);
        const QString file = path("odd.cert");
        QByteArray plain = utf16le(QStringLiteral("abc"), false);
        plain.append('\x41');
        writeFile(file,
                  rc4(key, utf16le(QStringLiteral("Encrypt.header.1.0"), true)) + rc4(key, plain));
        CEncryptFile f;
        QVERIFY(f.Open(file));
        QString text;
        QVERIFY(f.ReadBody(text));
        QCOMPARE(text, QStringLiteral("abc"));
    }
};

QTEST_GUILESS_MAIN(TestEncryptFile)
#include "tst_encryptfile.moc"

#include "foundation/Base64.h"

#include <QRandomGenerator>
#include <QtTest>

#include <openssl/evp.h>

namespace {
// The decoder written out group by group in 8-bit arithmetic, the way the
// format is defined; the codec's table-driven loops must agree with it on any
// input, stray characters included.
QByteArray referenceDecode(const QByteArray& input)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    quint8 table[256];
    memset(table, 0xFE, sizeof table);
    for (int i = 0; i < 64; ++i) {
        table[static_cast<quint8>(alphabet[i])] = static_cast<quint8>(i);
        table[static_cast<quint8>(alphabet[i]) + 128] = static_cast<quint8>(i);
    }
    table[0x3D] = table[0xBD] = 0xFF;
    QByteArray text;
    for (char c : input) {
        const auto u = static_cast<quint8>(c);
        if (!((u >= 7 && u <= 13) || u == 32))
            text.append(c);
    }
    QByteArray out;
    auto join = [&](quint8 v0, quint8 v1, quint8 v2, quint8 v3, int keep) {
        const quint8 b[3] = {static_cast<quint8>((v0 << 2) | (v1 >> 4)),
                             static_cast<quint8>((v1 << 4) | (v2 >> 2)),
                             static_cast<quint8>((v2 << 6) | v3)};
        out.append(reinterpret_cast<const char*>(b), keep);
    };
    qsizetype i = 0;
    for (; i + 4 <= text.size(); i += 4) {
        quint8 v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = table[static_cast<quint8>(text[i + k])];
        const bool p3 = v[2] == 0xFF, p4 = v[3] == 0xFF;
        join(v[0], v[1], p3 ? 0 : v[2], p4 ? 0 : v[3], p3 && p4 ? 1 : (p4 ? 2 : 3));
    }
    const qsizetype rest = text.size() - i;
    if (rest >= 2) {
        const quint8 v0 = table[static_cast<quint8>(text[i])];
        const quint8 v1 = table[static_cast<quint8>(text[i + 1])];
        quint8 v2 = rest == 3 ? table[static_cast<quint8>(text[i + 2])] : 0;
        const bool pad = v2 == 0xFF;
        if (pad)
            v2 = 0;
        join(v0, v1, v2, 0, rest == 3 && !pad ? 2 : 1);
    }
    return out;
}

QByteArray bytesOf(const CBase64& c, std::uint32_t n)
{
    return QByteArray(reinterpret_cast<const char*>(c.GetBytes()), n);
}

bool zeroBeyond(const char* buf, std::uint32_t used, std::uint32_t capacity)
{
    for (std::uint32_t i = used; i < capacity; ++i) {
        if (buf[i] != 0)
            return false;
    }
    return true;
}
} // namespace

class TestBase64 : public QObject
{
    Q_OBJECT

private slots:
    void encodeVectors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addRow("empty") << QByteArray() << QString();
        QTest::addRow("one") << QByteArray("f") << QStringLiteral("Zg==");
        QTest::addRow("two") << QByteArray("fo") << QStringLiteral("Zm8=");
        QTest::addRow("three") << QByteArray("foo") << QStringLiteral("Zm9v");
        QTest::addRow("six") << QByteArray("foobar") << QStringLiteral("Zm9vYmFy");
        QTest::addRow("high bits") << QByteArray("\xFB\xFF\xBF", 3) << QStringLiteral("+/+/");
    }
    void encodeVectors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        CBase64 c;
        c.Encode(bytes.constData(), static_cast<std::uint32_t>(bytes.size()));
        QCOMPARE(c.GetText(), text);
        QCOMPARE(bytesOf(c, c.ByteCount()), bytes);
        QCOMPARE(CBase64::DecodeString(text), bytes);
    }

    void agreesWithOpenSslOnEveryLength()
    {
        CBase64 c; // reused, as the codec's owners do
        QRandomGenerator rng(7);
        for (int n = 0; n < 300; ++n) {
            QByteArray data(n, Qt::Uninitialized);
            for (char& b : data)
                b = static_cast<char>(rng.bounded(256));
            QByteArray expected(4 * ((n + 2) / 3) + 1, '\0');
            const int len =
                EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                                reinterpret_cast<const unsigned char*>(data.constData()), n);
            expected.truncate(len);
            c.Encode(data.constData(), n);
            QCOMPARE(QByteArray(c.GetTextAscii()), expected);
            std::uint32_t out = 0;
            c.DecodeAscii(expected.constData(), static_cast<std::uint32_t>(len), out);
            QCOMPARE(bytesOf(c, out), data);
        }
    }

    void lenientDecoding_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addRow("whitespace")
            << QByteArray("Zm9v\r\nYm\tFy \x0B\x0C\a") << QByteArray("foobar");
        QTest::addRow("two pads") << QByteArray("Zg==") << QByteArray("f");
        QTest::addRow("one pad") << QByteArray("Zm8=") << QByteArray("fo");
        QTest::addRow("pad mid-text") << QByteArray("Zg==Zm8=") << QByteArray("ffo");
        QTest::addRow("high-bit letters") << QByteArray("\xDAg==") << QByteArray("f");
        QTest::addRow("two left over") << QByteArray("Zm9vYg") << QByteArray("foob");
        QTest::addRow("three left over") << QByteArray("Zm9vYmE") << QByteArray("fooba");
        QTest::addRow("three left, padded") << QByteArray("Zm9vYg=") << QByteArray("foob");
        QTest::addRow("one left over") << QByteArray("Zm9vY") << QByteArray("foo");
        QTest::addRow("only whitespace") << QByteArray(" \r\n") << QByteArray();
    }
    void lenientDecoding()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, bytes);
        CBase64 c;
        std::uint32_t n = 99;
        c.DecodeAscii(text.constData(), static_cast<std::uint32_t>(text.size()), n);
        QCOMPARE(bytesOf(c, n), bytes);
        QCOMPARE(referenceDecode(text), bytes);
    }

    void garbageMatchesTheGroupRules()
    {
        // Stray characters, padding anywhere, whitespace, bytes with the high
        // bit: nothing is rejected, and every group follows the same rules,
        // whether it is sparse among clean text or dense, narrow or wide.
        static const char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        static const char bad[] = "==== \r\n\t!*~\x80\xBD\xFF\x01\xC1";
        QRandomGenerator rng(11);
        CBase64 narrow, wide;
        for (int round = 0; round < 3000; ++round) {
            const int density = rng.bounded(0, 4); // none, 1 %, 10 %, half
            const int per1000 = density == 0 ? 0 : density == 1 ? 10 : density == 2 ? 100 : 500;
            QByteArray text(rng.bounded(1, 400), Qt::Uninitialized);
            for (char& ch : text) {
                ch = rng.bounded(1000) < per1000 ? bad[rng.bounded(int(sizeof bad - 1))]
                                                 : alphabet[rng.bounded(64)];
            }
            const QByteArray expected = referenceDecode(text);
            std::uint32_t n = 0;
            narrow.DecodeAscii(text.constData(), static_cast<std::uint32_t>(text.size()), n);
            QCOMPARE(bytesOf(narrow, n), expected);
            QVERIFY(zeroBeyond(reinterpret_cast<const char*>(narrow.GetBytes()), n,
                               narrow.ByteCapacity()));
            QVERIFY(zeroBeyond(narrow.GetTextAscii(), narrow.TextLength(), narrow.TextCapacity()));
            wide.Decode(QString::fromLatin1(text), n);
            QCOMPARE(bytesOf(wide, n), expected);
            QCOMPARE(QByteArray(wide.GetTextAscii()), QByteArray(narrow.GetTextAscii()));
        }
    }

    void wideTextOutsideLatin1IsStray()
    {
        std::uint32_t n = 0;
        CBase64 c;
        // The wide character counts as one stray, on the fast path (eight
        // units at a time) and off it.
        c.Decode(QStringLiteral("Zm9v漢Ym"), n);
        QCOMPARE(n, 5u);
        QCOMPARE(bytesOf(c, n), referenceDecode(QByteArray("Zm9v?Ym")));
        c.Decode(QStringLiteral("Zm9vYmFyZm9vYmFy漢Zm9vYmFyZm9vYmFy"), n);
        QCOMPARE(bytesOf(c, n), referenceDecode(QByteArray("Zm9vYmFyZm9vYmFy?Zm9vYmFyZm9vYmFy")));
    }

    void bufferRounding_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<uint>("textCapacity");
        QTest::addColumn<uint>("byteCapacity");
        QTest::addRow("nothing") << 0 << 4096u << 4096u;
        QTest::addRow("4095") << 4095 << 8192u << 4096u;
        QTest::addRow("4096") << 4096 << 12288u << 8192u;
        QTest::addRow("6144") << 6144 << 16384u << 8192u;
    }
    void bufferRounding()
    {
        QFETCH(int, bytes);
        QFETCH(uint, textCapacity);
        QFETCH(uint, byteCapacity);
        QByteArray data(bytes, 'x');
        CBase64 c;
        c.Encode(data.constData(), static_cast<std::uint32_t>(bytes));
        QCOMPARE(c.TextCapacity(), textCapacity);
        QCOMPARE(c.ByteCapacity(), byteCapacity);
    }

    void reuseLeavesNoStaleData()
    {
        CBase64 c;
        const QByteArray big(30000, '\xA5');
        c.Encode(big.constData(), big.size());
        const QByteArray bigText(c.GetTextAscii());
        c.Encode("ab", 2);
        QCOMPARE(QByteArray(c.GetTextAscii()), QByteArray("YWI="));
        QVERIFY(zeroBeyond(c.GetTextAscii(), c.TextLength(), c.TextCapacity()));
        QVERIFY(zeroBeyond(reinterpret_cast<const char*>(c.GetBytes()), 2, c.ByteCapacity()));

        std::uint32_t n = 0;
        c.DecodeAscii(bigText.constData(), bigText.size(), n);
        QCOMPARE(bytesOf(c, n), big);
        c.DecodeAscii("Zm8 =", 5, n);
        QCOMPARE(bytesOf(c, n), QByteArray("fo"));
        QCOMPARE(QByteArray(c.GetTextAscii()), QByteArray("Zm8="));
        QVERIFY(zeroBeyond(c.GetTextAscii(), c.TextLength(), c.TextCapacity()));
        QVERIFY(zeroBeyond(reinterpret_cast<const char*>(c.GetBytes()), n, c.ByteCapacity()));
    }
};

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"

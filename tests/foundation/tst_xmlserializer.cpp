#include "foundation/XmlSerializer.h"

#include <QtTest>

class TestXmlSerializer : public QObject
{
    Q_OBJECT

    static QString s(const char* text) { return QString::fromUtf8(text); }

private slots:
    void writerKeepsOrderWithoutIndentation()
    {
        CXmlSerializer x;
        QVERIFY(x.CreateDocument(s("TVLMessage")));
        QVERIFY(x.SetAttribute(s("zeta"), s("1")));
        QVERIFY(x.SetAttribute(s("alpha"), s("2")));
        QVERIFY(x.SetAttributeLong(s("mid"), -42));
        QVERIFY(x.SetAttribute(s("zeta"), s("replaced"))); // keeps its place
        QVERIFY(x.AddChild(s("Nickname")));
        QVERIFY(x.SetAttribute(s("Nickname"), s("a<b>&\"c'")));
        QVERIFY(x.EndChild());
        QVERIFY(!x.SetAttribute(s("late"), s("x"))); // no map after EndChild
        QVERIFY(x.AddChild(s("Flag")));
        QVERIFY(x.SetAttributeBool(s("on"), true));
        QVERIFY(x.SetAttributeBool(s("off"), false));
        QCOMPARE(x.GetXml(), s("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                               "<TVLMessage zeta=\"replaced\" alpha=\"2\" mid=\"-42\">"
                               "<Nickname Nickname=\"a&lt;b>&amp;&quot;c'\"/>"
                               "<Flag on=\"true\" off=\"false\"/></TVLMessage>"));
    }

    void valuesSurviveRoundTrip()
    {
        const QString tricky = s("line1\r\nline2\ttab  \"q\" <&> é 漢字 😀");
        const QByteArray blob("\x00\x01\xFF binary", 10);
        CXmlSerializer w;
        QVERIFY(w.CreateDocument(s("Root")));
        QVERIFY(w.SetAttribute(s("text"), tricky));
        QVERIFY(w.SetAttributeBinary(s("data"), blob.constData(), blob.size()));
        QVERIFY(w.SetAttributeBinary(s("none"), "", 0));

        CXmlSerializer r;
        QVERIFY(r.LoadXml(w.GetXml(), s("Root")));
        QString text;
        QVERIFY(r.GetAttribute(s("text"), text));
        QCOMPARE(text, tricky);
        QByteArray data;
        QVERIFY(r.GetAttributeBinary(s("data"), data));
        QCOMPARE(data, blob);
        QVERIFY(!r.GetAttributeBinary(s("none"), data)); // decodes to no bytes
        QVERIFY(!r.GetAttributeBinary(s("missing"), data));
    }

    void invalidNamesAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("empty") << QString();
        QTest::addRow("blank") << s("a b");
        QTest::addRow("digit first") << s("1a");
        QTest::addRow("markup") << s("a<b");
    }
    void invalidNamesAreRefused()
    {
        QFETCH(QString, name);
        CXmlSerializer x;
        QVERIFY(!x.CreateDocument(name));
        QVERIFY(x.CreateDocument(s("Root")));
        QVERIFY(!x.AddChild(name));
        QVERIFY(!x.SetAttribute(name, s("v")));
        QVERIFY(x.GetXml().endsWith(s("<Root/>")));
    }

    void walksSiblingsInOrder()
    {
        CXmlSerializer r;
        QVERIFY(r.LoadXml(s("<Root a=\"r\"><X n=\"1\"/><Y/><X n=\"2\"/><X n=\"3\"/></Root>"),
                          s("Root")));
        for (long expected : {1, 2, 3}) {
            QVERIFY(r.NextChild(s("X")));
            QCOMPARE(r.Depth(), 1);
            long n = 0;
            QVERIFY(r.GetAttributeLong(s("n"), n));
            QCOMPARE(n, expected);
            QVERIFY(r.LeaveChild());
            QCOMPARE(r.Depth(), 0);
            QString a;
            QVERIFY(!r.GetAttribute(s("a"), a)); // the parent's map is not taken back
        }
        QVERIFY(!r.NextChild(s("X")));
        QVERIFY(!r.NextChild(s("X"))); // stays used up
        QVERIFY(!r.NextChild(s("Z")));
        // Leaving at the root restarts every walk.
        QVERIFY(r.LeaveChild());
        QCOMPARE(r.Depth(), 0);
        QVERIFY(r.NextChild(s("X")));
        long n = 0;
        QVERIFY(r.GetAttributeLong(s("n"), n));
        QCOMPARE(n, 1L);
    }

    void nestedWalksRestartUnderEachParent()
    {
        CXmlSerializer r;
        QVERIFY(r.LoadXml(s("<Root><A><B n=\"1\"/><B n=\"2\"/></A><A><B n=\"3\"/></A></Root>"),
                          s("Root")));
        QList<long> seen;
        while (r.NextChild(s("A"))) {
            while (r.NextChild(s("B"))) {
                long n = 0;
                r.GetAttributeLong(s("n"), n);
                seen.append(n);
                QVERIFY(r.LeaveChild());
            }
            QCOMPARE(r.Depth(), 1);
            QVERIFY(r.LeaveChild());
        }
        QCOMPARE(seen, QList<long>({1, 2, 3}));
    }

    void attributeLong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<long>("value");
        QTest::addRow("digits then letters") << s("12abc") << 12L;
        QTest::addRow("blanks and sign") << s(" \t-7") << -7L;
        QTest::addRow("plus") << s("+15") << 15L;
        QTest::addRow("no digits") << s("abc") << 0L;
        QTest::addRow("empty") << QString() << 0L;
        QTest::addRow("too large") << s("99999999999") << 2147483647L;
        QTest::addRow("too small") << s("-99999999999") << -2147483648L;
    }
    void attributeLong()
    {
        QFETCH(QString, text);
        QFETCH(long, value);
        CXmlSerializer w;
        QVERIFY(w.CreateDocument(s("Root")));
        QVERIFY(w.SetAttribute(s("v"), text));
        CXmlSerializer r;
        QVERIFY(r.LoadXml(w.GetXml(), s("Root")));
        long got = 99;
        QVERIFY(r.GetAttributeLong(s("v"), got));
        QCOMPARE(got, value);
        QVERIFY(!r.GetAttributeLong(s("missing"), got));
        QCOMPARE(got, 0L);
    }

    void badDocumentsAreRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("root");
        QTest::addRow("empty") << QString() << s("Root");
        QTest::addRow("not xml") << s("hello") << s("Root");
        QTest::addRow("unclosed") << s("<Root><A>") << s("Root");
        QTest::addRow("mismatched") << s("<Root></root>") << s("Root");
        QTest::addRow("root in other case") << s("<root/>") << s("Root");
        QTest::addRow("other root") << s("<Other/>") << s("Root");
        QTest::addRow("two roots") << s("<Root/><Root/>") << s("Root");
        QTest::addRow("duplicate attribute") << s("<Root a=\"1\" a=\"2\"/>") << s("Root");
        QTest::addRow("empty root name") << s("<Root/>") << QString();
        QTest::addRow("deep") << s("<a>").repeated(200000) << s("a");
        QString garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(QChar(static_cast<char16_t>((i * 7919) % 0xD7FF + 1)));
        QTest::addRow("garbage") << garbage << s("Root");
    }
    void badDocumentsAreRefused()
    {
        QFETCH(QString, text);
        QFETCH(QString, root);
        CXmlSerializer r;
        QVERIFY(r.CreateDocument(s("Previous")));
        QVERIFY(!r.LoadXml(text, root));
        // A failed load leaves the object empty.
        QCOMPARE(r.GetXml(), QString());
        QVERIFY(!r.NextChild(s("A")));
        QVERIFY(!r.LeaveChild());
        QString v;
        QVERIFY(!r.GetAttribute(s("a"), v));
    }

    void deepDocumentsDoNotExhaustTheStack()
    {
        const int depth = 100000;
        const QString text = s("<a>").repeated(depth) + s("</a>").repeated(depth);
        CXmlSerializer r;
        QVERIFY(r.LoadXml(text, s("a")));
        QCOMPARE(r.GetXml().size(), 7 * depth - 3); // the innermost one is written <a/>
        int steps = 0;
        while (r.NextChild(s("a")))
            ++steps;
        QCOMPARE(steps, depth - 1);
    }

    void textEndsAtItsZero()
    {
        CXmlSerializer r;
        QString text = s("<Root a=\"1\"/>");
        text.append(QChar(0));
        text.append(s("<junk"));
        QVERIFY(r.LoadXml(text, s("Root")));
        QVERIFY(!r.LoadXml(QString(QChar(0)) + s("<Root/>"), s("Root")));
    }

    void declarationIsIgnoredWhenLoadingText()
    {
        CXmlSerializer r;
        QVERIFY(
            r.LoadXml(s("<?xml version=\"1.0\" encoding=\"UTF-16\"?><Root a=\"é\"/>"), s("Root")));
        QString v;
        QVERIFY(r.GetAttribute(s("a"), v));
        QCOMPARE(v, s("é"));
    }
};

QTEST_GUILESS_MAIN(TestXmlSerializer)
#include "tst_xmlserializer.moc"

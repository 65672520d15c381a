#include "resources/StringTable.h"
#include "support/SupportReport.h"
#include "support/URLEncode.h"

#include <QTest>

class TestSupportReport : public QObject
{
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void everyByteIsEncodedOrSafe();
    void body_data();
    void body();
    void lineBreaks_data();
    void lineBreaks();
    void email_data();
    void email();
    void endpoint_data();
    void endpoint();
    void endpointRefused_data();
    void endpointRefused();
};

void TestSupportReport::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoded");

    QTest::addRow("blank") << QStringLiteral("Ann Lee") << QByteArray("Ann%20Lee");
    QTest::addRow("plus equals question") << QStringLiteral("a+b=c?") << QByteArray("a%2Bb%3Dc%3F");
    QTest::addRow("123 to 126") << QStringLiteral("{|}~") << QByteArray("%7B%7C%7D%7E");
    QTest::addRow("letters digits -._") << QStringLiteral("AZaz09-._") << QByteArray("AZaz09-._");
    QTest::addRow("CR LF") << QStringLiteral("one\r\ntwo") << QByteArray("one%0D%0Atwo");
    QTest::addRow("below 16 gets a leading zero")
        << QStringLiteral("\t\x01") << QByteArray("%09%01");
    QTest::addRow("the 21 unsafe")
        << QStringLiteral("\"<>%\\^[]`+$,@:;/!#?=&")
        << QByteArray("%22%3C%3E%25%5C%5E%5B%5D%60%2B%24%2C%40%3A%3B%2F%21%23%3F%3D%26");
    QTest::addRow("printable, not in the set") << QStringLiteral("'()*") << QByteArray("'()*");
    QTest::addRow("e-mail") << QStringLiteral("ann@example.com") << QByteArray("ann%40example.com");
    // Each byte of the UTF-8 form, not the character's code.
    QTest::addRow("two-byte character") << QStringLiteral("caf\u00e9") << QByteArray("caf%C3%A9");
    QTest::addRow("three-byte character") << QStringLiteral("\u20ac5") << QByteArray("%E2%82%AC5");
    QTest::addRow("four-byte character")
        << QString::fromUtf8("\xF0\x9F\x98\x80") << QByteArray("%F0%9F%98%80");
    QTest::addRow("empty") << QString() << QByteArray();
}

void TestSupportReport::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);
    QCOMPARE(CURLEncode::Encode(text), encoded);
}

void TestSupportReport::everyByteIsEncodedOrSafe()
{
    // The characters 33..122 that are not in the unsafe set, spelt out.
    const QByteArray safe = "'()*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
    for (int c = 1; c < 256; ++c) {
        const QByteArray encoded = CURLEncode::Encode(QString(QChar(c)));
        QByteArray expected;
        if (safe.contains(char(c)))
            expected = QByteArray(1, char(c));
        else
            for (const char b : QString(QChar(c)).toUtf8())
                expected += '%' + QByteArray::number(uchar(b), 16).rightJustified(2, '0').toUpper();
        QVERIFY2(
            encoded == expected,
            qPrintable(QStringLiteral("code %1 gave %2").arg(c).arg(QString::fromLatin1(encoded))));
    }
}

void TestSupportReport::body_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logText");
    QTest::addColumn<QByteArray>("body");

    QTest::addRow("all fields")
        << QStringLiteral("Ann Lee") << QStringLiteral("ann@example.com")
        << QStringLiteral("a+b=c?") << QStringLiteral("Hello\r\n") << QStringLiteral("log: ok")
        << QByteArray("departmentid=1&name=Ann%20Lee&email=ann%40example.com&subject=a%2Bb%3Dc%3F"
                      "&message=Hello%0D%0Alog%3A%20ok&email_send=Submit");
    QTest::addRow("empty name and subject")
        << QString() << QStringLiteral("a@b") << QString() << QStringLiteral("x") << QString()
        << QByteArray("departmentid=1&name=NotEntered&email=a%40b&subject=NotEntered&message=x"
                      "&email_send=Submit");
    QTest::addRow("no message, no log")
        << QStringLiteral("N") << QStringLiteral("a@b") << QStringLiteral("S") << QString()
        << QString()
        << QByteArray("departmentid=1&name=N&email=a%40b&subject=S&message=NotEntered"
                      "&email_send=Submit");
    QTest::addRow("no message, log only")
        << QStringLiteral("N") << QStringLiteral("a@b") << QStringLiteral("S") << QString()
        << QStringLiteral("L1\r\n")
        << QByteArray("departmentid=1&name=N&email=a%40b&subject=S&message=L1%0D%0A"
                      "&email_send=Submit");
    // A field that looks like the template's slot is data, not a slot.
    QTest::addRow("slot-like text")
        << QStringLiteral("%hs") << QStringLiteral("a@b") << QStringLiteral("&email=x")
        << QStringLiteral("m") << QString()
        << QByteArray("departmentid=1&name=%25hs&email=a%40b&subject=%26email%3Dx&message=m"
                      "&email_send=Submit");
}

void TestSupportReport::body()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, subject);
    QFETCH(QString, message);
    QFETCH(QString, logText);
    QFETCH(QByteArray, body);
    QCOMPARE(SupportReport::BuildBody({name, email, subject, message}, logText), body);
}

void TestSupportReport::lineBreaks_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");
    QTest::addRow("LF") << QStringLiteral("a\nb\n") << QStringLiteral("a\r\nb\r\n");
    QTest::addRow("CR LF kept") << QStringLiteral("a\r\nb") << QStringLiteral("a\r\nb");
    QTest::addRow("lone CR") << QStringLiteral("a\rb") << QStringLiteral("a\r\nb");
    QTest::addRow("mixed") << QStringLiteral("\n\r\n\r") << QStringLiteral("\r\n\r\n\r\n");
}

void TestSupportReport::lineBreaks()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QCOMPARE(SupportReport::WithCrLf(typed), sent);
}

void TestSupportReport::email_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<bool>("acceptable");
    QTest::addRow("empty") << QString() << false;
    QTest::addRow("no at sign") << QStringLiteral("ann.example.com") << false;
    QTest::addRow("address") << QStringLiteral("ann@example.com") << true;
    // Only the "@" is checked: the support team sorts out the rest.
    QTest::addRow("bare at sign") << QStringLiteral("@") << true;
}

void TestSupportReport::email()
{
    QFETCH(QString, email);
    QFETCH(bool, acceptable);
    QCOMPARE(SupportReport::EmailAcceptable(email), acceptable);
}

void TestSupportReport::endpoint_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("url");
    QTest::addRow("host") << QStringLiteral("help.example.com")
                          << QStringLiteral(
                                 "http://help.example.com/chat/module.php?module=HelpCenter");
    QTest::addRow("host and port")
        << QStringLiteral("127.0.0.1:8080")
        << QStringLiteral("http://127.0.0.1:8080/chat/module.php?module=HelpCenter");
    QTest::addRow("blanks around")
        << QStringLiteral("  help.example.com:81 ")
        << QStringLiteral("http://help.example.com:81/chat/module.php?module=HelpCenter");
    QTest::addRow("bracketed IPv6 and port")
        << QStringLiteral("[::1]:8080")
        << QStringLiteral("http://[::1]:8080/chat/module.php?module=HelpCenter");
    QTest::addRow("bare IPv6") << QStringLiteral("fe80::1")
                               << QStringLiteral(
                                      "http://[fe80::1]/chat/module.php?module=HelpCenter");
}

void TestSupportReport::endpoint()
{
    QFETCH(QString, setting);
    QFETCH(QString, url);
    const SupportReport::Endpoint endpoint =
        SupportReport::EndpointFromSetting(setting, QStringLiteral("/etc/xdg/x.conf"));
    QVERIFY2(endpoint.errorText.isEmpty(), qPrintable(endpoint.errorText));
    QCOMPARE(endpoint.url.toString(QUrl::FullyEncoded), url);
    QCOMPARE(endpoint.url.scheme(), QStringLiteral("http"));
}

void TestSupportReport::endpointRefused_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addRow("empty") << QString();
    QTest::addRow("blanks") << QStringLiteral("   ");
    QTest::addRow("colon without port") << QStringLiteral("host:");
    QTest::addRow("port 0") << QStringLiteral("host:0");
    QTest::addRow("port too big") << QStringLiteral("host:65536");
    QTest::addRow("port not a number") << QStringLiteral("host:http");
    QTest::addRow("port with sign") << QStringLiteral("host:+80");
    QTest::addRow("a URL instead of a host") << QStringLiteral("http://host");
    QTest::addRow("a path") << QStringLiteral("host/chat");
    QTest::addRow("blank inside") << QStringLiteral("bad host");
    QTest::addRow("unclosed bracket") << QStringLiteral("[::1");
    QTest::addRow("junk after bracket") << QStringLiteral("[::1]80");
    QTest::addRow("only a port") << QStringLiteral(":80");
}

void TestSupportReport::endpointRefused()
{
    QFETCH(QString, setting);
    const QString file = QStringLiteral("/etc/xdg/Quornix/Tervala Pro.conf");
    const SupportReport::Endpoint endpoint = SupportReport::EndpointFromSetting(setting, file);
    QVERIFY(!endpoint.url.isValid());
    // The user is told which value to fix and in which file.
    QVERIFY2(endpoint.errorText.contains(QStringLiteral("SupportHost")),
             qPrintable(endpoint.errorText));
    QVERIFY2(endpoint.errorText.contains(file), qPrintable(endpoint.errorText));
}

QTEST_GUILESS_MAIN(TestSupportReport)
#include "tst_supportreport.moc"

#include "foundation/XmlSerializer.h"
#include "remote/RemoteAssistanceTicket.h"

#include <QtTest>

using Route = CRemoteAssistanceTicket::Route;
Q_DECLARE_METATYPE(Route)

namespace {
QString s(const char* text)
{
    return QString::fromUtf8(text);
}

// An incident file's document as the Remote Assistance program writes it,
// around a connection list.
QString incident(const char* connections)
{
    return s("<?xml version=\"1.0\"?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
             "USERNAME=\"alice\" RCTICKET=\"") +
           s(connections) +
           s("\" PassStub=\"Xy\" RCTICKETENCRYPTED=\"1\" DtStart=\"1700000000\" "
             "DtLength=\"360\" L=\"0\"/></UPLOADINFO>");
}

const char* const kIncidentTail = "\" PassStub=\"Xy\" RCTICKETENCRYPTED=\"1\" "
                                  "DtStart=\"1700000000\" DtLength=\"360\" L=\"0\"/></UPLOADINFO>";

QString vistaDocument(const char* ticket)
{
    return s("<?xml version=\"1.0\" ?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
             "USERNAME=\"Tervala Meeting\" RCTICKET=\"") +
           s(ticket) + s(kIncidentTail);
}

QString ports(const QString& sessionType)
{
    CXmlSerializer reader;
    if (!reader.LoadXml(sessionType, s("TVLSessionStringFormat")))
        return s("<unreadable>");
    QStringList items;
    while (reader.NextChild(s("PortRange"))) {
        QString start;
        QString stop;
        QString service;
        reader.GetAttribute(s("PortStart"), start);
        reader.GetAttribute(s("PortStop"), stop);
        reader.GetAttribute(s("PortService"), service);
        items << start + QLatin1Char('-') + stop + QLatin1Char(':') + service;
        reader.LeaveChild();
    }
    return items.join(QLatin1Char(','));
}
} // namespace

class TestRemoteAssistanceTicket : public QObject
{
    Q_OBJECT

private slots:
    void rewrite_data()
    {
        QTest::addColumn<Route>("route");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("document");

        QTest::addRow("incident file, one address")
            << Route::IncidentFile << s("pc1") << s("bob")
            << incident("65538,1,10.0.0.5:49152,*,AbCd,*,*,Rnd=") << true << s("49152")
            << vistaDocument("65538,1,bob:49152;10.0.0.5:49152,*,AbCd,*,*,Rnd=");
        QTest::addRow("incident file, two addresses, second marker kept")
            << Route::IncidentFile << QString() << s("bob")
            << incident("65538,1,10.0.0.5:49152;192.168.1.4:49152,*,65538,1,x") << true
            << s("49152;192.168.1.4:49152")
            << vistaDocument("65538,1,bob:49152;192.168.1.4:49152;10.0.0.5:49152;192.168.1.4:49152,"
                             "*,65538,1,x");
        QTest::addRow("nickname escaped inside the attribute")
            << Route::IncidentFile << QString() << s("a\"b<c>&d:e")
            << incident("65538,1,10.0.0.5:49152,*") << true << s("49152")
            << vistaDocument("65538,1,a&quot;b&lt;c&gt;&amp;d:e:49152;10.0.0.5:49152,*");
        QTest::addRow("no comma: the rest is the port text")
            << Route::IncidentFile << QString() << s("bob") << s("65538,1,h:5000") << true
            << s("5000")
            << s("<?xml version=\"1.0\" ?><UPLOADINFO TYPE=\"Escalated\"><UPLOADDATA "
                 "USERNAME=\"Tervala Meeting\" RCTICKET=\"65538,1,bob:5000;h:5000");
        QTest::addRow("incident file without the marker")
            << Route::IncidentFile << s("pc1") << s("bob") << incident("65537,1,10.0.0.5:49152,*")
            << false << QString() << QString();
        QTest::addRow("incident file without a colon after the marker")
            << Route::IncidentFile << QString() << s("bob") << incident("65538,1,10.0.0.5,*")
            << false << QString() << QString();
        QTest::addRow("empty text") << Route::IncidentFile << QString() << s("bob") << QString()
                                    << false << QString() << QString();

        QTest::addRow("help service, host found")
            << Route::HelpService << s("pc1") << s("bob")
            << s("junk65538,1,192.168.0.9:3389;pc1:3389,*,ab12,*,*,xyz") << true << s("3389")
            << s("<?xml version=\"1.0\" encoding=\"Unicode\" ?><UPLOADINFO TYPE=\"Escalated\">"
                 "<UPLOADDATA USERNAME=\"Tervala Meeting\" RCTICKET=\"65538,1,bob:3389;"
                 "192.168.0.9:3389;pc1:3389,*,ab12,*,*,xyz\" RCTICKETENCRYPTED=\"0\" "
                 "DtStart=\"1700000123\" DtLength=\"300\" PassStub=\"\" L=\"0\" /></UPLOADINFO>");
        QTest::addRow("help service, a %%s in the ticket stays")
            << Route::HelpService << s("pc1") << s("%s") << s("65538,1,pc1:3389,%s") << true
            << s("3389")
            << s("<?xml version=\"1.0\" encoding=\"Unicode\" ?><UPLOADINFO TYPE=\"Escalated\">"
                 "<UPLOADDATA USERNAME=\"Tervala Meeting\" "
                 "RCTICKET=\"65538,1,%s:3389;pc1:3389,%s\" "
                 "RCTICKETENCRYPTED=\"0\" DtStart=\"1700000123\" DtLength=\"300\" PassStub=\"\" "
                 "L=\"0\" /></UPLOADINFO>");
        QTest::addRow("help service, host name not in the text")
            << Route::HelpService << s("pc2") << s("bob") << s("65538,1,pc1:3389,*") << false
            << QString() << QString();
        QTest::addRow("help service, host found but no marker")
            << Route::HelpService << s("pc1") << s("bob") << s("pc1:3389,*") << false << QString()
            << QString();
        QTest::addRow("help service, no host name known")
            << Route::HelpService << QString() << s("bob") << s("65538,1,:3389,*") << false
            << QString() << QString();
    }
    void rewrite()
    {
        QFETCH(Route, route);
        QFETCH(QString, host);
        QFETCH(QString, nickname);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, portText);
        QFETCH(QString, document);

        QString extracted = s("untouched");
        QCOMPARE(
            CRemoteAssistanceTicket::ExtractPortText(text, route, host, extracted),
            ok || (route == Route::HelpService && text.contains(host + s(":")) && !host.isEmpty()));
        QString written = s("untouched");
        QString port;
        QCOMPARE(CRemoteAssistanceTicket::Rewrite(nickname, text, route, host, 1700000123, written,
                                                  &port),
                 ok);
        QCOMPARE(written, ok ? document : s("untouched"));
        if (ok)
            QCOMPARE(port, portText);

        CRemoteAccess::Prepared prepared;
        prepared.sessionType = s("kept");
        QCOMPARE(
            CRemoteAssistanceTicket::Prepare(nickname, text, route, host, 1700000123, prepared),
            ok);
        if (!ok) {
            QCOMPARE(prepared.sessionType, s("kept"));
            QVERIFY(prepared.appData.isEmpty());
            return;
        }
        // Application data: the document's UTF-16LE units, no terminator.
        QCOMPARE(prepared.appData.size(), document.size() * 2);
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(prepared.appData.constData()),
                                    document.size()),
                 document);
        QCOMPARE(uchar(prepared.appData.at(0)), uchar('<'));
        QCOMPARE(prepared.appData.at(1), '\0');
    }

    // The session type opens the ticket's port and 3389, both as service
    // ports, whatever the nickname holds.
    void sessionType_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("connections");
        QTest::addColumn<QString>("expected");
        QTest::addRow("bob") << s("bob") << s("65538,1,10.0.0.5:49152,*")
                             << s("49152-49152:true,3389-3389:true");
        QTest::addRow("nickname with colons")
            << s("a:1:b") << s("65538,1,10.0.0.5:49152,*") << s("49152-49152:true,3389-3389:true");
        QTest::addRow("port past 16 bits")
            << s("bob") << s("65538,1,h:70000,*") << s("4464-4464:true,3389-3389:true");
        QTest::addRow("port text not a number")
            << s("bob") << s("65538,1,h:x9,*") << s("0-0:true,3389-3389:true");
    }
    void sessionType()
    {
        QFETCH(QString, nickname);
        QFETCH(QString, connections);
        QFETCH(QString, expected);
        CRemoteAccess::Prepared prepared;
        QVERIFY(CRemoteAssistanceTicket::Prepare(nickname, incident(qPrintable(connections)),
                                                 Route::IncidentFile, QString(), 0, prepared));
        QCOMPARE(ports(prepared.sessionType), expected);
    }

    void decodeIncidentFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addRow("UTF-16LE keeps its byte-order mark")
            << QByteArray("\xFF\xFE<\0a\0", 6) << QString(QChar(0xFEFF)) + s("<a");
        QTest::addRow("UTF-16LE ends at a zero unit") << QByteArray("\xFF\xFE"
                                                                    "a\0\0\0b\0",
                                                                    8)
                                                      << QString(QChar(0xFEFF)) + s("a");
        QTest::addRow("UTF-16LE odd last byte dropped") << QByteArray("\xFF\xFE"
                                                                      "a\0b",
                                                                      5)
                                                        << QString(QChar(0xFEFF)) + s("a");
        QTest::addRow("8-bit widened byte by byte")
            << QByteArray("ab\xE9\xC3") << s("ab\u00E9\u00C3");
        QTest::addRow("8-bit ends at a zero byte") << QByteArray("ab\0cd", 5) << s("ab");
        QTest::addRow("8-bit cut at 4096 bytes")
            << QByteArray(5000, 'x') << QString(4096, QLatin1Char('x'));
        QTest::addRow("UTF-16LE cut at 4096 bytes")
            << (QByteArray("\xFF\xFE") + QByteArray("y\0", 2).repeated(3000))
            << QString(QChar(0xFEFF)) + QString(2047, QLatin1Char('y'));
        QTest::addRow("empty") << QByteArray() << QString();
    }
    void decodeIncidentFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(CRemoteAssistanceTicket::DecodeIncidentFile(bytes), text);
    }

    // From the bytes of an incident file to the invitation's data, byte-order
    // mark and all.
    void incidentFileToInvitation()
    {
        const QString text = incident("65538,1,10.0.0.5:49152,*,AbCd");
        QByteArray file("\xFF\xFE", 2);
        for (QChar c : text) {
            file.append(char(c.unicode() & 0xFF));
            file.append(char(c.unicode() >> 8));
        }
        CRemoteAccess::Prepared prepared;
        QVERIFY(CRemoteAssistanceTicket::Prepare(s("bob"),
                                                 CRemoteAssistanceTicket::DecodeIncidentFile(file),
                                                 Route::IncidentFile, QString(), 0, prepared));
        QCOMPARE(ports(prepared.sessionType), s("49152-49152:true,3389-3389:true"));
        const QString expected = vistaDocument("65538,1,bob:49152;10.0.0.5:49152,*,AbCd");
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(prepared.appData.constData()),
                                    prepared.appData.size() / 2),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestRemoteAssistanceTicket)
#include "tst_remoteassistanceticket.moc"

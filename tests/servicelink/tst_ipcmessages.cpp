// The command messages: the document each proxy operation writes, and what
// the dispatcher hands to its target for a received document.
#include "foundation/Base64.h"
#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "foundation/XmlSerializer.h"
#include "servicelink/RPCExecute.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QSettings>
#include <QTest>
#include <QtEndian>

#include <memory>

namespace {
// Keeps the documents instead of sending them.
class CapturingProxy : public IRPCProxyStub
{
public:
    int SendCommand(const CXmlSerializer& document) override
    {
        documents << document.GetXml();
        return 0;
    }
    QStringList documents;
};

struct Parsed
{
    long command = -1;
    QStringList parameters; // attribute texts in document order
};

// Reads a document back with an independent walk of the serializer.
Parsed parse(const QString& text)
{
    Parsed p;
    CXmlSerializer xml;
    if (!xml.LoadXml(text, QStringLiteral("TervalaIPC")))
        return p;
    if (xml.NextChild(QStringLiteral("command"))) {
        xml.GetAttributeLong(QStringLiteral("command"), p.command);
        xml.LeaveChild();
    }
    while (xml.NextChild(QStringLiteral("parameters"))) {
        QString value;
        xml.GetAttribute(QStringLiteral("parameters"), value);
        p.parameters << value;
        xml.LeaveChild();
    }
    return p;
}

// Records each call as one line: the operation and its arguments.
class Recorder : public IRPCExecute
{
public:
    int CreateInvitation(const QString& nickname, const QString& password,
                         const QString& sessionName, const QString& sessionTypeText, quint64 expiry,
                         const QString& path, const QByteArray& appData) override
    {
        calls << QStringList{QStringLiteral("CreateInvitation"),
                             nickname,
                             password,
                             sessionName,
                             sessionTypeText,
                             QString::number(expiry),
                             path,
                             appData.isNull() ? QStringLiteral("<null>")
                                              : QString::fromLatin1(appData.toHex())};
        return 0;
    }
    int JoinInvitation(const QString& nickname, const QString& path,
                       const QString& password) override
    {
        calls << QStringList{QStringLiteral("JoinInvitation"), nickname, path, password};
        return 0;
    }
    int PostLSPNotify(long value) override
    {
        calls << QStringList{QStringLiteral("PostLSPNotify"), QString::number(value)};
        return 0;
    }
    int PostUINotify() override
    {
        calls << QStringList{QStringLiteral("PostUINotify")};
        return 0;
    }
    void CloseServerSession(const QString& name) override
    {
        calls << QStringList{QStringLiteral("CloseServerSession"), name};
    }
    int PostP2PStatusChange(long status) override
    {
        calls << QStringList{QStringLiteral("PostP2PStatusChange"), QString::number(status)};
        return 0;
    }
    int PostCreateInvitationStatus(const QString& first, long success,
                                   const QString& error) override
    {
        calls << QStringList{QStringLiteral("PostCreateInvitationStatus"), first,
                             QString::number(success), error};
        return 0;
    }
    int PostJoinInvitationStatus(long success, const QString& error, const QString& session,
                                 const QString& address) override
    {
        calls << QStringList{QStringLiteral("PostJoinInvitationStatus"), QString::number(success),
                             error, session, address};
        return 0;
    }
    int PostInvitationAppData(const QByteArray& data) override
    {
        calls << QStringList{QStringLiteral("PostInvitationAppData"),
                             QString::fromLatin1(data.toHex())};
        return 0;
    }
    QList<QStringList> calls;
};

QString doc(long command, const QStringList& parameters)
{
    QString text =
        QStringLiteral("<?xml version=\"1.0\"?><TervalaIPC><command command=\"%1\"/>").arg(command);
    for (const QString& p : parameters)
        text += QStringLiteral("<parameters parameters=\"%1\"/>").arg(p);
    return text + QStringLiteral("</TervalaIPC>");
}

QString b64(const QByteArray& bytes)
{
    return CBase64::EncodeToString(bytes);
}

QString expiryText(quint64 value)
{
    uchar bytes[8];
    qToLittleEndian(value, bytes);
    return b64(QByteArray(reinterpret_cast<const char*>(bytes), 8));
}

using Send = std::function<void(IRPCExecute&)>;
} // namespace

Q_DECLARE_METATYPE(Send)

class TestIpcMessages : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }

    void sentShape_data();
    void sentShape();
    void createAppDataAddsTwoParameters();
    void received_data();
    void received();
    void roundTripEveryCommand();
    void wireForm();
    void traceLines();

private:
    TestEnvironment m_env;
};

void TestIpcMessages::sentShape_data()
{
    QTest::addColumn<Send>("send");
    QTest::addColumn<long>("command");
    QTest::addColumn<QStringList>("parameters");

    const quint64 expiry = 0x01D9A1B2C3D4E5F6ULL;
    QTest::addRow("CREATE_INVITATION without data: six parameters") << Send([=](IRPCExecute& p) {
        p.CreateInvitation(QStringLiteral("nick"), QStringLiteral("pw"), QStringLiteral("s"),
                           QStringLiteral("<type/>"), expiry, QStringLiteral("/tmp/a b"),
                           QByteArray());
    }) << 0L << QStringList{QStringLiteral("nick"), QStringLiteral("pw"),
                            QStringLiteral("s"),    QStringLiteral("<type/>"),
                            expiryText(expiry),     QStringLiteral("/tmp/a b")};
    QTest::addRow("CREATE_INVITATION with data: eight parameters, length last")
        << Send([](IRPCExecute& p) {
               p.CreateInvitation(QStringLiteral("n"), QString(), QString(), QString(), 0,
                                  QStringLiteral("p"), QByteArray("\x01\x02\x03", 3));
           })
        << 0L
        << QStringList{QStringLiteral("n"),
                       QString(),
                       QString(),
                       QString(),
                       QStringLiteral("AAAAAAAAAAA="),
                       QStringLiteral("p"),
                       QStringLiteral("AQID"),
                       QStringLiteral("3")};
    QTest::addRow("JOIN_INVITATION") << Send([](IRPCExecute& p) {
        p.JoinInvitation(QStringLiteral("nick"), QStringLiteral("/x.Tervalapro"),
                         QStringLiteral("\"<&>\""));
    }) << 1L
                                     << QStringList{QStringLiteral("nick"),
                                                    QStringLiteral("/x.Tervalapro"),
                                                    QStringLiteral("\"<&>\"")};
    QTest::addRow("JOIN_INVITATION_STATUS") << Send([](IRPCExecute& p) {
        p.PostJoinInvitationStatus(1, QStringLiteral("e"), QStringLiteral("Net"),
                                   QStringLiteral("10.1.2.3"));
    }) << 2L
                                            << QStringList{QStringLiteral("1"), QStringLiteral("e"),
                                                           QStringLiteral("Net"),
                                                           QStringLiteral("10.1.2.3")};
    QTest::addRow("LSP_NOTIFY negative") << Send([](IRPCExecute& p) { p.PostLSPNotify(-7); }) << 3L
                                         << QStringList{QStringLiteral("-7")};
    QTest::addRow("UI_NOTIFY") << Send([](IRPCExecute& p) { p.PostUINotify(); }) << 4L
                               << QStringList{};
    QTest::addRow("P2P_STATUS_CHANGE") << Send([](IRPCExecute& p) { p.PostP2PStatusChange(1); })
                                       << 5L << QStringList{QStringLiteral("1")};
    QTest::addRow("CREATE_INVITATION_STATUS") << Send([](IRPCExecute& p) {
        p.PostCreateInvitationStatus(QStringLiteral("first"), 0, QStringLiteral("why"));
    }) << 6L << QStringList{QStringLiteral("first"), QStringLiteral("0"), QStringLiteral("why")};
    QTest::addRow("INVITATION_APP_DATA")
        << Send([](IRPCExecute& p) { p.PostInvitationAppData(QByteArray("hello")); }) << 7L
        << QStringList{QStringLiteral("aGVsbG8="), QStringLiteral("5")};
    QTest::addRow("CLOSE_SERVER_SESSION")
        << Send([](IRPCExecute& p) { p.CloseServerSession(QStringLiteral("Net é")); }) << 8L
        << QStringList{QStringLiteral("Net é")};
}

void TestIpcMessages::sentShape()
{
    QFETCH(Send, send);
    QFETCH(long, command);
    QFETCH(QStringList, parameters);

    CapturingProxy proxy;
    send(proxy);
    QCOMPARE(proxy.documents.size(), 1);
    const QString& text = proxy.documents.first();
    const Parsed p = parse(text);
    QCOMPARE(p.command, command);
    QCOMPARE(p.parameters, parameters);
    // Only the two element kinds, and only their one attribute each.
    QCOMPARE(text.count(QStringLiteral("<command ")), 1);
    QCOMPARE(text.count(QStringLiteral("<parameters ")), parameters.size());
    QCOMPARE(text.count(QStringLiteral(" parameters=\"")), parameters.size());
    QCOMPARE(text.count(QStringLiteral(" command=\"")), 1);
    QVERIFY(!text.contains(QLatin1Char('\n')));
}

void TestIpcMessages::createAppDataAddsTwoParameters()
{
    // A non-null but empty buffer is still "data given": eight parameters.
    CapturingProxy proxy;
    proxy.CreateInvitation(QString(), QString(), QString(), QString(), 0, QString(),
                           QByteArray(""));
    const Parsed p = parse(proxy.documents.first());
    QCOMPARE(p.parameters.size(), 8);
    QCOMPARE(p.parameters.at(4).size(), 12);
    QCOMPARE(p.parameters.at(7), QStringLiteral("0"));
}

void TestIpcMessages::received_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QStringList>>("calls");
    using C = QList<QStringList>;

    QTest::addRow("status 1") << doc(5, {QStringLiteral("1")})
                              << C{{QStringLiteral("PostP2PStatusChange"), QStringLiteral("1")}};
    QTest::addRow("status missing reads 0")
        << doc(5, {}) << C{{QStringLiteral("PostP2PStatusChange"), QStringLiteral("0")}};
    QTest::addRow("status unparsable reads 0")
        << doc(5, {QStringLiteral("abc")})
        << C{{QStringLiteral("PostP2PStatusChange"), QStringLiteral("0")}};
    QTest::addRow("status leading number")
        << doc(5, {QStringLiteral(" 42xyz")})
        << C{{QStringLiteral("PostP2PStatusChange"), QStringLiteral("42")}};
    QTest::addRow("join status in document order")
        << doc(2, {QStringLiteral("1"), QStringLiteral("err"), QStringLiteral("Net"),
                   QStringLiteral("1.2.3.4")})
        << C{{QStringLiteral("PostJoinInvitationStatus"), QStringLiteral("1"),
              QStringLiteral("err"), QStringLiteral("Net"), QStringLiteral("1.2.3.4")}};
    // Missing parameters never repeat earlier ones.
    QTest::addRow("join status with one parameter")
        << doc(2, {QStringLiteral("0")})
        << C{{QStringLiteral("PostJoinInvitationStatus"), QStringLiteral("0"), QString(), QString(),
              QString()}};
    QTest::addRow("create status")
        << doc(6, {QStringLiteral("x"), QStringLiteral("0"), QStringLiteral("Disk full")})
        << C{{QStringLiteral("PostCreateInvitationStatus"), QStringLiteral("x"),
              QStringLiteral("0"), QStringLiteral("Disk full")}};
    QTest::addRow("app data") << doc(7, {b64("abcd"), QStringLiteral("4")})
                              << C{{QStringLiteral("PostInvitationAppData"),
                                    QStringLiteral("61626364")}};
    QTest::addRow("app data length beyond the decoded data")
        << doc(7, {b64("abcd"), QStringLiteral("100000")})
        << C{{QStringLiteral("PostInvitationAppData"), QStringLiteral("61626364")}};
    QTest::addRow("app data shorter length")
        << doc(7, {b64("abcd"), QStringLiteral("2")})
        << C{{QStringLiteral("PostInvitationAppData"), QStringLiteral("6162")}};
    QTest::addRow("app data over capacity is dropped")
        << doc(7, {b64(QByteArray(20481, 'x')), QStringLiteral("20481")})
        << C{{QStringLiteral("PostInvitationAppData"), QString()}};
    QTest::addRow("app data at capacity")
        << doc(7, {b64(QByteArray(20480, '\x7f')), QStringLiteral("20480")})
        << C{{QStringLiteral("PostInvitationAppData"),
              QString::fromLatin1(QByteArray(20480, '\x7f').toHex())}};
    QTest::addRow("create without data")
        << doc(0, {QStringLiteral("n"), QStringLiteral("p"), QStringLiteral("s"),
                   QStringLiteral("t"), expiryText(1234567890123ULL), QStringLiteral("/f")})
        << C{{QStringLiteral("CreateInvitation"), QStringLiteral("n"), QStringLiteral("p"),
              QStringLiteral("s"), QStringLiteral("t"), QStringLiteral("1234567890123"),
              QStringLiteral("/f"), QStringLiteral("<null>")}};
    QTest::addRow("create with data")
        << doc(0, {QStringLiteral("n"), QString(), QString(), QString(), expiryText(0),
                   QStringLiteral("/f"), b64("\x01\x02"), QStringLiteral("2")})
        << C{{QStringLiteral("CreateInvitation"), QStringLiteral("n"), QString(), QString(),
              QString(), QStringLiteral("0"), QStringLiteral("/f"), QStringLiteral("0102")}};
    QTest::addRow("create with data but length 0")
        << doc(0, {QStringLiteral("n"), QString(), QString(), QString(), expiryText(0),
                   QStringLiteral("/f"), b64("\x01\x02"), QStringLiteral("0")})
        << C{{QStringLiteral("CreateInvitation"), QStringLiteral("n"), QString(), QString(),
              QString(), QStringLiteral("0"), QStringLiteral("/f"), QStringLiteral("<null>")}};
    QTest::addRow("create with an oversized expiry")
        << doc(0, {QStringLiteral("n"), QString(), QString(), QString(), b64(QByteArray(9, 1)),
                   QStringLiteral("/f")})
        << C{{QStringLiteral("CreateInvitation"), QStringLiteral("n"), QString(), QString(),
              QString(), QStringLiteral("0"), QStringLiteral("/f"), QStringLiteral("<null>")}};
    QTest::addRow("create with nothing")
        << doc(0, {})
        << C{{QStringLiteral("CreateInvitation"), QString(), QString(), QString(), QString(),
              QStringLiteral("0"), QString(), QStringLiteral("<null>")}};
    QTest::addRow("join") << doc(1, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
                          << C{{QStringLiteral("JoinInvitation"), QStringLiteral("a"),
                                QStringLiteral("b"), QStringLiteral("c")}};
    QTest::addRow("lsp") << doc(3, {QStringLiteral("9")})
                         << C{{QStringLiteral("PostLSPNotify"), QStringLiteral("9")}};
    QTest::addRow("ui") << doc(4, {}) << C{{QStringLiteral("PostUINotify")}};
    QTest::addRow("close") << doc(8, {QStringLiteral("Net")})
                           << C{{QStringLiteral("CloseServerSession"), QStringLiteral("Net")}};
    QTest::addRow("command 9 calls nothing") << doc(9, {QStringLiteral("1")}) << C{};
    QTest::addRow("command -1 calls nothing") << doc(-1, {QStringLiteral("1")}) << C{};
    QTest::addRow("other elements are ignored")
        << QStringLiteral("<TervalaIPC><x parameters=\"7\"/><command command=\"5\"/><y/>"
                          "<parameters parameters=\"3\"/></TervalaIPC>")
        << C{{QStringLiteral("PostP2PStatusChange"), QStringLiteral("3")}};
    // The dispatcher reads what does not parse as command 0 with nothing in it.
    QTest::addRow("not XML reads as an empty create")
        << QStringLiteral("<TervalaIPC><command command=\"5\"")
        << C{{QStringLiteral("CreateInvitation"), QString(), QString(), QString(), QString(),
              QStringLiteral("0"), QString(), QStringLiteral("<null>")}};
    QTest::addRow("another root reads as an empty create")
        << QStringLiteral("<Other><command command=\"5\"/></Other>")
        << C{{QStringLiteral("CreateInvitation"), QString(), QString(), QString(), QString(),
              QStringLiteral("0"), QString(), QStringLiteral("<null>")}};
}

void TestIpcMessages::received()
{
    QFETCH(QString, text);
    QFETCH(QList<QStringList>, calls);
    Recorder target;
    QVERIFY(ExecuteCommand(&target, text));
    QCOMPARE(target.calls, calls);
}

void TestIpcMessages::roundTripEveryCommand()
{
    // What one side sends, the other side's dispatcher hands on unchanged.
    CapturingProxy proxy;
    Recorder direct;
    const QByteArray data("\x00\xff\x10", 3);
    auto all = [&](IRPCExecute& t) {
        t.CreateInvitation(QStringLiteral("nick"), QStringLiteral("pw"), QStringLiteral("sess"),
                           QStringLiteral("<TVLSessionStringFormat a=\"1\"/>"),
                           0xFFFFFFFFFFFFFFFFULL, QStringLiteral("/home/u/x.Tervalapro"), data);
        t.JoinInvitation(QStringLiteral("nick"), QStringLiteral("/p"), QStringLiteral("pw"));
        t.PostLSPNotify(2147483647);
        t.PostUINotify();
        t.CloseServerSession(QStringLiteral("S"));
        t.PostP2PStatusChange(0);
        t.PostCreateInvitationStatus(QStringLiteral("f"), 1, QString());
        t.PostJoinInvitationStatus(0, QStringLiteral("bad password"), QString(), QString());
        t.PostInvitationAppData(data);
    };
    all(proxy);
    all(direct);
    Recorder received;
    for (const QString& text : std::as_const(proxy.documents))
        ExecuteCommand(&received, text);
    QCOMPARE(received.calls, direct.calls);
}

void TestIpcMessages::wireForm()
{
    const QString text = QStringLiteral("<a>é\U0001F600</a>");
    const QByteArray wire = EncodeMessage(text);
    QCOMPARE(wire.size(), (text.size() + 1) * 2);
    QCOMPARE(wire.left(4), QByteArray("<\0a\0", 4));
    QVERIFY(wire.endsWith(QByteArray(2, '\0')));
    QCOMPARE(DecodeMessage(wire.constData(), wire.size()), text);
    // Text stops at the first zero unit; a trailing odd byte is ignored.
    QByteArray tail = wire + QByteArray("x\0y", 3);
    QCOMPARE(DecodeMessage(tail.constData(), tail.size()), text);
    QCOMPARE(DecodeMessage("a\0b", 3), QStringLiteral("a"));
}

void TestIpcMessages::traceLines()
{
    {
        std::unique_ptr<QSettings> store(Settings::NewMachineStore());
        store->setValue(QStringLiteral("LogTraceLevel"), 4);
    }
    OpenTraceLog();
    QVERIFY(TraceLevel() & TRACE_IPC);

    CapturingProxy proxy;
    proxy.JoinInvitation(QString(), QString(), QString());
    proxy.PostCreateInvitationStatus(QString(), 1, QString());
    proxy.PostJoinInvitationStatus(1, QString(), QString(), QString());
    proxy.PostInvitationAppData(QByteArray("x"));
    proxy.PostP2PStatusChange(1);
    proxy.PostUINotify(); // no trace
    Recorder target;
    for (long command : {1L, 2L, 6L, 7L, 4L})
        ExecuteCommand(&target, doc(command, {}));
    ExecuteCommand(&target, doc(8, {QStringLiteral("My Net")}));
    CloseTraceLog();

    QFile file(GetLogFolder() + QStringLiteral("uilog.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xFF\xFE"))
        bytes.remove(0, 2);
    QStringList lines;
    for (const QString& line : DecodeMessage(bytes.constData(), bytes.size())
                                   .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        lines << line.mid(line.indexOf(QStringLiteral(" : ")) + 3);
    const QStringList expected{
        QStringLiteral("Calling JoinInvitation"),
        QStringLiteral("Call Exit JoinInvitation"),
        QStringLiteral("Calling PostCreateInvitationStatus"),
        QStringLiteral("Call Exit PostCreateInvitationStatus"),
        QStringLiteral("Calling PostJoinInvitationStatus"),
        QStringLiteral("Call Exit PostJoinInvitationStatus"),
        QStringLiteral("Calling PostInvitationAppData"),
        QStringLiteral("Call Exit PostInvitationAppData"),
        QStringLiteral("Call  PostP2PStatusChange 1"),
        QStringLiteral("Executing JOIN_INVITATION"),
        QStringLiteral("Executing JOIN_INVITATION_STATUS"),
        QStringLiteral("Execute Exit JOIN_INVITATION_STATUS"),
        QStringLiteral("Executing CREATE_INVITATION_STATUS"),
        QStringLiteral("Execute Exit CREATE_INVITATION_STATUS"),
        QStringLiteral("Executing INVITATION_APP_DATA"),
        QStringLiteral("Execute Exit INVITATION_APP_DATA"),
        QStringLiteral("Executing CLOSE_SERVER_SESSION My Net"),
        QStringLiteral("Execute Exit CLOSE_SERVER_SESSION"),
    };
    QCOMPARE(lines, expected);
}

QTEST_GUILESS_MAIN(TestIpcMessages)
#include "tst_ipcmessages.moc"

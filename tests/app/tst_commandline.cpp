#include "app/CommandLine.h"
#include "app/TervalaproApp.h"

#include <QDir>
#include <QTest>

namespace {
QStringList args(std::initializer_list<const char*> items)
{
    QStringList list;
    for (const char* item : items)
        list.append(QString::fromUtf8(item));
    return list;
}
QString str(const char* text)
{
    return QString::fromUtf8(text);
}
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void handOverRequests_data();
    void handOverRequests();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("startup");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");

    QTest::addRow("nothing") << args({}) << false << QString() << false << false;
    QTest::addRow("startup alone") << args({"-startup"}) << true << QString() << false << false;
    QTest::addRow("startup other case")
        << args({"-Startup"}) << false << QString() << false << false;
    QTest::addRow("startup with trailing blank")
        << args({"-startup "}) << false << QString() << false << false;
    QTest::addRow("startup plus a file is just a switch")
        << args({"-startup", "net.Tervalapro"}) << false << str("net.Tervalapro") << false << false;
    QTest::addRow("file then startup")
        << args({"net.Tervalapro", "-startup"}) << false << str("net.Tervalapro") << false << false;
    QTest::addRow("first non-switch wins") << args({"-x", "a.Tervalapro", "b.Tervalapro"}) << false
                                           << str("a.Tervalapro") << false << false;
    QTest::addRow("absolute path is a file, not a switch")
        << args({"/home/u/net.Tervalapro"}) << false << str("/home/u/net.Tervalapro") << false
        << false;
    QTest::addRow("double dash ends switches") << args({"--", "-odd-name.Tervalapro"}) << false
                                               << str("-odd-name.Tervalapro") << false << false;
    QTest::addRow("blank names are no file")
        << args({"", "x.Tervalapro"}) << false << str("x.Tervalapro") << false << false;
    QTest::addRow("help") << args({"--help"}) << false << QString() << true << false;
    QTest::addRow("version") << args({"--version"}) << false << QString() << false << true;
    QTest::addRow("single-dash help is an ignored switch")
        << args({"-help"}) << false << QString() << false << false;
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    const CCommandLine line = CCommandLine::Parse(arguments);
    QTEST(line.startup, "startup");
    QTEST(line.fileName, "fileName");
    QTEST(line.help, "help");
    QTEST(line.version, "version");
}

void TestCommandLine::handOverRequests_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("path");

    const QString cwd = QDir::currentPath();
    QTest::addRow("bare launch shows")
        << args({}) << 1 << int(CHandOverRequest::Kind::Show) << QString();
    QTest::addRow("startup asks nothing") << args({"-startup"}) << 0 << 0 << QString();
    QTest::addRow("relative file made absolute")
        << args({"sub/n.Tervalapro"}) << 1 << int(CHandOverRequest::Kind::Open)
        << QDir(cwd).filePath(str("sub/n.Tervalapro"));
    const QString longName = QString(300, QLatin1Char('n')) + QStringLiteral(".Tervalapro");
    QTest::addRow("long path still handed over")
        << QStringList{str("/tmp/") + longName} << 1 << int(CHandOverRequest::Kind::Open)
        << str("/tmp/") + longName;
}

void TestCommandLine::handOverRequests()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, count);
    const QList<CHandOverRequest> requests =
        CTervalaprouiApp::HandOverRequests(CCommandLine::Parse(arguments));
    QCOMPARE(requests.size(), count);
    if (count) {
        QTEST(int(requests.first().kind), "kind");
        QTEST(requests.first().path, "path");
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"

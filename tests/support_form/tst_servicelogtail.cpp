#include "support/ServiceLogTail.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// A UTF-16LE log of exactly size bytes: the mark FF FE, then characters that
// differ from their neighbours and are never zero, so any misplaced byte
// shows up in the text.
QByteArray logBytes(qint64 size)
{
    QByteArray bytes;
    bytes.reserve(size);
    if (size >= 1)
        bytes += char(0xFF);
    if (size >= 2)
        bytes += char(0xFE);
    for (qint64 i = 2; i < size; ++i) {
        const qint64 unit = i / 2;
        // Low byte a letter, high byte 0x01..0x04 (Latin Extended letters).
        bytes += (i % 2 == 0) ? char('A' + unit % 26) : char(1 + unit % 4);
    }
    return bytes;
}

// The text the bytes [first, first + count) make, read the way a zero-filled
// buffer reads them: a lone last byte is a character of its own.
QString textOf(const QByteArray& file, qint64 first, qint64 count)
{
    QByteArray slice = file.mid(first, count);
    if (slice.size() % 2 != 0)
        slice += '\0';
    QString text;
    for (qsizetype i = 0; i < slice.size(); i += 2) {
        const char16_t unit = char16_t(uchar(slice[i]) | (uchar(slice[i + 1]) << 8));
        if (unit == 0)
            break;
        text += QChar(unit);
    }
    return text;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
} // namespace

class TestServiceLogTail : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void window_data();
    void window();
    void stopsAtZeroUnit_data();
    void stopsAtZeroUnit();
    void missing();
    void refusedFiles_data();
    void refusedFiles();
    void otherUsersFile();
    void unreadable();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TestServiceLogTail::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("servicelog.txt"));
}

void TestServiceLogTail::window_data()
{
    // size of the log; first byte and number of bytes of the tail (-1: none)
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("count");

    QTest::addRow("empty") << qint64(0) << qint64(-1) << qint64(0);
    QTest::addRow("3 bytes") << qint64(3) << qint64(-1) << qint64(0);
    QTest::addRow("4 bytes") << qint64(4) << qint64(-1) << qint64(0);
    QTest::addRow("7 bytes: 3 to read") << qint64(7) << qint64(-1) << qint64(0);
    QTest::addRow("8 bytes: 4 to read") << qint64(8) << qint64(4) << qint64(4);
    QTest::addRow("1,000: all but the first 4") << qint64(1000) << qint64(4) << qint64(996);
    QTest::addRow("1,001: odd length") << qint64(1001) << qint64(4) << qint64(997);
    QTest::addRow("25,598") << qint64(25598) << qint64(4) << qint64(25594);
    QTest::addRow("25,600: still from byte 4") << qint64(25600) << qint64(4) << qint64(25596);
    // Over the window: from 25,600 before the end, kept on a character
    // boundary, never the last two bytes.
    QTest::addRow("25,601") << qint64(25601) << qint64(2) << qint64(25598);
    QTest::addRow("25,602") << qint64(25602) << qint64(2) << qint64(25598);
    QTest::addRow("100,000") << qint64(100000) << qint64(74400) << qint64(25598);
    QTest::addRow("100,001") << qint64(100001) << qint64(74402) << qint64(25598);
}

void TestServiceLogTail::window()
{
    QFETCH(qint64, size);
    QFETCH(qint64, first);
    QFETCH(qint64, count);
    const QByteArray bytes = logBytes(size);
    QVERIFY(writeFile(m_path, bytes));

    const ServiceLogTail tail = ReadServiceLogTail(m_path);
    if (first < 0) {
        QCOMPARE(tail.status, ServiceLogTail::Status::TooShort);
        QVERIFY(tail.text.isEmpty());
        QVERIFY(!tail.reason.isEmpty());
        return;
    }
    QCOMPARE(tail.status, ServiceLogTail::Status::Attached);
    QCOMPARE(tail.bytesRead, count);
    const QString expected = textOf(bytes, first, count);
    QCOMPARE(tail.text.size(), expected.size());
    QCOMPARE(tail.text, expected);
    QVERIFY(tail.reason.isEmpty());
}

void TestServiceLogTail::stopsAtZeroUnit_data()
{
    QTest::addColumn<qint64>("zeroAt"); // byte offset of a zero unit in a 1,000-byte log
    QTest::addColumn<int>("characters");
    QTest::addRow("in the middle") << qint64(500) << 248;
    QTest::addRow("last unit") << qint64(998) << 497;
    QTest::addRow("first unit read") << qint64(4) << -1;
}

void TestServiceLogTail::stopsAtZeroUnit()
{
    QFETCH(qint64, zeroAt);
    QFETCH(int, characters);
    QByteArray bytes = logBytes(1000);
    bytes[zeroAt] = '\0';
    bytes[zeroAt + 1] = '\0';
    QVERIFY(writeFile(m_path, bytes));

    const ServiceLogTail tail = ReadServiceLogTail(m_path);
    if (characters < 0) {
        // Nothing before the zero: no text to attach.
        QCOMPARE(tail.status, ServiceLogTail::Status::TooShort);
        return;
    }
    QCOMPARE(tail.status, ServiceLogTail::Status::Attached);
    QCOMPARE(tail.text.size(), characters);
    QCOMPARE(tail.text, textOf(bytes, 4, zeroAt - 4));
}

void TestServiceLogTail::missing()
{
    const QString path = m_dir.filePath(QStringLiteral("nowhere/servicelog.txt"));
    const ServiceLogTail tail = ReadServiceLogTail(path);
    QCOMPARE(tail.status, ServiceLogTail::Status::Missing);
    QCOMPARE(tail.path, path);
    QVERIFY(!tail.reason.isEmpty());
}

void TestServiceLogTail::refusedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("symbolic link to a private file") << QStringLiteral("symlink");
    QTest::addRow("second hard link") << QStringLiteral("hardlink");
    QTest::addRow("FIFO (must not hang)") << QStringLiteral("fifo");
    QTest::addRow("directory") << QStringLiteral("dir");
}

void TestServiceLogTail::refusedFiles()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("servicelog.txt"));
    const QString secret = dir.filePath(QStringLiteral("secret"));
    QVERIFY(writeFile(secret, logBytes(2000)));
    if (kind == QLatin1String("symlink"))
        QVERIFY(QFile::link(secret, path));
    else if (kind == QLatin1String("hardlink"))
        QCOMPARE(::link(QFile::encodeName(secret).constData(), QFile::encodeName(path).constData()),
                 0);
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QDir().mkdir(path));

    const ServiceLogTail tail = ReadServiceLogTail(path);
    QCOMPARE(tail.status, ServiceLogTail::Status::Refused);
    QVERIFY(tail.text.isEmpty());
    QVERIFY(!tail.reason.isEmpty());
}

void TestServiceLogTail::otherUsersFile()
{
    if (::geteuid() != 0)
        QSKIP("needs root to give a file to another user");
    QVERIFY(writeFile(m_path, logBytes(1000)));
    QCOMPARE(::chown(QFile::encodeName(m_path).constData(), 65534, 65534), 0);
    const ServiceLogTail tail = ReadServiceLogTail(m_path);
    QCOMPARE(tail.status, ServiceLogTail::Status::Refused);
    QVERIFY(tail.text.isEmpty());
    QCOMPARE(::chown(QFile::encodeName(m_path).constData(), 0, 0), 0);
    // Root's own file (the service's) is read.
    QCOMPARE(ReadServiceLogTail(m_path).status, ServiceLogTail::Status::Attached);
}

void TestServiceLogTail::unreadable()
{
    if (::geteuid() == 0)
        QSKIP("root reads a file whatever its mode");
    QVERIFY(writeFile(m_path, logBytes(1000)));
    QVERIFY(QFile::setPermissions(m_path, QFileDevice::WriteOwner));
    const ServiceLogTail tail = ReadServiceLogTail(m_path);
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(tail.status, ServiceLogTail::Status::Unreadable);
    QVERIFY(!tail.reason.isEmpty());
}

QTEST_GUILESS_MAIN(TestServiceLogTail)
#include "tst_servicelogtail.moc"

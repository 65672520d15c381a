#include "foundation/Paths.h"
#include "foundation/TraceLog.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <openssl/err.h>
#include <openssl/pkcs12err.h>

#include <cstdio>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

// The trace log is process-wide, so every case reopens it with the level it
// needs; nothing here may run in parallel with another case.
class TestTraceLog : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_env;

    QString logPath() const { return Paths::LogFolder() + QStringLiteral("uilog.txt"); }
    QByteArray logBytes() const
    {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void setLevelText(const QByteArray& text)
    {
        const QString dir = m_env.configDirs() + QStringLiteral("/Quornix");
        QDir().mkpath(dir);
        QFile f(dir + QStringLiteral("/Tervala Pro.conf"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[General]\nLogTraceLevel=" + text + "\n");
        // QSettings keeps a parsed copy while size and time stay the same.
        f.flush();
        static int tick = 0;
        f.setFileTime(QDateTime::currentDateTime().addSecs(++tick),
                      QFileDevice::FileModificationTime);
    }
    static QByteArray utf16le(const QString& text)
    {
        QByteArray out;
        for (QChar c : text) {
            out.append(static_cast<char>(c.unicode() & 0xFF));
            out.append(static_cast<char>(c.unicode() >> 8));
        }
        return out;
    }
    static QString ownPrefix() { return QString::number(gettid()) + QStringLiteral(" : "); }
    // What `act` writes to this process's standard error.
    static QString captureStandardError(const std::function<void()>& act)
    {
        QTemporaryFile capture;
        if (!capture.open())
            return QStringLiteral("<no capture>");
        std::fflush(stderr);
        const int saved = ::dup(2);
        ::dup2(capture.handle(), 2);
        act();
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        capture.seek(0);
        return QString::fromLocal8Bit(capture.readAll());
    }

private slots:
    void init()
    {
        CloseTraceLog();
        QFile::remove(logPath());
    }
    void cleanupTestCase() { CloseTraceLog(); }

    void freshLogHasMarkEvenAtLevelZero()
    {
        setLevelText("0");
        OpenTraceLog();
        QCOMPARE(TraceLevel(), 0u);
        CTraceLog::Trace(QStringLiteral("not written"));
        CTraceLog::TraceF("nor %s", "this");
        CloseTraceLog();
        QCOMPARE(logBytes(), QByteArray("\xFF\xFE", 2));
    }

    void levelFromMachineStore_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<uint>("level");
        QTest::addRow("service link") << QByteArray("4") << 4u;
        QTest::addRow("errors") << QByteArray("1") << 1u;
        QTest::addRow("unused bit") << QByteArray("2") << 2u;
        QTest::addRow("hex") << QByteArray("0x5") << 5u;
        QTest::addRow("words") << QByteArray("verbose") << 0u;
        QTest::addRow("negative") << QByteArray("-1") << 0u;
        QTest::addRow("list") << QByteArray("1, 4") << 0u;
        QTest::addRow("empty") << QByteArray() << 0u;
    }
    void levelFromMachineStore()
    {
        QFETCH(QByteArray, stored);
        QFETCH(uint, level);
        setLevelText(stored);
        OpenTraceLog();
        QCOMPARE(TraceLevel(), level);
    }

    void lineFormat()
    {
        setLevelText("5");
        OpenTraceLog();
        CTraceLog::Trace(QStringLiteral("Executing %s JOIN_INVITATION"));
        CTraceLog::TraceF("Call  PostP2PStatusChange %d", -3);
        CTraceLog::TraceF("Executing CLOSE_SERVER_SESSION %s", "Réseau");
        CloseTraceLog();
        const QString p = ownPrefix();
        // Trace writes its message as it is; only TraceF interprets a format.
        const QByteArray expected = QByteArray("\xFF\xFE", 2) +
                                    utf16le(p + QStringLiteral("Executing %s JOIN_INVITATION\r\n") +
                                            p + QStringLiteral("Call  PostP2PStatusChange -3\r\n") +
                                            p + QStringLiteral("Executing CLOSE_SERVER_SESSION ") +
                                            QString::fromUtf8("Réseau") + QStringLiteral("\r\n"));
        QCOMPARE(logBytes(), expected);
    }

    void longLinesAreCut()
    {
        setLevelText("1");
        OpenTraceLog();
        const QString message(2000, QLatin1Char('x'));
        CTraceLog::Trace(message);
        CTraceLog::TraceF("%s", message.toLatin1().constData());
        CloseTraceLog();
        const QString line = (ownPrefix() + message).left(1023);
        QCOMPARE(logBytes(), QByteArray("\xFF\xFE", 2) + utf16le(line + line));
    }

    // Opening keeps a log of up to 1 MiB and drops a larger one whole; the
    // limit then holds for every line, so a log at the limit is dropped by
    // the first line that does not fit any more.
    void sizeLimit_data()
    {
        QTest::addColumn<qint64>("size"); // -1: exactly room for the next line
        QTest::addColumn<bool>("keptAtOpen");
        QTest::addColumn<bool>("keptAfterLine");
        QTest::addRow("small") << qint64(10) << true << true;
        QTest::addRow("room for exactly the line") << qint64(-1) << true << true;
        QTest::addRow("exactly the limit") << qint64(1048576) << true << false;
        QTest::addRow("one byte over") << qint64(1048577) << false << false;
    }
    void sizeLimit()
    {
        QFETCH(qint64, size);
        QFETCH(bool, keptAtOpen);
        QFETCH(bool, keptAfterLine);
        const QByteArray line = utf16le(ownPrefix() + QStringLiteral("next\r\n"));
        if (size < 0)
            size = 1048576 - line.size();
        Paths::MakePath(Paths::LogFolder());
        QByteArray old(size, 'a');
        {
            QFile f(logPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        old[0] = '\xFF';
        old[1] = '\xFE';
        setLevelText("1");
        OpenTraceLog();
        QCOMPARE(logBytes(), keptAtOpen ? old : QByteArray("\xFF\xFE", 2));
        CTraceLog::Trace(QStringLiteral("next"));
        CloseTraceLog();
        const QByteArray expected = keptAfterLine ? old + line : QByteArray("\xFF\xFE", 2) + line;
        QCOMPARE(logBytes(), expected);
        QVERIFY(logBytes().size() <= 1048576);
    }

    void unwritableFolderLeavesNoLog()
    {
        // A file where the folder should be cannot be made a folder, even by root.
        const QString quornix = Paths::QuornixFolder();
        QDir(quornix).removeRecursively();
        QDir().mkpath(quornix);
        {
            QFile blocker(quornix + QStringLiteral("/log"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        setLevelText("5");
        OpenTraceLog();
        QCOMPARE(TraceLevel(), 0u);
        CTraceLog::Trace(QStringLiteral("goes nowhere"));
        QFile::remove(quornix + QStringLiteral("/log"));
    }

    // Anything but a regular file of this user's own with one name is left
    // alone, and the user is told once on standard error.
    void foreignLogEntriesAreNotOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::addRow("link") << QStringLiteral("link") << QStringLiteral("symbolic link");
        QTest::addRow("fifo") << QStringLiteral("fifo") << QStringLiteral("not a regular file");
        QTest::addRow("second name")
            << QStringLiteral("hardlink") << QStringLiteral("more than one name");
        QTest::addRow("other owner")
            << QStringLiteral("owner") << QStringLiteral("belongs to another user");
    }
    void foreignLogEntriesAreNotOpened()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        if (kind == QLatin1String("owner") && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        Paths::MakePath(Paths::LogFolder());
        const QString victim = m_env.root() + QStringLiteral("/victim.txt");
        QFile::remove(victim);
        {
            QFile f(victim);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("precious");
        }
        const QByteArray log = QFile::encodeName(logPath());
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(victim, logPath()));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(log.constData(), 0600), 0);
        else if (kind == QLatin1String("hardlink"))
            QCOMPARE(::link(QFile::encodeName(victim).constData(), log.constData()), 0);
        else {
            // Planted by another user, writable by everyone so that this
            // user's program would write into it and that user read it.
            QVERIFY(QFile::copy(victim, logPath()));
            QCOMPARE(::chmod(log.constData(), 0666), 0);
            QCOMPARE(::chown(log.constData(), 4242, 4242), 0);
        }
        setLevelText("5");
        const QString stderrText = captureStandardError([] {
            OpenTraceLog(); // must neither block nor write into the entry
        });
        QCOMPARE(TraceLevel(), 0u);
        CTraceLog::Trace(QStringLiteral("nowhere"));
        QFile f(victim);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("precious"));
        if (kind == QLatin1String("owner")) {
            QFile planted(logPath());
            QVERIFY(planted.open(QIODevice::ReadOnly));
            QCOMPARE(planted.readAll(), QByteArray("precious"));
        }
        QCOMPARE(stderrText.count(QLatin1Char('\n')), 1);
        QVERIFY2(stderrText.contains(said) && stderrText.contains(logPath()),
                 qPrintable(stderrText));
    }

    void ownLogIsPrivate()
    {
        setLevelText("1");
        const QString stderrText = captureStandardError([] { OpenTraceLog(); });
        QCOMPARE(stderrText, QString());
        QCOMPARE(TraceLevel(), 1u);
        QCOMPARE(QFile::permissions(logPath()) & 0x0077, QFileDevice::Permissions());
    }

    // The limit holds while the program runs, not only when the log is
    // opened: a line that would carry the log past 1 MiB first drops the old
    // lines, as opening an oversized log does.
    void limitHoldsWhileWriting()
    {
        setLevelText("1");
        OpenTraceLog();
        const QString message(1000, QLatin1Char('m'));
        const qint64 lineBytes = 2 * (ownPrefix().size() + message.size() + 2);
        qint64 largest = 0;
        int drops = 0;
        qint64 previous = 0;
        int expectedDrops = 0;
        for (qint64 size = 2, i = 0; i < 1600; ++i, size += lineBytes) {
            if (size + lineBytes > 1048576) {
                size = 2;
                ++expectedDrops;
            }
        }
        for (int i = 0; i < 1600; ++i) { // about 3.2 MB of lines
            CTraceLog::TraceF("%04d%s", i, message.mid(4).toLatin1().constData());
            const qint64 size = QFileInfo(logPath()).size();
            largest = qMax(largest, size);
            if (size < previous) {
                ++drops;
                QCOMPARE(size, 2 + lineBytes); // the mark and the new line only
            }
            previous = size;
        }
        CloseTraceLog();
        QVERIFY2(largest <= 1048576, qPrintable(QString::number(largest)));
        QVERIFY(largest > 1048576 - lineBytes);
        QVERIFY(expectedDrops >= 3);
        QCOMPARE(drops, expectedDrops);
        const QByteArray bytes = logBytes();
        QVERIFY(bytes.startsWith("\xFF\xFE"));
        const QString text = QString::fromUtf16(
            reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
        const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QVERIFY(lines.last().startsWith(ownPrefix() + QStringLiteral("1599")));
        for (const QString& l : lines)
            QCOMPARE(l.size(), ownPrefix().size() + message.size());
    }

    void concurrentLinesStayWhole()
    {
        setLevelText("4");
        OpenTraceLog();
        constexpr int kThreads = 4, kLines = 500;
        QList<QThread*> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.append(QThread::create([] {
                for (int i = 0; i < kLines; ++i)
                    CTraceLog::TraceF("line %d of this thread", i);
            }));
            threads.last()->start();
        }
        for (QThread* t : threads) {
            QVERIFY(t->wait(30000));
            delete t;
        }
        CloseTraceLog();
        const QByteArray bytes = logBytes();
        QVERIFY(bytes.startsWith("\xFF\xFE"));
        const QString text = QString::fromUtf16(
            reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
        const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), kThreads * kLines);
        static const QRegularExpression shape(QStringLiteral("^\\d+ : line \\d+ of this thread$"));
        for (const QString& l : lines)
            QVERIFY2(shape.match(l).hasMatch(), qPrintable(l));
    }

    void errorText_data()
    {
        QTest::addColumn<int>("source");
        QTest::addColumn<qulonglong>("code");
        QTest::addColumn<QString>("expected");
        const QString p = QStringLiteral("File creation failed for writing. Reason: ");
        QTest::addRow("errno") << 0 << qulonglong(ENOENT)
                               << p + QStringLiteral("No such file or directory");
        QTest::addRow("facility 8 reduced")
            << 0 << qulonglong(0x80000 | EACCES) << p + QStringLiteral("Permission denied");
        QTest::addRow("facility 7 kept")
            << 0 << qulonglong(0x70002) << p + QStringLiteral("n0x70002");
        QTest::addRow("unknown errno") << 0 << qulonglong(99999) << p + QStringLiteral("n0x1869F");
        QTest::addRow("openssl") << 1
                                 << qulonglong(
                                        ERR_PACK(ERR_LIB_PKCS12, 0, PKCS12_R_MAC_VERIFY_FAILURE))
                                 << p + QStringLiteral("mac verify failure");
        QTest::addRow("openssl unknown")
            << 1 << qulonglong(0x7FFFFF) << p + QStringLiteral("n0x7FFFFF");
    }
    void errorText()
    {
        QFETCH(int, source);
        QFETCH(qulonglong, code);
        QFETCH(QString, expected);
        QString text = QStringLiteral("old");
        const ErrorCode ec = source == 0 ? ErrorCode::System(static_cast<int>(code))
                                         : ErrorCode::OpenSsl(static_cast<unsigned long>(code));
        FormatErrorText(ec, text, 10001);
        QCOMPARE(text, expected);
    }
};

QTEST_GUILESS_MAIN(TestTraceLog)
#include "tst_tracelog.moc"

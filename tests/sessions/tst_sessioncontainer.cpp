#include "sessions/SessionContainer.h"
#include "tests/sessions/SectionImage.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QTest>

#include <climits>
#include <unistd.h>

using TestSection::Image;

class tst_SessionContainer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void readingPass_data();
    void readingPass();
    void recordsKeptByteForByte();
    void sameNameTwiceIsOneSession();
    void missingSectionKeepsLastRead_data();
    void missingSectionKeepsLastRead();
    void truncatedUnderTheView();
    void replacedUnderTheView();
    void writerRoundTrip();
    void narrowKey_data();
    void narrowKey();

private:
    static QStringList describe(const QList<_CLIENT_INFORMATION>& clients);
    QString sectionFile() const { return TestSection::SectionFile(m_env->runtimeDir()); }

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_SessionContainer::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void tst_SessionContainer::cleanup()
{
    QFile::remove(sectionFile());
}

QStringList tst_SessionContainer::describe(const QList<_CLIENT_INFORMATION>& clients)
{
    QStringList out;
    for (const _CLIENT_INFORMATION& client : clients)
        out << client.NetworkName() + u'|' + client.NetworkDisplayText() + u'|' + client.PeerName();
    return out;
}

void tst_SessionContainer::readingPass_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QStringList>("clients");

    const QString a = QStringLiteral("alpha");
    const QString A = QStringLiteral("Alpha");
    const QString b = QStringLiteral("beta");
    const QString B = QStringLiteral("Beta");
    auto S = [](const char* s) { return QString::fromUtf8(s); };

    {
        Image img;
        img.session(a, A, 1).peer(S("p1")).tunnels(0, 0);
        QTest::addRow("used length 0") << img.image(0) << QStringList();
    }
    {
        Image img;
        img.session(a, A, 1).peer(S("p1")).tunnels(0, 0);
        const qsizetype cut = img.size() + 100; // inside beta's name
        img.session(b, B, 1).peer(S("q1")).tunnels(0, 0);
        QTest::addRow("used length ends inside a name")
            << img.image(cut) << QStringList{S("alpha|Alpha|p1")};
    }
    {
        Image img;
        img.session(a, A, 3).peer(S("p1")).peer(S("empty"), 0).peer(S("p3")).tunnels(0, 0);
        img.session(b, B, 1).peer(S("q1")).tunnels(0, 0);
        QTest::addRow("slot flagged 0 skipped, cursor still advances")
            << img.image()
            << QStringList{S("alpha|Alpha|p1"), S("alpha|Alpha|p3"), S("beta|Beta|q1")};
    }
    {
        Image img;
        img.session(a, A, 1000).peer(S("p1")).peer(S("p2"));
        QTest::addRow("peer count larger than the capacity")
            << img.image() << QStringList{S("alpha|Alpha|p1"), S("alpha|Alpha|p2")};
    }
    {
        Image img;
        img.session(a, A, INT_MAX).peer(S("p1"));
        img.bytes(QByteArray(500, '\0')); // room for less than one more record
        QTest::addRow("huge peer count") << img.image() << QStringList{S("alpha|Alpha|p1")};
    }
    {
        Image img;
        img.session(a, A, -5).tunnels(0, 0);
        img.session(b, B, 1).peer(S("q1")).tunnels(0, 0);
        QTest::addRow("negative peer count means none")
            << img.image() << QStringList{S("beta|Beta|q1")};
    }
    {
        Image img;
        img.session(b, B, 1).peer(S("q1")).tunnels(0, 0);
        img.session(a, A, 1).peer(S("p1")).tunnels(0, 0);
        QTest::addRow("beta then alpha lists alpha first")
            << img.image() << QStringList{S("alpha|Alpha|p1"), S("beta|Beta|q1")};
    }
    {
        Image img;
        img.session(a, A, 3).peer(S("p1")).peer(S("p2")).peer(S("p3")).tunnels(0, 0);
        QTest::addRow("three peers")
            << img.image()
            << QStringList{S("alpha|Alpha|p1"), S("alpha|Alpha|p2"), S("alpha|Alpha|p3")};
    }
    {
        Image img;
        img.session(a, S("Old"), 2).peer(S("o1")).peer(S("o2")).tunnels(0, 0);
        img.session(b, B, 1).peer(S("q1")).tunnels(0, 0);
        img.session(a, S("New"), 1).peer(S("n1")).tunnels(0, 0);
        QTest::addRow("name twice, last wins")
            << img.image() << QStringList{S("alpha|New|n1"), S("beta|Beta|q1")};
    }
    {
        Image img;
        img.session(a, A, 0).tunnels(0, 0);
        QTest::addRow("session without peers") << img.image() << QStringList();
    }
    {
        Image img;
        img.session(a, A, 2).peer(S("p1")).peer(S("p2")).tunnels(0, 0);
        QTest::addRow("used length beyond the capacity")
            << img.image(0xFFFFFFF0) << QStringList{S("alpha|Alpha|p1"), S("alpha|Alpha|p2")};
    }
    {
        Image img;
        img.session(a, A, 2).peer(S("p1")).peer(S("p2"));
        QTest::addRow("record ending past the used length")
            << img.image(img.size() - 1) << QStringList{S("alpha|Alpha|p1")};
    }
    {
        Image img;
        img.session(a, A, 1).peer(S("p1")).tunnels(2, 2);
        img.session(b, B, 1).peer(S("q1")).tunnels(-7, 0);
        img.session(S("gamma"), S("Gamma"), 1).peer(S("g1")).tunnels(0, 0);
        QTest::addRow("tunnels skipped, negative tunnel count")
            << img.image()
            << QStringList{S("alpha|Alpha|p1"), S("beta|Beta|q1"), S("gamma|Gamma|g1")};
    }
    {
        Image img;
        img.text(QString(300, u'n'), false).text(QString(300, u'd'), false).i32(1);
        img.bytes(QByteArray(16, '\0')).peer(S("p1")).tunnels(0, 0);
        QTest::addRow("text fields without terminator")
            << img.image()
            << QStringList{QString(259, u'n') + u'|' + QString(259, u'd') + S("|p1")};
    }
    {
        Image img;
        img.session(QString(100, QChar(0x7F51)), S("Réseau ünï"), 1).peer(S("pär")).tunnels(0, 0);
        QTest::addRow("multi-byte name cut between characters")
            << img.image() << QStringList{QString(86, QChar(0x7F51)) + S("|Réseau ünï|pär")};
    }
    {
        Image img;
        QTest::addRow("only the used length, claiming more") << img.image(100, 0) << QStringList();
    }
    {
        Image img;
        img.session(a, A, 1).peer(S("p1")).tunnels(0, 0);
        img.bytes(QByteArray(300, '\x7F')); // garbage shorter than a name
        QTest::addRow("trailing bytes shorter than a name")
            << img.image() << QStringList{S("alpha|Alpha|p1")};
    }
}

void tst_SessionContainer::readingPass()
{
    QFETCH(QByteArray, image);
    QFETCH(QStringList, clients);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), image));
    CUITVLSession container;
    container.Refresh();
    QCOMPARE(describe(container.GetClients()), clients);
}

void tst_SessionContainer::recordsKeptByteForByte()
{
    Image img;
    img.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 2)
        .peer(QStringLiteral("p1"))
        .peer(QStringLiteral("p2"))
        .tunnels(3, 3);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), img.image()));

    CUITVLSession container;
    container.Refresh();
    const QList<_CLIENT_INFORMATION> clients = container.GetClients();
    QCOMPARE(clients.size(), 2);
    const QByteArray expected = Image::peerRecord(QStringLiteral("p2"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(clients[1].peer.bytes.data()), 1068),
             expected);
    QCOMPARE(clients[1].peer.SecondText(), QStringLiteral("10.0.0.1"));
    // Offsets the tree relies on.
    const auto* raw = reinterpret_cast<const char*>(&clients[0]);
    QCOMPARE(DecodeTextField(raw + 22), QStringLiteral("p1"));
    QCOMPARE(DecodeTextField(raw + 1068), QStringLiteral("Alpha"));
    QCOMPARE(DecodeTextField(raw + 1588), QStringLiteral("alpha"));

    CTVLSession* session = container.FindSession(QStringLiteral("alpha"));
    QVERIFY(session);
    QCOMPARE(session->Peers().Header(), QByteArray(16, 'h'));
    const QList<TunnelRecord> tunnels = session->Tunnels().GetTunnels();
    QCOMPARE(tunnels.size(), 3);
    QCOMPARE(tunnels[2].bytes.front(), 'v');
    QCOMPARE(tunnels[2].bytes.back(), 'v');
}

void tst_SessionContainer::sameNameTwiceIsOneSession()
{
    Image img;
    img.session(QStringLiteral("alpha"), QStringLiteral("Old"), 1)
        .peer(QStringLiteral("o1"))
        .tunnels(2, 2);
    img.session(QStringLiteral("alpha"), QStringLiteral("New"), 1)
        .peer(QStringLiteral("n1"))
        .tunnels(1, 1);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), img.image()));

    CUITVLSession container;
    container.Refresh();
    QCOMPARE(container.SessionCount(), 1);
    CTVLSession* session = container.FindSession(QStringLiteral("alpha"));
    QVERIFY(session);
    QCOMPARE(session->ReferenceCount(), 2);
    QCOMPARE(session->Owner(), &container);
    QCOMPARE(session->Tunnels().Count(), 1);
    QCOMPARE(session->DisplayText(), QStringLiteral("New"));
}

void tst_SessionContainer::missingSectionKeepsLastRead_data()
{
    QTest::addColumn<QString>("how");
    QTest::addRow("removed") << QStringLiteral("remove");
    QTest::addRow("empty file") << QStringLiteral("empty");
    QTest::addRow("shorter than the used length") << QStringLiteral("short");
    QTest::addRow("a folder in its place") << QStringLiteral("folder");
}

void tst_SessionContainer::missingSectionKeepsLastRead()
{
    QFETCH(QString, how);
    Image img;
    img.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 2)
        .peer(QStringLiteral("p1"))
        .peer(QStringLiteral("p2"))
        .tunnels(0, 0);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), img.image()));
    CUITVLSession container;
    container.Refresh();
    const QStringList before = describe(container.GetClients());
    QCOMPARE(before.size(), 2);

    QVERIFY(QFile::remove(sectionFile()));
    if (how == QLatin1String("empty")) {
        QVERIFY(TestSection::Publish(m_env->runtimeDir(), QByteArray()));
    } else if (how == QLatin1String("short")) {
        QVERIFY(TestSection::Publish(m_env->runtimeDir(), QByteArray("\x10\0\0", 3)));
    } else if (how == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(sectionFile()));
    }
    container.Refresh();
    container.Refresh();
    QCOMPARE(describe(container.GetClients()), before);
    if (how == QLatin1String("folder"))
        QVERIFY(QDir().rmdir(sectionFile()));
}

// A writer that shrinks the file while a reader has it mapped must not bring
// the reader down: the pages past the new end fault, and the pass keeps only
// what it read before them.
void tst_SessionContainer::truncatedUnderTheView()
{
    Image img;
    img.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 3)
        .peer(QStringLiteral("p1"))
        .peer(QStringLiteral("p2"))
        .peer(QStringLiteral("p3")) // crosses the first page boundary
        .tunnels(0, 0);
    img.session(QStringLiteral("beta"), QStringLiteral("Beta"), 1)
        .peer(QStringLiteral("q1"))
        .tunnels(0, 0);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), img.image()));

    CUITVLSession container;
    CSharedSection section;
    QVERIFY(section.Open());
    QCOMPARE(section.Capacity(), quint64(img.size()));
    QCOMPARE(::truncate(QFile::encodeName(sectionFile()).constData(), 4096), 0);
    container.ReadSessions(section);
    QVERIFY(section.Faulted());
    CTVLSession* alpha = container.FindSession(QStringLiteral("alpha"));
    QVERIFY(alpha);
    QCOMPARE(alpha->Peers().Count(), 2);
    QVERIFY(!container.FindSession(QStringLiteral("beta")));

    // Cut to nothing: even the used length is gone.
    QCOMPARE(::truncate(QFile::encodeName(sectionFile()).constData(), 0), 0);
    QCOMPARE(section.UsedLength(), quint64(0));
    section.Rewind();
    QByteArray sink(16, '\0');
    QVERIFY(!section.Read(sink.data(), 16));
}

// Renaming a new file over the section (the way the capacity changes) leaves
// an open view on the old contents.
void tst_SessionContainer::replacedUnderTheView()
{
    Image first;
    first.session(QStringLiteral("alpha"), QStringLiteral("Alpha"), 1)
        .peer(QStringLiteral("p1"))
        .tunnels(0, 0);
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), first.image()));
    CSharedSection section;
    QVERIFY(section.Open());

    Image second;
    second.session(QStringLiteral("beta"), QStringLiteral("Beta"), 1)
        .peer(QStringLiteral("q1"))
        .tunnels(0, 0);
    const QString next = sectionFile() + QStringLiteral(".new");
    {
        QFile file(next);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(second.image(-1, 4 * 65536));
    }
    QVERIFY(::rename(QFile::encodeName(next).constData(),
                     QFile::encodeName(sectionFile()).constData()) == 0);

    CUITVLSession container;
    container.ReadSessions(section);
    QVERIFY(container.FindSession(QStringLiteral("alpha")));
    QVERIFY(!container.FindSession(QStringLiteral("beta")));
    container.Refresh();
    QCOMPARE(describe(container.GetClients()), QStringList{QStringLiteral("beta|Beta|q1")});
}

// The writing direction (used by the stand-in service) produces what the
// reading pass and the independent test writer agree on.
void tst_SessionContainer::writerRoundTrip()
{
    ISessionContainer model;
    CTVLSession* beta = model.GetOrCreateSession(QStringLiteral("beta"));
    beta->SetDisplayText(QStringLiteral("Beta"));
    PeerRecord peer;
    peer.SetFlag(1);
    peer.SetPeerName(QStringLiteral("q1"));
    beta->Peers().Append(peer);
    TunnelRecord tunnel;
    tunnel.bytes.fill('t');
    beta->Tunnels().Append(tunnel);
    CTVLSession* alpha = model.GetOrCreateSession(QStringLiteral("alpha"));
    alpha->SetDisplayText(QStringLiteral("Alpha"));
    peer.SetPeerName(QStringLiteral("p1"));
    alpha->Peers().Append(peer);

    const quint64 needed = model.RequiredPayloadBytes();
    CSharedSection writer(CSharedSection::WriteTag{}, quint32(needed + 1000));
    QVERIFY(model.WriteSessions(writer));
    QCOMPARE(writer.UsedLength(), needed);

    QByteArray image = writer.Image();
    QCOMPARE(image.size(), qsizetype(4 + needed + 1000));
    // Layout: alpha first (map order), its name at payload offset 0.
    QCOMPARE(DecodeTextField(image.constData() + 4), QStringLiteral("alpha"));
    QCOMPARE(DecodeTextField(image.constData() + 4 + 520), QStringLiteral("Alpha"));
    QCOMPARE(qFromLittleEndian<qint32>(image.constData() + 4 + 1040), 1);

    QVERIFY(TestSection::Publish(m_env->runtimeDir(), image));
    CUITVLSession reader;
    reader.Refresh();
    QCOMPARE(describe(reader.GetClients()),
             (QStringList{QStringLiteral("alpha|Alpha|p1"), QStringLiteral("beta|Beta|q1")}));
    QCOMPARE(reader.FindSession(QStringLiteral("beta"))->Tunnels().Count(), 1);

    // Too small: the records that do not fit are left out, and the reader
    // still accepts every whole one.
    CSharedSection small(CSharedSection::WriteTag{}, quint32(needed - 10));
    QVERIFY(!model.WriteSessions(small));
    QVERIFY(TestSection::Publish(m_env->runtimeDir(), small.Image()));
    reader.Refresh();
    QCOMPARE(describe(reader.GetClients()),
             (QStringList{QStringLiteral("alpha|Alpha|p1"), QStringLiteral("beta|Beta|q1")}));
    QCOMPARE(reader.FindSession(QStringLiteral("beta"))->Tunnels().Count(), 0);
}

void tst_SessionContainer::narrowKey_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("bytes");
    QTest::addRow("ascii within") << QString(259, u'a') << 259;
    QTest::addRow("ascii cut") << QString(400, u'a') << 259;
    QTest::addRow("two-byte cut") << QString(200, QChar(0xE9)) << 258;
    QTest::addRow("four-byte cut") << QString::fromUtf8("\xF0\x9F\x98\x80").repeated(80) << 256;
    QTest::addRow("empty") << QString() << 0;
}

void tst_SessionContainer::narrowKey()
{
    QFETCH(QString, name);
    QFETCH(int, bytes);
    const QByteArray key = ISessionContainer::NarrowKey(name);
    QCOMPARE(key.size(), bytes);
    // Never half a character: the key decodes back without loss.
    QCOMPARE(QString::fromUtf8(key).toUtf8(), key);
    QVERIFY(name.startsWith(QString::fromUtf8(key)));
}

QTEST_GUILESS_MAIN(tst_SessionContainer)
#include "tst_sessioncontainer.moc"

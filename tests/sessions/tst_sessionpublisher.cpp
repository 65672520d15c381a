#include "servicelink/EventNotify.h"
#include "sessions/SessionContainer.h"
#include "sessions/SharedSection.h"
#include "standin/SessionPublisher.h"
#include "standin/StandinService.h"
#include "tests/sessions/SectionImage.h"
#include "tests/support/TestEnvironment.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QTest>

#include <atomic>
#include <thread>

// The service's side of the shared state, checked through the program's own
// reading side: in-process for the service's signals, and with the real
// stand-in process for the control channel.
class tst_SessionPublisher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void followsCreateJoinAndClose();
    void growsByRenameAndNeverShrinks();
    void standinControlArrivesThroughTheEvent();

private:
    static QStringList clients(CUITVLSession& container);
    bool ctl(const QStringList& args, QString* output = nullptr);

    std::unique_ptr<TestEnvironment> m_env;
};

void tst_SessionPublisher::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

QStringList tst_SessionPublisher::clients(CUITVLSession& container)
{
    container.Refresh();
    QStringList out;
    const QList<_CLIENT_INFORMATION> list = container.GetClients();
    for (const _CLIENT_INFORMATION& client : list)
        out << client.NetworkName() + u'|' + client.NetworkDisplayText() + u'|' +
                   client.PeerName() + u'|' + client.peer.SecondText();
    return out;
}

bool tst_SessionPublisher::ctl(const QStringList& args, QString* output)
{
    QProcess process;
    process.start(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")),
                  QStringList{QStringLiteral("ctl")} + args);
    if (!process.waitForFinished(10000))
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void tst_SessionPublisher::followsCreateJoinAndClose()
{
    StandinService service;
    SessionPublisher publisher;
    QString error;
    QVERIFY2(publisher.start(&error), qPrintable(error));
    publisher.attach(service);
    CUITVLSession container;
    QCOMPARE(clients(container), QStringList());

    CreateRequest create;
    create.nickname = QStringLiteral("ann");
    create.path = QStringLiteral("/tmp/Demo.Tervalapro");
    CreateResult created;
    created.sessionName = QStringLiteral("demo-1");
    created.displayText = QStringLiteral("Demo network");
    emit service.created(create, created);

    JoinRequest join;
    join.nickname = QStringLiteral("bob");
    JoinResult joined;
    joined.sessionName = QStringLiteral("Club");
    joined.inviterAddress = QStringLiteral("192.0.2.7");
    emit service.joined(join, joined);

    QCOMPARE(clients(container),
             (QStringList{QStringLiteral("Club|Club|inviter|192.0.2.7"),
                          QStringLiteral("Club|Club|bob|10.77.0.2"),
                          QStringLiteral("demo-1|Demo network|ann|10.77.0.1")}));

    emit service.closeSessionRequested(QStringLiteral("demo-1"));
    QCOMPARE(clients(container), (QStringList{QStringLiteral("Club|Club|inviter|192.0.2.7"),
                                              QStringLiteral("Club|Club|bob|10.77.0.2")}));
    // Closing what does not exist changes nothing.
    const quint64 signalsBefore = publisher.signalsSent();
    emit service.closeSessionRequested(QStringLiteral("demo-1"));
    QCOMPARE(publisher.signalsSent(), signalsBefore);
}

// A list larger than the file is published through a new, larger file; a
// reader that mapped the old one keeps reading valid pages, and a smaller
// list later never shrinks the file.
void tst_SessionPublisher::growsByRenameAndNeverShrinks()
{
    SessionPublisher publisher;
    QVERIFY(publisher.start());
    const QString file = TestSection::SectionFile(m_env->runtimeDir());
    QCOMPARE(QFileInfo(file).size(), qint64(4 + SessionPublisher::kInitialCapacity));
    QVERIFY(publisher.addNetwork(QStringLiteral("alpha"), QStringLiteral("Alpha")));
    QVERIFY(publisher.addPeer(QStringLiteral("alpha"), QStringLiteral("p0"), QString()));

    CSharedSection oldView;
    QVERIFY(oldView.Open());

    for (int i = 1; i < 100; ++i)
        QVERIFY(
            publisher.addPeer(QStringLiteral("alpha"), QStringLiteral("p%1").arg(i), QString()));
    const qint64 grown = QFileInfo(file).size();
    QVERIFY(grown > qint64(4 + 100 * 1068));

    CUITVLSession container;
    container.ReadSessions(oldView);
    QVERIFY(!oldView.Faulted());
    // The old file was written in place until the list outgrew it; the view
    // keeps the last list that fitted.
    const int fitted = int((SessionPublisher::kInitialCapacity - 1064) / 1068);
    QCOMPARE(container.FindSession(QStringLiteral("alpha"))->Peers().Count(), fitted);
    QCOMPARE(clients(container).size(), 100);

    QVERIFY(publisher.removeNetwork(QStringLiteral("alpha")));
    QCOMPARE(QFileInfo(file).size(), grown);
    QCOMPARE(clients(container), QStringList());
}

// The real stand-in: what its control channel publishes reaches the
// program through the peer-change event and the section.
void tst_SessionPublisher::standinControlArrivesThroughTheEvent()
{
    QProcess standin;
    standin.start(TestEnvironment::binary(QStringLiteral("standin/tervala-standin")),
                  QStringList());
    QVERIFY(standin.waitForStarted(10000));
    QByteArray output;
    while (!output.contains("ready") && standin.waitForReadyRead(10000))
        output += standin.readAllStandardOutput();
    QVERIFY2(output.contains("ready"), standin.readAllStandardError().constData());

    CPeerChangeEvent event;
    QVERIFY(event.Open());
    CUITVLSession container;
    QObject tree;
    QStringList shown;
    int notifications = 0;
    CEventNotify notifier;
    QVERIFY(notifier.Start(
        &tree,
        [&] {
            event.Consume();
            ++notifications;
            shown = clients(container);
        },
        event.Descriptor()));

    QVERIFY(ctl(
        {QStringLiteral("add-network"), QStringLiteral("lan party"), QStringLiteral("LAN Party")}));
    QVERIFY(ctl({QStringLiteral("add-peer"), QStringLiteral("lan party"), QStringLiteral("eve"),
                 QStringLiteral("10.9.9.9")}));
    QTRY_COMPARE(shown, QStringList{QStringLiteral("lan party|LAN Party|eve|10.9.9.9")});
    QVERIFY(notifications >= 1);

    // A damaged image published as it is: only the whole records count.
    TestSection::Image damaged;
    damaged.session(QStringLiteral("x"), QStringLiteral("X"), 0x7FFFFFFF)
        .peer(QStringLiteral("ok"))
        .peer(QStringLiteral("cut"));
    QTemporaryFile raw;
    QVERIFY(raw.open());
    raw.write(damaged.image(damaged.size() - 40));
    raw.close();
    QVERIFY(ctl({QStringLiteral("write-raw"), raw.fileName()}));
    QTRY_COMPARE(shown, QStringList{QStringLiteral("x|X|ok|10.0.0.1")});

    // While the stand-in holds the lock, a refresh waits for it. The hold
    // lasts until it is released, however slowly this machine runs.
    QString reply;
    QVERIFY(ctl({QStringLiteral("hold-lock"), QStringLiteral("600000")}, &reply));
    QCOMPARE(reply, QStringLiteral("ok held"));
    std::atomic<bool> done{false};
    CUITVLSession waiting;
    std::thread reader([&] {
        waiting.Refresh();
        done = true;
    });
    QTest::qWait(150);
    const bool waited = !done;
    QVERIFY(ctl({QStringLiteral("release-lock")}, &reply));
    QCOMPARE(reply, QStringLiteral("ok 1"));
    QTRY_VERIFY(done);
    reader.join();
    QVERIFY(waited);

    // The service ends: its section goes away and the tree keeps what it had.
    QVERIFY(ctl({QStringLiteral("remove-network"), QStringLiteral("lan party")}));
    QTRY_COMPARE(shown, QStringList());
    QVERIFY(ctl({QStringLiteral("add-network"), QStringLiteral("last")}));
    QVERIFY(ctl({QStringLiteral("add-peer"), QStringLiteral("last"), QStringLiteral("zed")}));
    QTRY_COMPARE(shown.size(), 1);
    QVERIFY(ctl({QStringLiteral("quit")}));
    QVERIFY(standin.waitForFinished(10000));
    QVERIFY(!QFile::exists(TestSection::SectionFile(m_env->runtimeDir())));
    QCOMPARE(clients(container), shown);
    notifier.Stop();
}

QTEST_GUILESS_MAIN(tst_SessionPublisher)
#include "tst_sessionpublisher.moc"

#include "foundation/Paths.h"
#include "invitations/InvitationInfo.h"
#include "invitations/StoredInvitations.h"
#include "resources/StringTable.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"
#include "standin/InvitationAuthority.h"
#include "tests/invitations/StoredFixtures.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/ExistingWizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace StoredFixtures;

namespace {
constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 86400;

// Runs act from inside the event loop once ready() holds: the wizard's own
// modal loop, or the loop in which it waits for its first reading.
void when(QObject* context, std::function<bool()> ready, std::function<void()> act)
{
    auto* timer = new QTimer(context);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, context, [timer, ready, act] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        act();
    });
    timer->start();
}

void whenShown(CExistingWizard& wizard, std::function<void()> act)
{
    when(
        &wizard, [&wizard] { return wizard.isVisible(); },
        [&wizard, act] {
            act();
            // A failed check inside must not leave the test waiting.
            if (QTest::currentTestFailed() && wizard.isVisible())
                wizard.reject();
        });
}

// Lets the page's reading after Delete run to its end inside the wizard's loop.
bool waitFilled(CExistingInvitationPage* page)
{
    return QTest::qWaitFor([page] { return !page->IsFilling(); }, 60000);
}

QStringList comboTexts(const QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QString expiryTextOf(const QString& name)
{
    CInvitationInfo info;
    return info.ReadInvitationFile(StoredPath(name)) ? info.GetExpiryText() : QString();
}

QList<Prompter::Record> messages()
{
    return Prompter::history();
}
} // namespace

// The Existing Networks wizard over real stored invitations: written by the
// stand-in's authority (as the service writes them) and by hand.
class TestExistingWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listsValidNetworksDeletesExpired();
    void nothingValidLeft_data();
    void nothingValidLeft();
    void deleteRefillsAndSelectionFollows();
    void sameDisplayNameTwice();
    void unreadableFilesToldOnceAndKept();
    void certificateNamesNeverBecomePaths();
    void exportJoinsWithTheNewPassword();
    void saveChecksAndBack();
    void exportFailures_data();
    void exportFailures();
    void thousandStoredInvitations();

private:
    // A network created through the stand-in's authority: invitation file
    // (password "first1") and stored twin. Returns the network name.
    QString createNetwork(const QString& displayName, qint64 seconds);
    QString out(const QString& name) const { return QDir(m_env->root()).filePath(name); }

    std::unique_ptr<TestEnvironment> m_env;
    CInvitationAuthority m_authority;
    int m_created = 0;
};

void TestExistingWizard::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
    // The header picture is read relative to the working folder.
    QVERIFY(QDir::setCurrent(TestEnvironment::sourceDir()));
}

void TestExistingWizard::init()
{
    Prompter::clearAnswers();
    Prompter::clearHistory();
    FileDialogs::clearNextFileNames();
    FileDialogs::clearHistory();
    QDir(Paths::LocalStoreFolder()).removeRecursively();
    QVERIFY(Paths::MakePath(Paths::LocalStoreFolder()));
}

void TestExistingWizard::cleanup()
{
    QCOMPARE(Prompter::pendingAnswers(), 0);
    QCOMPARE(FileDialogs::pendingFileNames(), 0);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
}

QString TestExistingWizard::createNetwork(const QString& displayName, qint64 seconds)
{
    CInvitationAuthority::NewNetwork request;
    request.nickname = QStringLiteral("Ann");
    request.sessionName = displayName;
    request.sessionTypeText = QStringLiteral("<TVLSessionStringFormat/>");
    request.expiry = std::uint64_t(std::int64_t(FileTime::Now()) + seconds * 10000000LL);
    request.path = out(QStringLiteral("created-%1.Tervalapro").arg(++m_created));
    request.password = QStringLiteral("first1");
    CInvitationAuthority::Network network;
    QString error;
    if (!m_authority.CreateNetwork(request, network, error))
        qWarning("create failed: %s", qPrintable(error));
    return network.networkName;
}

void TestExistingWizard::listsValidNetworksDeletesExpired()
{
    const QString design = createNetwork(QStringLiteral("Design Team"), 5 * kHour);
    const QString games = createNetwork(QStringLiteral("Games"), 10 * kDay);
    const QString old = createNetwork(QStringLiteral("Old Team"), -kHour);
    QVERIFY(!design.isEmpty() && !games.isEmpty() && !old.isEmpty());
    QVERIFY(QFileInfo::exists(StoredPath(old)));
    // Everything outside the local folder stays as it is.
    const QStringList outsiders = {CInvitationAuthority::CaPath(),
                                   out(QStringLiteral("created-1.Tervalapro")),
                                   out(QStringLiteral("created-3.Tervalapro"))};
    QList<QByteArray> before;
    for (const QString& path : outsiders)
        before << ReadAll(path);

    CExistingWizard wizard;
    bool checked = false;
    whenShown(wizard, [&] {
        CExistingInvitationPage* page = wizard.ListPage();
        QCOMPARE(wizard.windowTitle(), QStringLiteral("Show Existing"));
        QCOMPARE(page->title(), QStringLiteral("Existing network invitations"));
        QCOMPARE(page->subTitle(), LoadString(141));
        QVERIFY(!wizard.pixmap(QWizard::LogoPixmap).isNull());
        QCOMPARE(wizard.currentId(), int(CExistingWizard::kListPage));
        QCOMPARE(sorted(comboTexts(page->NetworkCombo())),
                 (QStringList{QStringLiteral("Design Team"), QStringLiteral("Games")}));
        QCOMPARE(sorted(page->SubjectNames()), sorted({design, games}));
        // Next only: no way back from the first page, no Finish yet.
        QVERIFY(wizard.button(QWizard::NextButton)->isVisible());
        QVERIFY(wizard.button(QWizard::NextButton)->isEnabled());
        QVERIFY(!wizard.button(QWizard::BackButton)->isEnabled());
        QVERIFY(!wizard.button(QWizard::FinishButton)->isVisible());
        QVERIFY(!wizard.button(QWizard::HelpButton)->isVisible());

        // The first entry is selected, with its expiry in local time and
        // what is left of it; the one ending today is marked.
        QCOMPARE(page->NetworkCombo()->currentIndex(), 0);
        QVERIFY(page->ExpiryEdit()->isReadOnly());
        for (int i = 0; i < 2; ++i) {
            page->NetworkCombo()->setCurrentIndex(i);
            const QString name = page->SubjectNames().at(i);
            QCOMPARE(page->ExpiryEdit()->text(), expiryTextOf(name));
            const bool soon = name == design;
            QCOMPARE(page->RemainingMarked(), soon);
            QCOMPARE(page->RemainingLabel()->text(), soon ? QStringLiteral("expires in 4 hours")
                                                          : QStringLiteral("expires in 9 days"));
            QCOMPARE(page->NetworkCombo()->itemIcon(i).isNull(), !soon);
        }
        checked = true;
        wizard.reject();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QVERIFY(checked);
    QVERIFY(messages().isEmpty());
    QVERIFY(!QFileInfo::exists(StoredPath(old)));
    QVERIFY(QFileInfo::exists(StoredPath(design)));
    QVERIFY(QFileInfo::exists(StoredPath(games)));
    for (qsizetype i = 0; i < outsiders.size(); ++i)
        QCOMPARE(ReadAll(outsiders.at(i)), before.at(i));
}

void TestExistingWizard::nothingValidLeft_data()
{
    QTest::addColumn<int>("expired");
    QTest::addColumn<bool>("unreadable");
    QTest::addRow("empty folder") << 0 << false;
    QTest::addRow("only expired ones") << 3 << false;
    QTest::addRow("expired ones and a file that cannot be read") << 2 << true;
}

void TestExistingWizard::nothingValidLeft()
{
    QFETCH(int, expired);
    QFETCH(bool, unreadable);
    for (int i = 0; i < expired; ++i)
        QVERIFY(
            WriteNetwork(QStringLiteral("Old-%1").arg(i), QStringLiteral("Old"), -(i + 1) * kHour));
    if (unreadable)
        QVERIFY(WriteBytes(StoredPath(QStringLiteral("Broken")), QByteArray("garbage")));

    CExistingWizard wizard;
    bool shown = false;
    whenShown(wizard, [&] {
        shown = true;
        wizard.reject();
    });
    if (unreadable)
        Prompter::setNextAnswer(QMessageBox::Ok);
    Prompter::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QVERIFY(!shown);

    QList<Prompter::Record> expected;
    if (unreadable)
        expected.append({Prompter::Icon::Warning, Prompter::title(),
                         StoredInvitations::UnreadableText({QStringLiteral("Broken.cert")}),
                         QMessageBox::Ok});
    expected.append({Prompter::Icon::Error, Prompter::title(),
                     QStringLiteral("All network invitations are expired or no invitation is "
                                    "created."),
                     QMessageBox::Ok});
    QCOMPARE(messages().size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(messages().at(i).icon, expected.at(i).icon);
        QCOMPARE(messages().at(i).text, expected.at(i).text);
    }
    // Every expired stored invitation is gone; the unreadable one stays.
    QCOMPARE(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files),
             unreadable ? QStringList{QStringLiteral("Broken.cert")} : QStringList());
}

void TestExistingWizard::deleteRefillsAndSelectionFollows()
{
    const QStringList names = {QStringLiteral("One-0001"), QStringLiteral("Two-0002"),
                               QStringLiteral("Three-0003")};
    for (int i = 0; i < names.size(); ++i)
        QVERIFY(
            WriteNetwork(names.at(i), names.at(i).left(names.at(i).indexOf(u'-')), (i + 2) * kDay));

    CExistingWizard wizard;
    bool done = false;
    whenShown(wizard, [&] {
        CExistingInvitationPage* page = wizard.ListPage();
        QComboBox* combo = page->NetworkCombo();
        QCOMPARE(combo->count(), 3);
        // The expiry text follows the selection.
        combo->setCurrentIndex(2);
        QCOMPARE(page->ExpiryEdit()->text(), expiryTextOf(page->SubjectNames().at(2)));

        // Delete the selected one: its file goes, the list is read again
        // and the first remaining entry's expiry is shown.
        const QString deleted = page->SubjectNames().at(2);
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));
        QVERIFY(!QFileInfo::exists(StoredPath(deleted)));
        QCOMPARE(combo->count(), 2);
        QVERIFY(!page->SubjectNames().contains(deleted));
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(page->ExpiryEdit()->text(), expiryTextOf(page->SubjectNames().at(0)));
        QCOMPARE(page->ExpiryTexts().size(), 2);

        // A stored invitation the service adds meanwhile shows at the next
        // reading.
        QVERIFY(WriteNetwork(QStringLiteral("Four-0004"), QStringLiteral("Four"), kDay * 7));
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));
        QCOMPARE(combo->count(), 2);
        QVERIFY(page->SubjectNames().contains(QStringLiteral("Four-0004")));
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));

        // The last one gone: an empty list, nothing shown for it, and Next
        // asks for a choice.
        QCOMPARE(combo->count(), 0);
        QVERIFY(page->ExpiryEdit()->text().isEmpty());
        QVERIFY(page->RemainingLabel()->text().isEmpty());
        QVERIFY(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files).isEmpty());
        Prompter::setNextAnswer(QMessageBox::Ok);
        wizard.button(QWizard::NextButton)->click();
        QCOMPARE(wizard.currentId(), int(CExistingWizard::kListPage));
        QCOMPARE(messages().size(), 1);
        QCOMPARE(messages().first().icon, Prompter::Icon::Error);
        QCOMPARE(messages().first().text, QStringLiteral("Select a valid session name"));
        done = true;
        wizard.reject();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QVERIFY(done);
}

void TestExistingWizard::sameDisplayNameTwice()
{
    QVERIFY(WriteNetwork(QStringLiteral("Team-aaaa"), QStringLiteral("Team"), 3 * kDay));
    QVERIFY(WriteNetwork(QStringLiteral("Team-bbbb"), QStringLiteral("Team"), 20 * kDay));
    const QString path = out(QStringLiteral("team-b.Tervalapro"));

    CExistingWizard wizard;
    whenShown(wizard, [&] {
        CExistingInvitationPage* page = wizard.ListPage();
        QComboBox* combo = page->NetworkCombo();
        QCOMPARE(sorted(comboTexts(combo)), (QStringList{QStringLiteral("Team (Team-aaaa)"),
                                                         QStringLiteral("Team (Team-bbbb)")}));
        const int b = static_cast<int>(page->SubjectNames().indexOf(QStringLiteral("Team-bbbb")));
        // Each entry keeps its own network and expiry.
        for (int i = 0; i < 2; ++i) {
            combo->setCurrentIndex(i);
            QCOMPARE(combo->currentText(),
                     QStringLiteral("Team (%1)").arg(page->SubjectNames().at(i)));
            QCOMPARE(page->ExpiryEdit()->text(), expiryTextOf(page->SubjectNames().at(i)));
        }
        QVERIFY(expiryTextOf(QStringLiteral("Team-aaaa")) !=
                expiryTextOf(QStringLiteral("Team-bbbb")));
        combo->setCurrentIndex(b);
        wizard.button(QWizard::NextButton)->click();
        QCOMPARE(page->SubjectName(), QStringLiteral("Team-bbbb"));
        QCOMPARE(page->DisplayText(), QStringLiteral("Team"));
        FileDialogs::setNextFileName(path);
        wizard.SavePage()->BrowseButton()->click();
        wizard.SavePage()->PasswordEdit()->setText(QStringLiteral("second2"));
        wizard.SavePage()->ConfirmEdit()->setText(QStringLiteral("second2"));
        Prompter::setNextAnswer(QMessageBox::Ok);
        wizard.button(QWizard::FinishButton)->click();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Accepted));
    // The exported invitation is the chosen network's, under its own name.
    CTVLCertParam exported;
    QVERIFY2(exported.LoadInvitation(path, QStringLiteral("second2")),
             qPrintable(exported.ErrorText()));
    QCOMPARE(exported.GetSubjectName(), QStringLiteral("Team-bbbb"));
    QCOMPARE(exported.GetString(QStringLiteral("SessionDisplayName")), QStringLiteral("Team"));
}

void TestExistingWizard::unreadableFilesToldOnceAndKept()
{
    QVERIFY(WriteNetwork(QStringLiteral("Left-0001"), QStringLiteral("Left"), kDay * 3));
    QVERIFY(WriteNetwork(QStringLiteral("Right-0002"), QStringLiteral("Right"), kDay * 4));
    QVERIFY(WriteNetwork(QStringLiteral("Dead-0003"), QStringLiteral("Dead"), -kDay));
    const QList<BadInput> bad = BadInputs(out(QStringLiteral("sample.cert")));
    const QByteArray truncated = bad.first().bytes;
    QVERIFY(WriteBytes(StoredPath(QStringLiteral("Middle")), truncated));
    // A name no delete or export could reach again counts as unreadable.
    const QString odd = QDir(Paths::LocalStoreFolder()).filePath(QStringLiteral("a..b.cert"));
    QVERIFY(WriteBytes(odd, ReadAll(StoredPath(QStringLiteral("Left-0001")))));

    CExistingWizard wizard;
    whenShown(wizard, [&] {
        CExistingInvitationPage* page = wizard.ListPage();
        QCOMPARE(sorted(comboTexts(page->NetworkCombo())),
                 (QStringList{QStringLiteral("Left"), QStringLiteral("Right")}));
        // Told before the wizard opened, once.
        QCOMPARE(messages().size(), 1);
        // A reading after Delete finds the same files: nothing new to tell.
        page->NetworkCombo()->setCurrentIndex(
            static_cast<int>(page->SubjectNames().indexOf(QStringLiteral("Right-0002"))));
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));
        QCOMPARE(comboTexts(page->NetworkCombo()), QStringList{QStringLiteral("Left")});
        QCOMPARE(messages().size(), 1);
        // A file that turns up damaged meanwhile is news, and only it.
        QVERIFY(WriteBytes(StoredPath(QStringLiteral("Late")), truncated));
        Prompter::setNextAnswer(QMessageBox::Ok);
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));
        QCOMPARE(page->NetworkCombo()->count(), 0);
        QCOMPARE(messages().size(), 2);
        QCOMPARE(messages().last().text,
                 StoredInvitations::UnreadableText({QStringLiteral("Late.cert")}));
        wizard.reject();
    });
    Prompter::setNextAnswer(QMessageBox::Ok);
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));

    QCOMPARE(messages().size(), 2);
    const Prompter::Record first = messages().first();
    QCOMPARE(first.icon, Prompter::Icon::Warning);
    const QStringList lines = first.text.split(u'\n');
    QCOMPARE(lines.first(), LoadString(20101));
    QCOMPARE(sorted(lines.mid(1)),
             (QStringList{QStringLiteral("Middle.cert"), QStringLiteral("a..b.cert")}));
    // Kept, byte for byte; the expired neighbour is gone.
    QCOMPARE(ReadAll(StoredPath(QStringLiteral("Middle"))), truncated);
    QVERIFY(QFileInfo::exists(odd));
    QVERIFY(!QFileInfo::exists(StoredPath(QStringLiteral("Dead-0003"))));
}

void TestExistingWizard::certificateNamesNeverBecomePaths()
{
    // Certificates whose names would be paths, one live, one expired; and
    // what such paths would reach.
    QVERIFY(WriteNetwork(QStringLiteral("Live-0001"), QStringLiteral("Live"), kDay * 3,
                         QStringLiteral("../../victim")));
    QVERIFY(WriteNetwork(QStringLiteral("Gone-0002"), QStringLiteral("Gone"), -kDay,
                         QStringLiteral("../victim")));
    const QStringList victims = {
        QDir(Paths::StoreFolder()).filePath(QStringLiteral("victim.cert")),
        QDir(Paths::ProductFolder()).filePath(QStringLiteral("victim.cert"))};
    for (const QString& victim : victims)
        QVERIFY(WriteBytes(victim, QByteArray("keep me")));

    CExistingWizard wizard;
    whenShown(wizard, [&] {
        CExistingInvitationPage* page = wizard.ListPage();
        QCOMPARE(page->SubjectNames(), QStringList{QStringLiteral("Live-0001")});
        QVERIFY(!QFileInfo::exists(StoredPath(QStringLiteral("Gone-0002"))));
        page->DeleteButton()->click();
        QVERIFY(waitFilled(page));
        QCOMPARE(page->NetworkCombo()->count(), 0);
        wizard.reject();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QVERIFY(messages().isEmpty());
    QVERIFY(QDir(Paths::LocalStoreFolder()).entryList(QDir::Files).isEmpty());
    for (const QString& victim : victims)
        QCOMPARE(ReadAll(victim), QByteArray("keep me"));
}

void TestExistingWizard::exportJoinsWithTheNewPassword()
{
    const QString name = createNetwork(QStringLiteral("Design Team"), 2 * kDay);
    QVERIFY(!name.isEmpty());
    const QByteArray stored = ReadAll(StoredPath(name));
    const QString path = out(QStringLiteral("again.Tervalapro"));

    CExistingWizard wizard;
    whenShown(wizard, [&] {
        wizard.button(QWizard::NextButton)->click();
        QCOMPARE(wizard.currentId(), int(CExistingWizard::kSavePage));
        QCOMPARE(wizard.SavePage()->title(), QStringLiteral("Saving the network invitation"));
        FileDialogs::setNextFileName(path);
        wizard.SavePage()->BrowseButton()->click();
        QCOMPARE(wizard.SavePage()->PathEdit()->text(), path);
        wizard.SavePage()->PasswordEdit()->setText(QStringLiteral("second2"));
        wizard.SavePage()->ConfirmEdit()->setText(QStringLiteral("second2"));
        Prompter::setNextAnswer(QMessageBox::Ok);
        wizard.button(QWizard::FinishButton)->click();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Accepted));
    QCOMPARE(messages().size(), 1);
    QCOMPARE(messages().first().icon, Prompter::Icon::Information);
    QCOMPARE(messages().first().text,
             QStringLiteral("Network invitation file is created successfully."));

    // The service joins with the new password, and only with it.
    CInvitationAuthority::Network joined;
    QString error;
    QVERIFY2(m_authority.JoinNetwork(path, QStringLiteral("second2"), joined, error),
             qPrintable(error));
    QCOMPARE(joined.networkName, name);
    QCOMPARE(joined.displayName, QStringLiteral("Design Team"));
    QCOMPARE(joined.inviterNickname, QStringLiteral("Ann"));
    QVERIFY(!m_authority.JoinNetwork(path, QStringLiteral("first1"), joined, error));
    QCOMPARE(error, LoadString(10003));
    // The stored invitation stays exactly as it was.
    QCOMPARE(ReadAll(StoredPath(name)), stored);
}

void TestExistingWizard::saveChecksAndBack()
{
    QVERIFY(WriteNetwork(QStringLiteral("Net-0001"), QStringLiteral("Net"), kDay * 2));
    const QString path = out(QStringLiteral("checks.Tervalapro"));
    CExistingWizard wizard;
    QStringList shownTexts;
    whenShown(wizard, [&] {
        CInvitationSavePage* save = wizard.SavePage();
        wizard.button(QWizard::NextButton)->click();
        QCOMPARE(wizard.currentId(), int(CExistingWizard::kSavePage));
        QVERIFY(wizard.button(QWizard::BackButton)->isEnabled());
        QVERIFY(wizard.button(QWizard::FinishButton)->isVisible());
        QVERIFY(!wizard.button(QWizard::NextButton)->isVisible());

        // The checks of the page, in their order; the wizard stays.
        const QList<std::pair<QString, QString>> tries = {
            {QString(), QString()},                                  // no file chosen
            {QStringLiteral("12345"), QStringLiteral("12345")},      // too short
            {QStringLiteral("secret1"), QStringLiteral("Secret1")}}; // differs
        for (qsizetype i = 0; i < tries.size(); ++i) {
            if (i == 1) {
                FileDialogs::setNextFileName(path);
                save->BrowseButton()->click();
            }
            save->PasswordEdit()->setText(tries.at(i).first);
            save->ConfirmEdit()->setText(tries.at(i).second);
            Prompter::setNextAnswer(QMessageBox::Ok);
            wizard.button(QWizard::FinishButton)->click();
            QVERIFY(wizard.isVisible());
            QCOMPARE(wizard.currentId(), int(CExistingWizard::kSavePage));
        }

        // Back: the first page offers Next only, and Next leads on again.
        wizard.button(QWizard::BackButton)->click();
        QCOMPARE(wizard.currentId(), int(CExistingWizard::kListPage));
        QVERIFY(wizard.button(QWizard::NextButton)->isVisible());
        QVERIFY(wizard.button(QWizard::NextButton)->isEnabled());
        QVERIFY(!wizard.button(QWizard::FinishButton)->isVisible());
        wizard.button(QWizard::NextButton)->click();
        QCOMPARE(wizard.currentId(), int(CExistingWizard::kSavePage));
        wizard.reject();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    for (const Prompter::Record& record : messages()) {
        QCOMPARE(record.icon, Prompter::Icon::Error);
        shownTexts << record.text;
    }
    QCOMPARE(shownTexts,
             (QStringList{QStringLiteral("Please select a valid path for the invitation File"),
                          QStringLiteral("Password should be at least six (6) characters long."),
                          QStringLiteral("Password doesn't match")}));
    QVERIFY(!QFileInfo::exists(path));
}

void TestExistingWizard::exportFailures_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");
    QTest::addRow("stored invitation deleted meanwhile")
        << QStringLiteral("delete")
        << LoadString(10002) + QStringLiteral(". Reason: ") + QString::fromUtf8(strerror(ENOENT));
    QTest::addRow("network ended meanwhile")
        << QStringLiteral("expire")
        << QStringLiteral("The network Net has expired in the meantime. No invitation file was "
                          "written.");
    QTest::addRow("stored invitation damaged meanwhile")
        << QStringLiteral("damage") << LoadString(10003);
}

void TestExistingWizard::exportFailures()
{
    QFETCH(QString, change);
    QFETCH(QString, message);
    QVERIFY(WriteNetwork(QStringLiteral("Net-0001"), QStringLiteral("Net"), kDay * 2));
    const QString path = out(QStringLiteral("failed.Tervalapro"));
    CExistingWizard wizard;
    whenShown(wizard, [&] {
        wizard.button(QWizard::NextButton)->click();
        FileDialogs::setNextFileName(path);
        wizard.SavePage()->BrowseButton()->click();
        wizard.SavePage()->PasswordEdit()->setText(QStringLiteral("secret1"));
        wizard.SavePage()->ConfirmEdit()->setText(QStringLiteral("secret1"));
        const QString stored = StoredPath(QStringLiteral("Net-0001"));
        if (change == QStringLiteral("delete"))
            QVERIFY(QFile::remove(stored));
        else if (change == QStringLiteral("expire"))
            QVERIFY(WriteNetwork(QStringLiteral("Net-0001"), QStringLiteral("Net"), -60));
        else
            QVERIFY(WriteContainer(stored, CEncryptFile::FixedKey(), QStringLiteral("<<")));
        Prompter::setNextAnswer(QMessageBox::Ok);
        wizard.button(QWizard::FinishButton)->click();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QCOMPARE(messages().size(), 1);
    QCOMPARE(messages().first().icon, Prompter::Icon::Error);
    QCOMPARE(messages().first().text, message);
    QVERIFY(!QFileInfo::exists(path));
}

void TestExistingWizard::thousandStoredInvitations()
{
    // One stored invitation under a thousand names (the name is the file's,
    // so each is a network of its own).
    QVERIFY(WriteNetwork(QStringLiteral("Net-0000"), QStringLiteral("Net"), kDay * 30));
    const QByteArray bytes = ReadAll(StoredPath(QStringLiteral("Net-0000")));
    for (int i = 1; i < 1000; ++i)
        QVERIFY(WriteBytes(StoredPath(QStringLiteral("Net-%1").arg(i, 4, 10, QLatin1Char('0'))),
                           bytes));

    // The window's thread keeps running while the folder is read: a timer
    // of this thread fires, a progress window shows, and Cancel there
    // abandons the reading without opening the wizard or saying anything.
    {
        CExistingWizard wizard;
        int ticksWhileReading = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (wizard.ListPage()->IsFilling())
                ++ticksWhileReading;
        });
        ticker.start();
        bool shown = false;
        whenShown(wizard, [&] {
            shown = true;
            wizard.reject();
        });
        when(
            &wizard,
            [&] { return wizard.ReadingProgress() && wizard.ReadingProgress()->isVisible(); },
            [&] { wizard.ReadingProgress()->findChild<QPushButton*>()->click(); });
        QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
        QVERIFY(!shown);
        QVERIFY(ticksWhileReading > 0);
        QVERIFY(messages().isEmpty());
    }

    // Let it finish: all listed. Delete reads again with the page's own
    // progress, Next held back meanwhile; closing the wizard then leaves the
    // reading behind without waiting for it.
    CExistingWizard wizard;
    int count = 0;
    bool nextHeldBack = false;
    bool barShown = false;
    QString deleted;
    whenShown(wizard, [&] {
        CExistingInvitationPage* page = wizard.ListPage();
        count = page->NetworkCombo()->count();
        deleted = page->SubjectNames().value(0);
        page->DeleteButton()->click();
        nextHeldBack = page->IsFilling() && !wizard.button(QWizard::NextButton)->isEnabled() &&
                       !page->DeleteButton()->isEnabled();
        barShown = QTest::qWaitFor([page] { return page->ProgressBar()->isVisible(); }, 60000);
        wizard.reject();
    });
    QCOMPARE(wizard.DoModal(), int(QDialog::Rejected));
    QCOMPARE(count, 1000);
    QVERIFY(nextHeldBack);
    QVERIFY(barShown);
    QVERIFY(!deleted.isEmpty());
    QVERIFY(!QFileInfo::exists(StoredPath(deleted)));
}

QTEST_MAIN(TestExistingWizard)
#include "tst_existingwizard.moc"

#include "app/AboutDlg.h"
#include "app/CommandLine.h"
#include "app/TervalaprouiDlg.h"
#include "resources/StringTable.h"
#include "resources/Translations.h"
#include "tests/support/TestEnvironment.h"
#include "wizards/JoinerWizard.h"
#include "wizards/ProgressDlg.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <memory>

// Runs once per language, as ctest registers it: with LANG and LC_ALL set to
// a German locale (TERVALA_EXPECTED_LANGUAGE=de) and to C
// (TERVALA_EXPECTED_LANGUAGE=C). The translation is installed the way the
// program does it at start-up, from the locale the environment gives.
class TestTranslations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void chooseTranslation_data();
    void chooseTranslation();
    void tableTexts();
    void windows();
    void qtOwnTexts();
    void sourceFileKeepsMarkers();

private:
    bool german() const { return m_expected == QStringLiteral("de"); }

    std::unique_ptr<TestEnvironment> m_env;
    QString m_expected;
    QString m_installed;
};

namespace {
QString translationsFolder()
{
    return qEnvironmentVariable("TERVALA_BINARY_DIR") +
           QStringLiteral("/share/tervalapro/translations");
}

// The texts a translation must carry over: placeholders (%1, %s, %hs),
// the pattern part of a file-dialog filter, and whether there is a keyboard
// accelerator.
struct Markers
{
    QStringList placeholders;
    QStringList filterPatterns;
    bool accelerator = false;

    static Markers Of(const QString& text)
    {
        Markers m;
        static const QRegularExpression placeholder(QStringLiteral("%(\\d+|l?[sdu]|hs)"));
        for (const QRegularExpressionMatch& match : placeholder.globalMatch(text))
            m.placeholders.append(match.captured());
        m.placeholders.sort();
        const QStringList parts = text.split(QLatin1Char('|'));
        for (qsizetype i = 1; i < parts.size(); i += 2)
            m.filterPatterns.append(parts[i]);
        static const QRegularExpression mnemonic(QStringLiteral("&[^& ]"));
        m.accelerator = mnemonic.match(text).hasMatch();
        return m;
    }
    bool operator==(const Markers&) const = default;
};
} // namespace

void TestTranslations::initTestCase()
{
    m_env = std::make_unique<TestEnvironment>();
    m_expected = qEnvironmentVariable("TERVALA_EXPECTED_LANGUAGE");
    QVERIFY2(m_expected == QStringLiteral("de") || m_expected == QStringLiteral("C"),
             "TERVALA_EXPECTED_LANGUAGE must be de or C");
    // The locale must really come from the environment, or the German run
    // would silently test English.
    QCOMPARE(QLocale::system().language(), german() ? QLocale::German : QLocale::C);

    m_installed = InstallTranslations(QLocale::system(), {translationsFolder()});
    if (german())
        QVERIFY2(m_installed.endsWith(QStringLiteral("/tervalapro_de.qm")),
                 qPrintable(m_installed));
    else
        QVERIFY2(m_installed.isEmpty(), qPrintable(m_installed));
}

void TestTranslations::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void TestTranslations::chooseTranslation_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("chosen"); // "<folder>/<language>", empty for none

    QTest::addRow("region falls back to the language")
        << QStringList{QStringLiteral("de-AT")} << QStringLiteral("a/de");
    QTest::addRow("locale name with codeset")
        << QStringList{QStringLiteral("de_DE.UTF-8")} << QStringLiteral("a/de");
    QTest::addRow("region of its own")
        << QStringList{QStringLiteral("pt-BR")} << QStringLiteral("a/pt_BR");
    QTest::addRow("missing language gives way to the next")
        << QStringList{QStringLiteral("pt-PT"), QStringLiteral("de")} << QStringLiteral("a/de");
    QTest::addRow("first language wins over folder order")
        << QStringList{QStringLiteral("fr-FR"), QStringLiteral("de")} << QStringLiteral("b/fr");
    QTest::addRow("unknown name passed over")
        << QStringList{QStringLiteral("xx"), QStringLiteral("de")} << QStringLiteral("a/de");
    QTest::addRow("English first means English")
        << QStringList{QStringLiteral("en-US"), QStringLiteral("de")} << QString();
    QTest::addRow("C") << QStringList{QStringLiteral("C")} << QString();
    QTest::addRow("nothing the program speaks")
        << QStringList{QStringLiteral("it"), QStringLiteral("es")} << QString();
    QTest::addRow("no languages") << QStringList{} << QString();
}

void TestTranslations::chooseTranslation()
{
    QFETCH(QStringList, languages);
    QFETCH(QString, chosen);
    QTemporaryDir root;
    const QDir dir(root.path());
    QVERIFY(dir.mkpath(QStringLiteral("a")) && dir.mkpath(QStringLiteral("b")));
    for (const char* file : {"a/tervalapro_de.qm", "a/tervalapro_pt_BR.qm", "b/tervalapro_de.qm",
                             "b/tervalapro_fr.qm"}) {
        QFile qm(dir.filePath(QLatin1String(file)));
        QVERIFY(qm.open(QIODevice::WriteOnly));
    }
    const QString expected =
        chosen.isEmpty()
            ? QString()
            : dir.filePath(chosen.section(QLatin1Char('/'), 0, 0) + QStringLiteral("/tervalapro_") +
                           chosen.section(QLatin1Char('/'), 1) + QStringLiteral(".qm"));
    QCOMPARE(ChooseTranslation(
                 languages, {dir.filePath(QStringLiteral("a")), dir.filePath(QStringLiteral("b"))}),
             expected);
}

void TestTranslations::tableTexts()
{
    QTranslator translation;
    if (german())
        QVERIFY(translation.load(m_installed));
    int translatable = 0;
    for (quint32 id : StringIds()) {
        const QString source = LoadSourceString(id);
        const QString shown = LoadString(id);
        if (!IsTranslatableString(id)) {
            // Data: file names, wire templates and the session-type names that
            // invitations carry between computers stay as they are.
            QVERIFY2(shown == source, qPrintable(QStringLiteral("%1 translated").arg(id)));
            continue;
        }
        ++translatable;
        if (!german()) {
            QVERIFY2(shown == source,
                     qPrintable(QStringLiteral("%1 reads '%2'").arg(id).arg(shown)));
            continue;
        }
        // Complete: every text of the table has its German form in the file
        // the program loads, and that form is what LoadString gives.
        const QString german = translation.translate("StringTable", source.toUtf8().constData());
        QVERIFY2(
            !german.isEmpty(),
            qPrintable(QStringLiteral("%1 '%2' has no German translation").arg(id).arg(source)));
        QCOMPARE(shown, german);
    }
    QVERIFY(translatable > 50);
    // The session types the program recognises after a join stay English.
    QCOMPARE(LoadString(10025), QStringLiteral("Remote Desktop Access (RDP)"));
}

void TestTranslations::windows()
{
    CCommandLine commandLine;
    CTervalaprouiDlg window(commandLine);
    QStringList menus;
    for (QAction* menu : window.MenuBar()->actions()) {
        menus << menu->text();
        for (QAction* entry : menu->menu()->actions()) {
            if (!entry->isSeparator())
                menus << entry->text();
        }
    }
    const QStringList expectedMenus =
        german()
            ? QStringList{QStringLiteral("&Datei"),
                          QStringLiteral("Netzwerk &erstellen"),
                          QStringLiteral("Netzwerk &beitreten"),
                          QStringLiteral("&Vorhandene Netzwerke"),
                          QStringLiteral("&Aktualisieren"),
                          QStringLiteral("B&eenden"),
                          QStringLiteral("&Hilfe"),
                          QStringLiteral("&Support kontaktieren"),
                          QStringLiteral("Ü&ber")}
            : QStringList{QStringLiteral("&File"),         QStringLiteral("&Add Network"),
                          QStringLiteral("&Join Network"), QStringLiteral("E&xisting Networks"),
                          QStringLiteral("&Refresh"),      QStringLiteral("E&xit"),
                          QStringLiteral("&Help"),         QStringLiteral("&Contact Support"),
                          QStringLiteral("&About")};
    QCOMPARE(menus, expectedMenus);

    CJoinerWizard wizard;
    wizard.show();
    QVERIFY(QTest::qWaitForWindowExposed(&wizard));
    QCOMPARE(wizard.windowTitle(), LoadString(131));
    QCOMPARE(wizard.Page()->title(), LoadString(134));
    QCOMPARE(wizard.windowTitle(),
             german() ? QStringLiteral("Netzwerk beitreten") : LoadSourceString(131));
    QCOMPARE(wizard.Page()->title(), german()
                                         ? QStringLiteral("Anmeldung mit der Netzwerk-Einladung")
                                         : LoadSourceString(134));
    QStringList labels;
    for (QLabel* label : wizard.Page()->findChildren<QLabel*>())
        labels << label->text();
    QVERIFY2(labels.contains(german() ? QStringLiteral("Spitzname           :")
                                      : QStringLiteral("Nick name           :")),
             qPrintable(labels.join(QLatin1Char('|'))));
    wizard.reject();

    CProgressDlg progress;
    progress.Create(nullptr);
    progress.Advance(123);
    QStringList texts;
    for (QLabel* label : progress.Window()->findChildren<QLabel*>())
        texts << label->text();
    for (QPushButton* button : progress.Window()->findChildren<QPushButton*>())
        texts << button->text();
    QVERIFY2(texts.contains(german() ? QStringLiteral("Verbindung mit dem Netzwerkserver wird "
                                                      "hergestellt....")
                                     : LoadSourceString(123)),
             qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY2(texts.contains(german() ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel")),
             qPrintable(texts.join(QLatin1Char('|'))));
    progress.DestroyWindow();

    CAboutDlg about;
    QCOMPARE(about.windowTitle(),
             german() ? QStringLiteral("Über Tervala Pro") : QStringLiteral("About Tervala Pro"));
}

void TestTranslations::qtOwnTexts()
{
    // Qt's own buttons follow the program's language when Qt's translations
    // are installed (qt6-translations-l10n); English ones stay English.
    CJoinerWizard wizard;
    const QString cancel = wizard.buttonText(QWizard::CancelButton);
    if (!german()) {
        QCOMPARE(cancel, QStringLiteral("Cancel"));
        return;
    }
    if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                       QStringLiteral("/qtbase_de.qm")))
        QSKIP("Qt's German translation is not installed (qt6-translations-l10n)");
    QCOMPARE(cancel, QStringLiteral("Abbrechen"));
}

void TestTranslations::sourceFileKeepsMarkers()
{
    // Every translation in the repository keeps what the code relies on in
    // its English text: a lost %s drops the network's name from a message, a
    // changed filter pattern lists other files, a missing accelerator loses
    // a keyboard shortcut. Unfinished entries are not shipped as finished.
    const QString path = qEnvironmentVariable("TERVALA_SOURCE_DIR") +
                         QStringLiteral("/resources/translations/tervalapro_de.ts");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QXmlStreamReader xml(&file);
    QString context, source;
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            const QString translation = xml.readElementText();
            const QString where = context + QStringLiteral(": ") + source;
            ++messages;
            QVERIFY2(type.isEmpty(), qPrintable(where + QStringLiteral(" is ") + type));
            QVERIFY2(!translation.isEmpty(), qPrintable(where + QStringLiteral(" is empty")));
            const Markers expected = Markers::Of(source);
            const Markers got = Markers::Of(translation);
            QVERIFY2(got.placeholders == expected.placeholders,
                     qPrintable(where + QStringLiteral(": placeholders ") +
                                got.placeholders.join(QLatin1Char(' '))));
            QVERIFY2(got.filterPatterns == expected.filterPatterns,
                     qPrintable(where + QStringLiteral(": filter ") + translation));
            QVERIFY2(got.accelerator == expected.accelerator,
                     qPrintable(where + QStringLiteral(": accelerator in ") + translation));
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(messages > 50);
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"

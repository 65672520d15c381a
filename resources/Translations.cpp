#include "resources/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

QString ChooseTranslation(const QStringList& uiLanguages, const QStringList& folders)
{
    for (const QString& language : uiLanguages) {
        if (language == QLatin1String("C") || language == QLatin1String("POSIX"))
            return QString();
        const QLocale wanted(language);
        if (wanted.language() == QLocale::English)
            return QString();
        if (wanted.language() == QLocale::C || wanted.language() == QLocale::AnyLanguage)
            continue;
        // "de-AT" and "de_AT.UTF-8" alike: try the full name, then shorter.
        QString name = language.section(QLatin1Char('.'), 0, 0);
        name.replace(QLatin1Char('-'), QLatin1Char('_'));
        for (;;) {
            for (const QString& folder : folders) {
                const QString file =
                    QDir(folder).filePath(QStringLiteral("tervalapro_%1.qm").arg(name));
                if (QFileInfo(file).isFile())
                    return file;
            }
            const qsizetype cut = name.lastIndexOf(QLatin1Char('_'));
            if (cut <= 0)
                break;
            name.truncate(cut);
        }
    }
    return QString();
}

QString InstallTranslations(const QLocale& locale, const QStringList& folders)
{
    QCoreApplication* app = QCoreApplication::instance();
    const QString file = ChooseTranslation(locale.uiLanguages(), folders);
    if (!app || file.isEmpty())
        return QString();
    auto* own = new QTranslator(app);
    if (!own->load(file)) {
        delete own;
        return QString();
    }
    QCoreApplication::installTranslator(own);
    // Qt's buttons and file dialogs in the same language, never in one the
    // program's own texts do not speak.
    auto* qt = new QTranslator(app);
    if (qt->load(QLocale(own->language()), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    return file;
}

#include "resources/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QString InstallTranslations(const QLocale& locale, const QStringList& folders)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return QString();

    // The first language the user asks for that the program speaks wins, in
    // the order of LANGUAGE, LC_ALL, LC_MESSAGES and LANG. English is the
    // program's own language: asked for first, it needs no file, even when a
    // later language has one.
    for (const QString& language : locale.uiLanguages()) {
        const QLocale wanted(language);
        if (wanted.language() == QLocale::English || wanted.language() == QLocale::C)
            return QString();
        for (const QString& folder : folders) {
            auto* own = new QTranslator(app);
            if (!own->load(wanted, QStringLiteral("tervalapro"), QStringLiteral("_"), folder)) {
                delete own;
                continue;
            }
            QCoreApplication::installTranslator(own);
            // Qt's buttons and file dialogs in the same language, never in
            // one the program's own texts do not speak.
            auto* qt = new QTranslator(app);
            if (qt->load(QLocale(own->language()), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                QCoreApplication::installTranslator(qt);
            else
                delete qt;
            return own->filePath();
        }
    }
    return QString();
}

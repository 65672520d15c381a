#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// Puts the user interface into the user's language: the program's own texts
// from tervalapro_<language>.qm, taken from the first of the folders that has
// one, and Qt's texts (dialog buttons, file dialogs) in the same language from
// Qt's own translations. English needs no file. The translators belong to the
// application object, so one must exist. Returns the program's translation
// file that was installed, or an empty text when none was.
QString InstallTranslations(const QLocale& locale, const QStringList& folders);

// The translation file for the languages a user asks for, in their order
// (QLocale::uiLanguages: LANGUAGE first, then LC_ALL, LC_MESSAGES, LANG): the
// first language the program has a file for wins, "de-AT" taking "de" when
// there is no "de_AT". English (or C) before any of them means no file: it is
// the program's own language. Unknown names are passed over.
QString ChooseTranslation(const QStringList& uiLanguages, const QStringList& folders);

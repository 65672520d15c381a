#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// Puts the user interface into the user's language: the program's own texts
// from tervalapro_<language>.qm, taken from the first of the folders that has
// one for the locale's languages, and Qt's texts (dialog buttons, file
// dialogs) from Qt's own translations. English needs no file. The translators
// belong to the application object, so one must exist. Returns the program's
// translation file that was installed, or an empty text when none was.
QString InstallTranslations(const QLocale& locale, const QStringList& folders);

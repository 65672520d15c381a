#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The one way the program asks for a file name. Tests queue the next answers
// with setNextFileName (an empty name stands for a cancelled dialog), so no
// native or Qt file dialog ever blocks a test.
class FileDialogs
{
public:
    static QString getOpenFileName(QWidget* parent, const QString& caption,
                                   const QString& directory = QString(),
                                   const QString& filter = QString());
    // defaultSuffix (without the dot) is added to a chosen name that has no
    // suffix at all, whichever dialog answered: some desktop dialogs ignore
    // the hint.
    static QString getSaveFileName(QWidget* parent, const QString& caption,
                                   const QString& directory = QString(),
                                   const QString& filter = QString(),
                                   const QString& defaultSuffix = QString());
    static QString getExistingDirectory(QWidget* parent, const QString& caption,
                                        const QString& directory = QString());

    // A filter of the string table ("Files(*.x)|*.x||", pairs of description
    // and patterns) in the form the dialogs take ("Files(*.x)"; several
    // filters separated by ";;").
    static QString FilterFromTable(const QString& tableFilter);

    // name + "." + suffix when the name's file part has no suffix; otherwise,
    // and for an empty name or suffix, the name as it is.
    static QString WithDefaultSuffix(const QString& name, const QString& suffix);

    // Test hooks: the next dialog returns this name without opening.
    static void setNextFileName(const QString& fileName);
    static void clearNextFileNames();
    static int pendingFileNames();
    // Captions of the dialogs asked for so far (answered or shown).
    static QStringList history();
    static void clearHistory();
};

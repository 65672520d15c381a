#include "skin/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QQueue>

namespace {
QQueue<QString>& nextNames()
{
    static QQueue<QString> queue;
    return queue;
}

QStringList& captions()
{
    static QStringList list;
    return list;
}

// Takes a queued test answer when there is one.
bool takeQueued(const QString& caption, QString& name)
{
    captions().append(caption);
    if (nextNames().isEmpty())
        return false;
    name = nextNames().dequeue();
    return true;
}
} // namespace

QString FileDialogs::getOpenFileName(QWidget* parent, const QString& caption,
                                     const QString& directory, const QString& filter)
{
    QString name;
    if (takeQueued(caption, name))
        return name;
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString FileDialogs::getSaveFileName(QWidget* parent, const QString& caption,
                                     const QString& directory, const QString& filter,
                                     const QString& defaultSuffix)
{
    QString name;
    if (!takeQueued(caption, name)) {
        if (defaultSuffix.isEmpty()) {
            name = QFileDialog::getSaveFileName(parent, caption, directory, filter);
        } else {
            // The static call has no suffix hint; the dialog itself then asks
            // about overwriting the name that will really be written.
            QFileDialog dialog(parent, caption, directory, filter);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setDefaultSuffix(defaultSuffix);
            if (dialog.exec() == QDialog::Accepted)
                name = dialog.selectedFiles().value(0);
        }
    }
    return WithDefaultSuffix(name, defaultSuffix);
}

QString FileDialogs::WithDefaultSuffix(const QString& name, const QString& suffix)
{
    if (name.isEmpty() || suffix.isEmpty())
        return name;
    const QString fileName = QFileInfo(name).fileName();
    // Any dot counts as a suffix, as in Qt's own dialog ("team.v2" stays as
    // typed); a name ending in "/" is a folder and left to the caller's checks.
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('.')))
        return name;
    return name + QLatin1Char('.') + suffix;
}

QString FileDialogs::getExistingDirectory(QWidget* parent, const QString& caption,
                                          const QString& directory)
{
    QString name;
    if (takeQueued(caption, name))
        return name;
    return QFileDialog::getExistingDirectory(parent, caption, directory);
}

QString FileDialogs::FilterFromTable(const QString& tableFilter)
{
    const QStringList parts = tableFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        QString patterns = parts.at(i + 1);
        if (description.isEmpty() && patterns.isEmpty())
            break;
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // The dialogs read the patterns from the last parentheses; a
        // description that already ends with them is taken as it is.
        if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            filters.append(description);
        else
            filters.append(description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

void FileDialogs::setNextFileName(const QString& fileName)
{
    nextNames().enqueue(fileName);
}

void FileDialogs::clearNextFileNames()
{
    nextNames().clear();
}

int FileDialogs::pendingFileNames()
{
    return static_cast<int>(nextNames().size());
}

QStringList FileDialogs::history()
{
    return captions();
}

void FileDialogs::clearHistory()
{
    captions().clear();
}

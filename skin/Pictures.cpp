#include "skin/Pictures.h"

#include "foundation/Paths.h"

#include <QDir>
#include <QFileInfo>

QString Pictures::Path(const QString& relative)
{
    const QStringList folders = Paths::DataFolders();
    for (const QString& folder : folders) {
        const QString installed = QDir(folder).filePath(relative);
        if (QFileInfo::exists(installed))
            return installed;
    }
    return QDir::current().filePath(relative);
}

#include "skin/Pictures.h"

#include <QDir>
#include <QFileInfo>

QString Pictures::Path(const QString& relative)
{
    const QString installed = QDir(QStringLiteral(TERVALA_DATADIR)).filePath(relative);
    if (QFileInfo::exists(installed))
        return installed;
    return QDir::current().filePath(relative);
}

#include "skin/SkinPicture.h"

#include "foundation/TraceLog.h"
#include "skin/Pictures.h"

#include <QFileInfo>
#include <QMutex>
#include <QSet>

namespace {
void reportMissing(const QString& path)
{
    static QMutex lock;
    static QSet<QString> reported;
    QMutexLocker locker(&lock);
    if (reported.contains(path))
        return;
    reported.insert(path);
    if (TraceLevel() & TRACE_ERROR)
        CTraceLog::Trace(QStringLiteral("Skin picture missing, drawn plainly: ") + path);
}
} // namespace

QString SkinPicture::HighResolutionName(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (dot <= slash + 1)
        return path + QStringLiteral("@2x");
    return path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}

QImage SkinPicture::Load(const QString& relative, qreal devicePixelRatio)
{
    if (relative.isEmpty())
        return {};
    const QString path = Pictures::Path(relative);
    if (devicePixelRatio > 1.0) {
        QImage sharp(Pictures::Path(HighResolutionName(relative)));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    QImage image(path);
    if (image.isNull())
        reportMissing(path);
    return image;
}

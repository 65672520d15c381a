#include "foundation/DebugDump.h"

#include <QDir>
#include <QSaveFile>

namespace {
const QString& folder()
{
    static const QString path = qEnvironmentVariable("TERVALA_DEBUG_DUMP_DIR");
    return path;
}
} // namespace

bool DebugDump::Enabled()
{
    return !folder().isEmpty();
}

void DebugDump::Write(const QString& name, const QString& text)
{
    if (!Enabled())
        return;
    // Whole-file replace, so a reader never sees half a dump.
    QSaveFile file(QDir(folder()).filePath(name));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

#include "foundation/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString envFolder(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? QString() : value;
}

QString joined(const QString& base, const QString& relative)
{
    QString path = base;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + relative;
}

QString userConfigFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (xdg.startsWith(QLatin1Char('/')))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString systemConfigFolder()
{
    const QStringList dirs =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& dir : dirs) {
        if (dir.startsWith(QLatin1Char('/')))
            return dir;
    }
    return QStringLiteral("/etc/xdg");
}

QSettings* newStore(QSettings::Scope scope)
{
    // Qt resolves the native settings folders once per process (and ignores
    // XDG_CONFIG_DIRS altogether), so the folders are set from the
    // environment before every store is made.
    QSettings::setPath(QSettings::NativeFormat, scope,
                       scope == QSettings::UserScope ? userConfigFolder() : systemConfigFolder());
    auto* store = new QSettings(QSettings::NativeFormat, scope, QStringLiteral("Quornix"),
                                QStringLiteral("Tervala Pro"));
    // A registry key never inherits values from another key: the per-user
    // store must not see the machine-wide file.
    store->setFallbacksEnabled(false);
    return store;
}
} // namespace

namespace Paths {
QString CommonAppData()
{
    const QString over = envFolder("TERVALA_COMMON_APPDATA");
    return over.isEmpty() ? QStringLiteral("/var/lib") : over;
}

QString QuornixFolder()
{
    return joined(CommonAppData(), QStringLiteral("quornix"));
}
QString LogFolder()
{
    return joined(QuornixFolder(), QStringLiteral("log/"));
}
QString ProductFolder()
{
    return joined(QuornixFolder(), QStringLiteral("TervalaPro"));
}
QString StoreFolder()
{
    return joined(ProductFolder(), QStringLiteral("store"));
}
QString LocalStoreFolder()
{
    return joined(StoreFolder(), QStringLiteral("local"));
}
QString SessionsFolder()
{
    return joined(ProductFolder(), QStringLiteral("sessions"));
}
QString RemoteAssistFolder()
{
    return joined(ProductFolder(), QStringLiteral("RemoteAssist"));
}

QString RuntimeFolder()
{
    const QString over = envFolder("TERVALA_RUNTIME_DIR");
    return over.isEmpty() ? QStringLiteral("/run/tervala") : over;
}

QString UserRuntimeFolder()
{
    const QString xdg = envFolder("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty())
        return xdg;
    return PrivateFallbackFolder();
}

QString PrivateFallbackFolder(QString* candidate)
{
    const QString base = qEnvironmentVariable("TMPDIR").startsWith(QLatin1Char('/'))
                             ? qEnvironmentVariable("TMPDIR")
                             : QStringLiteral("/tmp");
    const QString folder =
        joined(base, QStringLiteral("tervalapro-%1").arg(static_cast<qulonglong>(::geteuid())));
    if (candidate)
        *candidate = folder;
    const QByteArray native = QFile::encodeName(folder);
    // Whoever can write the base folder (everyone, in /tmp) may have made
    // the name first. The folder counts only when it is a real folder, ours,
    // and closed to everyone else; mkdir never follows a link, lstat sees one.
    if (::mkdir(native.constData(), 0700) == 0)
        ::chmod(native.constData(), 0700); // whatever the umask took away
    else if (errno != EEXIST)
        return {};
    struct stat info;
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 07777) != 0700)
        return {};
    return folder;
}

QString RuntimeEntry(const QString& name)
{
    return joined(RuntimeFolder(), name);
}

bool MakePath(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    return QDir().mkpath(folder);
}

QStringList DataFolders()
{
    QStringList folders;
    if (QCoreApplication::instance()) {
        folders.append(QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                       QStringLiteral("/../share/tervalapro")));
    }
    const QString configured = QDir::cleanPath(QStringLiteral(TERVALA_DATADIR));
    if (!folders.contains(configured))
        folders.append(configured);
    return folders;
}
} // namespace Paths

namespace Settings {
QSettings* NewUserStore()
{
    return newStore(QSettings::UserScope);
}
QSettings* NewMachineStore()
{
    return newStore(QSettings::SystemScope);
}
} // namespace Settings

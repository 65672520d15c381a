#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QStandardPaths>

namespace {
void setEnv(const char* name, const QString& value)
{
    qputenv(name, value.toUtf8());
}
} // namespace

TestEnvironment::TestEnvironment()
{
    if (!m_dir.isValid())
        return;
    for (const QString& sub : {appData(), runtimeDir(), configHome(), configDirs(), userRuntime()})
        QDir().mkpath(sub);
    QFile::setPermissions(userRuntime(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setEnv("TERVALA_COMMON_APPDATA", appData());
    setEnv("TERVALA_RUNTIME_DIR", runtimeDir());
    setEnv("XDG_CONFIG_HOME", configHome());
    setEnv("XDG_CONFIG_DIRS", configDirs());
    setEnv("XDG_RUNTIME_DIR", userRuntime());
    setEnv("HOME", m_dir.filePath(QStringLiteral("home")));
    QDir().mkpath(m_dir.filePath(QStringLiteral("home")));
    QStandardPaths::setTestModeEnabled(true);
}

QString TestEnvironment::appData() const
{
    return m_dir.filePath(QStringLiteral("appdata"));
}
QString TestEnvironment::runtimeDir() const
{
    return m_dir.filePath(QStringLiteral("run"));
}
QString TestEnvironment::configHome() const
{
    return m_dir.filePath(QStringLiteral("config"));
}
QString TestEnvironment::configDirs() const
{
    return m_dir.filePath(QStringLiteral("xdg"));
}
QString TestEnvironment::userRuntime() const
{
    return m_dir.filePath(QStringLiteral("user-run"));
}

QString TestEnvironment::binary(const QString& relativePath)
{
    const QString base = qEnvironmentVariable("TERVALA_BINARY_DIR");
    return QDir(base).filePath(relativePath);
}

QString TestEnvironment::sourceDir()
{
    return qEnvironmentVariable("TERVALA_SOURCE_DIR");
}

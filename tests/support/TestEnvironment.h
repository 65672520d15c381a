#pragma once

#include <QString>
#include <QTemporaryDir>

// Redirects every folder the program touches (application data, runtime folder,
// per-user and machine-wide settings, the user's runtime folder) into one fresh
// temporary folder, so no test ever meets /var/lib, /run, ~/.config or /etc, a
// real service or another test. Restores nothing: each test process makes one
// in initTestCase() and keeps it for its lifetime (QSettings caches paths).
class TestEnvironment
{
public:
    TestEnvironment();

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString appData() const;     // TERVALA_COMMON_APPDATA
    QString runtimeDir() const;  // TERVALA_RUNTIME_DIR
    QString configHome() const;  // XDG_CONFIG_HOME (per-user settings)
    QString configDirs() const;  // XDG_CONFIG_DIRS (machine-wide settings)
    QString userRuntime() const; // XDG_RUNTIME_DIR

    // Path of a built executable of the project (for tests that start the
    // stand-in service or the program).
    static QString binary(const QString& relativePath);
    static QString sourceDir();

private:
    QTemporaryDir m_dir;
};

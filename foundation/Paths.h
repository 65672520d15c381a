#pragma once

#include <QString>
#include <QStringList>

class QSettings;

// Folders and settings stores shared with the service. Every path is computed
// on each call from the environment, so tests can redirect them.
namespace Paths {
QString CommonAppData();      // $TERVALA_COMMON_APPDATA or /var/lib
QString QuornixFolder();      // <appdata>/quornix
QString LogFolder();          // <appdata>/quornix/log/ (with the trailing slash)
QString ProductFolder();      // <appdata>/quornix/TervalaPro
QString StoreFolder();        // <appdata>/quornix/TervalaPro/store
QString LocalStoreFolder();   // <appdata>/quornix/TervalaPro/store/local
QString SessionsFolder();     // <appdata>/quornix/TervalaPro/sessions
QString RemoteAssistFolder(); // <appdata>/quornix/TervalaPro/RemoteAssist
QString RuntimeFolder();      // $TERVALA_RUNTIME_DIR or /run/tervala
// $XDG_RUNTIME_DIR, or without it PrivateFallbackFolder(). Empty when
// neither can be had: then nothing per-user is shared through a folder.
QString UserRuntimeFolder();
// <$TMPDIR or /tmp>/tervalapro-<uid>: made with mode 0700 when missing, and
// given only when it is a folder (not a link) owned by this user with mode
// 0700, since anyone could have made it first; otherwise empty. The one
// fallback for every per-user entry (instance lock, hand-over socket), so a
// second launch finds the first whatever started them. candidate receives
// the path, given or refused.
QString PrivateFallbackFolder(QString* candidate = nullptr);
// Entry of the runtime folder, e.g. RuntimeEntry("{3FAB...}.TervalaIPC").
QString RuntimeEntry(const QString& name);
// Creates the folder and its parents; an existing folder is success.
bool MakePath(const QString& folder);
// The program's installed data folders (pictures, translations), in the order
// to search them: share/tervalapro beside the prefix the program runs from,
// then the one of the prefix it was configured for. A package installs under
// /usr whatever prefix its tree was configured with.
QStringList DataFolders();
} // namespace Paths

// The two settings stores. Each call returns a fresh object: keep it only for
// one operation, as the registry keys were.
namespace Settings {
// ~/.config/Quornix/Tervala Pro.conf (NickName)
QSettings* NewUserStore();
// /etc/xdg/Quornix/Tervala Pro.conf (LogTraceLevel, SupportHost, SupportEmail,
// RemoteDesktopCommand); writes fail silently for ordinary users.
QSettings* NewMachineStore();
} // namespace Settings

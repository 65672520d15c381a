#include "standin/DefaultSessionTypes.h"

#include "foundation/Paths.h"
#include "resources/StringTable.h"
#include "sessions/SessionTypeCatalog.h"

#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace DefaultSessionTypes {
namespace {
QString sessionType(const char* ports)
{
    CSessionTypeFormat format;
    ParsePortList(QString::fromLatin1(ports), format);
    return format.GetText();
}

Outcome report(QString* message, Outcome outcome, const QString& text)
{
    if (message)
        *message = text;
    return outcome;
}
} // namespace

QList<QPair<QString, QString>> Entries()
{
    // The two remote-access names are the ones the program acts on by name;
    // a Remote Assistance network opens the Remote Desktop port unless the
    // platform makes a ticket with a port of its own.
    return {
        {LoadString(10025), sessionType("S3389")},
        {LoadString(10020), sessionType("S3389")},
        {QStringLiteral("Web (HTTP, HTTPS)"), sessionType("80,443")},
        {QStringLiteral("Secure Shell (SSH)"), sessionType("S22")},
    };
}

Outcome WriteIfMissing(QString* message)
{
    const QString folder = Paths::SessionsFolder();
    const QString path = folder + QStringLiteral("/SessionTypes.dat");
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(nativePath.constData(), &info) == 0)
        return report(message, Outcome::Present,
                      QStringLiteral("session types: %1 kept").arg(path));
    if (!Paths::MakePath(folder)) {
        return report(message, Outcome::Failed,
                      QStringLiteral("session types: cannot create %1").arg(folder));
    }

    // Written aside, then linked to its name: link(2) neither replaces nor
    // follows whatever may have appeared at the path meanwhile.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    const QByteArray bytes = CSessionTypeCatalog::Serialize(Entries());
    QString why;
    if (!file.open()) {
        why = file.errorString();
    } else if (::fchmod(file.handle(), 0644) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
    } else if (file.write(bytes) != bytes.size() || !file.flush()) {
        why = file.errorString();
    } else if (::fdatasync(file.handle()) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
    } else if (::link(QFile::encodeName(file.fileName()).constData(), nativePath.constData()) !=
               0) {
        if (errno == EEXIST) {
            return report(message, Outcome::Present,
                          QStringLiteral("session types: %1 kept").arg(path));
        }
        why = QString::fromLocal8Bit(std::strerror(errno));
    } else {
        return report(message, Outcome::Written,
                      QStringLiteral("session types: wrote %1 with %2 types")
                          .arg(path)
                          .arg(Entries().size()));
    }
    return report(message, Outcome::Failed,
                  QStringLiteral("session types: cannot write %1: %2").arg(path, why));
}
} // namespace DefaultSessionTypes

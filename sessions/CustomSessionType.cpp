#include "sessions/CustomSessionType.h"

#include "sessions/SessionTypeCatalog.h"

namespace {
constexpr quint32 IDS_INVALID_SESSION_NAME = 115;
constexpr quint32 IDS_INVALID_PORTS = 116;
constexpr quint32 IDS_DUPLICATE_SESSION = 117;
} // namespace

quint32 AddCustomSessionType(const QString& name, const QString& portText,
                             const QStringList& applications, QString* sessionTypeText)
{
    // A type stored under the empty name could never be told apart in the
    // session list, whatever its ports. Blanks are a name: nothing is trimmed.
    if (name.isEmpty())
        return IDS_INVALID_SESSION_NAME;

    CSessionTypeFormat format;
    bool invalid = false;
    const bool hasPorts = ParsePortList(portText, format, &invalid);
    // Port text that is not port notation is refused as such; taking it for
    // "no ports" would quietly record the application list instead.
    if (invalid)
        return IDS_INVALID_PORTS;
    if (!hasPorts) {
        if (applications.isEmpty())
            return IDS_INVALID_PORTS;
        for (const QString& application : applications)
            format.AddApplication(application);
    }
    const QString text = format.GetText();

    // Closing the catalogue writes it, with the new entry or unchanged; a file
    // that cannot be written loses the entry without a message.
    CSessionTypeCatalog catalog;
    if (!catalog.Add(name, text))
        return IDS_DUPLICATE_SESSION;
    if (sessionTypeText)
        *sessionTypeText = text;
    return 0;
}

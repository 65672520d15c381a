#include "foundation/RegOperations.h"

#include "foundation/Paths.h"

#include <QProcess>
#include <QSettings>

#include <memory>

namespace {
const QString kNickName = QStringLiteral("NickName");
constexpr int kMaxNickChars = 259;

// Only a plain text value counts; a list, a number stored through Qt's
// variant form or a byte array is not a nickname.
QString textValue(const QSettings& store, const QString& key)
{
    const QVariant v = store.value(key);
    if (v.typeId() != QMetaType::QString)
        return QString();
    return v.toString();
}

std::unique_ptr<QSettings> machineStore()
{
    return std::unique_ptr<QSettings>(Settings::NewMachineStore());
}

bool parseUnsigned(const QString& text, std::uint32_t& out)
{
    const QString t = text.trimmed();
    bool ok = false;
    uint value = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toUInt(&ok, 16);
    else
        value = t.toUInt(&ok, 10);
    out = ok ? value : 0;
    return ok;
}
} // namespace

CRegOperations::CRegOperations() = default;
CRegOperations::~CRegOperations() = default;

QString CRegOperations::GetNickName() const
{
    std::unique_ptr<QSettings> store(Settings::NewUserStore());
    QString name = textValue(*store, kNickName);
    // The registry value ended at its first zero character and was read into
    // a 260-character buffer.
    const qsizetype zero = name.indexOf(QChar(0));
    if (zero >= 0)
        name.truncate(zero);
    name.truncate(kMaxNickChars);
    return name;
}

void CRegOperations::SetNickName(const QString& text)
{
    if (text.isEmpty())
        return;
    std::unique_ptr<QSettings> store(Settings::NewUserStore());
    store->setValue(kNickName, text);
    store->sync();
}

std::uint32_t CRegOperations::EnableGetHelp()
{
    return 0;
}
std::uint32_t CRegOperations::EnableUnsolicitedHelp()
{
    return 0;
}

std::uint32_t CRegOperations::ReadLogTraceLevel()
{
    const QVariant v = machineStore()->value(QStringLiteral("LogTraceLevel"));
    std::uint32_t level = 0;
    switch (v.typeId()) {
    case QMetaType::QString:
        parseUnsigned(v.toString(), level);
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        level = static_cast<std::uint32_t>(v.toULongLong());
        break;
    default:
        break;
    }
    return level;
}

QString CRegOperations::SupportHost()
{
    return textValue(*machineStore(), QStringLiteral("SupportHost")).trimmed();
}

QString CRegOperations::SupportEmail()
{
    return textValue(*machineStore(), QStringLiteral("SupportEmail")).trimmed();
}

QStringList CRegOperations::RemoteDesktopCommand()
{
    const QVariant v = machineStore()->value(QStringLiteral("RemoteDesktopCommand"));
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    if (v.typeId() == QMetaType::QString)
        return QProcess::splitCommand(v.toString());
    return {};
}

bool CRegOperations::MonochromeTrayIcon()
{
    const QString key = QStringLiteral("TrayIconStyle");
    std::unique_ptr<QSettings> user(Settings::NewUserStore());
    QString style = textValue(*user, key).trimmed();
    if (style.isEmpty())
        style = textValue(*machineStore(), key).trimmed();
    return style.compare(QLatin1String("monochrome"), Qt::CaseInsensitive) == 0;
}

#include "sessions/SessionTypeCatalog.h"

#include "foundation/Paths.h"
#include "foundation/TraceLog.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
const QString kRootName = QStringLiteral("TVLSessionStringFormat");
const QString kFileName = QStringLiteral("SessionTypes.dat");

void traceError(const QString& message)
{
    if (TraceLevel() & TRACE_ERROR)
        CTraceLog::Trace(message);
}

QString systemError(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// ---- The archive form of a string-to-string map ----------------------------
//
// count:  u16, or 0xFFFF + u32 (or 0xFFFF + 0xFFFFFFFF + u64 on reading)
// string: 0xFF 0xFFFE (wide tag), then the length in UTF-16 units as u8 below
//         0xFF, else 0xFF + u16 below 0xFFFE, else 0xFF 0xFFFF + u32; then the
//         units. Without the tag, the same length scheme counts 8-bit
//         characters.

constexpr quint8 kLongLength8 = 0xFF;
constexpr quint16 kWideTag = 0xFFFE;
constexpr quint16 kLongLength16 = 0xFFFF;
constexpr quint32 kLongLength32 = 0xFFFFFFFF;

// Writes into a buffer sized beforehand: the whole catalogue is built in one
// allocation, without a bounds check per byte.
class ArchiveWriter
{
public:
    explicit ArchiveWriter(char* out) : m_out(out) {}

    static qsizetype countBytes(qsizetype count) { return count < kLongLength16 ? 2 : 6; }
    static qsizetype stringBytes(const QString& text)
    {
        const qsizetype length = text.size();
        const qsizetype lengthBytes = length < kLongLength8 ? 1 : length < kWideTag ? 3 : 7;
        return 3 + lengthBytes + 2 * length;
    }

    void count(qsizetype count)
    {
        if (count < kLongLength16) {
            u16(quint16(count));
        } else {
            u16(kLongLength16);
            u32(quint32(count));
        }
    }

    void string(const QString& text)
    {
        u8(kLongLength8);
        u16(kWideTag);
        const qsizetype length = text.size();
        if (length < kLongLength8) {
            u8(quint8(length));
        } else {
            u8(kLongLength8);
            if (length < kWideTag) {
                u16(quint16(length));
            } else {
                u16(kLongLength16);
                u32(quint32(length));
            }
        }
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
            std::memcpy(m_out, text.utf16(), std::size_t(length) * 2);
            m_out += length * 2;
        } else {
            for (QChar c : text)
                u16(c.unicode());
        }
    }

    char* end() const { return m_out; }

private:
    void u8(quint8 value) { *m_out++ = char(value); }
    void u16(quint16 value)
    {
        qToLittleEndian(value, m_out);
        m_out += 2;
    }
    void u32(quint32 value)
    {
        qToLittleEndian(value, m_out);
        m_out += 4;
    }

    char* m_out;
};

class ArchiveReader
{
public:
    explicit ArchiveReader(const QByteArray& bytes)
        : m_data(reinterpret_cast<const uchar*>(bytes.constData())), m_size(bytes.size())
    {
    }

    qsizetype left() const { return m_size - m_pos; }
    qsizetype offset() const { return m_pos; }

    template <typename T> bool read(T& value)
    {
        if (left() < qsizetype(sizeof(T)))
            return false;
        value = qFromLittleEndian<T>(m_data + m_pos);
        m_pos += qsizetype(sizeof(T));
        return true;
    }

    const uchar* take(qsizetype count)
    {
        const uchar* start = m_data + m_pos;
        m_pos += count;
        return start;
    }

private:
    const uchar* m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
};

bool readCount(ArchiveReader& in, quint64& count)
{
    quint16 count16 = 0;
    if (!in.read(count16))
        return false;
    if (count16 != kLongLength16) {
        count = count16;
        return true;
    }
    quint32 count32 = 0;
    if (!in.read(count32))
        return false;
    if (count32 != kLongLength32) {
        count = count32;
        return true;
    }
    return in.read(count);
}

// The steps of a length after its first byte: u16, then u32, then u64.
bool readLongLength(ArchiveReader& in, quint16 length16, quint64& length)
{
    if (length16 < kLongLength16) {
        length = length16;
        return true;
    }
    quint32 length32 = 0;
    if (!in.read(length32))
        return false;
    if (length32 < kLongLength32) {
        length = length32;
        return true;
    }
    return in.read(length);
}

// Every length is checked against what is left of the file before anything
// is allocated, so a damaged length costs nothing.
bool readString(ArchiveReader& in, QString& text, QString& why)
{
    const qsizetype start = in.offset();
    quint64 length = 0;
    bool wide = false;
    quint8 first = 0;
    quint16 second = 0;
    bool ok = in.read(first);
    if (ok && first < kLongLength8) {
        length = first;
    } else if (ok) {
        ok = in.read(second);
        if (ok && second == kWideTag) {
            // The wide tag, then the same length scheme again.
            wide = true;
            ok = in.read(first);
            if (ok && first < kLongLength8)
                length = first;
            else if (ok)
                ok = in.read(second) && readLongLength(in, second, length);
        } else if (ok) {
            ok = readLongLength(in, second, length);
        }
    }
    if (!ok) {
        why = QStringLiteral("the file ends inside the length of a string at offset %1").arg(start);
        return false;
    }
    const auto available = quint64(in.left());
    const quint64 needed = wide ? (length > available / 2 ? available + 1 : length * 2) : length;
    if (needed > available) {
        why = QStringLiteral("a string at offset %1 claims %2 characters, but only %3 bytes follow")
                  .arg(start)
                  .arg(length)
                  .arg(available);
        return false;
    }
    const uchar* chars = in.take(qsizetype(needed));
    if (!wide) {
        // Not written by this program; 8-bit text is UTF-8 on this platform.
        text = QString::fromUtf8(reinterpret_cast<const char*>(chars), qsizetype(needed));
        return true;
    }
    text = QString(qsizetype(length), Qt::Uninitialized);
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        std::memcpy(text.data(), chars, std::size_t(needed));
    } else {
        for (qsizetype i = 0; i < qsizetype(length); ++i)
            text[i] = QChar(qFromLittleEndian<quint16>(chars + 2 * i));
    }
    return true;
}

using Entries = QList<QPair<QString, QString>>;

// Where each name sits in the entry list: open addressing over one flat array
// of (32-bit hash, position + 1), 0 marking a free slot. A load inserts every
// name of the file, and a node-based hash spent most of that time waiting for
// memory; this table stays small enough for the cache and only touches a
// name's characters when the hashes agree.
class NameIndex
{
public:
    NameIndex(const Entries& entries, std::vector<quint64>& table)
        : m_entries(entries), m_slots(table)
    {
    }

    static quint32 hashOf(QStringView name)
    {
        const size_t full = qHash(name, 0);
        return quint32(full ^ (quint64(full) >> 32));
    }

    // The position of `name` in the entries, or -1.
    static qsizetype find(const Entries& entries, const std::vector<quint64>& table,
                          QStringView name, quint32 hash)
    {
        if (table.empty())
            return -1;
        const size_t mask = table.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const quint64 slot = table[i];
            if (slot == 0)
                return -1;
            if (quint32(slot >> 32) == hash) {
                const auto position = qsizetype(quint32(slot)) - 1;
                if (entries.at(position).first == name)
                    return position;
            }
        }
    }
    qsizetype find(QStringView name, quint32 hash) const
    {
        return find(m_entries, m_slots, name, hash);
    }

    // Records a name that find() did not find; it is to be appended at `position`.
    void insert(quint32 hash, qsizetype position)
    {
        reserve(position + 1);
        place(hash, position);
    }

    // Room for `count` names without growing.
    void reserve(qsizetype count)
    {
        size_t size = m_slots.empty() ? 16 : m_slots.size();
        while (size < size_t(count) * 2)
            size *= 2;
        if (size == m_slots.size())
            return;
        std::vector<quint64> old(size, 0);
        old.swap(m_slots);
        for (quint64 slot : old) {
            if (slot != 0)
                place(quint32(slot >> 32), qsizetype(quint32(slot)) - 1);
        }
    }

    void rebuild()
    {
        m_slots.clear();
        reserve(m_entries.size());
        for (qsizetype i = 0; i < m_entries.size(); ++i)
            place(hashOf(m_entries.at(i).first), i);
    }

private:
    void place(quint32 hash, qsizetype position)
    {
        const size_t mask = m_slots.size() - 1;
        size_t i = hash & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = (quint64(hash) << 32) | quint64(position + 1);
    }

    const Entries& m_entries;
    std::vector<quint64>& m_slots;
};

void insertPair(Entries& entries, NameIndex& index, QString&& name, QString&& text)
{
    const quint32 hash = NameIndex::hashOf(name);
    const qsizetype found = index.find(name, hash);
    if (found >= 0) {
        entries[found].second = std::move(text);
        return;
    }
    index.insert(hash, entries.size());
    entries.append({std::move(name), std::move(text)});
}

bool deserializeInto(const QByteArray& bytes, Entries& entries, NameIndex& index, QString* error)
{
    ArchiveReader in(bytes);
    quint64 count = 0;
    if (!readCount(in, count)) {
        if (error)
            *error =
                QStringLiteral("the file ends inside the entry count (%1 bytes)").arg(bytes.size());
        return false;
    }
    // The count is only a loop bound: a damaged one stops at the end of the
    // file. Room is reserved ahead only for what the rest of the file could
    // hold (8 bytes per wide pair at least), and not without limit; a larger
    // catalogue simply grows as it is read.
    const auto room = qsizetype(std::min({count, quint64(in.left() / 8), quint64(65536)}));
    entries.reserve(entries.size() + room);
    index.reserve(entries.size() + room);
    for (quint64 i = 0; i < count; ++i) {
        QString name;
        QString text;
        QString why;
        if (!readString(in, name, why) || !readString(in, text, why)) {
            if (error) {
                *error = QStringLiteral("entry %1 of %2 is damaged: %3; the %4 entries before it "
                                        "were read")
                             .arg(i + 1)
                             .arg(count)
                             .arg(why)
                             .arg(i);
            }
            return false;
        }
        insertPair(entries, index, std::move(name), std::move(text));
    }
    return true;
}

// Reads at most maxBytes of a regular file without blocking on whatever else
// may stand at the path. errno-style result: 0, or the reason.
int readRegularFile(const QString& path, qint64 maxBytes, QByteArray& bytes, bool& cut,
                    QString& why)
{
    cut = false;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        why = systemError(err);
        return err;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        why = QStringLiteral("not a regular file");
        return EINVAL;
    }
    const qint64 size = qint64(info.st_size);
    const qint64 wanted = qMin(size, maxBytes);
    cut = size > maxBytes;
    bytes.resize(qsizetype(wanted));
    qint64 done = 0;
    while (done < wanted) {
        const ssize_t n = ::read(fd, bytes.data() + done, std::size_t(wanted - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            bytes.clear();
            why = systemError(err);
            return err;
        }
        if (n == 0)
            break;
        done += n;
    }
    ::close(fd);
    // A file that shrank while it was read is simply shorter.
    bytes.truncate(qsizetype(done));
    return 0;
}

// rename(2) replaces the target in one step, and replaces a link planted at
// the target instead of following it (QFile::rename does neither).
bool renameOver(const QString& from, const QString& to, QString& why)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    why = systemError(errno);
    return false;
}

// The permission bits for the new file: those of the file it replaces, or
// readable by everyone (the service and every user read the catalogue).
mode_t modeFor(const QString& path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode))
        return info.st_mode & 0666;
    return 0644;
}

bool writeTemporaryAndRename(const QString& path, const QByteArray& bytes, mode_t mode,
                             QString& why)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open()) {
        why = file.errorString();
        return false;
    }
    if (::fchmod(file.handle(), mode) != 0) {
        why = systemError(errno);
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        why = file.errorString();
        return false;
    }
    // Renaming before the data reaches the disk can leave an empty catalogue
    // after a power cut.
    if (::fdatasync(file.handle()) != 0) {
        why = systemError(errno);
        return false;
    }
    if (!renameOver(file.fileName(), path, why))
        return false;
    file.setAutoRemove(false);
    return true;
}
} // namespace

// ---- CSessionTypeFormat ------------------------------------------------------

CSessionTypeFormat::CSessionTypeFormat()
{
    m_xml.CreateDocument(kRootName);
}

bool CSessionTypeFormat::AddPortRange(quint16 start, quint16 stop, bool isService)
{
    m_xml.AddChild(QStringLiteral("PortRange"));
    m_xml.SetAttributeLong(QStringLiteral("PortStart"), long(start));
    m_xml.SetAttributeLong(QStringLiteral("PortStop"), long(stop));
    m_xml.SetAttributeBool(QStringLiteral("PortService"), isService);
    m_xml.EndChild();
    return true;
}

bool CSessionTypeFormat::AddApplication(const QString& exeFileName)
{
    m_xml.AddChild(QStringLiteral("AppName"));
    m_xml.SetAttribute(QStringLiteral("AppNamAttr"), exeFileName);
    m_xml.EndChild();
    return true;
}

QString CSessionTypeFormat::GetText() const
{
    return m_xml.GetXml();
}

// ---- ParsePortList -----------------------------------------------------------

bool ParsePortList(const QString& portText, CSessionTypeFormat& format, bool* invalid)
{
    if (invalid)
        *invalid = false;
    struct Range
    {
        quint16 start;
        quint16 stop;
        bool isService;
    };
    // Only the low 16 bits count: 70000 is port 4464, -1 is 65535.
    const auto port = [](QStringView digits) {
        return quint16(static_cast<unsigned long>(WtoL(digits.toString())) & 0xFFFF);
    };
    const auto isDelimiter = [](QChar c) {
        return c == u' ' || c == u',' || c == u';' || c == u':';
    };

    // Everything is parsed before anything is added, so a refused text leaves
    // the format as it was.
    QList<Range> ranges;
    const QStringView text(portText);
    qsizetype pos = 0;
    while (pos < text.size()) {
        if (isDelimiter(text[pos])) {
            ++pos;
            continue;
        }
        qsizetype end = pos;
        while (end < text.size() && !isDelimiter(text[end]))
            ++end;
        QStringView token = text.mid(pos, end - pos);
        pos = end;

        const bool isService = token.startsWith(u'S');
        if (isService)
            token = token.mid(1);
        const qsizetype dash = token.indexOf(u'-');
        if (dash < 0) {
            const quint16 value = port(token);
            ranges.append({value, value, isService});
            continue;
        }
        const QStringView startSide = token.left(dash);
        const QStringView stopSide = token.mid(dash + 1);
        if (startSide.size() > kMaxPortSideLength || stopSide.size() > kMaxPortSideLength) {
            if (invalid)
                *invalid = true;
            return false;
        }
        ranges.append({port(startSide), port(stopSide), isService});
    }
    for (const Range& range : std::as_const(ranges))
        format.AddPortRange(range.start, range.stop, range.isService);
    return !ranges.isEmpty();
}

// ---- CSessionTypeCatalog -----------------------------------------------------

CSessionTypeCatalog::CSessionTypeCatalog()
{
    const QString folder = Paths::SessionsFolder();
    if (!Paths::MakePath(folder))
        traceError(QStringLiteral("Session types: cannot create the folder ") + folder);
    m_path = folder + QLatin1Char('/') + kFileName;
    Load();
}

CSessionTypeCatalog::~CSessionTypeCatalog()
{
    // Rewriting what was read whole keeps the file as the user's own copy;
    // rewriting a file that was read only in part, or making one from
    // nothing, would gain nothing and could lose what another writer holds.
    if (m_changed || m_fileState == FileState::Intact)
        Save();
}

void CSessionTypeCatalog::Load()
{
    m_loadError.clear();
    QByteArray bytes;
    bool cut = false;
    QString why;
    const int err = readRegularFile(m_path, kMaxFileBytes, bytes, cut, why);
    if (err == ENOENT || err == ENOTDIR) {
        m_fileState = FileState::Missing;
        return;
    }
    if (err != 0) {
        m_fileState = FileState::Damaged;
        m_loadError = QStringLiteral("%1 cannot be read: %2").arg(m_path, why);
        traceError(QStringLiteral("Session types: ") + m_loadError);
        return;
    }

    NameIndex index(m_entries, m_slots);
    const bool whole = deserializeInto(bytes, m_entries, index, &why);
    if (whole && !cut) {
        m_fileState = FileState::Intact;
    } else {
        m_fileState = FileState::Damaged;
        if (cut) {
            const QString limit =
                QStringLiteral("the file is larger than %1 bytes; only that much was read")
                    .arg(kMaxFileBytes);
            why = whole ? limit : why + QStringLiteral("; ") + limit;
        }
        m_loadError = QStringLiteral("%1 is damaged: %2").arg(m_path, why);
        traceError(QStringLiteral("Session types: ") + m_loadError +
                   QStringLiteral(" (%1 session types known)").arg(m_entries.size()));
    }

    m_names.clear();
    m_names.reserve(m_entries.size());
    for (const auto& entry : std::as_const(m_entries))
        m_names.append(entry.first);
}

int CSessionTypeCatalog::GetNameCount() const
{
    return int(m_names.size());
}

QString CSessionTypeCatalog::GetName(int index) const
{
    return m_names.value(index);
}

QStringList CSessionTypeCatalog::Names() const
{
    return m_names;
}

QString CSessionTypeCatalog::Lookup(const QString& name) const
{
    const qsizetype found = NameIndex::find(m_entries, m_slots, name, NameIndex::hashOf(name));
    return found < 0 ? QString() : m_entries.at(found).second;
}

bool CSessionTypeCatalog::Add(const QString& name, const QString& text)
{
    NameIndex index(m_entries, m_slots);
    const quint32 hash = NameIndex::hashOf(name);
    if (index.find(name, hash) >= 0)
        return false;
    index.insert(hash, m_entries.size());
    m_entries.append({name, text});
    m_names.append(name);
    m_changed = true;
    return true;
}

QString CSessionTypeCatalog::DamagedCopyPath() const
{
    return m_path + QStringLiteral(".damaged");
}

bool CSessionTypeCatalog::keepDamagedCopy()
{
    const QByteArray source = QFile::encodeName(m_path);
    // A hard link keeps the damaged bytes without reading them; link(2) links
    // a planted symbolic link itself, never its target.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString staging =
            DamagedCopyPath() + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(), 8,
                                                          16, QLatin1Char('0'));
        if (::link(source.constData(), QFile::encodeName(staging).constData()) == 0) {
            QString why;
            if (renameOver(staging, DamagedCopyPath(), why))
                return true;
            ::unlink(QFile::encodeName(staging).constData());
            m_saveError = QStringLiteral("cannot keep the damaged catalogue as %1: %2")
                              .arg(DamagedCopyPath(), why);
            return false;
        }
        if (errno == ENOENT)
            return true; // gone meanwhile: nothing left to keep
        if (errno != EEXIST)
            break;
    }

    // No hard links here: copy what can be read.
    QByteArray bytes;
    bool cut = false;
    QString why;
    const int err = readRegularFile(m_path, kMaxFileBytes, bytes, cut, why);
    if (err == ENOENT)
        return true;
    if (err == 0 && writeTemporaryAndRename(DamagedCopyPath(), bytes, modeFor(m_path), why))
        return true;
    m_saveError =
        QStringLiteral("cannot keep the damaged catalogue as %1: %2").arg(DamagedCopyPath(), why);
    return false;
}

bool CSessionTypeCatalog::Save()
{
    m_saveError.clear();
    Paths::MakePath(QFileInfo(m_path).path());
    // The entries that could not be read are worth more than the new one: if
    // the damaged file cannot be kept, it is not replaced.
    if (m_fileState == FileState::Damaged && !keepDamagedCopy()) {
        traceError(QStringLiteral("Session types: not saved: ") + m_saveError);
        return false;
    }
    QString why;
    if (!writeTemporaryAndRename(m_path, Serialize(m_entries), modeFor(m_path), why)) {
        m_saveError = QStringLiteral("cannot write %1: %2").arg(m_path, why);
        traceError(QStringLiteral("Session types: ") + m_saveError);
        return false;
    }
    m_fileState = FileState::Intact;
    m_changed = false;
    return true;
}

QByteArray CSessionTypeCatalog::Serialize(const QList<QPair<QString, QString>>& entries)
{
    qsizetype total = ArchiveWriter::countBytes(entries.size());
    for (const auto& entry : entries)
        total += ArchiveWriter::stringBytes(entry.first) + ArchiveWriter::stringBytes(entry.second);
    QByteArray out(total, Qt::Uninitialized);
    ArchiveWriter writer(out.data());
    writer.count(entries.size());
    for (const auto& entry : entries) {
        writer.string(entry.first);
        writer.string(entry.second);
    }
    Q_ASSERT(writer.end() == out.constData() + total);
    return out;
}

bool CSessionTypeCatalog::Deserialize(const QByteArray& bytes,
                                      QList<QPair<QString, QString>>& entries, QString* error)
{
    std::vector<quint64> table;
    NameIndex index(entries, table);
    index.rebuild();
    return deserializeInto(bytes, entries, index, error);
}

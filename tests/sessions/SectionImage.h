#pragma once

// A deliberately separate writer of session-list images for the tests, so
// that a fault shared by the program's serializers and the stand-in's
// publisher cannot hide itself. It knows only the byte layout.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtEndian>

namespace TestSection {

inline QString SectionFile(const QString& runtimeDir)
{
    return QDir(runtimeDir)
        .filePath(QStringLiteral("{65AFFDA5-0BE5-4d6a-85C9-997A691FDF1F}.SessionList"));
}
inline QString LockFile(const QString& runtimeDir)
{
    return QDir(runtimeDir)
        .filePath(QStringLiteral("{65AFFDA5-0BE5-4d6a-85C9-997A691FDF1F}.SessionList.Lock"));
}
inline QString EventFile(const QString& runtimeDir)
{
    return QDir(runtimeDir)
        .filePath(QStringLiteral("{65AFFDA5-0BE5-4d6a-85C9-997A691FDF1F}.LSP.Notify"));
}

class Image
{
public:
    // A 520-byte text field; `terminate` false fills all 260 units.
    Image& text(const QString& value, bool terminate = true)
    {
        QByteArray field(520, '\0');
        const qsizetype units = terminate ? qMin<qsizetype>(value.size(), 259) : 260;
        for (qsizetype i = 0; i < units; ++i) {
            const char16_t unit = i < value.size() ? value.at(i).unicode() : u'X';
            field[2 * i] = char(unit & 0xFF);
            field[2 * i + 1] = char(unit >> 8);
        }
        m_payload += field;
        return *this;
    }
    Image& i32(qint32 value)
    {
        char raw[4];
        qToLittleEndian<qint32>(value, raw);
        m_payload.append(raw, 4);
        return *this;
    }
    Image& bytes(const QByteArray& raw)
    {
        m_payload += raw;
        return *this;
    }
    // Session name, display text, peer count and the 16-byte header.
    Image& session(const QString& name, const QString& display, qint32 peerCount)
    {
        text(name).text(display).i32(peerCount);
        return bytes(QByteArray(16, 'h'));
    }
    static QByteArray peerRecord(const QString& name, quint32 flag = 1,
                                 const QString& second = QStringLiteral("10.0.0.1"))
    {
        QByteArray record(1068, '\0');
        qToLittleEndian<quint32>(flag, record.data());
        for (int i = 4; i < 22; ++i)
            record[i] = char(0xA0 + i); // opaque fields must travel unchanged
        writeUnits(record, 22, name);
        record[542] = char(0x5A);
        writeUnits(record, 548, second);
        return record;
    }
    Image& peer(const QString& name, quint32 flag = 1) { return bytes(peerRecord(name, flag)); }
    Image& tunnels(qint32 count, int present)
    {
        i32(count);
        for (int i = 0; i < present; ++i)
            bytes(QByteArray(536, char('t' + i)));
        return *this;
    }
    qsizetype size() const { return m_payload.size(); }

    // Used length (default: everything written) + payload padded with zeros
    // to `capacity` (default: exactly the payload) or cut to it.
    QByteArray image(qint64 usedLength = -1, qint64 capacity = -1) const
    {
        const qint64 cap = capacity < 0 ? m_payload.size() : capacity;
        const quint32 used = usedLength < 0 ? quint32(m_payload.size()) : quint32(usedLength);
        QByteArray out(4, '\0');
        qToLittleEndian<quint32>(used, out.data());
        out += m_payload.left(cap);
        if (out.size() < cap + 4)
            out += QByteArray(cap + 4 - out.size(), '\0');
        return out;
    }

private:
    static void writeUnits(QByteArray& record, int offset, const QString& value)
    {
        for (qsizetype i = 0; i < qMin<qsizetype>(value.size(), 259); ++i) {
            record[offset + 2 * i] = char(value.at(i).unicode() & 0xFF);
            record[offset + 2 * i + 1] = char(value.at(i).unicode() >> 8);
        }
    }
    QByteArray m_payload;
};

inline bool Publish(const QString& runtimeDir, const QByteArray& image)
{
    QFile file(SectionFile(runtimeDir));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(image) == image.size();
}

} // namespace TestSection

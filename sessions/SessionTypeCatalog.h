#pragma once

#include "foundation/XmlSerializer.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

// One session type under construction: a "TVLSessionStringFormat" document of
// port ranges, then applications.
class CSessionTypeFormat
{
public:
    CSessionTypeFormat();
    bool AddPortRange(quint16 start, quint16 stop, bool isService);
    bool AddApplication(const QString& exeFileName);
    QString GetText() const;

private:
    CXmlSerializer m_xml;
};

// Longest side of a range in the port notation: "123456789-1" is allowed,
// "1234567890-1" is not.
constexpr qsizetype kMaxPortSideLength = 9;

// The user's port notation ("80,100,1200-1202", "S3389") into `format`. True
// when at least one item was found.
//
// Tokens are separated by any of " ,;:"; a leading upper-case "S" marks a
// service port; the first "-" splits a range; each number keeps its low 16
// bits. A text that has a range side longer than kMaxPortSideLength characters
// is refused as a whole: nothing is added to `format`, the result is false and
// `*invalid` (when given) becomes true. The Add New Session dialog passes
// `invalid` and shows message 116 for it, instead of taking the false result
// for "no ports given" and recording its application list. `*invalid` is set
// to false for every other text.
bool ParsePortList(const QString& portText, CSessionTypeFormat& format, bool* invalid = nullptr);

// The session-type catalogue SessionTypes.dat: names to session-type texts.
// The service reads and writes the same file, so its byte layout is fixed.
class CSessionTypeCatalog
{
public:
    // Opens <appdata>/quornix/TervalaPro/sessions/SessionTypes.dat (creating
    // the folder chain) and loads it.
    CSessionTypeCatalog();
    // Saves, whether or not anything changed, with one exception: when the
    // last Load() met a file that it could not read completely (damaged,
    // unreadable, not a regular file) and nothing was added since, the file
    // is left as it is rather than rewritten with fewer entries. Likewise a
    // catalogue that found no file and was not changed creates none.
    ~CSessionTypeCatalog();
    CSessionTypeCatalog(const CSessionTypeCatalog&) = delete;
    CSessionTypeCatalog& operator=(const CSessionTypeCatalog&) = delete;

    // Reads the file again into the map (entries already held stay) and
    // rebuilds the names list. A missing file changes nothing; a damaged one
    // keeps the entries read before the damage and leaves a reason in
    // LoadError().
    void Load();
    int GetNameCount() const;
    QString GetName(int index) const;
    QStringList Names() const;
    QString Lookup(const QString& name) const;
    // False when `name` is present already (nothing changes). Does not write.
    bool Add(const QString& name, const QString& text);
    // Writes the whole map (to a temporary file renamed over the catalogue).
    // False when it could not be written; the file on disk is then unchanged
    // and SaveError() says why. When the file being replaced was found damaged
    // by the last Load(), it is first kept beside it as DamagedCopyPath(), so
    // the entries that could not be read are not lost with it.
    bool Save();

    QString FilePath() const { return m_path; }
    // <catalogue>.damaged
    QString DamagedCopyPath() const;
    // Empty when the last Load() read the whole file or found none.
    QString LoadError() const { return m_loadError; }
    QString SaveError() const { return m_saveError; }

    // Files larger than this are read only up to it (the rest counts as
    // damage): a catalogue in a shared folder must not make the program
    // allocate without bound.
    static constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

    // The archive byte form, exposed for tests, benchmarks and the stand-in.
    static QByteArray Serialize(const QList<QPair<QString, QString>>& entries);
    // Appends/replaces pairs read from `bytes` into `entries` (insertion order
    // kept, a later duplicate name replaces the earlier text). False on damage,
    // with the reason in `error`; the pairs read before the damage are kept.
    static bool Deserialize(const QByteArray& bytes, QList<QPair<QString, QString>>& entries,
                            QString* error = nullptr);

private:
    enum class FileState
    {
        Missing,
        Intact,
        Damaged
    };
    bool keepDamagedCopy();

    QString m_path;
    // Insertion order is the map's order (the platform map had its own order;
    // readers must not depend on it).
    QList<QPair<QString, QString>> m_entries;
    // Positions in m_entries by name (see NameIndex in the source).
    std::vector<quint64> m_slots;
    QStringList m_names;
    QString m_loadError;
    QString m_saveError;
    FileState m_fileState = FileState::Missing;
    bool m_changed = false;
};

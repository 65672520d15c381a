#pragma once

#include "foundation/XmlSerializer.h"

#include <QHash>
#include <QString>
#include <QStringList>

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

// The user's port notation ("80,100,1200-1202", "S3389") into `format`. True
// when at least one item was found.
bool ParsePortList(const QString& portText, CSessionTypeFormat& format);

// The session-type catalogue SessionTypes.dat: names to session-type texts.
// The service reads and writes the same file, so its byte layout is fixed.
class CSessionTypeCatalog
{
public:
    // Opens <appdata>/quornix/TervalaPro/sessions/SessionTypes.dat (creating
    // the folder chain) and loads it.
    CSessionTypeCatalog();
    // Saves, whether or not anything changed.
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
    // False when it could not be written; the file on disk is then unchanged.
    bool Save();

    QString FilePath() const { return m_path; }
    QString LoadError() const { return m_loadError; }

    // The archive byte form, exposed for tests, benchmarks and the stand-in.
    static QByteArray Serialize(const QList<QPair<QString, QString>>& entries);
    // Appends/replaces pairs read from `bytes` into `entries` (insertion order
    // kept, a later duplicate name replaces the earlier text). False on damage,
    // with the reason in `error`; the pairs read before the damage are kept.
    static bool Deserialize(const QByteArray& bytes, QList<QPair<QString, QString>>& entries,
                            QString* error = nullptr);

private:
    QString m_path;
    // Insertion order is the map's order (the platform map had its own order;
    // readers must not depend on it).
    QList<QPair<QString, QString>> m_entries;
    QHash<QString, qsizetype> m_index;
    QStringList m_names;
    QString m_loadError;
};

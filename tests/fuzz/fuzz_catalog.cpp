// The session-type catalogue SessionTypes.dat (shared with the service, so
// any other writer may have made it) and the user's port notation.
//
// Input: one control byte, then the payload.
// - bit 0 clear: the payload is the catalogue file. The catalogue object
//   loads it, is asked for every name, and goes away; with bit 1 set an
//   entry is added first, so that it saves.
// - bit 0 set: the payload is UTF-8 port text for ParsePortList.
//
// Properties of the catalogue:
// - the object holds exactly what the archive reader makes of the bytes;
// - a file read whole is written back with the same entries; a file read
//   only in part is never replaced by fewer entries: untouched it stays as
//   it was, and when an entry is added the old bytes are kept beside it;
// - what is written reads back whole.
// Properties of the port notation:
// - a refused text adds nothing, and false means nothing was added;
// - the document made reads back as XML with one range per item, ports in
//   range and the service flag spelt "true" or "false";
// - the ranges written out in the notation parse to the same ranges.
#include "foundation/Paths.h"
#include "foundation/XmlSerializer.h"
#include "sessions/SessionTypeCatalog.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QStringList>

#include <cstdint>

namespace {

using Entries = QList<QPair<QString, QString>>;

TestEnvironment* g_environment = nullptr;

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QString Describe(const Entries& entries)
{
    QStringList lines;
    for (const auto& [name, text] : entries)
        lines << QStringLiteral("%1 = %2").arg(name.left(60), text.left(60));
    return QStringLiteral("%1 entries\n  ").arg(entries.size()) +
           lines.mid(0, 20).join(QStringLiteral("\n  "));
}

void Catalogue(const QByteArray& bytes, bool add)
{
    const QString path = Paths::SessionsFolder() + QStringLiteral("/SessionTypes.dat");
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".damaged"));
    FUZZ_CHECK(WriteFile(path, bytes), path);

    Entries expected;
    QString error;
    const bool whole = CSessionTypeCatalog::Deserialize(bytes, expected, &error);
    FUZZ_CHECK(whole == error.isEmpty(), error);
    const QString added = QStringLiteral("fuzz-added-\u00e9");
    const bool canAdd = add && std::none_of(expected.cbegin(), expected.cend(),
                                            [&](const auto& e) { return e.first == added; });
    {
        CSessionTypeCatalog catalog;
        FUZZ_CHECK(catalog.LoadError().isEmpty() == whole, catalog.LoadError());
        FUZZ_CHECK(catalog.GetNameCount() == expected.size(),
                   QStringLiteral("%1 names; ").arg(catalog.GetNameCount()) + Describe(expected));
        for (int i = 0; i < catalog.GetNameCount(); ++i) {
            FUZZ_CHECK(catalog.GetName(i) == expected.at(i).first, Describe(expected));
            FUZZ_CHECK(catalog.Lookup(catalog.GetName(i)) == expected.at(i).second,
                       Describe(expected));
        }
        if (canAdd)
            FUZZ_CHECK(catalog.Add(added, QStringLiteral("<TVLSessionStringFormat/>")), added);
    }

    const QByteArray after = ReadFile(path);
    if (!whole && !canAdd) {
        FUZZ_CHECK(after == bytes, QStringLiteral("a damaged catalogue was rewritten"));
        return;
    }
    if (!whole)
        FUZZ_CHECK(ReadFile(path + QStringLiteral(".damaged")) == bytes,
                   QStringLiteral("the damaged catalogue was not kept"));
    if (canAdd)
        expected.append({added, QStringLiteral("<TVLSessionStringFormat/>")});
    Entries reread;
    FUZZ_CHECK(CSessionTypeCatalog::Deserialize(after, reread, &error), error);
    FUZZ_CHECK(reread == expected, QStringLiteral("written:\n  ") + Describe(reread) +
                                       QStringLiteral("\nheld:\n  ") + Describe(expected));
}

struct Range
{
    long start;
    long stop;
    bool isService;
    bool operator==(const Range&) const = default;
};

// The ranges of a format's document, read back with the serializer.
QList<Range> RangesOf(const CSessionTypeFormat& format)
{
    CXmlSerializer xml;
    const QString text = format.GetText();
    FUZZ_CHECK(xml.LoadXml(text, QStringLiteral("TVLSessionStringFormat")), text);
    QList<Range> ranges;
    const QString item = QStringLiteral("PortRange");
    while (xml.NextChild(item)) {
        Range r{};
        QString service;
        FUZZ_CHECK(xml.GetAttributeLong(QStringLiteral("PortStart"), r.start) &&
                       xml.GetAttributeLong(QStringLiteral("PortStop"), r.stop) &&
                       xml.GetAttribute(QStringLiteral("PortService"), service),
                   text);
        FUZZ_CHECK(r.start >= 0 && r.start <= 65535 && r.stop >= 0 && r.stop <= 65535, text);
        FUZZ_CHECK(service == QStringLiteral("true") || service == QStringLiteral("false"), text);
        r.isService = service == QStringLiteral("true");
        ranges.append(r);
        xml.LeaveChild();
    }
    return ranges;
}

void PortText(const QString& text)
{
    const QString empty = CSessionTypeFormat().GetText();
    CSessionTypeFormat format;
    bool invalid = true;
    const bool found = ParsePortList(text, format, &invalid);
    if (invalid)
        FUZZ_CHECK(!found, text);
    const QList<Range> ranges = RangesOf(format);
    FUZZ_CHECK(found == !ranges.isEmpty(), text);
    if (!found) {
        FUZZ_CHECK(format.GetText() == empty, text);
        return;
    }

    QStringList items;
    for (const Range& r : ranges)
        items << QStringLiteral("%1%2-%3")
                     .arg(r.isService ? QStringLiteral("S") : QString())
                     .arg(r.start)
                     .arg(r.stop);
    const QString canonical = items.join(QLatin1Char(','));
    CSessionTypeFormat again;
    FUZZ_CHECK(ParsePortList(canonical, again, &invalid) && !invalid, canonical);
    FUZZ_CHECK(RangesOf(again) == ranges, text + QStringLiteral(" -> ") + canonical);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_environment = new TestEnvironment;
    if (!g_environment->isValid() || !Paths::MakePath(Paths::SessionsFolder()))
        Fuzz::Fail(__FILE__, __LINE__, "temporary folders", QString());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (control & 1)
        PortText(QString::fromUtf8(payload));
    else
        Catalogue(payload, control & 2);
    return 0;
}

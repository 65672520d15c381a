// Loading and saving a catalogue of 10,000 session types (texts of about 200
// characters), against reading and writing the same bytes with plain file
// calls, measured in the same run. The plain reads go into a fresh buffer
// each time, as the catalogue's own read does. Compare CPU times on a busy
// machine: the wall times there mostly measure the wait for a core.
#include "sessions/SessionTypeCatalog.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kEntries = 10000;

struct Fixture
{
    QTemporaryDir dir;
    QByteArray bytes;
    QString catalogPath;
    QByteArray plainPath;

    Fixture()
    {
        qputenv("TERVALA_COMMON_APPDATA", dir.path().toUtf8());
        QList<QPair<QString, QString>> entries;
        entries.reserve(kEntries);
        for (int i = 0; i < kEntries; ++i) {
            CSessionTypeFormat format;
            ParsePortList(QStringLiteral("S%1,%2-%3").arg(i).arg(i + 1000).arg(i + 1010), format);
            entries.append({QStringLiteral("Session type %1").arg(i, 5, 10, QLatin1Char('0')),
                            format.GetText()});
        }
        bytes = CSessionTypeCatalog::Serialize(entries);
        {
            CSessionTypeCatalog catalog; // makes the folder
            catalogPath = catalog.FilePath();
        }
        QFile file(catalogPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the catalogue");
        plainPath = QFile::encodeName(dir.filePath(QStringLiteral("plain.dat")));
    }

    void report(benchmark::State& state) const
    {
        state.SetBytesProcessed(state.iterations() * bytes.size());
        state.counters["file_bytes"] = double(bytes.size());
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_PlainRead(benchmark::State& state)
{
    Fixture& f = fixture();
    const QByteArray path = QFile::encodeName(f.catalogPath);
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        QByteArray buffer(f.bytes.size(), Qt::Uninitialized);
        qint64 done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + done, std::size_t(buffer.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    f.report(state);
}

// Opening the catalogue as the Add Network wizard does: read and parse into the
// map and the names list. The closing save is not timed here.
void BM_CatalogLoad(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        auto* catalog = new CSessionTypeCatalog;
        if (catalog->GetNameCount() != kEntries)
            state.SkipWithError("catalogue not read whole");
        state.PauseTiming();
        delete catalog;
        state.ResumeTiming();
    }
    f.report(state);
}

void BM_PlainWrite(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        const int fd =
            ::open(f.plainPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, f.bytes.constData(), std::size_t(f.bytes.size())) != f.bytes.size())
            state.SkipWithError("short write");
        ::close(fd);
    }
    f.report(state);
}

// The same with the flush to disk that Save() also makes: what durability
// costs on this file system, apart from the catalogue's own work.
void BM_PlainWriteSynced(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        const int fd =
            ::open(f.plainPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, f.bytes.constData(), std::size_t(f.bytes.size())) != f.bytes.size())
            state.SkipWithError("short write");
        ::fdatasync(fd);
        ::close(fd);
    }
    f.report(state);
}

void BM_CatalogSave(benchmark::State& state)
{
    Fixture& f = fixture();
    CSessionTypeCatalog catalog;
    if (catalog.GetNameCount() != kEntries)
        state.SkipWithError("catalogue not read whole");
    for (auto _ : state) {
        if (!catalog.Save())
            state.SkipWithError("save failed");
    }
    f.report(state);
}

// The whole of what the Add New Session dialog does with the catalogue: open
// (load), close (save), against reading the file and writing it back.
void BM_PlainReadWrite(benchmark::State& state)
{
    Fixture& f = fixture();
    const QByteArray path = QFile::encodeName(f.catalogPath);
    for (auto _ : state) {
        int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        QByteArray buffer(f.bytes.size(), Qt::Uninitialized);
        if (::read(fd, buffer.data(), std::size_t(buffer.size())) != buffer.size())
            state.SkipWithError("short read");
        ::close(fd);
        fd = ::open(f.plainPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (::write(fd, buffer.constData(), std::size_t(buffer.size())) != buffer.size())
            state.SkipWithError("short write");
        ::close(fd);
    }
    f.report(state);
}

void BM_CatalogOpenClose(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        CSessionTypeCatalog catalog;
        if (catalog.GetNameCount() != kEntries)
            state.SkipWithError("catalogue not read whole");
    }
    f.report(state);
}
} // namespace

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWriteSynced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReadWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatalogOpenClose)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

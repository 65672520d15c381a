// Refresh + GetClients over a large session list, against a plain memcpy of
// the same section bytes measured in the same run.
#include "sessions/SessionContainer.h"
#include "tests/sessions/SectionImage.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {
constexpr int kNetworks = 100;
constexpr int kPeersPerNetwork = 100; // 10,000 peers in all

struct Fixture
{
    QTemporaryDir dir;
    QByteArray image;

    Fixture()
    {
        qputenv("TERVALA_RUNTIME_DIR", dir.path().toUtf8());
        TestSection::Image writer;
        for (int n = 0; n < kNetworks; ++n) {
            writer.session(QStringLiteral("network-%1").arg(n, 3, 10, QLatin1Char('0')),
                           QStringLiteral("Network %1").arg(n), kPeersPerNetwork);
            for (int p = 0; p < kPeersPerNetwork; ++p)
                writer.peer(QStringLiteral("peer-%1-%2").arg(n).arg(p));
            writer.tunnels(0, 0);
        }
        image = writer.image();
        TestSection::Publish(dir.path(), image);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_MemcpySection(benchmark::State& state)
{
    const QByteArray& image = fixture().image;
    std::vector<char> destination(std::size_t(image.size()));
    for (auto _ : state) {
        std::memcpy(destination.data(), image.constData(), destination.size());
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * image.size());
    state.counters["section_bytes"] = double(image.size());
}

void BM_RefreshGetClients(benchmark::State& state)
{
    fixture();
    CUITVLSession container;
    qsizetype count = 0;
    for (auto _ : state) {
        container.Refresh();
        const QList<_CLIENT_INFORMATION> clients = container.GetClients();
        count = clients.size();
        benchmark::DoNotOptimize(clients.constData());
    }
    if (count != kNetworks * kPeersPerNetwork)
        state.SkipWithError("wrong number of clients");
    state.SetBytesProcessed(state.iterations() * fixture().image.size());
    state.counters["clients"] = double(count);
}

// The same with a caller that forces its own copy of the client array (what
// a caller without implicit sharing would pay).
void BM_RefreshGetClientsDeepCopy(benchmark::State& state)
{
    fixture();
    CUITVLSession container;
    for (auto _ : state) {
        container.Refresh();
        QList<_CLIENT_INFORMATION> clients = container.GetClients();
        clients.detach();
        benchmark::DoNotOptimize(clients.data());
    }
    state.SetBytesProcessed(state.iterations() * fixture().image.size());
}
} // namespace

BENCHMARK(BM_MemcpySection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshGetClients)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshGetClientsDeepCopy)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

#include "app/OnlineUsersTree.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {
QList<_CLIENT_INFORMATION> makeClients(int networks, int peersPerNetwork)
{
    QList<_CLIENT_INFORMATION> clients;
    clients.reserve(networks * peersPerNetwork);
    for (int n = 0; n < networks; ++n) {
        const QString name = QStringLiteral("net%1").arg(n, 3, 10, QLatin1Char('0'));
        const QString display = QStringLiteral("Network %1").arg(n);
        for (int p = 0; p < peersPerNetwork; ++p) {
            _CLIENT_INFORMATION client;
            std::memset(static_cast<void*>(&client), 0, sizeof client);
            client.peer.SetFlag(1);
            client.peer.SetPeerName(QStringLiteral("peer-%1-%2").arg(n).arg(p));
            EncodeTextField(display, client.networkDisplayText);
            EncodeTextField(name, client.networkName);
            clients.append(client);
        }
    }
    return clients;
}

// The tree's rebuild from a client list already read: 10,000 peers in 100
// networks, into a visible tree (so layout and expansion costs count).
void BM_RebuildTenThousandPeers(benchmark::State& state)
{
    const QList<_CLIENT_INFORMATION> clients = makeClients(100, 100);
    COnlineUsersTree tree;
    tree.resize(272, 274);
    tree.show();
    QApplication::processEvents();
    for (auto _ : state) {
        tree.Rebuild(clients);
        QApplication::processEvents(); // the repaint that follows
    }
    state.counters["items"] = tree.topLevelItemCount();
}
BENCHMARK(BM_RebuildTenThousandPeers)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Service-link costs: a P2P_STATUS_CHANGE from the service to the program's
// dispatcher and a UI_NOTIFY back (through the notifier thread and the
// program's event loop), next to a raw SOCK_SEQPACKET ping-pong of the same
// sizes; and a burst of status messages that must all arrive, in order.
#include "foundation/XmlSerializer.h"
#include "servicelink/IPCCommandHandler.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// The service's encoder writing to one connection.
class ServerSender : public IRPCProxyStub
{
public:
    int fd = -1;
    int SendCommand(const CXmlSerializer& document) override
    {
        lastXml = document.GetXml();
        const QByteArray wire = EncodeMessage(lastXml);
        lastSize = wire.size();
        if (fd >= 0)
            ::send(fd, wire.constData(), static_cast<size_t>(wire.size()), MSG_NOSIGNAL);
        return 0;
    }
    qsizetype lastSize = 0;
    QString lastXml;
};

// The program's dispatcher target.
class Target : public IRPCExecute
{
public:
    CIPCCommandHandler* proxy = nullptr;
    std::atomic<bool> answer{true};
    std::atomic<long> received{0};
    std::atomic<bool> inOrder{true};
    long expected = 0;
    int PostP2PStatusChange(long status) override
    {
        if (answer)
            proxy->PostUINotify();
        if (status != expected)
            inOrder = false;
        expected = status + 1;
        received.fetch_add(1, std::memory_order_release);
        return 0;
    }
};

// The program side on its own thread with its own event loop, as the
// user-interface thread would be.
class Program
{
public:
    Program()
    {
        m_thread.start();
        m_window.moveToThread(&m_thread);
    }
    ~Program()
    {
        QMetaObject::invokeMethod(
            &m_window, [this] { m_proxy.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool start()
    {
        bool ok = false;
        QMetaObject::invokeMethod(
            &m_window,
            [this, &ok] {
                m_proxy = std::make_unique<CIPCCommandHandler>();
                target.proxy = m_proxy.get();
                ok = m_proxy->StartClient(&m_window, &target);
            },
            Qt::BlockingQueuedConnection);
        return ok;
    }
    Target target;

private:
    QThread m_thread;
    QObject m_window;
    std::unique_ptr<CIPCCommandHandler> m_proxy;
};

struct Server
{
    QTemporaryDir dir;
    int listenFd = -1;
    int client = -1;
    Server()
    {
        qputenv("TERVALA_RUNTIME_DIR", dir.path().toUtf8());
        listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(CIPCPipe::SocketPath());
        std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
        ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listenFd, 4);
    }
    ~Server()
    {
        if (client >= 0)
            ::close(client);
        ::close(listenFd);
    }
    bool accept()
    {
        client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        return client >= 0;
    }
};

void report(benchmark::State& state, std::vector<double>& micros)
{
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void BM_StatusRoundTrip(benchmark::State& state)
{
    Server server;
    Program program;
    if (!program.start() || !server.accept()) {
        state.SkipWithError("cannot connect");
        return;
    }
    // The service's message is encoded once: building it is the service's
    // cost, which the raw ping-pong below does not pay either. What is timed
    // is the program's side: collect, decode, dispatch, answer.
    ServerSender sender;
    sender.fd = -1;
    sender.PostP2PStatusChange(1);
    const QByteArray status = EncodeMessage(sender.lastXml);
    char reply[20480];
    std::vector<double> micros;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ::send(server.client, status.constData(), static_cast<size_t>(status.size()), MSG_NOSIGNAL);
        const ssize_t n = ::recv(server.client, reply, sizeof reply, 0);
        const auto t1 = Clock::now();
        if (n <= 0) {
            state.SkipWithError("no UI_NOTIFY");
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        program.target.expected = 1; // every status is 1 here
    }
    state.counters["request_bytes"] = static_cast<double>(status.size());
    report(state, micros);
}

void BM_RawSeqpacketPingPong(benchmark::State& state)
{
    // Same message sizes as the round trip above.
    ServerSender probe;
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds);
    probe.fd = fds[0];
    probe.PostP2PStatusChange(1);
    const QByteArray request(probe.lastSize, 'x');
    char drain[20480];
    ::recv(fds[1], drain, sizeof drain, 0);
    probe.PostUINotify();
    const QByteArray answer(probe.lastSize, 'y');
    ::recv(fds[1], drain, sizeof drain, 0);

    std::thread echo([&] {
        char buffer[20480];
        while (::recv(fds[1], buffer, sizeof buffer, 0) > 0)
            ::send(fds[1], answer.constData(), static_cast<size_t>(answer.size()), MSG_NOSIGNAL);
    });
    char reply[20480];
    std::vector<double> micros;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ::send(fds[0], request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
        ::recv(fds[0], reply, sizeof reply, 0);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::shutdown(fds[0], SHUT_RDWR);
    echo.join();
    ::close(fds[0]);
    ::close(fds[1]);
    state.counters["request_bytes"] = static_cast<double>(request.size());
    report(state, micros);
}

void BM_StatusBurst(benchmark::State& state)
{
    constexpr long kBurst = 10000;
    Server server;
    Program program;
    if (!program.start() || !server.accept()) {
        state.SkipWithError("cannot connect");
        return;
    }
    program.target.answer = false;
    ServerSender sender;
    sender.fd = server.client;
    long lost = 0;
    for (auto _ : state) {
        program.target.received = 0;
        program.target.expected = 0;
        program.target.inOrder = true;
        for (long i = 0; i < kBurst; ++i)
            sender.PostP2PStatusChange(i);
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (program.target.received.load(std::memory_order_acquire) < kBurst &&
               Clock::now() < deadline)
            std::this_thread::yield();
        lost += kBurst - program.target.received.load();
        if (!program.target.inOrder) {
            state.SkipWithError("messages out of order");
            return;
        }
    }
    if (lost != 0)
        state.SkipWithError("messages lost");
    state.counters["messages"] =
        benchmark::Counter(static_cast<double>(kBurst) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["lost"] = static_cast<double>(lost);
}
} // namespace

BENCHMARK(BM_StatusRoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSeqpacketPingPong)->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StatusBurst)->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

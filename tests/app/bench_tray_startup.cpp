// Whole-process figures of the tray program next to a minimal Qt tray program,
// in the same run, under Xvfb with a real tray host and the stand-in service:
// time from launch until the icon is docked, resident memory once started, and
// wake-ups while idle. Needs Xvfb, trayer and xwininfo (tools/setup.sh).
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <memory>

namespace {
struct Desktop
{
    QTemporaryDir dir;
    QProcess xvfb, trayer, standin;
    bool ok = false;
};
Desktop* g_desktop = nullptr;

QString xwininfoTree()
{
    QProcess p;
    p.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    p.waitForFinished(5000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A window of the given class nested inside the tray host's panel.
bool docked(const QString& windowClass)
{
    const QString tree = xwininfoTree();
    const QString needle = QStringLiteral("(\"") + windowClass + QStringLiteral("\"");
    for (const QString& line : tree.split(QLatin1Char('\n'))) {
        if (line.contains(needle) && line.startsWith(QStringLiteral("        ")))
            return true;
    }
    return false;
}

qint64 statusValue(qint64 pid, const char* key)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(static_cast<qsizetype>(qstrlen(key)))
                .trimmed()
                .split(' ')
                .first()
                .toLongLong();
    }
    return -1;
}

qint64 contextSwitches(qint64 pid)
{
    qint64 total = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& tid : tasks) {
        QFile f(QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(tid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.split(':').last().trimmed().toLongLong();
        }
    }
    return total;
}

void launch(benchmark::State& state, const QString& program, const QStringList& args,
            const QString& windowClass, bool measureIdle)
{
    if (!g_desktop || !g_desktop->ok) {
        state.SkipWithError("no Xvfb/trayer/stand-in");
        return;
    }
    double rssKb = 0;
    double idleSwitches = 0;
    for (auto _ : state) {
        QProcess process;
        process.setWorkingDirectory(QStringLiteral(TERVALA_SOURCE_DIR));
        QElapsedTimer timer;
        timer.start();
        process.start(program, args);
        const QDeadlineTimer deadline(15000);
        while (!docked(windowClass) && !deadline.hasExpired())
            QThread::msleep(2);
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        QThread::msleep(500);
        rssKb = static_cast<double>(statusValue(process.processId(), "VmRSS:"));
        if (measureIdle) {
            const qint64 before = contextSwitches(process.processId());
            QThread::msleep(5000);
            idleSwitches = static_cast<double>(contextSwitches(process.processId()) - before);
        }
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(5000);
    }
    state.counters["rss_kB"] = rssKb;
    if (measureIdle)
        state.counters["idle_switches_5s"] = idleSwitches;
}

void BM_MinimalTray(benchmark::State& state)
{
    launch(state, QStringLiteral(MINIMAL_TRAY), {}, QStringLiteral("minimal_tray"), false);
}
// TERVALAPRO_UNDER_TEST names another build of the program (say, the one
// before a change) to measure in the same conditions.
QString tervalapro()
{
    const QString other = qEnvironmentVariable("TERVALAPRO_UNDER_TEST");
    return other.isEmpty() ? QStringLiteral(TERVALAPRO) : other;
}
void BM_Tervalapro(benchmark::State& state)
{
    launch(state, tervalapro(), {QStringLiteral("-startup")}, QStringLiteral("tervalapro"), false);
}
void BM_TervalaproIdle(benchmark::State& state)
{
    launch(state, tervalapro(), {QStringLiteral("-startup")}, QStringLiteral("tervalapro"), true);
}
// One launch per repetition, so the aggregates are medians of single starts
// (a busy 2-core machine gives the odd outlier). Adding
// --benchmark_enable_random_interleaving=true alternates the two programs so
// that a change of load hits both alike.
BENCHMARK(BM_MinimalTray)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Tervalapro)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TervalaproIdle)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

bool startDesktop(Desktop& d)
{
    if (!d.dir.isValid())
        return false;
    const QString root = d.dir.path();
    for (const char* sub : {"run", "appdata", "user", "config", "xdg"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    QFile::setPermissions(root + QStringLiteral("/user"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("TERVALA_RUNTIME_DIR", (root + QStringLiteral("/run")).toUtf8());
    qputenv("TERVALA_COMMON_APPDATA", (root + QStringLiteral("/appdata")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/user")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", (root + QStringLiteral("/xdg")).toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");

    d.xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    // -displayfd 1: Xvfb picks a free display and writes its number.
    d.xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp")});
    if (!d.xvfb.waitForReadyRead(10000))
        return false;
    const QByteArray display = d.xvfb.readAllStandardOutput().trimmed();
    qputenv("DISPLAY", ":" + display);
    d.trayer.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--width"), QStringLiteral("10"),
                    QStringLiteral("--height"), QStringLiteral("32")});
    d.standin.start(QStringLiteral(STANDIN), {});
    if (!d.trayer.waitForStarted() || !d.standin.waitForReadyRead(10000))
        return false;
    QThread::msleep(500);
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto desktop = std::make_unique<Desktop>();
    desktop->ok = startDesktop(*desktop);
    g_desktop = desktop.get();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (QProcess* p : {&desktop->standin, &desktop->trayer, &desktop->xvfb}) {
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(3000);
    }
    return 0;
}

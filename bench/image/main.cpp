// The image pipeline: DownLoadImage of a 4096 x 4096 frame from the
// simulator (no read-out delay) against a plain write of the same 32 MiB to
// the same file system (and the same write flushed with fsync, which the
// durable commit pays on top), with the service's debug output off and then
// on (sent to a file). The simulator's rendering is timed in-process so that
// the service's own share can be told apart from the camera's. Every figure
// is kept as wall-clock and as CPU time: on a shared machine the CPU time of
// the one doing the work is the steadier of the two.
#include "BenchOptions.h"
#include "ImageBench.h"
#include "Latencies.h"
#include "NodeUnderTest.h"
#include "ResultSink.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void configure(NodeProcess& node)
{
    node.setConfigValue(QStringLiteral("SIM_WIDTH"), QString::number(ImageBench::Width));
    node.setConfigValue(QStringLiteral("SIM_HEIGHT"), QString::number(ImageBench::Height));
    node.setConfigValue(QStringLiteral("SIM_ROW_US"), QStringLiteral("0"));
}

ResultRow row(const QString& figure, double service, std::optional<double> baseline, const QString& target = {},
              std::optional<bool> met = {}, const QString& note = {})
{
    ResultRow r;
    r.figure = figure;
    r.unit = QStringLiteral("ms");
    r.service = service;
    r.baseline = baseline;
    if (baseline && *baseline > 0)
        r.ratio = service / *baseline;
    r.target = target;
    r.met = met;
    r.note = note;
    return r;
}

// Medians of the wall-clock and CPU times of a series.
struct Series
{
    std::vector<double> wall, cpu;
    void add(const ImageBench::Timing& t)
    {
        wall.push_back(t.wallMs);
        cpu.push_back(t.cpuMs);
    }
    double wallMs() const { return Latencies::median(wall); }
    double cpuMs() const { return Latencies::median(cpu); }
    // The least disturbed round: on a shared machine the others only add.
    double bestCpuMs() const { return best(cpu); }
    double bestWallMs() const { return best(wall); }
    static double best(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }
};

// What a download is compared with, timed between its rounds.
struct Baselines
{
    Series writes;       // plain write
    Series syncedWrites; // plain write and fsync
    Series renders;      // the simulator's read-out alone
};

// Times downloads on a service started with the given debug output; the
// baselines (when given) are interleaved with them.
bool measure(const BenchOptions& options, NodeProcess::DebugOutput debug, int rounds, ImageBench& bench,
             Series& downloads, Baselines* baselines, qint64* logBytes, QString* why)
{
    NodeUnderTest service(options.serviceProgram, options.workRoot);
    configure(service.process());
    service.process().setDebugOutput(debug);
    if (!service.start(why) || !bench.setUp(service, why))
        return false;
    bench.download(service, why); // warm-up: the first frame maps the program's pages
    bench.plainWrite();
    bench.plainWrite(true);
    for (int i = 0; i < rounds; ++i) {
        const qint64 logBefore = service.process().logSize();
        const ImageBench::Timing d = bench.download(service, why);
        if (!d.ok())
            return false;
        downloads.add(d);
        *logBytes = service.process().logSize() - logBefore;
        if (!baselines)
            continue;
        const ImageBench::Timing w = bench.plainWrite();
        const ImageBench::Timing s = bench.plainWrite(true);
        if (!w.ok() || !s.ok()) {
            *why = QStringLiteral("the plain write failed");
            return false;
        }
        baselines->writes.add(w);
        baselines->syncedWrites.add(s);
        baselines->renders.add(bench.renderReadOut(i + 1));
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const BenchOptions options(argc, argv, STARSCAM_BIN);
    ResultSink sink(options.resultsPath);
    std::printf("image: DownLoadImage of %d x %d against a plain write of %zu bytes\n", ImageBench::Width,
                ImageBench::Height, ImageBench::ImageBytes);

    ImageBench bench(options.workRoot);
    QString why;
    Series downloads, logged;
    Baselines base;
    const Series& writes = base.writes;
    const Series& renders = base.renders;
    qint64 quietLog = 0, logBytes = 0;
    if (!measure(options, NodeProcess::DebugOutput::Off, options.quick ? 2 : 21, bench, downloads, &base, &quietLog,
                 &why)) {
        sink.fail(QStringLiteral("Image download"), why);
        return 1;
    }
    if (quietLog > 0)
        std::printf("warning: the service wrote %lld bytes of debug output\n", quietLog);
    if (!measure(options, NodeProcess::DebugOutput::ToFile, options.quick ? 1 : 5, bench, logged, nullptr, &logBytes,
                 &why)) {
        sink.fail(QStringLiteral("Image download, debug on"), why);
        return 1;
    }

    const QString cpuNote = QStringLiteral("medians; CPU: service %1 ms, write %2 ms")
                                .arg(downloads.cpuMs(), 0, 'f', 1)
                                .arg(writes.cpuMs(), 0, 'f', 1);
    sink.add(row(QStringLiteral("Image download, debug off"), downloads.wallMs(), writes.wallMs(), {}, {},
                 QStringLiteral("baseline: plain write; ") + cpuNote));
    sink.add(row(
        QStringLiteral("Simulator read-out alone (render)"), renders.wallMs(), std::nullopt, {}, {},
        QStringLiteral("4096 rows into a kept buffer, in-process; median, CPU %1 ms").arg(renders.cpuMs(), 0, 'f', 1)));
    // The service's own share: its CPU time for the download less the
    // simulator's rendering, against the plain write's CPU time, each the
    // best of its rounds.
    const double ownCpu = downloads.bestCpuMs() - renders.bestCpuMs();
    sink.add(row(QStringLiteral("Download minus read-out (CPU)"), ownCpu, writes.bestCpuMs(),
                 QStringLiteral("ratio <= 1.25"), ownCpu <= 1.25 * writes.bestCpuMs(),
                 QStringLiteral("best of %1: download %2 - render %3 ms")
                     .arg(downloads.cpu.size())
                     .arg(downloads.bestCpuMs(), 0, 'f', 1)
                     .arg(renders.bestCpuMs(), 0, 'f', 1)));
    sink.add(row(QStringLiteral("Download minus read-out (wall)"), downloads.wallMs() - renders.wallMs(),
                 writes.wallMs(), {}, {}, QStringLiteral("medians; noisy on a busy machine")));
    // The durable commit waits for the disk, which the CPU time does not see:
    // its wall-clock time against writing and flushing the same bytes, each
    // the best of its rounds (a neighbour's I/O only adds to a round).
    const Series& synced = base.syncedWrites;
    const double ownWall = downloads.bestWallMs() - renders.bestWallMs();
    sink.add(row(QStringLiteral("Download minus read-out vs write+fsync (wall)"), ownWall, synced.bestWallMs(),
                 QStringLiteral("ratio <= 1.25"), ownWall <= 1.25 * synced.bestWallMs(),
                 QStringLiteral("best of %1: download %2 - render %3 ms; medians: %4 - %5 against %6 ms")
                     .arg(downloads.wall.size())
                     .arg(downloads.bestWallMs(), 0, 'f', 1)
                     .arg(renders.bestWallMs(), 0, 'f', 1)
                     .arg(downloads.wallMs(), 0, 'f', 1)
                     .arg(renders.wallMs(), 0, 'f', 1)
                     .arg(synced.wallMs(), 0, 'f', 1)));
    // The flush also costs CPU in the caller (ext4 allocates the blocks and
    // queues the writes in fsync), which the plain write above never pays.
    sink.add(row(QStringLiteral("Download minus read-out vs write+fsync (CPU)"), ownCpu, synced.bestCpuMs(), {}, {},
                 QStringLiteral("best of %1; plain write and fsync, CPU median %2 ms")
                     .arg(synced.cpu.size())
                     .arg(synced.cpuMs(), 0, 'f', 1)));
    sink.add(row(QStringLiteral("Image download, debug to file"), logged.wallMs(), downloads.wallMs(), {}, {},
                 QStringLiteral("baseline: debug off; median, CPU %1 ms; %2 KiB of log per download")
                     .arg(logged.cpuMs(), 0, 'f', 1)
                     .arg(logBytes / 1024)));
    const double loggedOwn = logged.bestCpuMs() - renders.bestCpuMs();
    sink.add(row(QStringLiteral("Download minus read-out, debug to file (CPU)"), loggedOwn, writes.bestCpuMs(), {}, {},
                 QStringLiteral("best of %1; the log lines add %2 ms")
                     .arg(logged.cpu.size())
                     .arg(logged.bestCpuMs() - downloads.bestCpuMs(), 0, 'f', 1)));
    return 0;
}

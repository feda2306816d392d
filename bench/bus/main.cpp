// The bus figures: throughput and latency of information requests, the
// service against the echo node, both logged in to the same kind of fake
// server in the same run. The service runs with its debug output off.
#include "BenchOptions.h"
#include "BusBench.h"
#include "Clock.h"
#include "NodeUnderTest.h"
#include "ResultSink.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double us(std::int64_t ns)
{
    return nsToUs(ns);
}

ResultRow row(const QString& figure, const QString& unit, double service, double baseline, const QString& target = {},
              std::optional<bool> met = {}, const QString& note = {})
{
    ResultRow r;
    r.figure = figure;
    r.unit = unit;
    r.service = service;
    r.baseline = baseline;
    r.ratio = baseline > 0 ? std::optional<double>(service / baseline) : std::nullopt;
    r.target = target;
    r.met = met;
    r.note = note;
    return r;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const BenchOptions options(argc, argv, STARSCAM_BIN);
    ResultSink sink(options.resultsPath);
    std::printf("bus: service (debug output off) against the echo node\n");

    NodeUnderTest service(options.serviceProgram, options.workRoot);
    NodeUnderTest echo(QStringLiteral(ECHONODE_BIN), options.workRoot);
    QString why;
    if (!service.start(&why) || !echo.start(&why)) {
        sink.fail(QStringLiteral("Bus"), why);
        return 1;
    }
    BusBench serviceBench(service);
    BusBench echoBench(echo);

    // Warm both up (page faults, first allocations) before anything counts.
    serviceBench.serial(2000);
    echoBench.serial(2000);

    // Alternating rounds, so that both see the same machine. The best round
    // of each counts: someone else's work on the cores only ever slows a
    // round down (the medians go into the note). CPU time per request is the steadier figure on a busy
    // machine: it does not depend on who else had the cores.
    const int count = options.rounds(200000, 5000);
    const int window = 64;
    const int throughputRounds = options.quick ? 1 : 7;
    std::vector<double> serviceRates, echoRates;
    Latencies serviceLatency, echoLatency;
    NodeProcess::CpuTime serviceCpu{0, 0}, echoCpu{0, 0};
    for (int round = 0; round < throughputRounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            NodeUnderTest& node = which == 0 ? service : echo;
            BusBench& bench = which == 0 ? serviceBench : echoBench;
            const NodeProcess::CpuTime cpu0 = node.process().cpuTime();
            BusBench::Throughput t = bench.pipelined(count, window);
            const NodeProcess::CpuTime cpu1 = node.process().cpuTime();
            if (!t.complete || t.badReplies) {
                sink.fail(QStringLiteral("Bus throughput"), QStringLiteral("replies missing or wrong"));
                return 1;
            }
            (which == 0 ? serviceRates : echoRates).push_back(t.perSecond);
            NodeProcess::CpuTime& cpu = which == 0 ? serviceCpu : echoCpu;
            cpu.user += cpu1.user - cpu0.user;
            cpu.system += cpu1.system - cpu0.system;
            (which == 0 ? serviceLatency : echoLatency).merge(t.latency);
        }
    }
    const double sRate = *std::max_element(serviceRates.begin(), serviceRates.end());
    const double eRate = *std::max_element(echoRates.begin(), echoRates.end());
    const double sMedian = Latencies::median(serviceRates);
    const double eMedian = Latencies::median(echoRates);
    const QString load = QStringLiteral("best of %1 x %2 requests, window %3; medians %4 / %5 = %6")
                             .arg(throughputRounds)
                             .arg(count)
                             .arg(window)
                             .arg(sMedian, 0, 'g', 3)
                             .arg(eMedian, 0, 'g', 3)
                             .arg(sMedian / eMedian, 0, 'f', 2);
    sink.add(row(QStringLiteral("Bus throughput"), QStringLiteral("replies/s"), sRate, eRate,
                 QStringLiteral("ratio >= 0.5"), sRate >= 0.5 * eRate, load));
    const double requests = double(count) * throughputRounds;
    auto perRequest = [requests](std::int64_t ns) { return double(ns) / requests / 1e3; };
    sink.add(row(QStringLiteral("Bus CPU time per request"), QStringLiteral("us"), perRequest(serviceCpu.total()),
                 perRequest(echoCpu.total()), {}, {},
                 QStringLiteral("user + system; service %1 + %2, echo %3 + %4")
                     .arg(perRequest(serviceCpu.user), 0, 'f', 2)
                     .arg(perRequest(serviceCpu.system), 0, 'f', 2)
                     .arg(perRequest(echoCpu.user), 0, 'f', 2)
                     .arg(perRequest(echoCpu.system), 0, 'f', 2)));
    sink.add(row(QStringLiteral("Bus latency at full load, p50"), QStringLiteral("us"), us(serviceLatency.median()),
                 us(echoLatency.median())));
    sink.add(row(QStringLiteral("Bus latency at full load, p99"), QStringLiteral("us"),
                 us(serviceLatency.percentile(99)), us(echoLatency.percentile(99))));

    // In alternating blocks as well, so that a burst of someone else's work
    // falls on both.
    const int blocks = options.quick ? 1 : 10;
    const int serialCount = options.rounds(20000, 2000);
    Latencies ss, es;
    for (int block = 0; block < blocks; ++block) {
        ss.merge(serviceBench.serial(serialCount / blocks));
        es.merge(echoBench.serial(serialCount / blocks));
    }
    if (ss.count() != std::size_t(serialCount / blocks * blocks) || es.count() != ss.count()) {
        sink.fail(QStringLiteral("Serial round trip"), QStringLiteral("a reply did not come"));
        return 1;
    }
    sink.add(row(QStringLiteral("Serial round trip, p50"), QStringLiteral("us"), us(ss.median()), us(es.median()),
                 QStringLiteral("ratio <= 2"), ss.median() <= 2 * es.median(),
                 QStringLiteral("%1 requests").arg(serialCount)));
    sink.add(row(QStringLiteral("Serial round trip, p99"), QStringLiteral("us"), us(ss.percentile(99)),
                 us(es.percentile(99))));

    const int rate = 1000;
    const int durationMs = options.quick ? 1000 : 4000;
    const int rateBlocks = options.quick ? 1 : 4;
    Latencies sr, er;
    bool rateComplete = true;
    for (int block = 0; block < rateBlocks; ++block) {
        const Latencies s = serviceBench.fixedRate(rate, durationMs / rateBlocks, 100);
        const Latencies e = echoBench.fixedRate(rate, durationMs / rateBlocks, 100);
        rateComplete = rateComplete && s.count() > 0 && e.count() > 0;
        sr.merge(s);
        er.merge(e);
    }
    if (!rateComplete) {
        sink.fail(QStringLiteral("Latency at 1000 requests/s"), QStringLiteral("replies missing"));
        return 1;
    }
    const QString rateNote = QStringLiteral("%1 requests over %2 s").arg(sr.count()).arg(durationMs / 1000.0);
    sink.add(row(QStringLiteral("Latency at 1000 requests/s, p50"), QStringLiteral("us"), us(sr.median()),
                 us(er.median()), {}, {}, rateNote));
    sink.add(row(QStringLiteral("Latency at 1000 requests/s, p99"), QStringLiteral("us"), us(sr.percentile(99)),
                 us(er.percentile(99)), QStringLiteral("service < 1000 us"), sr.percentile(99) < 1000000,
                 QStringLiteral("max %1 us").arg(us(sr.max()), 0, 'f', 0)));

    // Two lines back to back: the busy event, then the reply. Between rounds
    // the node idles for the 20 ms the sequence takes to end, so the plain
    // round trip it is held against is taken in the same rhythm.
    int misordered = 0;
    const int rounds = options.rounds(200, 20);
    Latencies gap;
    const Latencies x = serviceBench.exposureExchange(rounds, &misordered, &gap);
    if (x.count() == 0 || gap.count() == 0) {
        sink.fail(QStringLiteral("Exposure exchange"), QStringLiteral("no reply or no busy event"));
        return 1;
    }
    const QString order = misordered ? QStringLiteral("%1 replies before their event").arg(misordered)
                                     : QStringLiteral("event first in all %1 rounds").arg(rounds);
    sink.add(row(QStringLiteral("Exposure: event + reply, p50"), QStringLiteral("us"), us(x.median()), us(gap.median()),
                 QStringLiteral("ratio <= 2"), x.median() <= 2 * gap.median(),
                 QStringLiteral("baseline: service's plain round trip right after each round; ") + order));
    sink.add(row(QStringLiteral("Exposure: event + reply, p99"), QStringLiteral("us"), us(x.percentile(99)),
                 us(gap.percentile(99)), QStringLiteral("service < 1000 us"), x.percentile(99) < 1000000,
                 QStringLiteral("max %1 us; a delayed-ACK wait would be >= 40000 us").arg(us(x.max()), 0, 'f', 0)));

    if (service.process().logSize() > 0)
        std::printf("warning: the service wrote %lld bytes of debug output\n", service.process().logSize());
    return 0;
}

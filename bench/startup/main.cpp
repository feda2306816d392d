// Start-up: from the creation of the process to the arrival of its log-in
// answer ("cam1 <key>") at the server, for the service on the simulator and
// for the echo node, started the same way in turns.
#include "BenchOptions.h"
#include "Clock.h"
#include "Latencies.h"
#include "NodeUnderTest.h"
#include "ResultSink.h"

#include <QCoreApplication>

#include <cstdio>
#include <vector>

namespace {

// Milliseconds from process start to the key line; negative on failure.
double startOnce(const QString& program, const QString& workRoot, QString* why)
{
    NodeUnderTest node(program, workRoot);
    if (!node.start(why))
        return -1.0;
    return nsToMs(node.keyLineAtNs() - node.process().startedAtNs());
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const BenchOptions options(argc, argv, STARSCAM_BIN);
    ResultSink sink(options.resultsPath);
    std::printf("start-up: process start to log-in answer\n");

    const int rounds = options.quick ? 3 : 15;
    std::vector<double> service, echo;
    QString why;
    for (int i = 0; i < rounds; ++i) {
        const double s = startOnce(options.serviceProgram, options.workRoot, &why);
        const double e = startOnce(QStringLiteral(ECHONODE_BIN), options.workRoot, &why);
        if (s < 0 || e < 0) {
            sink.fail(QStringLiteral("Start-up"), why);
            return 1;
        }
        service.push_back(s);
        echo.push_back(e);
    }
    ResultRow row;
    row.figure = QStringLiteral("Start-up to log-in answer");
    row.unit = QStringLiteral("ms");
    row.service = Latencies::median(service);
    row.baseline = Latencies::median(echo);
    row.ratio = row.service / *row.baseline;
    row.note = QStringLiteral("median of %1, alternating; baseline: the echo node").arg(rounds);
    sink.add(row);
    return 0;
}

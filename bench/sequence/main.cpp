// Sequence overhead: Exposure of 20 images with exposure time 0 on the
// simulator (bin 8, a small frame), timed from the "@Exposure Ok:" reply to
// "_ChangedIsBusy 0", against the floor the step design sets. The sequence
// advances one step per 10 ms timer tick; a picture without RBI frames takes
// five (NextPic, StartExp, Exposing, DownLoad, Done) and the end one more
// (NextPic finding no picture left, then End and None in the same tick):
// (5 * images + 1) * 10 ms in all.
#include "BenchOptions.h"
#include "Clock.h"
#include "Latencies.h"
#include "NodeUnderTest.h"
#include "ResultSink.h"

#include <QCoreApplication>

#include <cstdio>
#include <vector>

namespace {

constexpr int Images = 20;
constexpr int StepsPerPicture = 5;
constexpr int StepMs = 10;
constexpr int TimeoutMs = 30000;

// Milliseconds per picture over one sequence; negative on failure.
double runSequence(NodeUnderTest& service, QString* why)
{
    service.clearEvents();
    const QByteArray reply = service.request("Exposure", TimeoutMs);
    const std::int64_t t0 = nowNs();
    if (!reply.endsWith("@Exposure Ok:")) {
        *why = QStringLiteral("Exposure answered \"%1\"").arg(QString::fromLatin1(reply));
        return -1.0;
    }
    if (!service.waitEvent("_ChangedIsBusy 0", TimeoutMs)) {
        *why = QStringLiteral("the sequence did not end");
        return -1.0;
    }
    return nsToMs(nowNs() - t0) / Images;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const BenchOptions options(argc, argv, STARSCAM_BIN);
    ResultSink sink(options.resultsPath);
    std::printf("sequence: Exposure of %d images, exposure time 0, bin 8\n", Images);

    const double floorMs = double((StepsPerPicture * Images + 1) * StepMs) / Images;
    const int rounds = options.quick ? 1 : 3;
    for (const NodeProcess::DebugOutput debug : {NodeProcess::DebugOutput::Off, NodeProcess::DebugOutput::ToFile}) {
        const bool quiet = debug == NodeProcess::DebugOutput::Off;
        NodeUnderTest service(options.serviceProgram, options.workRoot);
        service.process().setDebugOutput(debug);
        QString why;
        if (!service.start(&why)) {
            sink.fail(QStringLiteral("Sequence"), why);
            return 1;
        }
        for (const char* setting : {"SetBin 8 8 1", "SetExpTime 0", "SetImages 20"}) {
            if (!service.request(setting).endsWith("Ok:")) {
                sink.fail(QStringLiteral("Sequence"), QStringLiteral("%1 was refused").arg(setting));
                return 1;
            }
        }
        std::vector<double> perPicture;
        for (int i = 0; i < rounds; ++i) {
            const double ms = runSequence(service, &why);
            if (ms < 0) {
                sink.fail(QStringLiteral("Sequence"), why);
                return 1;
            }
            perPicture.push_back(ms);
        }
        ResultRow row;
        row.figure = quiet ? QStringLiteral("Sequence time per picture, debug off")
                           : QStringLiteral("Sequence time per picture, debug to file");
        row.unit = QStringLiteral("ms");
        row.service = Latencies::median(perPicture);
        row.baseline = floorMs;
        row.ratio = row.service / floorMs;
        if (quiet) {
            row.target = QStringLiteral("ratio <= 1.10");
            row.met = *row.ratio <= 1.10;
        }
        row.note = QStringLiteral("median of %1 sequences; floor (5 x %2 + 1) x 10 ms / %2").arg(rounds).arg(Images);
        sink.add(row);
    }
    return 0;
}

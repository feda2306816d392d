// Memory: the peak resident size (VmHWM) of the service idle and after a
// sequence of 4096 x 4096 images, against the image buffer it must hold.
// The target reads "the image buffer plus at most 20 MiB": the growth of the
// peak over the idle peak may be the 32 MiB buffer and 20 MiB more.
#include "BenchOptions.h"
#include "NodeUnderTest.h"
#include "ResultSink.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int Side = 4096;
constexpr double ImageMiB = double(Side) * Side * 2 / (1024.0 * 1024.0);
constexpr double AllowanceMiB = 20.0;
constexpr int TimeoutMs = 120000;

double mib(qint64 kib)
{
    return double(kib) / 1024.0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const BenchOptions options(argc, argv, STARSCAM_BIN);
    ResultSink sink(options.resultsPath);
    std::printf("memory: peak resident size idle and over a sequence of 3 images of %d x %d\n", Side, Side);

    NodeUnderTest service(options.serviceProgram, options.workRoot);
    NodeUnderTest echo(QStringLiteral(ECHONODE_BIN), options.workRoot);
    service.process().setConfigValue(QStringLiteral("SIM_WIDTH"), QString::number(Side));
    service.process().setConfigValue(QStringLiteral("SIM_HEIGHT"), QString::number(Side));
    QString why;
    if (!service.start(&why) || !echo.start(&why)) {
        sink.fail(QStringLiteral("Memory"), why);
        return 1;
    }
    // Idle, but having served the information requests once.
    for (const char* query : {"GetModel", "GetTemp", "GetVisArea", "GetBin", "GetFileName"}) {
        service.request(query);
        echo.request(query);
    }
    const qint64 idle = service.process().statusKiB("VmHWM");
    const qint64 echoIdle = echo.process().statusKiB("VmHWM");

    for (const char* setting : {"SetBin 1 1 1", "SetExpTime 0", "SetImages 3", "Exposure"}) {
        if (!service.request(setting, TimeoutMs).endsWith("Ok:")) {
            sink.fail(QStringLiteral("Memory"), QStringLiteral("%1 was refused").arg(setting));
            return 1;
        }
    }
    if (!service.waitEvent("_ChangedIsBusy 0", TimeoutMs)) {
        sink.fail(QStringLiteral("Memory"), QStringLiteral("the sequence did not end"));
        return 1;
    }
    const qint64 peak = service.process().statusKiB("VmHWM");
    if (idle <= 0 || peak <= 0 || echoIdle <= 0) {
        sink.fail(QStringLiteral("Memory"), QStringLiteral("no VmHWM in /proc"));
        return 1;
    }

    ResultRow idleRow;
    idleRow.figure = QStringLiteral("Idle peak resident size");
    idleRow.unit = QStringLiteral("MiB");
    idleRow.service = mib(idle);
    idleRow.baseline = mib(echoIdle);
    idleRow.ratio = double(idle) / double(echoIdle);
    idleRow.note = QStringLiteral("baseline: the echo node; VmHWM");
    sink.add(idleRow);

    ResultRow growth;
    growth.figure = QStringLiteral("Peak growth over idle, 3 x 4096^2 sequence");
    growth.unit = QStringLiteral("MiB");
    growth.service = mib(peak - idle);
    growth.baseline = ImageMiB;
    growth.ratio = growth.service / ImageMiB;
    growth.target = QStringLiteral("<= image buffer + 20 MiB");
    growth.met = growth.service <= ImageMiB + AllowanceMiB;
    growth.note = QStringLiteral("baseline: the 32 MiB image buffer; peak %1 MiB").arg(mib(peak), 0, 'f', 1);
    sink.add(growth);
    return 0;
}

// bench_report LINES JSON: prints the results table of a benchmark run and
// writes it as one JSON document. Exit status 0 whether or not targets were
// met: benchmarks inform, they do not gate.
#include "BenchReport.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s RESULT-LINES OUTPUT.json\n", argv[0]);
        return 2;
    }
    BenchReport report;
    QString why;
    if (!report.load(QString::fromLocal8Bit(argv[1]), &why)
        || !report.writeJson(QString::fromLocal8Bit(argv[2]), &why)) {
        std::fprintf(stderr, "bench_report: %s\n", qPrintable(why));
        return 1;
    }
    std::fputs(qPrintable(report.table()), stdout);
    std::printf("\n%d figure(s) with a target missed. Results: %s\n", report.missed(), argv[2]);
    return 0;
}

#include "BenchOptions.h"

#include "NodeProcess.h"

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>

namespace {

// This process on the first CPU it may use, the nodes on the second; false
// (nothing changed) with fewer than two.
bool pinToTwoCpus()
{
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return false;
    int cpus[2];
    int found = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
        if (CPU_ISSET(cpu, &allowed))
            cpus[found++] = cpu;
    }
    if (found < 2)
        return false;
    cpu_set_t mine;
    CPU_ZERO(&mine);
    CPU_SET(cpus[0], &mine);
    if (::sched_setaffinity(0, sizeof mine, &mine) != 0)
        return false;
    NodeProcess::setNodeCpu(cpus[1]);
    return true;
}

} // namespace

BenchOptions::BenchOptions(int argc, char** argv, const char* defaultService)
    : workRoot(QDir::current().filePath(QStringLiteral("bench-run"))),
      serviceProgram(QString::fromLocal8Bit(defaultService))
{
    bool pin = true;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--results") == 0 && hasValue) {
            resultsPath = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--work") == 0 && hasValue) {
            workRoot = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--service") == 0 && hasValue) {
            serviceProgram = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-pin") == 0) {
            pin = false;
        } else if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else {
            std::fprintf(stderr, "usage: %s [--results FILE] [--work DIR] [--quick] [--service PATH] [--no-pin]\n",
                         argv[0]);
            std::exit(2);
        }
    }
    if (pin)
        pinned = pinToTwoCpus();
    workRoot = QDir(workRoot).absolutePath();
    QDir().mkpath(workRoot);
}

int BenchOptions::rounds(int n, int minimum) const
{
    return quick ? std::max(minimum, n / 10) : n;
}

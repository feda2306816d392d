#pragma once

#include <QString>

// Command line shared by the benchmark programs:
//   --results FILE   append each result as one JSON object per line
//   --work DIR       where the nodes' working directories and files go
//                    (default ./bench-run); the image figures write there
//   --quick          fewer rounds, for trying the programs out
//   --service PATH   the service program to run (default: the one built
//                    with the benchmarks), e.g. a wrapper that profiles it
//   --no-pin         leave the processes where the scheduler puts them
//
// By default the benchmark runs on one CPU and binds the nodes it starts to
// another: whether a node wakes on the client's CPU or on an idle one
// changes a round trip by tens of microseconds, and the service and its
// baseline must both get the same.
class BenchOptions
{
public:
    BenchOptions(int argc, char** argv, const char* defaultService);

    QString resultsPath;
    QString workRoot;
    bool quick = false;
    QString serviceProgram;
    bool pinned = false;

    // n normally, a tenth of it (at least minimum) with --quick.
    int rounds(int n, int minimum = 1) const;
};

#pragma once

#include <QString>

// The exposure settings the bus sets, held once. A start operation copies the
// frame settings into the records of the frames it starts, so a change while
// a sequence runs takes effect at the next start; the file numbering is the
// exception and is read when each file is named.
struct ExposureSettings
{
    int hbin = 1;
    int vbin = 1;
    int rbin = 1;
    int rbiFlushes = 0;
    int rbiExpTime = 500; // ms
    int images = 1;
    int expTime = 500; // ms
    double interval = 0.0;
    QString fileName = QStringLiteral("DefaultFileName.dat");
    int tdiRate = 0;
    // Whether the next sequence number goes into file names, and that number.
    bool useSeqFileNo = true;
    int seqFileNo = 0;
};

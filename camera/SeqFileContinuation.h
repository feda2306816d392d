#pragma once

#include <QSet>
#include <QString>

// Continues the sequence numbers of image names across restarts: the first
// time a file name is used in a run, the number to take is raised past the
// highest one its images already carry in the image directory, so a restart
// neither collides with nor resets the series. A number set from the bus
// (SetSeqFileNo) is taken as given for the rest of the run. Off by default.
class SeqFileContinuation
{
public:
    explicit SeqFileContinuation(bool on = false) : enabled(on) {}

    // Before seqFileNo is taken for fileName, with images in dir (empty: the
    // working directory).
    void beforeTake(const QString& dir, const QString& fileName, int& seqFileNo);
    // The bus set the number: no more lookups in this run.
    void numberSet() { numberGiven = true; }

private:
    bool enabled;
    bool numberGiven = false;
    QSet<QString> looked; // file names already looked up in this run
};

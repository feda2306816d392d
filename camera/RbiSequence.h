#pragma once

#include "PictureReport.h"
#include "Sequence.h"

#include <QString>

// The RBI flush alone: a flood frame, then flush frames, each read out and
// dropped; rbiFlushes frames in all.
class RbiSequence : public Sequence
{
public:
    enum State {
        Start = 0,       // just started
        RBIFlood = 2,    // start the flood frame
        RBIFlushing = 3, // start a flush frame
        Exposing = 4,    // poll the frame until it is finished, failed or overdue
        DownLoad = 5,    // read the frame out (a failed read still counts it)
        Done = 7,        // no frame left; ends
        None = 10,       // at rest, timer stopped
    };
    using Sequence::Sequence;

    void begin();
    void step() override;
    bool running() const override { return st != None; }
    State state() const { return st; }
    PictureProgress progress() const;
    QString abandon(bool& cancelFailed);
    int finish();

private:
    int flushes() const;
    // Frames are numbered from 0 in the order they are taken.
    int nextFrame() const { return st == Start ? 0 : flushes() - rbiCount; }

    State st = None;
    int rbiCount = 0;
    bool finishRequested = false;
};

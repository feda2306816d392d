#pragma once

#include "PictureReport.h"
#include "Sequence.h"

#include <QString>

// The multi-image sequence: for each picture the RBI frames (a flood frame,
// then flush frames) when the settings ask for them, then the main frame,
// read out and stored.
class ExpSequence : public Sequence
{
public:
    // A state names the step the next tick runs.
    enum State {
        Start = 0,       // just started
        NextPic = 1,     // begin the next picture, or End when all are taken
        RBIFlood = 2,    // start the RBI flood frame
        RBIFlushing = 3, // start an RBI flush frame
        Exposing = 4,    // poll the frame until it is finished, failed or overdue
        DownLoad = 5,    // read the finished frame out; a main frame is also stored
        StartExp = 6,    // start the picture's main frame
        Done = 7,        // the picture is over; on to NextPic
        End = 8,         // no picture left; ends
        None = 10,       // at rest, timer stopped
    };
    using Sequence::Sequence;

    void begin();
    void step() override;
    bool running() const override { return st != None; }
    State state() const { return st; }
    // The current picture; after a whole sequence of N pictures, N.
    int imageIndex() const { return index; }
    PictureProgress progress() const;
    // Ends at once: the line for the log; cancelFailed when the camera
    // refused to cancel the frame.
    QString abandon(bool& cancelFailed);
    // Ends after the picture in progress; the pictures that will not be taken.
    int finish();

private:
    State st = None;
    int index = 0;
    int rbiCount = 0;
    bool finishRequested = false;
};

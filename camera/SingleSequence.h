#pragma once

#include "PictureReport.h"
#include "Sequence.h"

#include <QString>

// The single exposure: one frame exposed and left in the camera for a later
// download.
class SingleSequence : public Sequence
{
public:
    enum State {
        Start = 0,    // just started: start the frame
        Exposing = 4, // poll the frame until it is finished, failed or overdue
        Done = 7,     // the exposure is over; ends
        None = 10,    // at rest, timer stopped
    };
    using Sequence::Sequence;

    // picture: the number its file will carry.
    void begin(int picture);
    void step() override;
    bool running() const override { return st != None; }
    State state() const { return st; }
    PictureProgress progress() const;
    // Ends at once; the line for the log, and whether the camera refused to
    // cancel the frame.
    QString abandon(bool& cancelFailed);

private:
    State st = None;
    int picture = 0;
};

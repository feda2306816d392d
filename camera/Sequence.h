#pragma once

#include "StepTimer.h"

#include <functional>
#include <memory>

class FrameControl;

// What the three sequence machines share: the frames they run, the timer
// that steps them and what to do when they end (the busy flag clears).
class Sequence
{
public:
    Sequence(FrameControl& frameControl, std::unique_ptr<StepTimer> stepTimer, std::function<void()> onEnd)
        : frames(frameControl), timer(std::move(stepTimer)), ended(std::move(onEnd))
    {
        timer->onTick = [this] { step(); };
    }
    virtual ~Sequence() = default;
    // One step; the timer calls it.
    virtual void step() = 0;
    virtual bool running() const = 0;

protected:
    // Stops the timer and tells the owner the sequence is over.
    void stop()
    {
        timer->stop();
        if (ended)
            ended();
    }

    FrameControl& frames;
    std::unique_ptr<StepTimer> timer;
    std::function<void()> ended;
};

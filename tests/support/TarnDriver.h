#pragma once

#include "ExpSequence.h"
#include "RbiSequence.h"
#include "SingleSequence.h"
#include "StepTimer.h"
#include "tarn.h"

#include <QString>

#include <memory>
#include <vector>

// Starts a camera object's sequences with the settings given here, as the
// bus would set them first.
inline bool startExp(Tarn& tarn, int hbin, int vbin, int rbin, int flushes, int rbiExpTime, int images, int expTime,
                     double interval, const QString& fileName, int tdiRate)
{
    ExposureSettings& s = tarn.settings();
    s.hbin = hbin, s.vbin = vbin, s.rbin = rbin, s.rbiFlushes = flushes, s.rbiExpTime = rbiExpTime;
    s.images = images, s.expTime = expTime, s.interval = interval, s.fileName = fileName, s.tdiRate = tdiRate;
    return tarn.startExpSequence();
}

inline bool startSingle(Tarn& tarn, int hbin, int vbin, int expTime, const QString& fileName, int tdiRate)
{
    ExposureSettings& s = tarn.settings();
    s.hbin = hbin, s.vbin = vbin, s.expTime = expTime, s.fileName = fileName, s.tdiRate = tdiRate;
    return tarn.startExp2Sequence();
}

inline bool startRbi(Tarn& tarn, int rbin, int flushes, int rbiExpTime)
{
    ExposureSettings& s = tarn.settings();
    s.rbin = rbin, s.rbiFlushes = flushes, s.rbiExpTime = rbiExpTime;
    return tarn.startRbiSequence();
}

// The step timers a camera object makes, kept so a test can tick one by
// hand; without the event loop nothing else ticks them.
struct TimerLog
{
    std::vector<StepTimer*> made; // exp, rbi, single, in the order made

    StepTimerFactory factory()
    {
        return [this] {
            auto timer = std::make_unique<QtStepTimer>(Tarn::StepIntervalMs);
            made.push_back(timer.get());
            return std::unique_ptr<StepTimer>(std::move(timer));
        };
    }
    // One step of sequence which (0 exp, 1 rbi, 2 single).
    void tick(int which) { made.at(std::size_t(which))->onTick(); }
};

// The state of sequence which (0 exp, 1 rbi, 2 single); the three machines
// number the states they share alike.
inline int stateOf(const Tarn& tarn, int which)
{
    return which == 0   ? int(tarn.expSeq().state())
           : which == 1 ? int(tarn.rbiSeq().state())
                        : int(tarn.exp2Seq().state());
}

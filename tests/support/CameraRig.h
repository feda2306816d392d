#pragma once

#include "FaultInjectingLibrary.h"
#include "RecordingLibrary.h"
#include "SimCamera.h"
#include "TarnDriver.h"
#include "tarn.h"

#include <utility>

// The camera tests' rig: a simulated camera, the fault and recording layers
// over it, and a camera object on top, built in that order. What the camera
// object's start-up called stays recorded; its step timers are kept in
// timers, so a test can also tick a sequence by hand.
struct CameraRig
{
    explicit CameraRig(int cameraNo = 0, const camlib::SimSettings& settings = camlib::SimSettings(),
                       const TarnOptions& options = {}, const camlib::FaultSettings& faultSettings = {},
                       camlib::SimCamera::Clock clock = camlib::SimCamera::Clock())
        : sim(settings, std::move(clock)), faults(sim, faultSettings), rec(faults),
          tarn(cameraNo, rec, withTimers(options))
    {}

    TarnOptions withTimers(TarnOptions options)
    {
        if (!options.timers)
            options.timers = timers.factory();
        return options;
    }

    TimerLog timers;
    camlib::SimCamera sim;
    camlib::FaultInjectingLibrary faults;
    camlib::RecordingLibrary rec;
    Tarn tarn;
};

#pragma once

#include "CameraLibrary.h"

#include <QMap>
#include <QString>
#include <memory>

namespace camlib {

// Chooses and builds the backend named by the CAMERA_LIBRARY configuration
// value: "sim" (see createSimulator) or "fli", defaultCameraLibrary() when the
// value is empty or absent.
// Unknown names fall back to no camera at all (an empty device list) with a
// log line, never to the simulator, so a typo on a camera host cannot pass
// for a working camera.
std::unique_ptr<CameraLibrary> createCameraLibrary(const QMap<QString, QString>& config);

// The backend name an empty or absent CAMERA_LIBRARY stands for.
QString defaultCameraLibrary();

// The camera simulator as the SIM_* keys describe it, behind a
// FaultInjectingLibrary when SIM_FAIL or SIM_FORCE_STATUS is set. Logs the
// simulated geometry. Never null.
std::unique_ptr<CameraLibrary> createSimulator(const QMap<QString, QString>& config);

} // namespace camlib

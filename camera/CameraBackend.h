#pragma once

#include "CameraLibrary.h"

#include <QMap>
#include <QString>
#include <memory>

namespace camlib {

// Chooses and builds the backend named by the CAMERA_LIBRARY configuration
// value: "sim" (see createSimulator in SimCamera.h) or "fli", defaultCameraLibrary() when the
// value is empty or absent.
// Unknown names fall back to no camera at all (an empty device list) with a
// log line, never to the simulator, so a typo on a camera host cannot pass
// for a working camera.
std::unique_ptr<CameraLibrary> createCameraLibrary(const QMap<QString, QString>& config);

// The backend name an empty or absent CAMERA_LIBRARY stands for.
QString defaultCameraLibrary();

} // namespace camlib

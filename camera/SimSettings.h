#pragma once

#include "SimFault.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace camlib {

// Everything the camera simulator can be told, with the defaults a new user
// gets. config.cfg keys (one word per value):
//   SIM_CAMERAS        number of cameras in the device list (default 1)
//   SIM_WIDTH          visible width in pixels (default 1536)
//   SIM_HEIGHT         visible height in pixels (default 1024)
//   SIM_STATUS_UNKNOWN 1: the device status is always 0xFFFFFFFF and only
//                      the time left tells when the image is ready (default 0)
//   SIM_FORCE_STATUS   a device status word reported whatever the camera
//                      does, decimal or 0x-hex (default: none)
//   SIM_ROW_US         read-out time per row in microseconds (default 0)
//   SIM_SEED           read-noise seed (default 1)
//   SIM_AMBIENT        ambient temperature in C (default 22)
//   SIM_COOLER_TAU_MS  cooler time constant in ms (default 4000)
//   SIM_FAIL           comma-separated failures, see SimFault::parse,
//                      e.g. "open" or "grabRow@5,exposeFrame@2once"
struct SimSettings
{
    int cameras = 1;
    int width = 1536;
    int height = 1024;
    bool statusUnknown = false;
    std::optional<quint32> forcedStatus;
    int rowMicroseconds = 0;
    quint64 seed = 1;
    double ambient = 22.0;
    int coolerTauMs = 4000;
    QList<SimFault> faults;

    // Limits that keep a mistyped value from making an absurd camera.
    static constexpr int MaxCameras = 256;
    static constexpr int MinSize = 16;
    static constexpr int MaxSize = 16384;
    static constexpr int MaxRowMicroseconds = 1000000;
    static constexpr double MinAmbient = -60.0;
    static constexpr double MaxAmbient = 60.0;
    static constexpr int MaxCoolerTauMs = 3600000;

    // Reads the SIM_* keys (upper case). A value it does not understand is
    // logged and the default kept; a bad SIM_FAIL item is logged and skipped.
    static SimSettings fromConfig(const QMap<QString, QString>& config);
};

} // namespace camlib

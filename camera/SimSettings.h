#pragma once

#include <QMap>
#include <QString>
#include <QtGlobal>

namespace camlib {

// Everything the camera simulator can be told, with the defaults a new user
// gets. config.cfg keys (one word per value):
//   SIM_CAMERAS        number of cameras in the device list (default 1)
//   SIM_WIDTH          visible width in pixels (default 1536)
//   SIM_HEIGHT         visible height in pixels (default 1024)
//   SIM_STATUS_UNKNOWN 1: the device status is always 0xFFFFFFFF and only
//                      the time left tells when the image is ready (default 0)
//   SIM_ROW_US         read-out time per row in microseconds (default 0)
//   SIM_SEED           read-noise seed (default 1)
//   SIM_AMBIENT        ambient temperature in C (default 22)
//   SIM_COOLER_TAU_MS  cooler time constant in ms (default 4000)
// The fault keys SIM_FAIL and SIM_FORCE_STATUS belong to FaultSettings.
struct SimSettings
{
    int cameras = 1;
    int width = 1536;
    int height = 1024;
    bool statusUnknown = false;
    int rowMicroseconds = 0;
    quint64 seed = 1;
    double ambient = 22.0;
    int coolerTauMs = 4000;

    // Limits that keep a mistyped value from making an absurd camera.
    static constexpr int MaxCameras = 256;
    static constexpr int MinSize = 16;
    static constexpr int MaxSize = 16384;
    static constexpr int MaxRowMicroseconds = 1000000;
    static constexpr double MinAmbient = -60.0;
    static constexpr double MaxAmbient = 60.0;
    static constexpr int MaxCoolerTauMs = 3600000;

    // Reads the SIM_* keys (upper case). A value it does not understand is
    // logged and the default kept.
    static SimSettings fromConfig(const QMap<QString, QString>& config);
    // The log line for a value of a SIM_* key that is not understood.
    static void notUnderstood(const QString& key, const QString& value, const QString& kept);
};

} // namespace camlib

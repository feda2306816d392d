#pragma once

#include "CameraLibrary.h"
#include "SimImage.h"
#include "SimSettings.h"

#include <QMap>
#include <QString>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace camlib {

// The camera simulator: a cooled CCD that behaves like the real one through
// the camera library interface, and the default backend, so the service and
// every test run without hardware.
//
// Devices: SimSettings::cameras entries named "sim0", "sim1", ... in domain
// DeviceClassCamera; listed with EnumerateBySerial in the mask, the
// description is the serial number ("SIM00001" for sim0) instead of the model.
// Only one device is open at a time; each successful open
// hands out a new handle (1, 2, ...) and ends the previous one. A failed open
// writes -1 to the handle, as the hardware library may leave junk there.
//
// Geometry: the visible area (SimSettings::width x height) starts at
// (14, 4) inside a larger array area with the same margins on the other sides,
// like a KAF-1603. The image area's upper-left corner is in unbinned sensor
// coordinates and its size (lower-right minus upper-left) in binned pixels;
// exposeFrame fails when the binned frame would run off the array.
//
// Cooler: the CCD temperature approaches the set point exponentially, but
// never gets more than MaxCooling below ambient nor above it (there is no
// heater). Power follows the temperature difference; the base warms slightly
// with it.
//
// Exposure: timed on the injectable clock. The status word is ExposingStatus
// while exposing, StatusDataReady once the image can be read, IdleStatus
// otherwise; in the status-unknown mode always StatusUnknown. grabRow then
// delivers the rows in order; after the last one the camera is idle again.
//
// Modes beyond the settings: the status-unknown mode and the read-out time
// per row. Injected failures and call counts are FaultInjectingLibrary's.
class SimCamera : public CameraLibrary
{
public:
    // Milliseconds on a monotonic clock; tests pass one they can move.
    using Clock = std::function<qint64()>;

    static constexpr long VisibleUlX = 14;
    static constexpr long VisibleUlY = 4;
    static constexpr long ArrayMarginX = 14;   // on the right of the visible area
    static constexpr long ArrayMarginY = 4;    // below the visible area
    static constexpr double PixelSize = 9e-06; // metres
    static constexpr long HardwareRevision = 0x0100;
    static constexpr double MaxCooling = 45.0; // degrees below ambient
    static constexpr double BaseWarming = 3.0; // degrees above ambient at full power
    static constexpr double MinSetPoint = -55.0;
    static constexpr double MaxSetPoint = 45.0;
    static constexpr long MaxBin = 16;

    static constexpr std::uint32_t IdleStatus = 0x00;
    static constexpr std::uint32_t ExposingStatus = 0x02;

    explicit SimCamera(const SimSettings& settings = SimSettings(), Clock clock = Clock());

    long listCreate(long deviceClassMask) override;
    long listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                   std::size_t descriptionSize) override;
    long listNext(long& domain, char* name, std::size_t nameSize, char* description,
                  std::size_t descriptionSize) override;
    long listDelete() override;
    long open(long& handle, const char* name, long domain) override;
    long getLibVersion(char* buffer, std::size_t size) override;
    long getModel(long handle, char* buffer, std::size_t size) override;
    long getSerialString(long handle, char* buffer, std::size_t size) override;
    long getHWRevision(long handle, long& revision) override;
    long getPixelSize(long handle, double& width, double& height) override;
    long getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) override;
    long getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) override;
    long setTemperature(long handle, double celsius) override;
    long readTemperature(long handle, long channel, double& celsius) override;
    long getCoolerPower(long handle, double& power) override;
    long setExposureTime(long handle, long milliseconds) override;
    long setFrameType(long handle, long frameType) override;
    long setHBin(long handle, long factor) override;
    long setVBin(long handle, long factor) override;
    long setImageArea(long handle, long ulX, long ulY, long lrX, long lrY) override;
    long setTDI(long handle, long rate, long flags) override;
    long exposeFrame(long handle) override;
    long getDeviceStatus(long handle, unsigned long& status) override;
    long getExposureStatus(long handle, long& timeLeftMs) override;
    long grabRow(long handle, std::uint16_t* buffer, std::size_t width) override;
    long cancelExposure(long handle) override;
    long close(long handle) override;

    SimSettings settings() const;
    // The exposures started since the last open.
    quint64 frameNumber() const;
    // The parameters of the last exposure started.
    SimImage::FrameParams lastFrame() const;
    const SimImage& image() const { return sensorImage; }

private:
    // Failure statuses in the hardware library's manner (negative errno values).
    static constexpr long BadHandle = -EBADF;
    static constexpr long BadArgument = -EINVAL;
    static constexpr long NoDevice = -ENODEV;
    static constexpr long NoImage = -ENODATA;
    // Wider rows than this are a caller's mistake, not a camera.
    static constexpr std::size_t MaxRowWidth = 1u << 20;

    enum class Phase { Idle, Exposing, Reading };

    // 0 for the open device's handle, BadHandle otherwise.
    long checkHandle(long handle) const;
    long listEntry(std::size_t index, long& domain, char* name, std::size_t nameSize, char* description,
                   std::size_t descriptionSize);
    void updateCooler();
    double coolerPower() const;
    bool imageReady() const;
    QString modelText() const;
    // "SIM00001" for device 0, and so on.
    static QByteArray serialText(int device);

    SimSettings simSettings;
    Clock clockMs;
    SimImage sensorImage;

    // Device list.
    bool listCreated = false;
    bool listBySerial = false;
    int listSize = 0;
    std::size_t listCursor = 0;

    // The open device.
    long openHandle = 0; // 0: nothing open
    long lastHandle = 0;
    int openDevice = -1;

    // Cooler.
    double ccdTemp = 0.0;
    double setPoint = 0.0;
    qint64 coolerUpdatedMs = 0;

    // Frame set-up, copied into latched by exposeFrame.
    long areaUlX = 0, areaUlY = 0, areaLrX = 0, areaLrY = 0;
    long hbin = 1, vbin = 1;
    long frameTypeSet = FrameNormal;
    long exposureMs = 0;
    long tdiRate = 0;

    Phase phase = Phase::Idle;
    SimImage::FrameParams latched;
    qint64 exposureStartMs = 0;
    int rowsRead = 0;
    quint64 framesStarted = 0;
    std::chrono::steady_clock::time_point nextRowDue;
};

// The camera simulator as the SIM_* keys describe it, behind a
// FaultInjectingLibrary when SIM_FAIL or SIM_FORCE_STATUS is set. Logs the
// simulated geometry. Never null.
std::unique_ptr<CameraLibrary> createSimulator(const QMap<QString, QString>& config);

} // namespace camlib

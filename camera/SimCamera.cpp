#include "SimCamera.h"

#include "FaultInjectingLibrary.h"

#include <QDebug>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

namespace camlib {

namespace {

const char* const LibVersion = "starscam camera simulator 1.0";
const char* const DefaultModel = "Simulated KAF-1603 CCD";
constexpr int DefaultWidth = 1536;
constexpr int DefaultHeight = 1024;

// Copies as much of `text` as fits and always terminates.
long copyText(const QByteArray& text, char* buffer, std::size_t size)
{
    if (!buffer || size == 0)
        return -EINVAL; // as BadArgument
    const std::size_t n = std::min(std::size_t(text.size()), size - 1);
    std::memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
    return 0;
}

// Settings made in code bypass fromConfig: keep them within what a camera can be.
SimSettings sanitized(SimSettings s)
{
    s.cameras = std::clamp(s.cameras, 0, SimSettings::MaxCameras);
    s.width = std::clamp(s.width, SimSettings::MinSize, SimSettings::MaxSize);
    s.height = std::clamp(s.height, SimSettings::MinSize, SimSettings::MaxSize);
    s.rowMicroseconds = std::clamp(s.rowMicroseconds, 0, SimSettings::MaxRowMicroseconds);
    s.coolerTauMs = std::clamp(s.coolerTauMs, 1, SimSettings::MaxCoolerTauMs);
    if (!(s.ambient >= SimSettings::MinAmbient && s.ambient <= SimSettings::MaxAmbient))
        s.ambient = SimSettings().ambient;
    return s;
}

SimCamera::Clock steadyClock()
{
    const auto start = std::chrono::steady_clock::now();
    return [start] {
        return qint64(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    };
}

} // namespace

SimCamera::SimCamera(const SimSettings& settings, Clock clock)
    : simSettings(sanitized(settings)), clockMs(clock ? std::move(clock) : steadyClock()),
      sensorImage(VisibleUlX, VisibleUlY, simSettings.width, simSettings.height)
{}

long SimCamera::checkHandle(long handle) const
{
    return (openHandle != 0 && handle == openHandle) ? 0 : BadHandle;
}

long SimCamera::listCreate(long deviceClassMask)
{
    // Only a mask asking for cameras on USB finds any: the interface and the
    // device type are numbers in their fields, not bits.
    const bool cameras = (deviceClassMask & ~DomainOptionsMask) == DeviceClassCamera;
    listCreated = true;
    listBySerial = (deviceClassMask & EnumerateBySerial) != 0;
    listSize = cameras ? simSettings.cameras : 0;
    listCursor = 0;
    return 0;
}

long SimCamera::listEntry(std::size_t index, long& domain, char* name, std::size_t nameSize, char* description,
                          std::size_t descriptionSize)
{
    if (!listCreated)
        return BadArgument;
    if (index >= std::size_t(listSize))
        return NoDevice;
    if (const long status = copyText(QByteArray("sim") + QByteArray::number(qulonglong(index)), name, nameSize))
        return status;
    if (description)
        copyText(listBySerial ? serialText(int(index)) : modelText().toLatin1(), description, descriptionSize);
    domain = DeviceClassCamera;
    listCursor = index;
    return 0;
}

long SimCamera::listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                          std::size_t descriptionSize)
{
    return listEntry(0, domain, name, nameSize, description, descriptionSize);
}

long SimCamera::listNext(long& domain, char* name, std::size_t nameSize, char* description, std::size_t descriptionSize)
{
    const long status = listEntry(listCursor + 1, domain, name, nameSize, description, descriptionSize);
    if (status == NoDevice)
        listCursor = std::size_t(listSize); // stays at the end
    return status;
}

long SimCamera::listDelete()
{
    listCreated = false;
    listSize = 0;
    listCursor = 0;
    return 0;
}

long SimCamera::open(long& handle, const char* name, long domain)
{
    int device = -1;
    const QByteArray wanted(name ? name : "");
    for (int i = 0; i < simSettings.cameras; ++i) {
        if (wanted == QByteArray("sim") + QByteArray::number(i))
            device = i;
    }
    if (device < 0 || domain != DeviceClassCamera) {
        handle = -1;
        return NoDevice;
    }

    openHandle = ++lastHandle;
    openDevice = device;
    handle = openHandle;

    const qint64 now = clockMs();
    ccdTemp = simSettings.ambient;
    setPoint = simSettings.ambient;
    coolerUpdatedMs = now;
    areaUlX = VisibleUlX;
    areaUlY = VisibleUlY;
    areaLrX = VisibleUlX + simSettings.width;
    areaLrY = VisibleUlY + simSettings.height;
    hbin = vbin = 1;
    frameTypeSet = FrameNormal;
    exposureMs = 0;
    tdiRate = 0;
    phase = Phase::Idle;
    latched = SimImage::FrameParams();
    rowsRead = 0;
    framesStarted = 0;
    qDebug().noquote() << QStringLiteral("camera simulator: opened sim%1 (%2 x %3 visible), handle %4")
                              .arg(device)
                              .arg(simSettings.width)
                              .arg(simSettings.height)
                              .arg(openHandle);
    return 0;
}

long SimCamera::getLibVersion(char* buffer, std::size_t size)
{
    return copyText(LibVersion, buffer, size);
}

QByteArray SimCamera::serialText(int device)
{
    return QStringLiteral("SIM%1").arg(device + 1, 5, 10, QLatin1Char('0')).toLatin1();
}

QString SimCamera::modelText() const
{
    if (simSettings.width == DefaultWidth && simSettings.height == DefaultHeight)
        return QString::fromLatin1(DefaultModel);
    return QStringLiteral("Simulated %1 x %2 CCD").arg(simSettings.width).arg(simSettings.height);
}

long SimCamera::getModel(long handle, char* buffer, std::size_t size)
{
    if (const long status = checkHandle(handle))
        return status;
    return copyText(modelText().toLatin1(), buffer, size);
}

long SimCamera::getSerialString(long handle, char* buffer, std::size_t size)
{
    if (const long status = checkHandle(handle))
        return status;
    return copyText(serialText(openDevice), buffer, size);
}

long SimCamera::getHWRevision(long handle, long& revision)
{
    if (const long status = checkHandle(handle))
        return status;
    revision = HardwareRevision;
    return 0;
}

long SimCamera::getPixelSize(long handle, double& width, double& height)
{
    if (const long status = checkHandle(handle))
        return status;
    width = PixelSize;
    height = PixelSize;
    return 0;
}

long SimCamera::getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    if (const long status = checkHandle(handle))
        return status;
    ulX = 0;
    ulY = 0;
    lrX = VisibleUlX + simSettings.width + ArrayMarginX;
    lrY = VisibleUlY + simSettings.height + ArrayMarginY;
    return 0;
}

long SimCamera::getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    if (const long status = checkHandle(handle))
        return status;
    ulX = VisibleUlX;
    ulY = VisibleUlY;
    lrX = VisibleUlX + simSettings.width;
    lrY = VisibleUlY + simSettings.height;
    return 0;
}

void SimCamera::updateCooler()
{
    const qint64 now = clockMs();
    const qint64 elapsed = now - coolerUpdatedMs;
    if (elapsed <= 0)
        return; // a test clock may stand still or be set back
    const double target = std::clamp(setPoint, simSettings.ambient - MaxCooling, simSettings.ambient);
    ccdTemp = target + (ccdTemp - target) * std::exp(-double(elapsed) / std::max(1, simSettings.coolerTauMs));
    coolerUpdatedMs = now;
}

double SimCamera::coolerPower() const
{
    return std::clamp(100.0 * (simSettings.ambient - ccdTemp) / MaxCooling, 0.0, 100.0);
}

long SimCamera::setTemperature(long handle, double celsius)
{
    if (const long status = checkHandle(handle))
        return status;
    if (!(celsius >= MinSetPoint && celsius <= MaxSetPoint))
        return BadArgument;
    updateCooler();
    setPoint = celsius;
    return 0;
}

long SimCamera::readTemperature(long handle, long channel, double& celsius)
{
    if (const long status = checkHandle(handle))
        return status;
    updateCooler();
    if (channel == ChannelCcd)
        celsius = ccdTemp;
    else if (channel == ChannelBase)
        celsius = simSettings.ambient + BaseWarming * coolerPower() / 100.0;
    else
        return BadArgument;
    return 0;
}

long SimCamera::getCoolerPower(long handle, double& power)
{
    if (const long status = checkHandle(handle))
        return status;
    updateCooler();
    power = coolerPower();
    return 0;
}

std::unique_ptr<CameraLibrary> createSimulator(const QMap<QString, QString>& config)
{
    const SimSettings settings = SimSettings::fromConfig(config);
    qDebug().noquote() << QStringLiteral("camera library: simulator, %1 camera(s) of %2 x %3 pixels")
                              .arg(settings.cameras)
                              .arg(settings.width)
                              .arg(settings.height);
    auto simulator = std::make_unique<SimCamera>(settings);
    if (const std::optional<FaultSettings> faults = FaultSettings::fromConfig(config))
        return std::make_unique<FaultInjectingLibrary>(std::move(simulator), *faults);
    return simulator;
}

} // namespace camlib

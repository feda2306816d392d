// The simulator's frames: set-up, exposure, status and read-out.
#include "SimCamera.h"

#include <QDebug>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace camlib {

long SimCamera::setExposureTime(long handle, long milliseconds)
{
    if (const long status = checkHandle(handle))
        return status;
    if (milliseconds < 0)
        return BadArgument;
    exposureMs = milliseconds;
    return 0;
}

long SimCamera::setFrameType(long handle, long frameType)
{
    if (const long status = checkHandle(handle))
        return status;
    // Normal, dark, flood and flood-then-flush, as the hardware library knows them.
    if (frameType < 0 || frameType > 3)
        return BadArgument;
    frameTypeSet = frameType;
    return 0;
}

long SimCamera::setHBin(long handle, long factor)
{
    if (const long status = checkHandle(handle))
        return status;
    if (factor < 1 || factor > MaxBin)
        return BadArgument;
    hbin = factor;
    return 0;
}

long SimCamera::setVBin(long handle, long factor)
{
    if (const long status = checkHandle(handle))
        return status;
    if (factor < 1 || factor > MaxBin)
        return BadArgument;
    vbin = factor;
    return 0;
}

long SimCamera::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    if (const long status = checkHandle(handle))
        return status;
    const long arrayLrX = VisibleUlX + simSettings.width + ArrayMarginX;
    const long arrayLrY = VisibleUlY + simSettings.height + ArrayMarginY;
    if (ulX < 0 || ulY < 0 || lrX <= ulX || lrY <= ulY || lrX > arrayLrX || lrY > arrayLrY)
        return BadArgument;
    areaUlX = ulX;
    areaUlY = ulY;
    areaLrX = lrX;
    areaLrY = lrY;
    return 0;
}

long SimCamera::setTDI(long handle, long rate, long flags)
{
    if (const long status = checkHandle(handle))
        return status;
    // Drift scanning is accepted but not simulated: the image is not smeared.
    Q_UNUSED(flags)
    if (rate < 0)
        return BadArgument;
    tdiRate = rate;
    return 0;
}

long SimCamera::exposeFrame(long handle)
{
    if (const long status = checkHandle(handle))
        return status;
    const long width = areaLrX - areaUlX;
    const long height = areaLrY - areaUlY;
    // A frame set up in unbinned pixels with binning on would read past the
    // array: the camera refuses it rather than deliver something else.
    const long arrayLrX = VisibleUlX + simSettings.width + ArrayMarginX;
    const long arrayLrY = VisibleUlY + simSettings.height + ArrayMarginY;
    if (areaUlX + width * hbin > arrayLrX || areaUlY + height * vbin > arrayLrY)
        return BadArgument;

    latched.ulX = areaUlX;
    latched.ulY = areaUlY;
    latched.width = int(width);
    latched.height = int(height);
    latched.hbin = int(hbin);
    latched.vbin = int(vbin);
    latched.frameType = frameTypeSet;
    latched.exposureMs = exposureMs;
    latched.seed = simSettings.seed;
    latched.frameNumber = ++framesStarted;
    phase = Phase::Exposing;
    exposureStartMs = clockMs();
    rowsRead = 0;
    return 0;
}

bool SimCamera::imageReady() const
{
    if (phase == Phase::Reading)
        return true;
    return phase == Phase::Exposing && clockMs() - exposureStartMs >= latched.exposureMs;
}

long SimCamera::getDeviceStatus(long handle, unsigned long& status)
{
    if (const long failure = checkHandle(handle))
        return failure;
    if (simSettings.statusUnknown)
        status = StatusUnknown;
    else if (imageReady())
        status = StatusDataReady;
    else if (phase == Phase::Exposing)
        status = ExposingStatus;
    else
        status = IdleStatus;
    return 0;
}

long SimCamera::getExposureStatus(long handle, long& timeLeftMs)
{
    if (const long status = checkHandle(handle))
        return status;
    timeLeftMs = 0;
    if (phase == Phase::Exposing)
        timeLeftMs = long(std::max<qint64>(0, exposureStartMs + latched.exposureMs - clockMs()));
    return 0;
}

long SimCamera::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    if (const long status = checkHandle(handle))
        return status;
    if (!buffer || width == 0 || width > MaxRowWidth)
        return BadArgument;
    if (!imageReady() || rowsRead >= latched.height)
        return NoImage;

    if (phase != Phase::Reading) {
        phase = Phase::Reading;
        nextRowDue = std::chrono::steady_clock::now();
    }
    sensorImage.renderRow(latched, rowsRead, buffer, int(width));
    if (++rowsRead >= latched.height)
        phase = Phase::Idle;

    // Paced against the start of the read-out, so the caller's own time per
    // row does not add up on top of the camera's.
    if (simSettings.rowMicroseconds > 0) {
        nextRowDue += std::chrono::microseconds(simSettings.rowMicroseconds);
        std::this_thread::sleep_until(nextRowDue);
    }
    return 0;
}

long SimCamera::cancelExposure(long handle)
{
    if (const long status = checkHandle(handle))
        return status;
    // The frame is gone: nothing is ready to read any more.
    phase = Phase::Idle;
    rowsRead = 0;
    return 0;
}

long SimCamera::close(long handle)
{
    if (const long status = checkHandle(handle))
        return status;
    openHandle = 0;
    openDevice = -1;
    phase = Phase::Idle;
    qDebug().noquote() << QStringLiteral("camera simulator: closed handle %1").arg(handle);
    return 0;
}

SimSettings SimCamera::settings() const
{
    return simSettings;
}

quint64 SimCamera::frameNumber() const
{
    return framesStarted;
}

SimImage::FrameParams SimCamera::lastFrame() const
{
    return latched;
}

} // namespace camlib

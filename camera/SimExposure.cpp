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
    m_exposureMs = milliseconds;
    return 0;
}

long SimCamera::setFrameType(long handle, long frameType)
{
    if (const long status = checkHandle(handle))
        return status;
    // Normal, dark, flood and flood-then-flush, as the hardware library knows them.
    if (frameType < 0 || frameType > 3)
        return BadArgument;
    m_frameType = frameType;
    return 0;
}

long SimCamera::setHBin(long handle, long factor)
{
    if (const long status = checkHandle(handle))
        return status;
    if (factor < 1 || factor > MaxBin)
        return BadArgument;
    m_hbin = factor;
    return 0;
}

long SimCamera::setVBin(long handle, long factor)
{
    if (const long status = checkHandle(handle))
        return status;
    if (factor < 1 || factor > MaxBin)
        return BadArgument;
    m_vbin = factor;
    return 0;
}

long SimCamera::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    if (const long status = checkHandle(handle))
        return status;
    const long arrayLrX = VisibleUlX + m_settings.width + ArrayMarginX;
    const long arrayLrY = VisibleUlY + m_settings.height + ArrayMarginY;
    if (ulX < 0 || ulY < 0 || lrX <= ulX || lrY <= ulY || lrX > arrayLrX || lrY > arrayLrY)
        return BadArgument;
    m_ulX = ulX;
    m_ulY = ulY;
    m_lrX = lrX;
    m_lrY = lrY;
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
    m_tdiRate = rate;
    return 0;
}

long SimCamera::exposeFrame(long handle)
{
    if (const long status = checkHandle(handle))
        return status;
    const long width = m_lrX - m_ulX;
    const long height = m_lrY - m_ulY;
    // A frame set up in unbinned pixels with binning on would read past the
    // array: the camera refuses it rather than deliver something else.
    const long arrayLrX = VisibleUlX + m_settings.width + ArrayMarginX;
    const long arrayLrY = VisibleUlY + m_settings.height + ArrayMarginY;
    if (m_ulX + width * m_hbin > arrayLrX || m_ulY + height * m_vbin > arrayLrY)
        return BadArgument;

    m_frame.ulX = m_ulX;
    m_frame.ulY = m_ulY;
    m_frame.width = int(width);
    m_frame.height = int(height);
    m_frame.hbin = int(m_hbin);
    m_frame.vbin = int(m_vbin);
    m_frame.frameType = m_frameType;
    m_frame.exposureMs = m_exposureMs;
    m_frame.seed = m_settings.seed;
    m_frame.frameNumber = ++m_frameNumber;
    m_phase = Phase::Exposing;
    m_exposureStartMs = m_clock();
    m_rowsRead = 0;
    return 0;
}

bool SimCamera::imageReady() const
{
    if (m_phase == Phase::Reading)
        return true;
    return m_phase == Phase::Exposing && m_clock() - m_exposureStartMs >= m_frame.exposureMs;
}

long SimCamera::getDeviceStatus(long handle, unsigned long& status)
{
    if (const long failure = checkHandle(handle))
        return failure;
    if (m_settings.statusUnknown)
        status = StatusUnknown;
    else if (imageReady())
        status = StatusDataReady;
    else if (m_phase == Phase::Exposing)
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
    if (m_phase == Phase::Exposing)
        timeLeftMs = long(std::max<qint64>(0, m_exposureStartMs + m_frame.exposureMs - m_clock()));
    return 0;
}

long SimCamera::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    if (const long status = checkHandle(handle))
        return status;
    if (!buffer || width == 0 || width > MaxRowWidth)
        return BadArgument;
    if (!imageReady() || m_rowsRead >= m_frame.height)
        return NoImage;

    if (m_phase != Phase::Reading) {
        m_phase = Phase::Reading;
        m_nextRowDue = std::chrono::steady_clock::now();
    }
    m_image.renderRow(m_frame, m_rowsRead, buffer, int(width));
    if (++m_rowsRead >= m_frame.height)
        m_phase = Phase::Idle;

    // Paced against the start of the read-out, so the caller's own time per
    // row does not add up on top of the camera's.
    if (m_settings.rowMicroseconds > 0) {
        m_nextRowDue += std::chrono::microseconds(m_settings.rowMicroseconds);
        std::this_thread::sleep_until(m_nextRowDue);
    }
    return 0;
}

long SimCamera::cancelExposure(long handle)
{
    if (const long status = checkHandle(handle))
        return status;
    // The frame is gone: nothing is ready to read any more.
    m_phase = Phase::Idle;
    m_rowsRead = 0;
    return 0;
}

long SimCamera::close(long handle)
{
    if (const long status = checkHandle(handle))
        return status;
    m_handle = 0;
    m_device = -1;
    m_phase = Phase::Idle;
    qDebug().noquote() << QStringLiteral("camera simulator: closed handle %1").arg(handle);
    return 0;
}

SimSettings SimCamera::settings() const
{
    return m_settings;
}

quint64 SimCamera::frameNumber() const
{
    return m_frameNumber;
}

SimImage::FrameParams SimCamera::lastFrame() const
{
    return m_frame;
}

} // namespace camlib

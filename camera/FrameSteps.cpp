#include "FrameSteps.h"

#include "CameraDevice.h"
#include "CameraLibrary.h"
#include "ImageBuffer.h"

#include <QDebug>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(steps, "starscam.steps")

StepResult FrameSteps::call(const char* op, long status)
{
    if (status == 0)
        return std::nullopt;
    return StepFailure{QLatin1String(op), QStringLiteral("%1 failed (%2)").arg(QLatin1String(op)).arg(status)};
}

StepResult FrameSteps::start(FrameRecord& r, bool readings)
{
    camlib::CameraLibrary& lib = device.library();
    const long h = device.handle();
    const int ulX = r.areaUlX, ulY = r.areaUlY;
    StepResult failed;
    if (r.isRbi()) {
        const long type = r.kind == FrameRecord::Kind::RbiFlood ? camlib::FrameRbiFlood : camlib::FrameRbiFlush;
        lib.setTDI(h, 0, 0); // TDI off; a camera without TDI may refuse
        if ((failed = call("setExposureTime", lib.setExposureTime(h, r.expTimeMs)))
            || (failed = call("setFrameType", lib.setFrameType(h, type)))
            || (failed = call("setHBin", lib.setHBin(h, r.hbin))) || (failed = call("setVBin", lib.setVBin(h, r.vbin)))
            || (failed = call("setImageArea", lib.setImageArea(h, ulX, ulY, ulX + r.width, ulY + r.height))))
            return failed;
    } else {
        if ((failed = call("setImageArea", lib.setImageArea(h, ulX, ulY, ulX + r.width, ulY + r.height)))
            || (failed = call("setExposureTime", lib.setExposureTime(h, r.expTimeMs))))
            return failed;
        qCDebug(steps) << "Setting ExpTime to " << r.expTimeMs;
        if ((failed = call("setFrameType", lib.setFrameType(h, camlib::FrameNormal)))
            || (failed = call("setHBin", lib.setHBin(h, r.hbin))) || (failed = call("setVBin", lib.setVBin(h, r.vbin))))
            return failed;
        if (r.tdiRate > 0) {
            if ((failed = call("setTDI", lib.setTDI(h, r.tdiRate, 0))))
                return failed;
        } else {
            lib.setTDI(h, 0, 0); // TDI off; a camera without TDI may refuse
        }
    }
    if ((failed = call("exposeFrame", lib.exposeFrame(h))))
        return failed;
    r.clock.start();
    // A TDI frame's length follows from its rate and rows in the camera's own
    // units: no bound could be sure never to cut a good frame short.
    r.expectedMs = r.tdiRate > 0 && !r.isRbi() ? -1 : std::max(r.expTimeMs, 0);
    r.state = FrameRecord::State::Exposing;
    if (readings) {
        r.startUtc = QDateTime::currentDateTimeUtc();
        r.atStart = device.readings();
        r.setPoint = device.setPoint();
    }
    return std::nullopt;
}

FrameSteps::Poll FrameSteps::poll(FrameRecord& r, StepFailure& failure, bool readings)
{
    camlib::CameraLibrary& lib = device.library();
    unsigned long word = 0;
    StepResult failed = call("getDeviceStatus", lib.getDeviceStatus(device.handle(), word));
    if (!failed) {
        // The library's word may be wider than the 32 bits it carries.
        deviceStatus = std::uint32_t(word & 0xFFFFFFFFul);
        long remaining = 0;
        failed = call("getExposureStatus", lib.getExposureStatus(device.handle(), remaining));
        if (!failed)
            left = remaining;
    }
    if (failed) {
        failure = *failed;
        return Poll::Failed;
    }
    qCDebug(steps) << "Exposing status" << deviceStatus << left;
    const bool ready =
        deviceStatus == camlib::StatusUnknown ? left == 0 : (deviceStatus & camlib::StatusDataReady) != 0;
    if (!ready)
        return Poll::Waiting;
    r.state = FrameRecord::State::Finished;
    r.exposureEndMs = r.clock.isValid() ? r.clock.elapsed() : 0;
    if (readings) {
        r.exposureEndUtc = QDateTime::currentDateTimeUtc();
        r.atEnd = device.readings();
    }
    return Poll::Ready;
}

bool FrameSteps::overdue(FrameRecord& r, int graceMs, StepFailure& failure)
{
    if (r.expectedMs < 0 || !r.clock.isValid())
        return false;
    const qint64 elapsed = r.clock.elapsed();
    if (elapsed <= r.expectedMs + qint64(std::max(graceMs, 0)))
        return false;
    cancel();
    failure = StepFailure{QStringLiteral("overdue"),
                          QStringLiteral("not ready %1 ms after its start (expected %2 ms + grace %3 ms), "
                                         "exposure cancelled")
                              .arg(elapsed)
                              .arg(r.expectedMs)
                              .arg(graceMs)};
    return true;
}

StepResult FrameSteps::readImage(FrameRecord& r, ImageBuffer& image)
{
    // Never read past what the start allocated. Without a camera there is no
    // image: an empty file must not pass for one.
    if (!device.isOpen() || r.height > image.rows() || r.width > image.width()) {
        return StepFailure{QStringLiteral("read-out"), device.isOpen()
                                                           ? QStringLiteral("read-out beyond the image buffer refused")
                                                           : QStringLiteral("read-out without an open camera refused")};
    }
    camlib::CameraLibrary& lib = device.library();
    for (int row = 0; row < r.height; ++row) {
        if (StepResult failed = call("grabRow", lib.grabRow(device.handle(), image.row(row), std::size_t(r.width)))) {
            failed->text += QStringLiteral(" at row %1").arg(row);
            return failed;
        }
        qCDebug(steps) << "Downloading row No. " << row;
    }
    r.state = FrameRecord::State::ReadOut;
    r.readOutEndMs = r.clock.isValid() ? r.clock.elapsed() : 0;
    r.readOutEndUtc = QDateTime::currentDateTimeUtc();
    return std::nullopt;
}

StepResult FrameSteps::readRbi(FrameRecord& r, ImageBuffer& row)
{
    if (row.held() && r.height >= 1) {
        const std::size_t width = std::size_t(std::min(r.width, row.width()));
        camlib::CameraLibrary& lib = device.library();
        for (int i = 0; i < r.height; ++i) {
            if (StepResult failed = call("grabRow", lib.grabRow(device.handle(), row.row(0), width))) {
                failed->text += QStringLiteral(" at row %1").arg(i);
                return failed;
            }
        }
    }
    r.state = FrameRecord::State::ReadOut;
    return std::nullopt;
}

std::optional<long> FrameSteps::cancel()
{
    if (!device.isOpen())
        return std::nullopt;
    const long status = device.library().cancelExposure(device.handle());
    if (status == 0)
        return std::nullopt;
    qDebug().noquote() << QStringLiteral("cancelExposure failed (%1)").arg(status);
    return status;
}

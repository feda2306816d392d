#include "FrameControl.h"

#include "CameraDevice.h"
#include "ImageSink.h"
#include "PictureReport.h"

#include <QDebug>

#include <algorithm>

FrameControl::FrameControl(CameraDevice& cameraDevice, FrameSteps& frameSteps, PictureReport& pictureReport,
                           int graceMs, bool takeReadings)
    : device(cameraDevice), stepper(frameSteps), report(pictureReport), grace(graceMs), readings(takeReadings)
{}

bool FrameControl::prepare(const ExposureSettings& s, bool mainImage, bool rbiFrames)
{
    const Area& vis = device.visible();
    const int w = vis.width(), h = vis.height();
    if (mainImage && !image.reshape(h / s.vbin, w / s.hbin))
        return false;
    if (rbiFrames) {
        // Without flushes rbin is not used and may be anything.
        const int rbin = s.rbin >= 1 ? s.rbin : 1;
        if (s.rbiFlushes > 0) {
            if (!rbiRow.reshape(1, w / rbin))
                return false;
        } else {
            rbiRow.release();
        }
        rbiWidth = w / rbin;
        rbiHeight = h / rbin;
    }
    if (mainImage) {
        imgWidth = w / s.hbin;
        imgHeight = h / s.vbin;
    }
    run = s;
    return true;
}

FrameRecord& FrameControl::begin(FrameRecord::Kind kind, int picture, int seqPicture, int seqPictures, bool rbiAlone)
{
    FrameRecord r;
    r.id = ++lastId;
    r.kind = kind;
    r.rbiAlone = rbiAlone;
    r.areaUlX = device.visible().ulX;
    r.areaUlY = device.visible().ulY;
    r.fileName = run.fileName;
    r.picture = picture;
    r.seqPicture = seqPicture;
    r.seqPictures = seqPictures;
    r.tdiRate = run.tdiRate;
    if (r.isRbi()) {
        r.hbin = r.vbin = run.rbin;
        r.width = rbiWidth;
        r.height = rbiHeight;
        r.expTimeMs = kind == FrameRecord::Kind::RbiFlood ? run.rbiExpTime : 0;
    } else {
        r.hbin = run.hbin;
        r.vbin = run.vbin;
        r.width = imgWidth;
        r.height = imgHeight;
        r.expTimeMs = run.expTime;
    }
    stepper.clearStatus();
    frame = r;
    return frame;
}

bool FrameControl::start(const char* consequence)
{
    if (StepResult failed = stepper.start(frame, readings && !frame.isRbi())) {
        fail(*failed, consequence);
        return false;
    }
    return true;
}

FrameSteps::Poll FrameControl::poll(const char* consequence)
{
    StepFailure failure;
    const FrameSteps::Poll result = stepper.poll(frame, failure, readings && !frame.isRbi());
    if (result == FrameSteps::Poll::Failed
        || (result == FrameSteps::Poll::Waiting && stepper.overdue(frame, grace, failure))) {
        fail(failure, consequence);
        return FrameSteps::Poll::Failed;
    }
    return result;
}

FrameControl::Stored FrameControl::readAndStore(const char* consequence)
{
    if (StepResult failed = stepper.readImage(frame, image)) {
        fail(*failed, consequence);
        return Stored::ReadFailed;
    }
    const ImageSink::Result result = sink ? sink->store(frame, image) : ImageSink::Result{};
    if (!result.ok()) {
        frame.state = FrameRecord::State::Lost;
        frame.lostAt = result.lostAt.isEmpty() ? QStringLiteral("commit") : result.lostAt;
        report.lost(frame);
        return Stored::NotStored;
    }
    frame.state = FrameRecord::State::Stored;
    frame.file = result.file;
    report.stored(frame);
    return Stored::Yes;
}

bool FrameControl::readRbi(const char* consequence)
{
    if (StepResult failed = stepper.readRbi(frame, rbiRow)) {
        frame.failure = failed->text;
        frame.lostAt = failed->step;
        qDebug().noquote() << QStringLiteral("%1: %2%3").arg(frame.who(), failed->text, QLatin1String(consequence));
        if (!frame.rbiAlone) {
            frame.state = FrameRecord::State::Lost;
            report.lost(frame);
        }
        return false;
    }
    return true;
}

void FrameControl::fail(const StepFailure& failure, const char* consequence)
{
    frame.state = FrameRecord::State::Lost;
    frame.lostAt = failure.step;
    frame.failure = failure.text;
    qDebug().noquote() << QStringLiteral("%1: %2%3").arg(frame.who(), failure.text, QLatin1String(consequence));
    if (!frame.rbiAlone) // a picture, not an RBI flush alone
        report.lost(frame);
}

FrameControl::Ended FrameControl::abort()
{
    // A frame the camera finished since the last poll would be thrown away by
    // the cancel without a word: look once more, and say so.
    bool finished = frame.state == FrameRecord::State::Finished;
    if (!finished && device.isOpen()) {
        StepFailure ignored;
        finished = stepper.poll(frame, ignored, false) == FrameSteps::Poll::Ready;
    }
    const bool cancelled = !stepper.cancel().has_value();
    Ended end = Ended::Aborted;
    if (finished && !frame.isRbi()) {
        frame.state = FrameRecord::State::Cancelled;
        frame.lostAt = QStringLiteral("discarded");
        end = Ended::Discarded;
    } else if (!cancelled) {
        frame.state = FrameRecord::State::Lost;
        frame.lostAt = QStringLiteral("cancel");
        end = Ended::CancelFailed;
    } else {
        frame.state = FrameRecord::State::Aborted;
        frame.lostAt = QStringLiteral("abort");
    }
    if (!frame.rbiAlone)
        report.lost(frame);
    return end;
}

void FrameControl::lostBeforeStart(FrameRecord::Kind kind, int picture, const QString& step)
{
    FrameRecord r;
    r.id = ++lastId;
    r.kind = kind;
    r.picture = picture;
    r.state = FrameRecord::State::Aborted;
    r.lostAt = step;
    frame = r;
    report.lost(frame);
}

void FrameControl::overwriteWaiting()
{
    if (frame.kind == FrameRecord::Kind::Single)
        frame.overwritten = true;
}

long FrameControl::timeLeft() const
{
    // A frame's own clock is surer than the camera's word; a TDI frame's
    // length is the camera's to say.
    if (frame.expectedMs >= 0 && frame.clock.isValid())
        return std::max(frame.expectedMs - long(frame.clock.elapsed()), 0L);
    return std::max(stepper.timeLeft(), 0L);
}

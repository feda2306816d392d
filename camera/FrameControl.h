#pragma once

#include "ExposureSettings.h"
#include "FrameRecord.h"
#include "FrameSteps.h"
#include "ImageBuffer.h"

#include <QString>

class CameraDevice;
class ImageSink;
class PictureReport;

// The frames of the running sequence, one record at a time: makes each
// frame's record from the sequence's settings, runs its steps, stores its
// image through the sink and turns every failure into a log line and an
// outcome read from the record. The sequence machines decide what comes
// next; this decides what becomes of the frame.
class FrameControl
{
public:
    FrameControl(CameraDevice& cameraDevice, FrameSteps& frameSteps, PictureReport& pictureReport, int graceMs,
                 bool takeReadings);

    void setSink(ImageSink* imageSink) { sink = imageSink; }

    // Takes the sequence's settings and sizes the buffers it uses; false
    // (nothing changed) when the memory cannot be had.
    bool prepare(const ExposureSettings& settings, bool mainImage, bool rbiFrames);
    const ExposureSettings& settings() const { return run; }

    // A new record for the next frame; a waiting single exposure is replaced.
    FrameRecord& begin(FrameRecord::Kind kind, int picture, int seqPicture, int seqPictures, bool rbiAlone = false);
    // Starts the current frame; false with the failure logged and recorded.
    bool start(const char* consequence);
    // Polls the current frame: Failed covers a failed query and an overdue
    // frame (cancelled), both logged and recorded.
    FrameSteps::Poll poll(const char* consequence);
    // Reads the current main or single frame out and stores it.
    enum class Stored { Yes, ReadFailed, NotStored };
    Stored readAndStore(const char* consequence);
    // Reads the current RBI frame; false with the failure logged.
    bool readRbi(const char* consequence);
    // Records the frame given up with step lostAt, logging failure.
    void fail(const StepFailure& failure, const char* consequence);

    // Ends the current frame on an abort or stop. A frame found finished is
    // discarded (Cancelled); one still exposing is cancelled in the camera
    // (Aborted, or Lost at "cancel" when the camera refused).
    enum class Ended { Aborted, Discarded, CancelFailed };
    Ended abort();
    // Records a picture given up at step before its frame was started.
    void lostBeforeStart(FrameRecord::Kind kind, int picture, const QString& step);

    // Marks a finished single exposure waiting in the camera as replaced:
    // any accepted start makes the camera's image another's.
    void overwriteWaiting();

    // What the last poll learnt: the status word and the time left.
    std::uint32_t deviceStatus() const { return stepper.status(); }
    long timeLeft() const;

    bool hasFrame() const { return frame.id != 0; }
    const FrameRecord& current() const { return frame; }

    ImageBuffer image{"an image"};
    ImageBuffer rbiRow{"an RBI row"};
    int imgWidth = 0, imgHeight = 0;
    int rbiWidth = 0, rbiHeight = 0;

private:
    CameraDevice& device;
    FrameSteps& stepper;
    PictureReport& report;
    ImageSink* sink = nullptr;
    int grace;
    bool readings;
    ExposureSettings run;
    FrameRecord frame;
    std::uint64_t lastId = 0;
};

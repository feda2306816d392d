#pragma once

#include "FrameRecord.h"

#include <QString>

#include <cstdint>
#include <optional>

#include <QLoggingCategory>

// The per-tick sequence lines and the per-row lines; on unless a logging
// rule turns "starscam.steps.debug" off.
Q_DECLARE_LOGGING_CATEGORY(steps)

class CameraDevice;
class ImageBuffer;

// What stopped a frame step: the camera call or check behind it ("grabRow",
// "overdue", ...) and a line for the log ("grabRow failed (-5) at row 3").
struct StepFailure
{
    QString step;
    QString text;
};
// No value: the step succeeded.
using StepResult = std::optional<StepFailure>;

// The camera calls of one frame: set up and start it, poll it, give it up
// when overdue, read its rows, cancel it. Each step reads and writes the
// frame's record; a failure comes back as a value, nothing is logged here.
class FrameSteps
{
public:
    enum class Poll { Waiting, Ready, Failed };

    explicit FrameSteps(CameraDevice& cameraDevice) : device(cameraDevice) {}

    // Starts the frame the record describes (main or single: its image area,
    // exposure time, frame type, binning and TDI; RBI: TDI off first, its
    // area last), then starts its clock and takes the start readings.
    StepResult start(FrameRecord& record, bool readings);
    // Asks the camera whether the frame is finished; when it is, the record
    // becomes Finished with its end time (and readings for a main frame).
    Poll poll(FrameRecord& record, StepFailure& failure, bool readings);
    // True (after cancelling the frame) when the frame is still unfinished
    // past its expected length plus graceMs; a TDI frame has no bound.
    bool overdue(FrameRecord& record, int graceMs, StepFailure& failure);
    // Reads the record's rows into image; false at the first failed row.
    StepResult readImage(FrameRecord& record, ImageBuffer& image);
    // Reads an RBI frame's rows into its one-row buffer.
    StepResult readRbi(FrameRecord& record, ImageBuffer& row);
    // Cancels the frame being exposed; the library's status when it failed.
    std::optional<long> cancel();

    std::uint32_t status() const { return deviceStatus; }
    long timeLeft() const { return left; }
    void clearStatus() { deviceStatus = 0, left = 0; }

private:
    StepResult call(const char* op, long status);

    CameraDevice& device;
    std::uint32_t deviceStatus = 0;
    long left = 0;
};

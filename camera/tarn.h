#pragma once

#include "CameraDevice.h"
#include "ExposureSettings.h"
#include "FrameControl.h"
#include "FrameRecord.h"
#include "FrameSteps.h"
#include "PictureReport.h"
#include "StepTimer.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class ExpSequence;
class ImageSink;
class FileSink;
class RbiSequence;
class SingleSequence;
namespace camlib {
class CameraLibrary;
}

// What the configuration says about the camera beyond its number. The
// defaults give the behaviour of a configuration that says nothing.
struct TarnOptions
{
    // Select the camera by its serial number instead of its place in the list.
    QString serial;
    // Cooler set point at start-up; none leaves the camera's set point as it is.
    std::optional<double> startUpSetPoint = 20.0;
    // Where image files go; empty is the working directory.
    QString imageDir;
    // Tags this node's temporary files, so nodes sharing a directory keep apart.
    QString nodeName;
    // How long past its expected length a frame may stay unfinished before it
    // is cancelled and the picture given up (a camera that never says ready).
    int exposureGraceMs = 60000;
    // Commit a metadata file (imagemeta) with each image. Off for a
    // camera object built without a configuration; the service turns it on.
    bool imageMetadata = false;
    // The program version the metadata names.
    QString serviceVersion;
    // Makes the sequences' step timers; none: 10 ms Qt timers.
    StepTimerFactory timers;
    // Continue the sequence numbers of image names after the highest one
    // already in the image directory (SeqFileContinuation).
    bool continueSeqFileNo = false;
    // Whether this object may remove the node's temporaries at start-up: only
    // while the service holds the node's lock on the image directory.
    bool removeTemporaries = true;
};

// The camera object, as the command service sees it: the device's identity,
// geometry and cooler, the exposure settings, and the three sequences
// (multi-image, single exposure, RBI flush) with what became of their
// pictures. It reaches the camera only through the camera library interface
// and knows nothing of the bus; the work is done by the units it holds.
class Tarn : public QObject
{
    Q_OBJECT

public:
    static constexpr int DeviceListMax = CameraDevice::DeviceListMax;
    static constexpr int StepIntervalMs = 10;

    // Lists the cameras, opens number cameraNo (none when negative or not
    // listed; a non-empty options.serial chooses instead), logs its identity
    // and geometry and sets the cooler's start-up set point. Never fails:
    // what went wrong shows in the log and in isDeviceOpen(). First removes
    // the temporaries an earlier run of this node left in the image directory.
    Tarn(int cameraNo, camlib::CameraLibrary& library, const TarnOptions& options = TarnOptions());
    ~Tarn() override;

    // Text queries answer the library's text, or their error text
    // ("Err: Get Model" ...) when the device is not open or the call failed.
    QString getLibVersion();
    QString getModel();
    QString getSerialString();

    // Numeric queries preset their outputs to -1 and return true only when
    // the device is open and the library call succeeded.
    bool getHWRev(long& rev);
    bool getPixelSize(double& w, double& h);
    bool getArrayArea(int& ulX, int& ulY, int& lrX, int& lrY);
    bool getVisibleArea(int& ulX, int& ulY, int& lrX, int& lrY);
    bool setTemperature(double celsius);
    // Reads both channels; the base is read even when the CCD read failed.
    bool getTemperatures(double& ccd, double& base);
    bool getCCDTemperature(double& t);
    bool getBaseTemperature(double& t);
    bool getCoolerPower(double& p);

    // The exposure settings: the bus sets them here, the start operations
    // copy them, the file numbering is read when each file is named.
    ExposureSettings& settings() { return exposure; }
    const ExposureSettings& settings() const { return exposure; }
    // The sequence number the bus set: taken as given, it also ends the
    // look-ups for numbers already used (continueSeqFileNo) for this run.
    void setSeqFileNo(int n);

    // Start operations, with the settings of the moment: false, changing
    // nothing and emitting nothing, while a sequence runs, when a bin factor
    // they use is below 1, when the buffers cannot be had, and (RBI) with no
    // flushes. Otherwise busy is set and changedIsBusy(true) emitted inside
    // the call (so a listener's busy event goes out before the caller's
    // reply), a single exposure waiting for its download counts as
    // overwritten, and the sequence's timer starts.
    bool startExpSequence();
    bool startExp2Sequence();
    bool startRbiSequence();

    // Ends whichever sequence runs at once: a frame being exposed is
    // cancelled, nothing partial is stored, busy clears with
    // changedIsBusy(false). summary names the pictures done, abandoned and
    // not taken (empty when nothing ran); cancelled is false when the camera
    // refused to cancel the frame (the sequence ends all the same).
    struct Abandoned
    {
        QString summary;
        bool cancelled = true;
    };
    Abandoned abandonSequence();
    // Lets the picture in progress finish and be stored, then ends; the RBI
    // sequence ends after its frame. Returns the pictures (RBI frames) that
    // will not be taken; 0 when idle.
    int finishSequence();
    // Abandons a running sequence and closes the device. Idempotent.
    void closeDevice();

    // Reads out the single exposure waiting in the camera and stores it.
    // Refused, touching nothing (no file, no event, outcome kept), unless the
    // last frame is a single exposure that finished and was neither read out
    // nor overwritten by a later start.
    enum class DownLoadResult { Stored, ReadFailed, NotStored, Refused };
    DownLoadResult downLoadSingle();
    bool exp2DownLoad() { return downLoadSingle() == DownLoadResult::Stored; }

    // Read-only views for diagnostics and tests.
    bool isDeviceOpen() const { return device.isOpen(); }
    bool isBusy() const { return busy; }
    long getDevHandle() const { return device.handle(); }
    int getDevCount() const { return device.count(); }
    QString getDevName(int i) const { return device.name(i); }
    int getImgWidth() const { return frames.imgWidth; }
    int getImgHeight() const { return frames.imgHeight; }
    int getRbiWidth() const { return frames.rbiWidth; }
    int getRbiHeight() const { return frames.rbiHeight; }
    bool hasRbiRowBuf() const { return frames.rbiRow.held(); }
    int getImageIndex() const;
    const ExpSequence& expSeq() const { return *expSequence; }
    const RbiSequence& rbiSeq() const { return *rbiSequence; }
    const SingleSequence& exp2Seq() const { return *exp2Sequence; }
    std::uint32_t getDeviceStatus() const { return frames.deviceStatus(); }
    const FrameRecord& lastFrame() const { return frames.current(); }
    QString lastFileWritten() const { return lastFile; }
    // Replaces where images go (tests keep them in memory); none: the files.
    void setSink(ImageSink* sink);

    using Phase = ProgressPhase;
    using Progress = PictureProgress;
    using Outcome = PictureOutcome;
    Progress progress() const;
    static const char* phaseName(Phase phase) { return ::phaseName(phase); }
    Outcome lastOutcome() const { return report.last(); }

signals:
    void changedIsBusy(bool busy);
    // A picture's image was committed as file (its final name); emitted before
    // the sequence's changedIsBusy(false).
    void imageStored(const QString& file);
    // A picture was given up at step (see Outcome::step).
    void pictureLost(int picture, const QString& step);

private:
    // Takes the settings for a start: false while busy or without memory.
    bool prepare(bool mainImage, bool rbiFrames);
    void setBusy(bool f);

    TarnOptions options;
    CameraDevice device;
    FrameSteps frameSteps{device};
    PictureReport report;
    FrameControl frames;
    std::unique_ptr<FileSink> fileSink;
    std::unique_ptr<ExpSequence> expSequence;
    std::unique_ptr<RbiSequence> rbiSequence;
    std::unique_ptr<SingleSequence> exp2Sequence;
    ExposureSettings exposure;
    bool busy = false;
    QString lastFile;
};

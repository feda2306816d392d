#pragma once

#include "ImageBuffer.h"
#include "ImageMetadata.h"
#include "SeqFileContinuation.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class QTimer;
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
    // Commit a metadata file (imagemeta) right after each image. Off for a
    // camera object built without a configuration; the service turns it on.
    bool imageMetadata = false;
    // The program version the metadata names.
    QString serviceVersion;
    // Continue the sequence numbers of image names after the highest one
    // already in the image directory (SeqFileContinuation).
    bool continueSeqFileNo = false;
};

// The camera object: opens the camera at construction, answers the identity,
// geometry and temperature queries, and runs the three exposure sequences on
// 10 ms timers (multi-image, single exposure, RBI flush). It reaches the camera
// only through the camera library interface and knows nothing of the bus.
class Tarn : public QObject
{
    Q_OBJECT

public:
    // Steps of the three sequences. Each machine has its own state: exp, the
    // multi-image sequence (expSequence); rbi, the RBI flushes alone
    // (rbiSequence); exp2, the single exposure (exp2Sequence). A state names
    // the step the machine's next timer tick runs.
    enum SeqState {
        Start = 0,       // all: a start operation has just set the machine going
        NextPic = 1,     // exp: begin the next picture, or End when all are taken
        RBIFlood = 2,    // exp, rbi: start the RBI flood frame
        RBIFlushing = 3, // exp, rbi: start an RBI flush frame
        Exposing = 4,    // all: poll the frame until it is finished, failed or overdue
        DownLoad = 5,    // exp, rbi: read the finished frame out; exp's main frame is also written to its file
        StartExp = 6,    // exp: start the picture's main exposure
        Done = 7,        // all: the picture or frame is over; exp goes on to NextPic, rbi and exp2 end
        End = 8,         // exp: no picture left; ends
        None = 10,       // all: at rest, timer stopped (9 is not used)
    };

    static constexpr int DeviceListMax = 20;
    static constexpr int StepIntervalMs = 10;
    static constexpr double StartUpSetPoint = 20.0;

    // Lists the cameras, opens number cameraNo (none when negative or not
    // listed; a non-empty options.serial chooses instead, see findBySerial),
    // logs its identity and geometry and sets the cooler to 20 C.
    // Never fails: what went wrong shows in the log and in isDeviceOpen().
    // Whatever the camera number, first removes the temporaries an earlier
    // run of this node left in the image directory (imagefile::removeTemporaries).
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

    // Lists up to DeviceListMax devices into the device names and domains;
    // with `descriptions`, also what the library lists beside each name.
    void listDevices(long deviceClassMask, QList<QByteArray>* descriptions = nullptr);

    // Start operations: false, changing nothing and emitting nothing, while
    // a sequence runs, when a bin factor they use is below 1, when the buffers
    // cannot be had, and (RBI) with no flushes. Otherwise busy is set and
    // changedIsBusy(true) emitted inside the call, before it returns (so a
    // listener's busy event goes out before the caller's reply), the settings
    // copied, the buffers sized from the visible area and the sequence's
    // timer started.
    bool startExpSequence(int hbin, int vbin, int rbin, int rbiFlushes, int rbiExpTime, int images, int expTime,
                          double interval, const QString& fileName, int tdiRate);
    bool startExp2Sequence(int hbin, int vbin, int expTime, const QString& fileName, int tdiRate);
    bool startRbiSequence(int rbin, int flushes, int rbiExpTime);

    // Stopping. None of these is ever called while a read-out runs: read-outs
    // run inside one step.
    //
    // Ends whichever sequence runs at once: a frame being exposed (main or
    // RBI, also one exposed but not yet read) is cancelled through
    // cancelExposure, so nothing partial is stored; the machine goes idle, its
    // timer stops and busy clears with changedIsBusy(false). Returns one line
    // for the caller to log, naming the pictures done, abandoned and not
    // taken. With nothing running: an empty text, nothing emitted.
    // A single exposure ended this way cannot be downloaded afterwards.
    QString abandonSequence();
    // Lets the picture in progress (with its RBI frames) finish and its file
    // be written, then ends instead of starting the next one; the RBI
    // sequence ends after the frame being exposed. Busy clears with the usual
    // changedIsBusy(false) at that end. A single exposure runs to its end.
    // Returns the number of pictures (RBI frames for the RBI sequence) that
    // will not be taken; 0 when idle.
    int finishSequence();
    // Abandons a running sequence and closes the device when it is open.
    // Idempotent; the destructor calls it (without emitting).
    void closeDevice();

    // Exposure primitives: one frame set up and started, polled, read out.
    // A failing library call ends a primitive with false; what failed, with
    // the library's value, is kept for the sequence's log line.
    // A started frame is given its expected length plus the grace to finish:
    // the main frame expTime, the flood frame rbiExpTime, a flush frame 0. A
    // TDI frame (tdiRate > 0) has no bound: its length follows from the rate
    // and the rows in the camera's own units, so no bound could be sure never
    // to cut a good frame short.
    bool startExposure();
    bool startRbiFlood();
    bool startRbiFlush();
    // True when the frame is finished; ok is 0 when a status query failed.
    bool checkExposing(int& ok);
    // True (after cancelling the frame through cancelExposure) when the frame
    // started last is still unfinished past its expected length plus the
    // grace; a single exposure cancelled so cannot be downloaded.
    bool frameOverdue();
    bool expDownLoad();
    bool readRbiRows();

    // Outcome of the last image download and file write.
    enum class DownLoadResult { Stored, ReadFailed, NotStored };
    // Reads the single exposure's image into the buffer the last start sized
    // and writes its file; ReadFailed touches no file (and no memory when no
    // exposure has sized the buffers yet). Also ReadFailed, reading nothing,
    // when the last exposure was cancelled (abandoned or overdue).
    DownLoadResult downLoadSingle();
    bool exp2DownLoad() { return downLoadSingle() != DownLoadResult::ReadFailed; }

    // Writes the image in imageRows to its numbered file; false when it could
    // not be stored anywhere. Never overwrites or follows an existing name.
    bool writeData();

    // File numbering, set by the bus directly.
    int getSeqFileNo() const { return seqFileNo; }
    void setSeqFileNo(int n)
    {
        seqFileNo = n;
        seqContinuation.numberSet();
    }
    bool getUseSeqFileNo() const { return useSeqFileNo; }
    void setUseSeqFileNo(bool f) { useSeqFileNo = f; }

    // Read-only views for diagnostics and tests.
    bool isDeviceOpen() const { return deviceOpen; }
    bool isBusy() const { return busy; }
    long getDevHandle() const { return devHandle; }
    int getDevCount() const { return devCount; }
    QString getDevName(int i) const;
    int getImgWidth() const { return imgWidth; }
    int getImgHeight() const { return imgHeight; }
    int getRbiWidth() const { return rbiWidth; }
    int getRbiHeight() const { return rbiHeight; }
    bool hasRbiRowBuf() const { return rbiRowBuf.held(); }
    int getImageIndex() const { return imageIndex; }
    SeqState expSeqState() const { return expState; }
    SeqState rbiSeqState() const { return rbiState; }
    SeqState exp2SeqState() const { return exp2State; }
    std::uint32_t getDeviceStatus() const { return deviceStatus; }
    QString lastFileWritten() const { return lastFile; }

    // Where the running sequence is, read between its steps. picture is the
    // number the picture's file name carries (for the RBI flush alone the
    // frame, from 0), pictures how many the sequence takes (1 for a single
    // exposure), timeLeftMs what the frame being exposed is expected to need
    // still (0 when not exposing). Idle: all 0.
    enum class Phase { Idle, Rbi, Exposing, Between };
    struct Progress
    {
        int picture = 0;
        int pictures = 0;
        Phase phase = Phase::Idle;
        long timeLeftMs = 0;
    };
    Progress progress() const;
    // "idle", "rbi", "exposing" or "between".
    static const char* phaseName(Phase phase);

    // What became of the last picture of a sequence or single exposure: its
    // file, or the camera operation or file step that lost it ("exposeFrame",
    // "grabRow", "overdue", "abort", "create", "write", ...).
    struct Outcome
    {
        enum Kind { NoneYet, Stored, Lost };
        Kind kind = NoneYet;
        int picture = -1;
        QString file;
        QString step;
    };
    Outcome lastOutcome() const { return outcome; }

signals:
    void changedIsBusy(bool busy);
    // A picture's image was committed as file (its final name); emitted before
    // the sequence's changedIsBusy(false).
    void imageStored(const QString& file);
    // A picture was given up at step (see Outcome::step).
    void pictureLost(int picture, const QString& step);

private slots:
    void expSequence();
    void rbiSequence();
    void exp2Sequence();

private:
    // Lists the cameras by serial number and returns the index of the one
    // whose serial is `serial`, ready to open; -1 (logged with what was
    // found) when none is. No camera is opened to read its serial.
    int findBySerial(const QString& serial);
    // One RBI row of width pixels, or none when there are no flushes.
    bool allocRbiRowBuf(int width, int flushes);
    // Sets up and starts an RBI frame of the given type: TDI off first, the
    // image area last.
    bool startRbiFrame(long frameType, long expTimeMs);
    void setBusy(bool f);
    void finish(QTimer* timer, SeqState& state);
    // Cancels the frame the camera is exposing, logging a failure.
    void cancelFrame();
    // Keeps "<op> failed (<status>)" for the log when status is a failure.
    bool succeeded(const char* op, long status);
    // Logs the kept failure for the frame of the running sequence.
    void logFailure(const char* consequence);
    // The state after a frame start: Exposing, or Done with the failure logged.
    SeqState afterStart(bool started, const char* consequence);
    QString abandonExpSequence();
    QString abandonRbiSequence();
    // The cooler readings for the metadata; a failed reading stays empty and
    // is not logged.
    imagemeta::CoolerReadings coolerReadings();
    // The main frame was found ready: the end of its exposure.
    void frameReady();
    // Commits the metadata of the image just stored as file; a failure is
    // logged and leaves the image alone.
    void writeMetadata(const QString& file, std::optional<int> sequenceNumber);
    // Keep the last picture's outcome and tell listeners.
    void recordStored(const QString& file);
    void recordLost(int picture, const QString& step);

    camlib::CameraLibrary& lib;
    TarnOptions options;

    bool deviceOpen = false;
    bool busy = false;
    int cameraNo = -1;
    long devHandle = -1;
    int devCount = 0;
    QByteArray devNames[DeviceListMax]; // as listed, handed back to open
    long devDomains[DeviceListMax] = {};
    int visUlX = 0, visLrX = 0, visUlY = 0, visLrY = 0;
    int imgWidth = 0, imgHeight = 0;
    int rbiWidth = 0, rbiHeight = 0;
    ImageBuffer rbiRowBuf{"an RBI row"};
    // The main image; held once a start has sized it.
    ImageBuffer imageRows{"an image"};
    QTimer* expTimer = nullptr;
    QTimer* rbiTimer = nullptr;
    QTimer* exp2Timer = nullptr;
    SeqState expState = None, rbiState = None, exp2State = None;
    long timeLeft = 0;
    // The frame started last: its kind for log lines ("" for a main frame),
    // its clock and expected length (-1: no bound).
    const char* frameKind = "";
    QElapsedTimer frameClock;
    long frameExpectedMs = -1;
    QString failure;    // what failed last in a primitive
    QString failedStep; // the operation or check behind failure
    Outcome outcome;
    // The identity read at open, the last set point and the current main
    // frame's times and readings; completed for each image stored.
    imagemeta::ImageMetadata meta;
    std::uint32_t deviceStatus = 0;
    int rbiCount = 0;
    int tdiRate = 0;
    int hbin = 0, vbin = 0, rbin = 0;
    int rbiFlushes = 0;
    int images = 0;
    int imageIndex = 0;
    int rbiExpTime = 0;
    int expTime = 0;
    double interval = 0.0;
    QString fileName;
    bool useSeqFileNo = true;
    int seqFileNo = 0;
    SeqFileContinuation seqContinuation;
    QString lastFile;
    // The last exposure was cancelled or never made: the camera holds no image.
    bool imageDiscarded = false;
    // finishSequence() asked the running sequence to end after its current picture.
    bool finishRequested = false;
};

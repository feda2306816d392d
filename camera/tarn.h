#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

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
};

// The camera object: opens the camera at construction, answers the identity,
// geometry and temperature queries, and runs the three exposure sequences on
// 10 ms timers (multi-image, single exposure, RBI flush). It reaches the camera
// only through the camera library interface and knows nothing of the bus.
class Tarn : public QObject
{
    Q_OBJECT

public:
    // Steps of the three sequences; every machine rests in None.
    enum SeqState {
        Start = 0,
        NextPic = 1,
        RBIFlood = 2,
        RBIFlushing = 3,
        Exposing = 4,
        DownLoad = 5,
        StartExp = 6,
        Done = 7,
        End = 8,
        None = 10,
    };

    static constexpr int DeviceListMax = 20;
    static constexpr int StepIntervalMs = 10;
    static constexpr double StartUpSetPoint = 20.0;

    // Lists the cameras, opens number cameraNo (none when negative or not
    // listed; a non-empty options.serial chooses instead, see findBySerial),
    // logs its identity and geometry and sets the cooler to 20 C.
    // Never fails: what went wrong shows in the log and in isDeviceOpen().
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
    // cannot be had, and (RBI) with no flushes. Otherwise busy is set,
    // changedIsBusy(true) emitted, the settings copied, the buffers sized from
    // the visible area and the sequence's timer started.
    bool startExpSequence(int hbin, int vbin, int rbin, int rbiFlushes, int rbiExpTime, int images,
                          int expTime, double interval, const QString& fileName, int tdiRate);
    bool startExp2Sequence(int hbin, int vbin, int expTime, const QString& fileName, int tdiRate);
    bool startRbiSequence(int rbin, int flushes, int rbiExpTime);

    // Exposure primitives: one frame set up and started, polled, read out.
    bool startExposure();
    bool startRbiFlood();
    bool startRbiFlush();
    // True when the frame is finished; ok is 0 when a status query failed.
    bool checkExposing(int& ok);
    bool expDownLoad();
    bool readRbiRows();

    // Outcome of the last image download and file write.
    enum class DownLoadResult { Stored, ReadFailed, NotStored };
    // Reads the single exposure's image into the buffer the last start sized
    // and writes its file; ReadFailed touches no file (and no memory when no
    // exposure has sized the buffers yet).
    DownLoadResult downLoadSingle();
    bool exp2DownLoad() { return downLoadSingle() != DownLoadResult::ReadFailed; }

    // Writes the image in imageRows to its numbered file; false when it could
    // not be stored anywhere. Never overwrites or follows an existing name.
    bool writeData();

    // File numbering, set by the bus directly.
    int getSeqFileNo() const { return seqFileNo; }
    void setSeqFileNo(int n) { seqFileNo = n; }
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
    int getRbiBufWidth() const { return rbiBufWidth; }
    bool hasRbiRowBuf() const { return rbiRowBuf != nullptr; }
    int getImageIndex() const { return imageIndex; }
    int getSeqState(int which) const; // 0 exp, 1 rbi, 2 exp2
    const std::uint16_t* imageRow(int row) const;
    long getTimeLeft() const { return timeLeft; }
    std::uint32_t getDeviceStatus() const { return deviceStatus; }
    QString lastFileWritten() const { return lastFile; }

signals:
    void changedIsBusy(bool busy);

private slots:
    void expSequence();
    void rbiSequence();
    void exp2Sequence();

private:
    // Lists the cameras by serial number and returns the index of the one
    // whose serial is `serial`, ready to open; -1 (logged with what was
    // found) when none is. No camera is opened to read its serial.
    int findBySerial(const QString& serial);
    bool allocImageRows(int rows, int width);
    // One RBI row of width pixels, or none when there are no flushes.
    bool allocRbiRowBuf(int width, int flushes);
    // Sets up and starts an RBI frame of the given type: TDI off first, the
    // image area last.
    bool startRbiFrame(long frameType, long expTimeMs);
    void setBusy(bool f);
    void finish(QTimer* timer, int& state);

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
    std::unique_ptr<std::uint16_t[]> rbiRowBuf;
    // The main image: one block, rows addressed through imageRows.
    std::unique_ptr<std::uint16_t[]> imageData;
    std::vector<std::uint16_t*> imageRows;
    QTimer* expTimer = nullptr;
    QTimer* rbiTimer = nullptr;
    QTimer* exp2Timer = nullptr;
    int expState = None, rbiState = None, exp2State = None;
    int allocRows = 0, allocWidth = 0;
    int rbiBufWidth = 0;
    long timeLeft = 0;
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
    QString lastFile;
    bool imageSized = false; // a start has sized the image buffer
};

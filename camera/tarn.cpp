#include "tarn.h"

#include "CameraLibrary.h"
#include "ImageFile.h"

#include <QDebug>
#include <QFile>
#include <QLoggingCategory>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

const char* check(bool ok)
{
    return ok ? "" : "Err";
}

// Text buffer sizes the library is given.
constexpr std::size_t LibVersionSize = 1024;
constexpr std::size_t IdentitySize = 2047;
constexpr std::size_t ListTextSize = 1024;

// The per-tick sequence lines and the per-row lines; on unless a logging
// rule turns "starscam.steps.debug" off.
Q_LOGGING_CATEGORY(steps, "starscam.steps")

// Whether the per-row lines reach the output: they are only made when they
// will be shown (the same test Qt applies before printing).
bool debugLinesShown()
{
    return steps().isDebugEnabled();
}

// "none", "picture 2" or "pictures 0 to 3" for the numbers first..last.
QString numbered(const char* one, const char* many, int first, int last)
{
    if (first < 0 || last < first)
        return QStringLiteral("none");
    if (first == last)
        return QStringLiteral("%1 %2").arg(QLatin1String(one)).arg(first);
    return QStringLiteral("%1 %2 to %3").arg(QLatin1String(many)).arg(first).arg(last);
}

QString pictures(int first, int last)
{
    return numbered("picture", "pictures", first, last);
}

QString frames(int first, int last)
{
    return numbered("frame", "frames", first, last);
}

const char* commitStepName(imagefile::CommitStep step)
{
    switch (step) {
    case imagefile::CommitStep::Create:
        return "create";
    case imagefile::CommitStep::Write:
        return "write";
    case imagefile::CommitStep::Flush:
        return "flush";
    case imagefile::CommitStep::Rename:
        return "rename";
    case imagefile::CommitStep::DirectoryFlush:
        return "directory-flush";
    case imagefile::CommitStep::None:
        break;
    }
    return "commit";
}

} // namespace

Tarn::Tarn(int number, camlib::CameraLibrary& library, const TarnOptions& tarnOptions)
    : QObject(nullptr), lib(library), options(tarnOptions), seqContinuation(tarnOptions.continueSeqFileNo)
{
    // The timers, states and file numbering get their values whatever camera
    // number is given: the bus may start a sequence without an open device.
    expTimer = new QTimer();
    expTimer->setInterval(StepIntervalMs);
    expState = None;
    connect(expTimer, &QTimer::timeout, this, &Tarn::expSequence, Qt::UniqueConnection);
    rbiTimer = new QTimer();
    rbiTimer->setInterval(StepIntervalMs);
    rbiState = None;
    connect(rbiTimer, &QTimer::timeout, this, &Tarn::rbiSequence, Qt::UniqueConnection);
    exp2Timer = new QTimer();
    exp2Timer->setInterval(StepIntervalMs);
    exp2State = None;
    connect(exp2Timer, &QTimer::timeout, this, &Tarn::exp2Sequence, Qt::UniqueConnection);
    useSeqFileNo = true;
    seqFileNo = 0;
    tdiRate = 0;
    // Whatever an earlier run of this node left half written is no image.
    imagefile::removeTemporaries(options.imageDir, options.nodeName);

    // A serial number, when given, chooses the camera whatever its number.
    const bool bySerial = !options.serial.isEmpty();
    if (number < 0 && !bySerial)
        return;
    this->cameraNo = number;

    qDebug() << "Lib Version::" << getLibVersion();
    if (bySerial) {
        number = findBySerial(options.serial);
        if (number < 0)
            return;
        this->cameraNo = number;
    } else {
        listDevices(camlib::DeviceClassCamera);
        qDebug() << devCount;
        for (int i = 0; i < devCount; ++i)
            qDebug() << devNames[i].constData();
    }

    if (number >= devCount)
        return;

    // A failed open may scribble on the handle it was given.
    long handle = devHandle;
    if (lib.open(handle, devNames[number].constData(), devDomains[number]) != 0) {
        qDebug() << "err : opening FLI";
        return;
    }
    devHandle = handle;
    deviceOpen = true;

    const QString model = getModel();
    qDebug() << "Model:  " << model;
    const QString serial = getSerialString();
    qDebug() << "Serial: " << serial;
    long rev;
    bool ok = getHWRev(rev);
    qDebug() << "HW rev: " << check(ok) << rev;
    double pixW, pixH;
    ok = getPixelSize(pixW, pixH);
    qDebug() << "Pix Size: " << check(ok) << pixW << pixH;
    if (options.imageMetadata) {
        // Identity for the metadata, read once; an error text is no identity.
        const auto known = [](const QString& text) {
            return text.startsWith(QLatin1String("Err: ")) ? std::nullopt : std::optional<QString>(text);
        };
        meta.cameraModel = known(model);
        meta.serialNumber = known(serial);
        meta.libraryVersion = known(getLibVersion());
        if (ok) {
            meta.pixelWidth = pixW;
            meta.pixelHeight = pixH;
        }
    }
    int ulX, ulY, lrX, lrY;
    ok = getArrayArea(ulX, ulY, lrX, lrY);
    qDebug() << "Array Area: " << check(ok) << ulX << ulY << lrX << lrY;
    ok = !options.startUpSetPoint || setTemperature(*options.startUpSetPoint); // none: keep the camera's own
    qDebug() << "Set Temp.: " << (options.startUpSetPoint ? check(ok) : "kept");
    double ccd = 0.0, base = 0.0;
    ok = getTemperatures(ccd, base);
    qDebug() << "Read Temp: " << check(ok) << ccd << base;
    visUlX = visLrX = visUlY = visLrY = 0;
    ok = getVisibleArea(visUlX, visUlY, visLrX, visLrY);
    qDebug() << "Visi. Area: " << check(ok) << visUlX << visUlY << visLrX << visLrY;
    if (!ok)
        visUlX = visLrX = visUlY = visLrY = 0; // no frame can be sized from an unknown area
}

Tarn::~Tarn()
{
    // Whoever listens may be going away too: close without telling anyone.
    blockSignals(true);
    closeDevice();
    delete expTimer;
    delete rbiTimer;
    delete exp2Timer;
}

void Tarn::listDevices(long deviceClassMask, QList<QByteArray>* descriptions)
{
    devCount = 0;
    if (descriptions)
        descriptions->clear();
    lib.listCreate(deviceClassMask);
    char name[ListTextSize];
    char description[ListTextSize];
    long domain = 0;
    std::memset(name, 0, sizeof name);
    std::memset(description, 0, sizeof description);
    long status = lib.listFirst(domain, name, sizeof name, description, sizeof description);
    while (status == 0 && devCount < DeviceListMax) {
        name[sizeof name - 1] = '\0';
        devNames[devCount] = QByteArray(name);
        devDomains[devCount] = domain;
        description[sizeof description - 1] = '\0';
        if (descriptions)
            descriptions->append(QByteArray(description));
        ++devCount;
        std::memset(description, 0, sizeof description);
        std::memset(name, 0, sizeof name);
        status = lib.listNext(domain, name, sizeof name, description, sizeof description);
    }
    lib.listDelete();
}

int Tarn::findBySerial(const QString& serial)
{
    QList<QByteArray> serials;
    listDevices(camlib::DeviceClassCamera | camlib::EnumerateBySerial, &serials);
    QStringList found;
    for (int i = 0; i < devCount; ++i) {
        const QString listed = QString::fromLatin1(serials.value(i)).trimmed();
        if (listed == serial) {
            devDomains[i] &= ~camlib::DomainOptionsMask; // open() takes the device's own domain
            qDebug().noquote() << QStringLiteral("Camera serial %1: %2, number %3 of %4 listed")
                                      .arg(serial, QString::fromLatin1(devNames[i]))
                                      .arg(i)
                                      .arg(devCount);
            return i;
        }
        found << QStringLiteral("%1 (%2)").arg(listed, QString::fromLatin1(devNames[i]));
    }
    qDebug().noquote() << QStringLiteral("Camera serial %1 not found among %2 listed: %3 - no camera opened")
                              .arg(serial)
                              .arg(devCount)
                              .arg(found.isEmpty() ? QStringLiteral("none") : found.join(QLatin1String(", ")));
    return -1;
}

QString Tarn::getDevName(int i) const
{
    return (i >= 0 && i < devCount) ? QString::fromLatin1(devNames[i]) : QString();
}

QString Tarn::getLibVersion()
{
    char buffer[LibVersionSize] = {};
    if (!deviceOpen || lib.getLibVersion(buffer, sizeof buffer) != 0)
        return QStringLiteral("Err: Get Lib Version");
    buffer[sizeof buffer - 1] = '\0';
    return QString::fromLatin1(buffer);
}

QString Tarn::getModel()
{
    char buffer[IdentitySize + 1] = {};
    if (!deviceOpen || lib.getModel(devHandle, buffer, IdentitySize) != 0)
        return QStringLiteral("Err: Get Model");
    return QString::fromLatin1(buffer);
}

QString Tarn::getSerialString()
{
    char buffer[IdentitySize + 1] = {};
    if (!deviceOpen || lib.getSerialString(devHandle, buffer, IdentitySize) != 0)
        return QStringLiteral("Err: Get Serial String");
    return QString::fromLatin1(buffer);
}

bool Tarn::getHWRev(long& rev)
{
    rev = -1;
    return deviceOpen && lib.getHWRevision(devHandle, rev) == 0;
}

bool Tarn::getPixelSize(double& w, double& h)
{
    w = h = -1.0;
    return deviceOpen && lib.getPixelSize(devHandle, w, h) == 0;
}

bool Tarn::getArrayArea(int& ulX, int& ulY, int& lrX, int& lrY)
{
    ulX = ulY = lrX = lrY = -1;
    if (!deviceOpen)
        return false;
    long a = -1, b = -1, c = -1, d = -1;
    if (lib.getArrayArea(devHandle, a, b, c, d) != 0)
        return false;
    ulX = int(a), ulY = int(b), lrX = int(c), lrY = int(d);
    return true;
}

bool Tarn::getVisibleArea(int& ulX, int& ulY, int& lrX, int& lrY)
{
    ulX = ulY = lrX = lrY = -1;
    if (!deviceOpen)
        return false;
    long a = -1, b = -1, c = -1, d = -1;
    if (lib.getVisibleArea(devHandle, a, b, c, d) != 0)
        return false;
    ulX = int(a), ulY = int(b), lrX = int(c), lrY = int(d);
    return true;
}

bool Tarn::setTemperature(double celsius)
{
    if (!deviceOpen || lib.setTemperature(devHandle, celsius) != 0)
        return false;
    meta.setPoint = celsius;
    return true;
}

bool Tarn::getTemperatures(double& ccd, double& base)
{
    if (!deviceOpen)
        return false;
    const bool ccdOk = lib.readTemperature(devHandle, camlib::ChannelCcd, ccd) == 0;
    const bool baseOk = lib.readTemperature(devHandle, camlib::ChannelBase, base) == 0;
    return ccdOk && baseOk;
}

bool Tarn::getCCDTemperature(double& t)
{
    return deviceOpen && lib.readTemperature(devHandle, camlib::ChannelCcd, t) == 0;
}

bool Tarn::getBaseTemperature(double& t)
{
    return deviceOpen && lib.readTemperature(devHandle, camlib::ChannelBase, t) == 0;
}

bool Tarn::getCoolerPower(double& p)
{
    return deviceOpen && lib.getCoolerPower(devHandle, p) == 0;
}

// ---- buffers and start operations ----

bool Tarn::allocRbiRowBuf(int width, int flushes)
{
    if (flushes > 0)
        return rbiRowBuf.reshape(1, width);
    rbiRowBuf.release();
    return true;
}

void Tarn::setBusy(bool f)
{
    if (busy == f)
        return;
    busy = f;
    emit changedIsBusy(f);
}

bool Tarn::startExpSequence(int hbinArg, int vbinArg, int rbinArg, int rbiFlushesArg, int rbiExpTimeArg, int imagesArg,
                            int expTimeArg, double intervalArg, const QString& fileNameArg, int tdiRateArg)
{
    if (busy)
        return false;
    if (hbinArg < 1 || vbinArg < 1 || (rbiFlushesArg > 0 && rbinArg < 1)) {
        qDebug() << "Refusing the exposure: bin factors" << hbinArg << vbinArg << rbinArg << "must be 1 or more";
        return false;
    }
    const int w = visLrX - visUlX, h = visLrY - visUlY;
    // Without flushes rbin is not used and may be anything.
    const int rbinUsed = rbinArg >= 1 ? rbinArg : 1;
    // Allocate before anything is announced: a refusal sends no busy event.
    if (!imageRows.reshape(h / vbinArg, w / hbinArg) || !allocRbiRowBuf(w / rbinUsed, rbiFlushesArg))
        return false;
    setBusy(true);
    rbiFlushes = rbiFlushesArg;
    interval = intervalArg;
    tdiRate = tdiRateArg;
    hbin = hbinArg;
    vbin = vbinArg;
    rbin = rbinArg;
    rbiExpTime = rbiExpTimeArg;
    images = imagesArg;
    expTime = expTimeArg;
    fileName = fileNameArg;
    imgWidth = w / hbinArg;
    imgHeight = h / vbinArg;
    rbiWidth = w / rbinUsed;
    rbiHeight = h / rbinUsed;
    imageDiscarded = false;
    finishRequested = false;
    expState = Start;
    expTimer->start();
    return true;
}

bool Tarn::startExp2Sequence(int hbinArg, int vbinArg, int expTimeArg, const QString& fileNameArg, int tdiRateArg)
{
    if (busy)
        return false;
    if (hbinArg < 1 || vbinArg < 1) {
        qDebug() << "Refusing the exposure: bin factors" << hbinArg << vbinArg << "must be 1 or more";
        return false;
    }
    const int w = visLrX - visUlX, h = visLrY - visUlY;
    if (!imageRows.reshape(h / vbinArg, w / hbinArg))
        return false;
    setBusy(true);
    tdiRate = tdiRateArg;
    hbin = hbinArg;
    vbin = vbinArg;
    expTime = expTimeArg;
    fileName = fileNameArg;
    imgWidth = w / hbinArg;
    imgHeight = h / vbinArg;
    imageDiscarded = false;
    finishRequested = false;
    exp2State = Start;
    exp2Timer->start();
    return true;
}

bool Tarn::startRbiSequence(int rbinArg, int flushes, int rbiExpTimeArg)
{
    if (busy || flushes <= 0)
        return false;
    if (rbinArg < 1) {
        qDebug() << "Refusing the RBI flush: bin factor" << rbinArg << "must be 1 or more";
        return false;
    }
    const int w = visLrX - visUlX, h = visLrY - visUlY;
    if (!allocRbiRowBuf(w / rbinArg, flushes))
        return false;
    setBusy(true);
    rbiFlushes = flushes;
    rbin = rbinArg;
    rbiExpTime = rbiExpTimeArg;
    rbiWidth = w / rbinArg;
    rbiHeight = h / rbinArg;
    imageDiscarded = false;
    finishRequested = false;
    rbiState = Start;
    rbiTimer->start();
    return true;
}

// ---- stopping ----

void Tarn::cancelFrame()
{
    imageDiscarded = true;
    if (!deviceOpen)
        return;
    const long status = lib.cancelExposure(devHandle);
    if (status != 0)
        qDebug().noquote() << QStringLiteral("cancelExposure failed (%1)").arg(status);
}

QString Tarn::abandonExpSequence()
{
    // The picture in progress, if any, and how many pictures are over.
    int current = -1;
    int over = 0;
    switch (expState) {
    case Start:
        break;
    case NextPic:
    case Done:
        over = imageIndex + 1;
        break;
    case End:
        over = images;
        break;
    default:
        current = imageIndex;
        over = imageIndex;
        break;
    }
    const bool cancel = expState == Exposing || expState == DownLoad;
    if (cancel)
        cancelFrame();
    if (current >= 0)
        recordLost(current, QStringLiteral("abort"));
    finish(expTimer, expState);
    const int taken = current >= 0 ? current + 1 : over;
    return QStringLiteral("Exposure sequence abandoned: done %1; abandoned %2%3; not taken %4")
        .arg(pictures(0, over - 1), pictures(current, current),
             cancel ? QStringLiteral(" (exposure cancelled)") : QString(), pictures(taken, images - 1));
}

QString Tarn::abandonRbiSequence()
{
    // Frames are numbered from 0 in the order they are taken.
    const int next = rbiState == Start ? 0 : rbiFlushes - rbiCount;
    const bool cancel = rbiState == Exposing || rbiState == DownLoad;
    const int over = rbiState == Done ? rbiFlushes : next;
    if (cancel)
        cancelFrame();
    finish(rbiTimer, rbiState);
    return QStringLiteral("RBI flush abandoned: done %1; abandoned %2%3; not taken %4")
        .arg(frames(0, over - 1), cancel ? frames(next, next) : frames(0, -1),
             cancel ? QStringLiteral(" (exposure cancelled)") : QString(),
             frames(cancel ? next + 1 : over, rbiFlushes - 1));
}

QString Tarn::abandonSequence()
{
    if (expState != None)
        return abandonExpSequence();
    if (rbiState != None)
        return abandonRbiSequence();
    if (exp2State == None)
        return QString();
    QString summary = QStringLiteral("Single exposure abandoned after its end");
    if (exp2State == Exposing) {
        cancelFrame();
        recordLost(imageIndex, QStringLiteral("abort"));
        summary = QStringLiteral("Single exposure abandoned (exposure cancelled)");
    } else if (exp2State == Start) {
        imageDiscarded = true;
        recordLost(imageIndex, QStringLiteral("abort"));
        summary = QStringLiteral("Single exposure abandoned before it started");
    }
    finish(exp2Timer, exp2State);
    return summary;
}

int Tarn::finishSequence()
{
    if (expState != None) {
        finishRequested = true;
        if (expState == Start) {
            qDebug() << "Finishing the exposure sequence before its first picture:" << std::max(images, 0)
                     << "not taken";
            return std::max(images, 0);
        }
        const bool inProgress = expState != NextPic && expState != Done && expState != End;
        const int left = std::max(images - imageIndex - 1, 0);
        qDebug().noquote() << QStringLiteral("Finishing the exposure sequence: completing %1; not taken %2")
                                  .arg(inProgress ? pictures(imageIndex, imageIndex) : pictures(0, -1),
                                       pictures(imageIndex + 1, images - 1));
        return left;
    }
    if (rbiState != None) {
        finishRequested = true;
        int left = 0;
        if (rbiState == Exposing || rbiState == DownLoad) {
            left = rbiCount - 1; // the frame being exposed is read out
        } else if (rbiState != Done) {
            left = rbiState == Start ? rbiFlushes : rbiCount;
            rbiState = Done; // no frame in progress: end at the next step
        }
        qDebug() << "Finishing the RBI flush:" << left << "frames not taken";
        return std::max(left, 0);
    }
    return 0;
}

void Tarn::closeDevice()
{
    const QString summary = abandonSequence();
    if (!summary.isEmpty())
        qDebug().noquote() << summary;
    if (!deviceOpen)
        return;
    deviceOpen = false;
    const long status = lib.close(devHandle);
    if (status != 0)
        qDebug().noquote() << QStringLiteral("close failed (%1)").arg(status);
    else
        qDebug() << "Camera closed";
}

// ---- exposure primitives ----

bool Tarn::succeeded(const char* op, long status)
{
    if (status == 0)
        return true;
    failedStep = QLatin1String(op);
    failure = QStringLiteral("%1 failed (%2)").arg(QLatin1String(op)).arg(status);
    return false;
}

void Tarn::logFailure(const char* consequence)
{
    QString who = QStringLiteral("Single exposure");
    if (expState != None) {
        who = QStringLiteral("Picture %1").arg(imageIndex);
        if (*frameKind)
            who += QLatin1Char(' ') + QLatin1String(frameKind);
    } else if (rbiState != None) {
        who = QStringLiteral("RBI frame %1").arg(rbiFlushes - rbiCount);
    }
    qDebug().noquote() << QStringLiteral("%1: %2%3").arg(who, failure, QLatin1String(consequence));
    if (expState != None || rbiState == None) // a picture, not an RBI flush alone
        recordLost(imageIndex, failedStep);
}

bool Tarn::startExposure()
{
    frameKind = "";
    if (!succeeded("setImageArea", lib.setImageArea(devHandle, visUlX, visUlY, visUlX + imgWidth, visUlY + imgHeight)))
        return false;
    if (!succeeded("setExposureTime", lib.setExposureTime(devHandle, expTime)))
        return false;
    qCDebug(steps) << "Setting ExpTime to " << expTime;
    if (!succeeded("setFrameType", lib.setFrameType(devHandle, camlib::FrameNormal)))
        return false;
    if (!succeeded("setHBin", lib.setHBin(devHandle, hbin)))
        return false;
    if (!succeeded("setVBin", lib.setVBin(devHandle, vbin)))
        return false;
    if (tdiRate > 0) {
        if (!succeeded("setTDI", lib.setTDI(devHandle, tdiRate, 0)))
            return false;
    } else {
        lib.setTDI(devHandle, 0, 0); // TDI off; a camera without TDI may refuse
    }
    if (!succeeded("exposeFrame", lib.exposeFrame(devHandle)))
        return false;
    frameClock.start();
    frameExpectedMs = tdiRate > 0 ? -1 : std::max(expTime, 0);
    if (options.imageMetadata) {
        meta.exposureStart = QDateTime::currentDateTimeUtc();
        meta.exposureEnd = QDateTime();
        meta.atStart = coolerReadings();
        meta.atEnd = imagemeta::CoolerReadings();
    }
    return true;
}

bool Tarn::startRbiFrame(long frameType, long expTimeMs)
{
    lib.setTDI(devHandle, 0, 0); // TDI off; a camera without TDI may refuse
    if (!succeeded("setExposureTime", lib.setExposureTime(devHandle, expTimeMs)))
        return false;
    if (!succeeded("setFrameType", lib.setFrameType(devHandle, frameType)))
        return false;
    if (!succeeded("setHBin", lib.setHBin(devHandle, rbin)))
        return false;
    if (!succeeded("setVBin", lib.setVBin(devHandle, rbin)))
        return false;
    if (!succeeded("setImageArea", lib.setImageArea(devHandle, visUlX, visUlY, visUlX + rbiWidth, visUlY + rbiHeight)))
        return false;
    if (!succeeded("exposeFrame", lib.exposeFrame(devHandle)))
        return false;
    frameClock.start();
    frameExpectedMs = std::max(expTimeMs, 0L);
    return true;
}

bool Tarn::startRbiFlood()
{
    frameKind = "RBI flood";
    return startRbiFrame(camlib::FrameRbiFlood, rbiExpTime);
}

bool Tarn::startRbiFlush()
{
    frameKind = "RBI flush";
    return startRbiFrame(camlib::FrameRbiFlush, 0);
}

bool Tarn::frameOverdue()
{
    if (frameExpectedMs < 0 || !frameClock.isValid())
        return false;
    const qint64 elapsed = frameClock.elapsed();
    if (elapsed <= frameExpectedMs + qint64(std::max(options.exposureGraceMs, 0)))
        return false;
    failedStep = QStringLiteral("overdue");
    cancelFrame();
    failure = QStringLiteral("not ready %1 ms after its start (expected %2 ms + grace %3 ms), exposure cancelled")
                  .arg(elapsed)
                  .arg(frameExpectedMs)
                  .arg(options.exposureGraceMs);
    return true;
}

bool Tarn::checkExposing(int& ok)
{
    ok = 0;
    unsigned long status = 0;
    if (!succeeded("getDeviceStatus", lib.getDeviceStatus(devHandle, status)))
        return false;
    // The library's word may be wider than the 32 bits it carries.
    deviceStatus = std::uint32_t(status & 0xFFFFFFFFul);
    long left = 0;
    if (!succeeded("getExposureStatus", lib.getExposureStatus(devHandle, left)))
        return false;
    timeLeft = left;
    qCDebug(steps) << "Exposing status" << deviceStatus << timeLeft;
    ok = 1;
    const bool ready =
        deviceStatus == camlib::StatusUnknown ? timeLeft == 0 : (deviceStatus & camlib::StatusDataReady) != 0;
    if (ready && !*frameKind)
        frameReady();
    return ready;
}

imagemeta::CoolerReadings Tarn::coolerReadings()
{
    imagemeta::CoolerReadings readings;
    double value = 0.0;
    if (lib.readTemperature(devHandle, camlib::ChannelCcd, value) == 0)
        readings.ccdTemperature = value;
    if (lib.readTemperature(devHandle, camlib::ChannelBase, value) == 0)
        readings.baseTemperature = value;
    if (lib.getCoolerPower(devHandle, value) == 0)
        readings.coolerPower = value;
    return readings;
}

void Tarn::frameReady()
{
    if (!options.imageMetadata)
        return;
    meta.exposureEnd = QDateTime::currentDateTimeUtc();
    meta.atEnd = coolerReadings();
}

void Tarn::writeMetadata(const QString& file, std::optional<int> sequenceNumber)
{
    meta.imageFile = file;
    meta.exposureTimeMs = expTime;
    meta.frameType = int(camlib::FrameNormal);
    meta.hbin = hbin;
    meta.vbin = vbin;
    meta.areaUlX = visUlX;
    meta.areaUlY = visUlY;
    meta.areaLrX = visUlX + imgWidth;
    meta.areaLrY = visUlY + imgHeight;
    meta.width = imgWidth;
    meta.height = imgHeight;
    meta.nodeName = options.nodeName;
    meta.sequenceNumber = sequenceNumber;
    meta.pictureNumber = imageIndex;
    meta.serviceName = QStringLiteral("starscam");
    meta.serviceVersion = options.serviceVersion;
    const QString name = imagemeta::fileNameFor(file);
    if (!imagefile::commitFile(options.imageDir, name, options.nodeName, imagemeta::toJson(meta)).ok())
        qDebug() << "The metadata of" << file << "was not stored as" << name << "- the image is kept";
}

bool Tarn::expDownLoad()
{
    // Never read past what the last start allocated. Without a camera there
    // is no image: an empty file must not pass for one.
    if (!deviceOpen || imgHeight > imageRows.rows() || imgWidth > imageRows.width()) {
        failedStep = QStringLiteral("read-out");
        failure = deviceOpen ? QStringLiteral("read-out beyond the image buffer refused")
                             : QStringLiteral("read-out without an open camera refused");
        return false;
    }
    for (int row = 0; row < imgHeight; ++row) {
        if (!succeeded("grabRow", lib.grabRow(devHandle, imageRows.row(row), std::size_t(imgWidth)))) {
            failure += QStringLiteral(" at row %1").arg(row);
            return false;
        }
        qCDebug(steps) << "Downloading row No. " << row;
    }
    return true;
}

bool Tarn::readRbiRows()
{
    if (!rbiRowBuf.held() || rbiHeight < 1)
        return true;
    const std::size_t width = std::size_t(std::min(rbiWidth, rbiRowBuf.width()));
    for (int row = 0; row < rbiHeight; ++row) {
        if (!succeeded("grabRow", lib.grabRow(devHandle, rbiRowBuf.row(0), width))) {
            failure += QStringLiteral(" at row %1").arg(row);
            return false;
        }
    }
    return true;
}

Tarn::DownLoadResult Tarn::downLoadSingle()
{
    qDebug() << "in Exp2 Down Load";
    if (imageDiscarded) {
        qDebug() << "The last exposure was cancelled: nothing to download";
        return DownLoadResult::ReadFailed;
    }
    if (!imageRows.held()) {
        qDebug() << "No exposure has been started: nothing to download";
        return DownLoadResult::ReadFailed;
    }
    if (!expDownLoad()) {
        logFailure(", no file");
        return DownLoadResult::ReadFailed;
    }
    return writeData() ? DownLoadResult::Stored : DownLoadResult::NotStored;
}

// ---- file writer ----

bool Tarn::writeData()
{
    qDebug() << "in write data";
    if (useSeqFileNo)
        seqContinuation.beforeTake(options.imageDir, fileName, seqFileNo);
    const std::optional<int> sequenceNumber = useSeqFileNo ? std::optional<int>(seqFileNo) : std::nullopt;
    const QString name = imagefile::composeName(fileName, useSeqFileNo, seqFileNo, imageIndex);
    qDebug() << "Writing file name " << name;

    const bool logRows = debugLinesShown();
    imagefile::CommitProgress progress;
    progress.started = [] { qDebug() << "before writing"; };
    progress.writingRows = [logRows](int first, int end) {
        for (int row = first; logRows && row < end; ++row)
            qCDebug(steps) << "drawing a row No. " << row;
    };
    const imagefile::CommitResult stored =
        imagefile::commitImage(options.imageDir, name, options.nodeName, imgHeight > 0 ? imageRows[0] : nullptr,
                               imgWidth, imgHeight, progress);
    if (!stored.ok()) {
        recordLost(imageIndex, QLatin1String(commitStepName(stored.failed)));
        return false;
    }
    qDebug() << "after writing";
    lastFile = stored.name;
    if (options.imageMetadata)
        writeMetadata(stored.name, sequenceNumber);
    recordStored(stored.name);
    return true;
}

// ---- progress and outcomes ----

void Tarn::recordStored(const QString& file)
{
    outcome = Outcome{Outcome::Stored, imageIndex, file, QString()};
    emit imageStored(file);
}

void Tarn::recordLost(int picture, const QString& step)
{
    outcome = Outcome{Outcome::Lost, picture, QString(), step};
    emit pictureLost(picture, step);
}

const char* Tarn::phaseName(Phase phase)
{
    switch (phase) {
    case Phase::Rbi:
        return "rbi";
    case Phase::Exposing:
        return "exposing";
    case Phase::Between:
        return "between";
    case Phase::Idle:
        break;
    }
    return "idle";
}

Tarn::Progress Tarn::progress() const
{
    Progress p;
    const bool rbiFrame = *frameKind != '\0';
    if (expState != None) {
        p.picture = std::max(imageIndex, 0);
        p.pictures = images;
        switch (expState) {
        case RBIFlood:
        case RBIFlushing:
            p.phase = Phase::Rbi;
            break;
        case Exposing:
        case DownLoad:
            p.phase = rbiFrame ? Phase::Rbi : Phase::Exposing;
            break;
        default:
            p.phase = Phase::Between;
            break;
        }
    } else if (exp2State != None) {
        p.picture = imageIndex;
        p.pictures = 1;
        p.phase = Phase::Exposing;
    } else if (rbiState != None) {
        p.picture = rbiState == Start ? 0 : rbiFlushes - rbiCount;
        p.pictures = rbiFlushes;
        p.phase = Phase::Rbi;
    }
    // Only a frame that is being exposed has time left; a TDI frame's length
    // is the camera's to say.
    const bool exposing = (expState == Exposing || exp2State == Exposing || rbiState == Exposing);
    if (exposing)
        p.timeLeftMs = frameExpectedMs >= 0 && frameClock.isValid()
                           ? std::max(frameExpectedMs - long(frameClock.elapsed()), 0L)
                           : std::max(timeLeft, 0L);
    return p;
}

// ---- sequences ----

void Tarn::finish(QTimer* timer, SeqState& state)
{
    state = None;
    timer->stop();
    setBusy(false);
}

Tarn::SeqState Tarn::afterStart(bool started, const char* consequence)
{
    if (started)
        return Exposing;
    logFailure(consequence);
    return Done;
}

void Tarn::expSequence()
{
    qCDebug(steps) << "in Exp Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        int ok = 0;
        switch (expState) {
        case Start:
            qCDebug(steps) << "Exp Start";
            imageIndex = -1;
            expState = NextPic;
            sameTick = true;
            break;
        case NextPic:
            qCDebug(steps) << "Exp NextPic";
            ++imageIndex;
            if (imageIndex >= images || finishRequested) {
                expState = End;
            } else {
                timeLeft = 0;
                deviceStatus = 0;
                rbiCount = rbiFlushes > 0 ? rbiFlushes : 0;
                expState = rbiFlushes > 0 ? RBIFlood : StartExp;
            }
            break;
        case RBIFlood:
            qCDebug(steps) << "Exp RBIFlood";
            expState = afterStart(startRbiFlood(), ", no file");
            break;
        case RBIFlushing:
            qCDebug(steps) << "Exp RBI Flush";
            expState = afterStart(startRbiFlush(), ", no file");
            break;
        case StartExp:
            qCDebug(steps) << "Exp StartExp";
            expState = afterStart(startExposure(), ", no file");
            break;
        case Exposing:
            qCDebug(steps) << "Exp Exposing";
            if (checkExposing(ok)) {
                expState = DownLoad;
            } else if (ok == 0 || frameOverdue()) {
                logFailure(", no file");
                expState = Done;
            }
            break;
        case DownLoad:
            qCDebug(steps) << "Exp DownLoad" << rbiCount;
            if (rbiCount <= 0) {
                qCDebug(steps) << "RBI Count <= 0";
                if (expDownLoad())
                    writeData();
                else
                    logFailure(", no file");
                expState = Done;
            } else {
                qCDebug(steps) << "RBI Count > 0";
                if (readRbiRows()) {
                    --rbiCount;
                    expState = rbiCount > 0 ? RBIFlushing : StartExp;
                } else {
                    logFailure(", no file");
                    expState = Done;
                }
            }
            break;
        case Done:
            qCDebug(steps) << "Exp Done";
            expState = NextPic;
            break;
        case End:
            qCDebug(steps) << "Exp End";
            expState = None;
            sameTick = true;
            break;
        case None:
        default:
            qCDebug(steps) << "Exp None";
            finish(expTimer, expState);
            break;
        }
    }
}

void Tarn::exp2Sequence()
{
    qCDebug(steps) << "in Exp2 Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        int ok = 0;
        switch (exp2State) {
        case Start:
            qCDebug(steps) << "Exp2 Start";
            timeLeft = 0;
            deviceStatus = 0;
            exp2State = afterStart(startExposure(), ", no image");
            break;
        case Exposing:
            qCDebug(steps) << "Exp2 Exposing";
            if (checkExposing(ok)) {
                exp2State = Done;
            } else if (ok == 0 || frameOverdue()) {
                logFailure(", no image");
                exp2State = Done;
            }
            break;
        case Done:
            qCDebug(steps) << "Exp2 End/Abort/Done";
            exp2State = None;
            sameTick = true;
            break;
        case None:
        default:
            qCDebug(steps) << "Exp None";
            finish(exp2Timer, exp2State);
            break;
        }
    }
}

void Tarn::rbiSequence()
{
    qCDebug(steps) << "in Rbi Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        int ok = 0;
        switch (rbiState) {
        case Start:
            qCDebug(steps) << "Rbi Start";
            rbiCount = rbiFlushes;
            rbiState = RBIFlood;
            sameTick = true;
            break;
        case RBIFlood:
            qCDebug(steps) << "Rbi RBIFlood";
            rbiState = afterStart(startRbiFlood(), ", RBI flush ends");
            break;
        case RBIFlushing:
            qCDebug(steps) << "Exp RBI Flush";
            rbiState = afterStart(startRbiFlush(), ", RBI flush ends");
            break;
        case Exposing:
            qCDebug(steps) << "Rbi Exposing";
            if (checkExposing(ok)) {
                rbiState = DownLoad;
            } else if (ok == 0 || frameOverdue()) {
                logFailure(", RBI flush ends");
                rbiState = Done;
            }
            break;
        case DownLoad:
            qCDebug(steps) << "Rbi DownLoad" << rbiCount;
            qCDebug(steps) << "RBI Count > 0";
            if (!readRbiRows())
                logFailure(", frame counted"); // a failed RBI read-out still counts the frame
            --rbiCount;
            rbiState = rbiCount > 0 && !finishRequested ? RBIFlushing : Done;
            break;
        case Done:
            qCDebug(steps) << "Rbi End / Abort / Done";
            rbiState = None;
            sameTick = true;
            break;
        case None:
        default:
            qCDebug(steps) << "Exp None";
            finish(rbiTimer, rbiState);
            break;
        }
    }
}

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

// Rows written to a file per write call.
constexpr int RowsPerWrite = 256;

// Whether qDebug() lines reach the output. A qDebug() line is formatted even
// when the logging rules drop it, so the two lines per image row are only
// made when they will be shown (the same test Qt applies before printing).
bool debugLinesShown()
{
    const QLoggingCategory* category = QLoggingCategory::defaultCategory();
    return !category || category->isDebugEnabled();
}

} // namespace

Tarn::Tarn(int cameraNo, camlib::CameraLibrary& library, const TarnOptions& tarnOptions)
    : QObject(nullptr), lib(library), options(tarnOptions)
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

    // A serial number, when given, chooses the camera whatever its number.
    const bool bySerial = !options.serial.isEmpty();
    if (cameraNo < 0 && !bySerial)
        return;
    this->cameraNo = cameraNo;

    qDebug() << "Lib Version::" << getLibVersion();
    if (bySerial) {
        cameraNo = findBySerial(options.serial);
        if (cameraNo < 0)
            return;
        this->cameraNo = cameraNo;
    } else {
        listDevices(camlib::DeviceClassCamera);
        qDebug() << devCount;
        for (int i = 0; i < devCount; ++i)
            qDebug() << devNames[i].constData();
    }

    if (cameraNo >= devCount)
        return;

    // A failed open may scribble on the handle it was given.
    long handle = devHandle;
    if (lib.open(handle, devNames[cameraNo].constData(), devDomains[cameraNo]) != 0) {
        qDebug() << "err : opening FLI";
        return;
    }
    devHandle = handle;
    deviceOpen = true;

    qDebug() << "Model:  " << getModel();
    qDebug() << "Serial: " << getSerialString();
    long rev;
    bool ok = getHWRev(rev);
    qDebug() << "HW rev: " << check(ok) << rev;
    double pixW, pixH;
    ok = getPixelSize(pixW, pixH);
    qDebug() << "Pix Size: " << check(ok) << pixW << pixH;
    int ulX, ulY, lrX, lrY;
    ok = getArrayArea(ulX, ulY, lrX, lrY);
    qDebug() << "Array Area: " << check(ok) << ulX << ulY << lrX << lrY;
    ok = setTemperature(StartUpSetPoint);
    qDebug() << "Set Temp.: " << check(ok);
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
    return deviceOpen && lib.setTemperature(devHandle, celsius) == 0;
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

bool Tarn::allocImageRows(int rows, int width)
{
    rows = std::max(rows, 0);
    width = std::max(width, 0);
    // The same frame as last time (the usual case): keep the buffer. A new
    // one costs a mapping at every start and fresh pages at every read-out.
    if (imageData && rows == allocRows && width == allocWidth) {
        imageSized = true;
        return true;
    }
    const std::size_t pixels = std::size_t(rows) * std::size_t(width);
    std::unique_ptr<std::uint16_t[]> data(new (std::nothrow) std::uint16_t[pixels ? pixels : 1]);
    if (!data) {
        qDebug() << "Cannot allocate an image of" << width << "x" << rows << "pixels";
        return false;
    }
    std::vector<std::uint16_t*> pointers;
    try {
        pointers.resize(std::size_t(rows));
    } catch (const std::bad_alloc&) {
        qDebug() << "Cannot allocate" << rows << "row pointers";
        return false;
    }
    for (int r = 0; r < rows; ++r)
        pointers[std::size_t(r)] = data.get() + std::size_t(r) * std::size_t(width);
    imageData = std::move(data);
    imageRows = std::move(pointers);
    allocRows = rows;
    allocWidth = width;
    imageSized = true;
    return true;
}

bool Tarn::allocRbiRowBuf(int width, int flushes)
{
    rbiRowBuf.reset();
    rbiBufWidth = std::max(width, 0);
    if (flushes > 0) {
        rbiRowBuf.reset(new (std::nothrow) std::uint16_t[rbiBufWidth ? rbiBufWidth : 1]);
        if (!rbiRowBuf) {
            qDebug() << "Cannot allocate an RBI row of" << width << "pixels";
            rbiBufWidth = 0;
            return false;
        }
    }
    return true;
}

void Tarn::setBusy(bool f)
{
    if (busy == f)
        return;
    busy = f;
    emit changedIsBusy(f);
}

bool Tarn::startExpSequence(int hbin, int vbin, int rbin, int rbiFlushes, int rbiExpTime, int images,
                            int expTime, double interval, const QString& fileName, int tdiRate)
{
    if (busy)
        return false;
    if (hbin < 1 || vbin < 1 || (rbiFlushes > 0 && rbin < 1)) {
        qDebug() << "Refusing the exposure: bin factors" << hbin << vbin << rbin << "must be 1 or more";
        return false;
    }
    const int w = visLrX - visUlX, h = visLrY - visUlY;
    // Without flushes rbin is not used and may be anything.
    const int rbinUsed = rbin >= 1 ? rbin : 1;
    // Allocate before anything is announced: a refusal sends no busy event.
    if (!allocImageRows(h / vbin, w / hbin) || !allocRbiRowBuf(w / rbinUsed, rbiFlushes))
        return false;
    setBusy(true);
    this->rbiFlushes = rbiFlushes;
    this->interval = interval;
    this->tdiRate = tdiRate;
    this->hbin = hbin;
    this->vbin = vbin;
    this->rbin = rbin;
    this->rbiExpTime = rbiExpTime;
    this->images = images;
    this->expTime = expTime;
    this->fileName = fileName;
    imgWidth = w / hbin;
    imgHeight = h / vbin;
    rbiWidth = w / rbinUsed;
    rbiHeight = h / rbinUsed;
    expState = Start;
    expTimer->start();
    return true;
}

bool Tarn::startExp2Sequence(int hbin, int vbin, int expTime, const QString& fileName, int tdiRate)
{
    if (busy)
        return false;
    if (hbin < 1 || vbin < 1) {
        qDebug() << "Refusing the exposure: bin factors" << hbin << vbin << "must be 1 or more";
        return false;
    }
    const int w = visLrX - visUlX, h = visLrY - visUlY;
    if (!allocImageRows(h / vbin, w / hbin))
        return false;
    setBusy(true);
    this->tdiRate = tdiRate;
    this->hbin = hbin;
    this->vbin = vbin;
    this->expTime = expTime;
    this->fileName = fileName;
    imgWidth = w / hbin;
    imgHeight = h / vbin;
    exp2State = Start;
    exp2Timer->start();
    return true;
}

bool Tarn::startRbiSequence(int rbin, int flushes, int rbiExpTime)
{
    if (busy || flushes <= 0)
        return false;
    if (rbin < 1) {
        qDebug() << "Refusing the RBI flush: bin factor" << rbin << "must be 1 or more";
        return false;
    }
    const int w = visLrX - visUlX, h = visLrY - visUlY;
    if (!allocRbiRowBuf(w / rbin, flushes))
        return false;
    setBusy(true);
    rbiFlushes = flushes;
    this->rbin = rbin;
    this->rbiExpTime = rbiExpTime;
    rbiWidth = w / rbin;
    rbiHeight = h / rbin;
    rbiState = Start;
    rbiTimer->start();
    return true;
}

// ---- exposure primitives ----

bool Tarn::startExposure()
{
    if (lib.setImageArea(devHandle, visUlX, visUlY, visUlX + imgWidth, visUlY + imgHeight) != 0)
        return false;
    if (lib.setExposureTime(devHandle, expTime) != 0)
        return false;
    qDebug() << "Setting ExpTime to " << expTime;
    if (lib.setFrameType(devHandle, camlib::FrameNormal) != 0)
        return false;
    if (lib.setHBin(devHandle, hbin) != 0)
        return false;
    if (lib.setVBin(devHandle, vbin) != 0)
        return false;
    if (tdiRate > 0) {
        if (lib.setTDI(devHandle, tdiRate, 0) != 0)
            return false;
    } else {
        lib.setTDI(devHandle, 0, 0); // TDI off; a camera without TDI may refuse
    }
    return lib.exposeFrame(devHandle) == 0;
}

bool Tarn::startRbiFrame(long frameType, long expTimeMs)
{
    lib.setTDI(devHandle, 0, 0); // TDI off; a camera without TDI may refuse
    if (lib.setExposureTime(devHandle, expTimeMs) != 0)
        return false;
    if (lib.setFrameType(devHandle, frameType) != 0)
        return false;
    if (lib.setHBin(devHandle, rbin) != 0)
        return false;
    if (lib.setVBin(devHandle, rbin) != 0)
        return false;
    if (lib.setImageArea(devHandle, visUlX, visUlY, visUlX + rbiWidth, visUlY + rbiHeight) != 0)
        return false;
    return lib.exposeFrame(devHandle) == 0;
}

bool Tarn::startRbiFlood()
{
    return startRbiFrame(camlib::FrameRbiFlood, rbiExpTime);
}

bool Tarn::startRbiFlush()
{
    return startRbiFrame(camlib::FrameRbiFlush, 0);
}

bool Tarn::checkExposing(int& ok)
{
    ok = 0;
    unsigned long status = 0;
    if (lib.getDeviceStatus(devHandle, status) != 0)
        return false;
    // The library's word may be wider than the 32 bits it carries.
    deviceStatus = std::uint32_t(status & 0xFFFFFFFFul);
    long left = 0;
    if (lib.getExposureStatus(devHandle, left) != 0)
        return false;
    timeLeft = left;
    qDebug() << "Exposing status" << deviceStatus << timeLeft;
    ok = 1;
    if (deviceStatus == camlib::StatusUnknown)
        return timeLeft == 0;
    return (deviceStatus & camlib::StatusDataReady) != 0;
}

bool Tarn::expDownLoad()
{
    // Never read past what the last start allocated. Without a camera there
    // is no image: an empty file must not pass for one.
    if (!deviceOpen || imgHeight > allocRows || imgWidth > allocWidth)
        return false;
    const bool logRows = debugLinesShown();
    for (int row = 0; row < imgHeight; ++row) {
        if (lib.grabRow(devHandle, imageRows[std::size_t(row)], std::size_t(imgWidth)) != 0)
            return false;
        if (logRows)
            qDebug() << "Downloading row No. " << row;
    }
    return true;
}

bool Tarn::readRbiRows()
{
    if (!rbiRowBuf || rbiHeight < 1)
        return true;
    const std::size_t width = std::size_t(std::min(rbiWidth, rbiBufWidth));
    for (int row = 0; row < rbiHeight; ++row) {
        if (lib.grabRow(devHandle, rbiRowBuf.get(), width) != 0)
            return false;
    }
    return true;
}

Tarn::DownLoadResult Tarn::downLoadSingle()
{
    qDebug() << "in Exp2 Down Load";
    if (!imageSized) {
        qDebug() << "No exposure has been started: nothing to download";
        return DownLoadResult::ReadFailed;
    }
    if (!expDownLoad())
        return DownLoadResult::ReadFailed;
    return writeData() ? DownLoadResult::Stored : DownLoadResult::NotStored;
}

const std::uint16_t* Tarn::imageRow(int row) const
{
    return (row >= 0 && row < allocRows) ? imageRows[std::size_t(row)] : nullptr;
}

int Tarn::getSeqState(int which) const
{
    switch (which) {
    case 0:
        return expState;
    case 1:
        return rbiState;
    default:
        return exp2State;
    }
}

// ---- file writer ----

bool Tarn::writeData()
{
    qDebug() << "in write data";
    QString name = imagefile::composeName(fileName, useSeqFileNo, seqFileNo, imageIndex);
    qDebug() << "Writing file name " << name;

    int fd = imagefile::createExclusive(name);
    if (fd < 0 && errno == EEXIST) {
        // The name is taken: keep what is there and the new image both.
        for (int n = 1; fd < 0 && errno == EEXIST && n <= 999; ++n) {
            const QString alternative = imagefile::alternativeName(name, n);
            fd = imagefile::createExclusive(alternative);
            if (fd >= 0) {
                qDebug() << "File exists, image written as" << alternative;
                name = alternative;
            }
        }
    }
    if (fd < 0) {
        const int error = errno;
        qDebug() << "Cannot create" << name << ":" << std::strerror(error) << "- image not stored";
        return false;
    }

    qDebug() << "before writing";
    bool ok = true;
    const bool logRows = debugLinesShown();
    const std::size_t rowBytes = std::size_t(imgWidth) * sizeof(std::uint16_t);
    for (int first = 0; ok && first < imgHeight; first += RowsPerWrite) {
        const int last = std::min(imgHeight, first + RowsPerWrite);
        for (int row = first; logRows && row < last; ++row)
            qDebug() << "drawing a row No. " << row;
        // Rows are contiguous in memory; the file holds them least significant byte first.
        const std::uint16_t* data = imageRows[std::size_t(first)];
        const std::size_t bytes = rowBytes * std::size_t(last - first);
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
        std::vector<std::uint16_t> le(data, data + bytes / 2);
        for (auto& p : le)
            p = qToLittleEndian(p);
        ok = imagefile::writeAll(fd, le.data(), bytes);
#else
        ok = imagefile::writeAll(fd, data, bytes);
#endif
    }
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        // A short file would pass for an image: remove what was written.
        ::unlink(QFile::encodeName(name).constData());
        qDebug() << "Writing" << name << "failed:" << std::strerror(error) << "- file removed, image not stored";
        return false;
    }
    qDebug() << "after writing";
    lastFile = name;
    return true;
}

// ---- sequences ----

void Tarn::finish(QTimer* timer, int& state)
{
    state = None;
    timer->stop();
    setBusy(false);
}

void Tarn::expSequence()
{
    qDebug() << "in Exp Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        int ok = 0;
        switch (expState) {
        case Start:
            qDebug() << "Exp Start";
            imageIndex = -1;
            expState = NextPic;
            sameTick = true;
            break;
        case NextPic:
            qDebug() << "Exp NextPic";
            ++imageIndex;
            if (imageIndex >= images) {
                expState = End;
            } else {
                timeLeft = 0;
                deviceStatus = 0;
                rbiCount = rbiFlushes > 0 ? rbiFlushes : 0;
                expState = rbiFlushes > 0 ? RBIFlood : StartExp;
            }
            break;
        case RBIFlood:
            qDebug() << "Exp RBIFlood";
            expState = startRbiFlood() ? Exposing : Done;
            break;
        case RBIFlushing:
            qDebug() << "Exp RBI Flush";
            expState = startRbiFlush() ? Exposing : Done;
            break;
        case StartExp:
            qDebug() << "Exp StartExp";
            expState = startExposure() ? Exposing : Done;
            break;
        case Exposing:
            qDebug() << "Exp Exposing";
            if (checkExposing(ok))
                expState = DownLoad;
            else if (ok == 0)
                expState = Done;
            break;
        case DownLoad:
            qDebug() << "Exp DownLoad" << rbiCount;
            if (rbiCount <= 0) {
                qDebug() << "RBI Count <= 0";
                if (expDownLoad())
                    writeData();
                expState = Done;
            } else {
                qDebug() << "RBI Count > 0";
                if (readRbiRows()) {
                    --rbiCount;
                    expState = rbiCount > 0 ? RBIFlushing : StartExp;
                } else {
                    expState = Done;
                }
            }
            break;
        case Done:
            qDebug() << "Exp Done";
            expState = NextPic;
            break;
        case End:
            qDebug() << "Exp End";
            expState = None;
            sameTick = true;
            break;
        case None:
        default:
            qDebug() << "Exp None";
            finish(expTimer, expState);
            break;
        }
    }
}

void Tarn::exp2Sequence()
{
    qDebug() << "in Exp2 Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        int ok = 0;
        switch (exp2State) {
        case Start:
            qDebug() << "Exp2 Start";
            timeLeft = 0;
            deviceStatus = 0;
            exp2State = startExposure() ? Exposing : Done;
            break;
        case Exposing:
            qDebug() << "Exp2 Exposing";
            if (checkExposing(ok) || ok == 0)
                exp2State = Done;
            break;
        case Done:
            qDebug() << "Exp2 End/Abort/Done";
            exp2State = None;
            sameTick = true;
            break;
        case None:
        default:
            qDebug() << "Exp None";
            finish(exp2Timer, exp2State);
            break;
        }
    }
}

void Tarn::rbiSequence()
{
    qDebug() << "in Rbi Seq";
    bool sameTick = true;
    while (sameTick) {
        sameTick = false;
        int ok = 0;
        switch (rbiState) {
        case Start:
            qDebug() << "Rbi Start";
            rbiCount = rbiFlushes;
            rbiState = RBIFlood;
            sameTick = true;
            break;
        case RBIFlood:
            qDebug() << "Rbi RBIFlood";
            rbiState = startRbiFlood() ? Exposing : Done;
            break;
        case RBIFlushing:
            qDebug() << "Exp RBI Flush";
            rbiState = startRbiFlush() ? Exposing : Done;
            break;
        case Exposing:
            qDebug() << "Rbi Exposing";
            if (checkExposing(ok))
                rbiState = DownLoad;
            else if (ok == 0)
                rbiState = Done;
            break;
        case DownLoad:
            qDebug() << "Rbi DownLoad" << rbiCount;
            qDebug() << "RBI Count > 0";
            readRbiRows(); // a failed RBI read-out still counts the frame
            --rbiCount;
            rbiState = rbiCount > 0 ? RBIFlushing : Done;
            break;
        case Done:
            qDebug() << "Rbi End / Abort / Done";
            rbiState = None;
            sameTick = true;
            break;
        case None:
        default:
            qDebug() << "Exp None";
            finish(rbiTimer, rbiState);
            break;
        }
    }
}

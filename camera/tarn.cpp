#include "tarn.h"

#include "CameraLibrary.h"
#include "ExpSequence.h"
#include "ImageFile.h"
#include "ImageSink.h"
#include "RbiSequence.h"
#include "SingleSequence.h"

#include <QDebug>

namespace {

const char* check(bool ok)
{
    return ok ? "" : "Err";
}

// A line an operator can act on: what was found and what will be opened.
QString cameraChoice(int found, int number, const QString& name)
{
    if (found == 0)
        return QStringLiteral("No camera found: check the cable, its power and the device permissions");
    if (number >= found)
        return QStringLiteral("%1 camera(s) found; CAMERA_NO %2 is not among them (0 to %3): no camera opened")
            .arg(found)
            .arg(number)
            .arg(found - 1);
    return QStringLiteral("%1 camera(s) found; opening number %2 (%3)").arg(found).arg(number).arg(name);
}

} // namespace

Tarn::Tarn(int number, camlib::CameraLibrary& library, const TarnOptions& tarnOptions)
    : QObject(nullptr), options(tarnOptions), device(library),
      frames(device, frameSteps, report, tarnOptions.exposureGraceMs, tarnOptions.imageMetadata)
{
    StepTimerFactory timers = options.timers;
    if (!timers)
        timers = [] { return std::make_unique<QtStepTimer>(StepIntervalMs); };
    const auto ended = [this] { setBusy(false); };
    expSequence = std::make_unique<ExpSequence>(frames, timers(), ended);
    rbiSequence = std::make_unique<RbiSequence>(frames, timers(), ended);
    exp2Sequence = std::make_unique<SingleSequence>(frames, timers(), ended);
    FileSinkOptions sinkOptions;
    sinkOptions.imageDir = options.imageDir;
    sinkOptions.nodeName = options.nodeName;
    sinkOptions.metadata = options.imageMetadata;
    sinkOptions.serviceVersion = options.serviceVersion;
    sinkOptions.continueSeqFileNo = options.continueSeqFileNo;
    fileSink = std::make_unique<FileSink>(exposure, sinkOptions);
    frames.setSink(fileSink.get());
    report.onStored = [this](const QString& file) {
        lastFile = file;
        emit imageStored(file);
    };
    report.onLost = [this](int picture, const QString& step) { emit pictureLost(picture, step); };

    // Whatever an earlier run of this node left half written is no image.
    if (options.removeTemporaries)
        imagefile::removeTemporaries(options.imageDir, options.nodeName);

    // A serial number, when given, chooses the camera whatever its number.
    const bool bySerial = !options.serial.isEmpty();
    if (number < 0 && !bySerial)
        return;
    qDebug() << "Lib Version::" << getLibVersion();
    if (bySerial) {
        const std::optional<int> found = device.findBySerial(options.serial);
        if (!found)
            return;
        number = *found;
    } else {
        device.list(camlib::DeviceClassCamera);
        qDebug().noquote() << cameraChoice(device.count(), number, device.name(number));
        qDebug() << device.count();
        for (int i = 0; i < device.count(); ++i)
            qDebug() << device.name(i).toLatin1().constData();
    }
    if (!device.open(number))
        return;

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
        // Identity for the metadata, read once.
        FileSinkOptions& sink = fileSink->sinkOptions();
        sink.cameraModel = device.model();
        sink.serialNumber = device.serialString();
        sink.libraryVersion = device.libVersion();
        if (ok) {
            sink.pixelWidth = pixW;
            sink.pixelHeight = pixH;
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
    const std::optional<Area> vis = device.visibleArea();
    // No frame can be sized from an unknown area.
    device.setVisible(vis.value_or(Area()));
    qDebug() << "Visi. Area: " << check(vis.has_value()) << (vis ? vis->ulX : -1) << (vis ? vis->ulY : -1)
             << (vis ? vis->lrX : -1) << (vis ? vis->lrY : -1);
}

Tarn::~Tarn()
{
    // Whoever listens may be going away too: close without telling anyone.
    blockSignals(true);
    closeDevice();
}

// ---- identity, geometry and cooler ----

QString Tarn::getLibVersion()
{
    return device.libVersion().value_or(QStringLiteral("Err: Get Lib Version"));
}

QString Tarn::getModel()
{
    return device.model().value_or(QStringLiteral("Err: Get Model"));
}

QString Tarn::getSerialString()
{
    return device.serialString().value_or(QStringLiteral("Err: Get Serial String"));
}

bool Tarn::getHWRev(long& rev)
{
    const std::optional<long> r = device.hwRevision();
    rev = r.value_or(-1);
    return r.has_value();
}

bool Tarn::getPixelSize(double& w, double& h)
{
    const auto size = device.pixelSize();
    w = size ? size->first : -1.0;
    h = size ? size->second : -1.0;
    return size.has_value();
}

namespace {

// A reading into a reply's output, left as it was when there is none.
bool reading(const std::optional<double>& value, double& out)
{
    if (value)
        out = *value;
    return value.has_value();
}

bool corners(const std::optional<Area>& area, int& ulX, int& ulY, int& lrX, int& lrY)
{
    const Area a = area.value_or(Area{-1, -1, -1, -1});
    ulX = a.ulX, ulY = a.ulY, lrX = a.lrX, lrY = a.lrY;
    return area.has_value();
}

} // namespace

bool Tarn::getArrayArea(int& ulX, int& ulY, int& lrX, int& lrY)
{
    return corners(device.arrayArea(), ulX, ulY, lrX, lrY);
}

bool Tarn::getVisibleArea(int& ulX, int& ulY, int& lrX, int& lrY)
{
    return corners(device.visibleArea(), ulX, ulY, lrX, lrY);
}

bool Tarn::setTemperature(double celsius)
{
    return device.setTemperature(celsius);
}

bool Tarn::getTemperatures(double& ccd, double& base)
{
    if (!device.isOpen())
        return false;
    const bool ccdOk = reading(device.ccdTemperature(), ccd);
    const bool baseOk = reading(device.baseTemperature(), base); // read even when the CCD failed
    return ccdOk && baseOk;
}

bool Tarn::getCCDTemperature(double& t)
{
    return reading(device.ccdTemperature(), t);
}

bool Tarn::getBaseTemperature(double& t)
{
    return reading(device.baseTemperature(), t);
}

bool Tarn::getCoolerPower(double& p)
{
    return reading(device.coolerPower(), p);
}

// ---- starting and stopping ----

void Tarn::setBusy(bool f)
{
    if (busy == f)
        return;
    busy = f;
    emit changedIsBusy(f);
}

bool Tarn::prepare(bool mainImage, bool rbiFrames)
{
    if (busy)
        return false;
    const ExposureSettings& s = exposure;
    const bool rbinBad = rbiFrames && s.rbiFlushes > 0 && s.rbin < 1;
    if (mainImage && (s.hbin < 1 || s.vbin < 1 || rbinBad)) {
        if (rbiFrames)
            qDebug() << "Refusing the exposure: bin factors" << s.hbin << s.vbin << s.rbin << "must be 1 or more";
        else
            qDebug() << "Refusing the exposure: bin factors" << s.hbin << s.vbin << "must be 1 or more";
        return false;
    }
    if (rbinBad) {
        qDebug() << "Refusing the RBI flush: bin factor" << s.rbin << "must be 1 or more";
        return false;
    }
    // Allocate before anything is announced: a refusal sends no busy event.
    if (!frames.prepare(s, mainImage, rbiFrames))
        return false;
    // From here the camera's image is another's, whatever the start's calls do.
    frames.overwriteWaiting();
    setBusy(true);
    return true;
}

bool Tarn::startExpSequence()
{
    if (!prepare(true, true))
        return false;
    expSequence->begin();
    return true;
}

bool Tarn::startExp2Sequence()
{
    if (!prepare(true, false))
        return false;
    exp2Sequence->begin(getImageIndex());
    return true;
}

bool Tarn::startRbiSequence()
{
    if (busy || exposure.rbiFlushes <= 0)
        return false;
    if (!prepare(false, true))
        return false;
    rbiSequence->begin();
    return true;
}

Tarn::Abandoned Tarn::abandonSequence()
{
    bool cancelFailed = false;
    Abandoned result;
    if (expSequence->running())
        result.summary = expSequence->abandon(cancelFailed);
    else if (rbiSequence->running())
        result.summary = rbiSequence->abandon(cancelFailed);
    else if (exp2Sequence->running())
        result.summary = exp2Sequence->abandon(cancelFailed);
    result.cancelled = !cancelFailed;
    return result;
}

int Tarn::finishSequence()
{
    if (expSequence->running())
        return expSequence->finish();
    if (rbiSequence->running())
        return rbiSequence->finish();
    return 0;
}

void Tarn::closeDevice()
{
    const Abandoned abandoned = abandonSequence();
    if (!abandoned.summary.isEmpty())
        qDebug().noquote() << abandoned.summary;
    device.close();
}

Tarn::DownLoadResult Tarn::downLoadSingle()
{
    qDebug() << "in Exp2 Down Load";
    const FrameRecord& r = frames.current();
    if (!r.downloadable()) {
        qDebug().noquote() << (r.kind == FrameRecord::Kind::Single && r.id != 0
                                   ? QStringLiteral("Nothing to download: the single exposure is %1%2")
                                         .arg(QLatin1String(FrameRecord::stateName(r.state)),
                                              r.overwritten ? QStringLiteral(" and overwritten") : QString())
                                   : QStringLiteral("Nothing to download: no single exposure waits in the camera"));
        return DownLoadResult::Refused;
    }
    switch (frames.readAndStore(", no file")) {
    case FrameControl::Stored::Yes:
        return DownLoadResult::Stored;
    case FrameControl::Stored::ReadFailed:
        return DownLoadResult::ReadFailed;
    case FrameControl::Stored::NotStored:
        break;
    }
    return DownLoadResult::NotStored;
}

int Tarn::getImageIndex() const
{
    return expSequence->imageIndex();
}

void Tarn::setSink(ImageSink* sink)
{
    frames.setSink(sink ? sink : fileSink.get());
}

Tarn::Progress Tarn::progress() const
{
    if (expSequence->running())
        return expSequence->progress();
    if (exp2Sequence->running())
        return exp2Sequence->progress();
    return rbiSequence->progress();
}

void Tarn::setSeqFileNo(int n)
{
    exposure.seqFileNo = n;
    fileSink->numberSet();
}
